#include "ui/SubclassProc.h"

#include "ui/CSubclassWnd.h"
#include "ui/SubclassRegistry.h"
#include "ui/WindowProc.h"

LRESULT SubclassProc(QWidget* window, UINT message, WPARAM wParam, LPARAM lParam) {
    // The record of the message being handled, for code that asks during the
    // hooks' handling; a nested message leaves the outer record as it was.
    CurrentMessage& current = CurrentWindowMessage();
    const CurrentMessage saved = current;
    current.window = window;
    current.message = message;
    current.wParam = wParam;
    current.lParam = lParam;
    LRESULT result = 0;
    CSubclassWnd* hook = SubclassRegistry::Instance().Find(window);
    if (!hook) {
        result = DefaultWindowProc(window, message, wParam, lParam);
    } else if (message == WindowMessages::WM_NCDESTROY) {
        const WindowProc previous = hook->previousProc;
        SubclassRegistry::Instance().EraseAll(window);
        if (previous) result = previous(window, message, wParam, lParam);
    } else {
        result = hook->HandleMessage(message, wParam, lParam);
    }
    current = saved;
    return result;
}
