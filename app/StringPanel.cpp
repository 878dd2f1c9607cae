#include "app/StringPanel.h"

#include <cstring>

#include "dialogs/ChecksumDialog.h"
#include "tools/AsciiChars.h"
#include "tools/ChecksumTool.h"
#include "tools/MessageBox.h"

using namespace StringPanelIds;

namespace {

// Only ASCII white space goes: a byte of a double-byte character never counts.
void TrimAsciiSpace(std::string& text) {
    size_t end = text.size();
    while (end > 0 && IsAsciiSpace(text[end - 1])) --end;
    size_t begin = 0;
    while (begin < end && IsAsciiSpace(text[begin])) ++begin;
    text = text.substr(begin, end - begin);
}

}  // namespace

const CommandEntry<StringPanel> StringPanel::commandTable[] = {
    {IDC_CHECKSUM, Notification::Clicked, &StringPanel::AppendChecksum},
};

StringPanel::StringPanel(QWidget* parent) : Dialog(IDD_STRING_PANEL, parent) {
    SetCommandTable(commandTable);
    BindRadio(IDC_ASCII, hexMode);
    BindText(IDC_SEND_TEXT, sendText);
    // The window exists from here on, hidden until the owner places it.
    InitDialog();
}

int32_t StringPanel::BuildFrame(uint8_t* buffer) {
    UpdateData(true);
    if (hexMode == 0) {
        if (sendText.size() > static_cast<size_t>(sendCapacity)) {
            ShowMessageBox(TextTooLongMessage, {}, MessageIcon::Warning);
            return -1;
        }
        if (!sendText.empty()) std::memcpy(buffer, sendText.data(), sendText.size());
        return static_cast<int32_t>(sendText.size());
    }
    const int32_t count = ChecksumTool::ParseHexText(sendText, hexBytes, sendCapacity);
    if (count > 0) std::memcpy(buffer, hexBytes, static_cast<size_t>(count));
    return count;
}

void StringPanel::AppendChecksum() {
    UpdateData(true);
    TrimAsciiSpace(sendText);
    // Owned by the main window, as the panel itself is.
    ChecksumDialog calculator(parentWidget() ? parentWidget()->window() : nullptr);
    calculator.inputText = sendText;
    if (calculator.DoModal() != 0) {
        sendText = calculator.inputText + " " + calculator.checkCodeText;
        UpdateData(false);
    }
}
