// The receive pane of the main window (control 1001): every received byte as
// hexadecimal text, optionally followed by its receive stamp. An editable
// multi-line edit whose context menu is menu 129, the edit commands and two
// conversions of the selected dump to the data conversion dialog.
#pragma once

#include <QString>
#include <string>
#include <string_view>

#include "ui/CommandTarget.h"
#include "ui/EditControl.h"
#include "ui/EditMenuHook.h"

class ReceiveEdit : public EditControl, public CommandTarget {
    Q_OBJECT
public:
    // The text the pane keeps of a long run, in bytes (characters of a
    // dump). Each costs about 1.05 bytes with its rows; full, the whole
    // process stays under 500 MB (bench/MainWindowBench.cpp, phase l).
    static constexpr size_t textLimit = 400u << 20;

    explicit ReceiveEdit(QWidget* parent = nullptr);
    ~ReceiveEdit() override;

    // The pane's text operations are EditControl's: AppendText (empty
    // selection at the end, scrolled to, nothing to undo, the oldest rows
    // dropped past textLimit), SetText (nothing to undo), Text, RemoveStamps,
    // SelectionStart and SelectionEnd.

    // The message table: the edit commands go to the menu hook, the two
    // conversions to the handlers below.
    bool OnCommand(int id) override;
    bool OnCommandUpdate(CommandUpdate& update) override;
    bool HasCommandHandler(int id) const override;

    void OnUpdateSelectionCommand(CommandUpdate& update);
    void OnHexToDecimal();
    void OnModbusAsciiToDecimal();

private:
    struct CommandEntry {
        int firstId, lastId;
        void (ReceiveEdit::*handler)(int id);
    };
    struct UpdateEntry {
        int firstId, lastId;
        void (ReceiveEdit::*handler)(CommandUpdate& update);
    };
    static const CommandEntry commandTable[];
    static const UpdateEntry updateTable[];

    void OnEditCommand(int id);
    void OnUpdateEditCommand(CommandUpdate& update);
    void OnHexCommand(int) { OnHexToDecimal(); }
    void OnModbusAsciiCommand(int) { OnModbusAsciiToDecimal(); }
    // The selected text as code page 936.
    std::string SelectionGbk() const;
    void OpenConversion(const std::string& hexText);

    EditMenuHook editMenu;
};
