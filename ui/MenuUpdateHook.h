// A hook that keeps a popup menu's items enabled or disabled by its widget's
// command routing when the popup opens (WM_INITMENUPOPUP).
#pragma once

#include <cstdint>

#include "ui/CSubclassWnd.h"

class QMenu;

class MenuUpdateHook : public CSubclassWnd {
public:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

    // An item no handler sets is disabled unless the widget handles its command.
    uint32_t disableUnhandled = 1;

protected:
    // The command-update walk over the popup's items (not for a system menu).
    virtual void OnPopupInit(QMenu* popup, unsigned index, bool systemMenu);
};
