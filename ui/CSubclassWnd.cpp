#include "ui/CSubclassWnd.h"

#include "ui/SubclassRegistry.h"

CSubclassWnd::~CSubclassWnd() {
    if (window) Hook(nullptr);
}

bool CSubclassWnd::Hook(QWidget* newWindow) {
    if (newWindow) {
        if (window) return false;
        SubclassRegistry::Instance().Insert(newWindow, this);
        window = newWindow;
        return true;
    }
    if (window) SubclassRegistry::Instance().Erase(this);
    previousProc = nullptr;
    window = nullptr;
    return true;
}

LRESULT CSubclassWnd::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (next) return next->HandleMessage(message, wParam, lParam);
    return previousProc ? previousProc(window, message, wParam, lParam) : 0;
}
