// A hook that gives an edit control a menu from the resources in place of
// the control's own context menu, and performs and updates the edit commands
// on the control.
#pragma once

#include "ui/MenuUpdateHook.h"

class CommandUpdate;
class EditControl;

class EditMenuHook : public MenuUpdateHook {
public:
    // Shows menu menuId on window's context-menu requests from now on.
    bool Install(QWidget* window, int menuId);

    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

    // The edit commands 57632 to 57644 on the hooked control: 1 when the
    // number is one this hook performs, 0 otherwise (also when the hooked
    // widget is no edit control).
    virtual int OnEditCommand(int id);
    virtual int OnUpdateEditCommand(CommandUpdate& update);
    // Shows the menu at screen point (x, y), or at the caret when both are
    // -1 (asked for from the keyboard); the chosen command is posted to the
    // hooked widget. Answers 1.
    virtual int OnShowMenu(int x, int y);

    int menuId = 0;

private:
    EditControl* Edit() const;
};
