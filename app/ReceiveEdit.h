// The receive pane of the main window (control 1001): every received byte as
// hexadecimal text, optionally followed by its receive stamp. An editable
// multi-line edit whose context menu is the edit menu with two conversions of
// the selected dump to the data conversion dialog.
#pragma once

#include <QString>
#include <string_view>

#include "ui/EditControl.h"

class ReceiveEdit : public EditControl {
    Q_OBJECT
public:
    explicit ReceiveEdit(QWidget* parent = nullptr);
    ~ReceiveEdit() override;

    // The pane's text operations are EditControl's: AppendText (empty
    // selection at the end, scrolled to, nothing to undo), SetText (nothing
    // to undo), Text, RemoveStamps, SelectionStart and SelectionEnd.
};
