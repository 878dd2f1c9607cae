#include "ui/EditMenuHook.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>
#include <QMimeData>
#include <QPointer>

#include "resources/ResourceIds.h"
#include "ui/CommandTarget.h"
#include "ui/EditControl.h"
#include "ui/ResourceLoader.h"
#include "ui/WindowProc.h"

bool EditMenuHook::Install(QWidget* window, int newMenuId) {
    menuId = newMenuId;
    return Hook(window);
}

EditControl* EditMenuHook::Edit() const { return qobject_cast<EditControl*>(Window()); }

LRESULT EditMenuHook::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    // The control's own menu is never shown: the request ends here.
    if (message == WindowMessages::WM_CONTEXTMENU)
        return OnShowMenu(SignedLowWord(lParam), SignedHighWord(lParam));
    return MenuUpdateHook::HandleMessage(message, wParam, lParam);
}

int EditMenuHook::OnEditCommand(int id) {
    EditControl* edit = Edit();
    if (!edit) return 0;
    switch (id) {
        case ID_EDIT_CLEAR:
            edit->DeleteSelection();
            return 1;
        case ID_EDIT_COPY:
            edit->Copy();
            return 1;
        case ID_EDIT_CUT:
            edit->Cut();
            return 1;
        case ID_EDIT_PASTE:
            edit->Paste();
            return 1;
        case ID_EDIT_SELECT_ALL:
            edit->SelectAll();
            edit->ScrollCaret();
            return 1;
        case ID_EDIT_UNDO:
            edit->Undo();
            return 1;
        default:
            return 0;
    }
}

int EditMenuHook::OnUpdateEditCommand(CommandUpdate& update) {
    EditControl* edit = Edit();
    if (!edit) return 0;
    const bool selection = edit->SelectionStart() < edit->SelectionEnd();
    switch (update.Id()) {
        case ID_EDIT_CLEAR:
        case ID_EDIT_COPY:
        case ID_EDIT_CUT:
            update.Enable(selection);
            return 1;
        case ID_EDIT_PASTE: {
            const QMimeData* data = QGuiApplication::clipboard()->mimeData();
            update.Enable(data && data->hasText());
            return 1;
        }
        case ID_EDIT_SELECT_ALL:
            update.Enable(edit->TextLength() > 0);
            return 1;
        case ID_EDIT_UNDO:
            update.Enable(edit->CanUndo());
            return 1;
        default:
            return 0;
    }
}

int EditMenuHook::OnShowMenu(int x, int y) {
    QWidget* window = Window();
    if (!window) return 1;
    QPoint at(x, y);
    if (x == -1 && y == -1) {
        const EditControl* edit = Edit();
        at = edit ? window->mapToGlobal(edit->CaretRect().bottomLeft())
                  : window->mapToGlobal(window->rect().center());
    }
    // Loaded for this request and gone after it. The widget may be destroyed
    // while the menu is up, and the menu with it.
    const QPointer<QWidget> alive(window);
    const QPointer<QMenu> popup(LoadPopupMenu(menuId, window));
    if (!popup) return 1;
    QObject::connect(popup, &QMenu::aboutToShow, popup, [window, menu = popup.data()] {
        SendWindowMessage(window, WindowMessages::WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(menu),
                          MakeLParam(0, 0));
    });
    const QAction* chosen = popup->exec(at);
    const int id = chosen && popup ? chosen->data().toInt() : 0;
    delete popup.data();
    if (id != 0 && alive) PostCommand(window, id);
    return 1;
}
