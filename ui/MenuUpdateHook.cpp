#include "ui/MenuUpdateHook.h"

#include <QAction>
#include <QMenu>

#include "ui/CommandTarget.h"

namespace {

// Command numbers from here up are the system's; their items are never
// disabled for want of a handler.
constexpr int kSystemCommands = 0xF000;

// Sends the update request for one item through the target's routing.
void UpdateItem(CommandTarget* target, QAction* item, int id, bool disableIfUnhandled) {
    CommandUpdate update(item, id);
    if (target) target->OnCommandUpdate(update);
    if (!update.StateSet() && disableIfUnhandled)
        item->setEnabled(target && target->HasCommandHandler(id));
}

int CommandOf(const QAction* item) {
    if (item->isSeparator()) return 0;
    if (item->menu()) return -1;
    return item->data().toInt();
}

}  // namespace

LRESULT MenuUpdateHook::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WindowMessages::WM_INITMENUPOPUP)
        // wParam carries the popup, as the message's menu handle does.
        OnPopupInit(reinterpret_cast<QMenu*>(wParam),  // NOLINT(performance-no-int-to-ptr)
                    LowWord(static_cast<uintptr_t>(lParam)),
                    HighWord(static_cast<uintptr_t>(lParam)) != 0);
    return CSubclassWnd::HandleMessage(message, wParam, lParam);
}

void MenuUpdateHook::OnPopupInit(QMenu* popup, unsigned, bool systemMenu) {
    if (systemMenu || !popup) return;
    auto* target = dynamic_cast<CommandTarget*>(Window());
    QList<QAction*> items = popup->actions();
    for (qsizetype i = 0; i < items.size(); ++i) {
        QAction* item = items[i];
        const int id = CommandOf(item);
        if (id == 0) continue;
        if (id == -1) {
            // A submenu is updated under its first item's number.
            const QMenu* sub = item->menu();
            const int first =
                sub && !sub->actions().isEmpty() ? CommandOf(sub->actions().first()) : 0;
            if (first == 0 || first == -1) continue;
            UpdateItem(target, item, first, false);
        } else {
            UpdateItem(target, item, id, disableUnhandled && id < kSystemCommands);
        }
        // A handler may have removed items: go on after the ones left.
        const QList<QAction*> now = popup->actions();
        if (now.size() < items.size()) {
            i = std::max<qsizetype>(-1, i - (items.size() - now.size()));
            while (i + 1 < now.size() && CommandOf(now[i + 1]) == id) ++i;
        }
        items = now;
    }
}
