#include "ui/SubclassRegistry.h"

#include "ui/CSubclassWnd.h"
#include "ui/SubclassProc.h"
#include "ui/WindowProc.h"

SubclassRegistry& SubclassRegistry::Instance() {
    static SubclassRegistry registry;
    return registry;
}

CSubclassWnd* SubclassRegistry::Find(QWidget* window) const {
    const auto it = first.find(window);
    return it == first.end() ? nullptr : it->second;
}

void SubclassRegistry::Insert(QWidget* window, CSubclassWnd* hook) {
    hook->next = Find(window);
    first[window] = hook;
    if (hook->next)
        hook->previousProc = hook->next->previousProc;
    else
        hook->previousProc = SetWindowProc(window, &SubclassProc);
}

void SubclassRegistry::Erase(CSubclassWnd* hook) {
    QWidget* window = hook->window;
    CSubclassWnd* head = Find(window);
    if (head == hook) {
        if (hook->next) {
            first[window] = hook->next;
        } else {
            first.erase(window);
            SetWindowProc(window, hook->previousProc);
        }
    } else {
        for (CSubclassWnd* h = head; h; h = h->next) {
            if (h->next == hook) {
                h->next = hook->next;
                break;
            }
        }
    }
    hook->next = nullptr;
}

void SubclassRegistry::EraseAll(QWidget* window) {
    while (CSubclassWnd* hook = Find(window)) hook->Hook(nullptr);
}
