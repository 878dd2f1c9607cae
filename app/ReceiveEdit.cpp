#include "app/ReceiveEdit.h"

#include "dialogs/ConversionDialog.h"
#include "resources/DialogTemplate.h"
#include "tools/MessageBox.h"
#include "tools/SelectionConversion.h"
#include "ui/GbkText.h"

const ReceiveEdit::CommandEntry ReceiveEdit::commandTable[] = {
    {ID_EDIT_FIRST, ID_EDIT_LAST, &ReceiveEdit::OnEditCommand},
    {ID_HEX_TO_DECIMAL, ID_HEX_TO_DECIMAL, &ReceiveEdit::OnHexCommand},
    {ID_MODBUS_ASCII_TO_DECIMAL, ID_MODBUS_ASCII_TO_DECIMAL, &ReceiveEdit::OnModbusAsciiCommand},
};

const ReceiveEdit::UpdateEntry ReceiveEdit::updateTable[] = {
    {ID_EDIT_FIRST, ID_EDIT_LAST, &ReceiveEdit::OnUpdateEditCommand},
    {ID_HEX_TO_DECIMAL, ID_HEX_TO_DECIMAL, &ReceiveEdit::OnUpdateSelectionCommand},
    {ID_MODBUS_ASCII_TO_DECIMAL, ID_MODBUS_ASCII_TO_DECIMAL,
     &ReceiveEdit::OnUpdateSelectionCommand},
};

ReceiveEdit::ReceiveEdit(QWidget* parent)
    : EditControl(ControlStyle::Multiline | ControlStyle::VScroll | ControlStyle::WantReturn,
                  parent) {
    editMenu.Install(this, IDR_EDIT_MENU);
    SetTextLimit(textLimit);
}

// The hook goes before the widget: it unhooks itself from a widget that is
// still whole.
ReceiveEdit::~ReceiveEdit() { editMenu.Hook(nullptr); }

bool ReceiveEdit::OnCommand(int id) {
    for (const CommandEntry& entry : commandTable) {
        if (id >= entry.firstId && id <= entry.lastId) {
            (this->*entry.handler)(id);
            return true;
        }
    }
    return false;
}

bool ReceiveEdit::OnCommandUpdate(CommandUpdate& update) {
    for (const UpdateEntry& entry : updateTable) {
        if (update.Id() >= entry.firstId && update.Id() <= entry.lastId) {
            (this->*entry.handler)(update);
            return true;
        }
    }
    return false;
}

bool ReceiveEdit::HasCommandHandler(int id) const {
    for (const CommandEntry& entry : commandTable)
        if (id >= entry.firstId && id <= entry.lastId) return true;
    return false;
}

void ReceiveEdit::OnEditCommand(int id) { editMenu.OnEditCommand(id); }

void ReceiveEdit::OnUpdateEditCommand(CommandUpdate& update) {
    editMenu.OnUpdateEditCommand(update);
}

// Enabled for a selection with something other than white space in it. Looks
// only as far as the first such character, however large the selection.
void ReceiveEdit::OnUpdateSelectionCommand(CommandUpdate& update) {
    bool found = false;
    const size_t start = SelectionStart();
    Buffer().ForEachSpan(start, SelectionEnd() - start, [&found](const char16_t* data, size_t n) {
        for (size_t i = 0; i < n && !found; ++i)
            found = !(data[i] == u' ' || (data[i] >= u'\t' && data[i] <= u'\r'));
        return !found;
    });
    update.Enable(found);
}

std::string ReceiveEdit::SelectionGbk() const { return ToGbk(SelectedText()); }

void ReceiveEdit::OpenConversion(const std::string& hexText) {
    ConversionDialog dialog;
    dialog.hexText = hexText;
    dialog.DoModal();
}

void ReceiveEdit::OnHexToDecimal() {
    const SelectionConversion conversion = ConvertHexSelection(SelectionGbk());
    if (!conversion.message.empty()) ShowMessageBox(conversion.message);
    if (conversion.openDialog) OpenConversion(conversion.hexText);
}

void ReceiveEdit::OnModbusAsciiToDecimal() {
    const SelectionConversion conversion = ConvertModbusAsciiSelection(SelectionGbk());
    if (!conversion.message.empty()) ShowMessageBox(conversion.message);
    if (conversion.openDialog) OpenConversion(conversion.hexText);
}
