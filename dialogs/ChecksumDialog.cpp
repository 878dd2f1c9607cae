#include "dialogs/ChecksumDialog.h"

#include <QComboBox>

#include "tools/ChecksumTool.h"
#include "tools/MessageBox.h"
#include "ui/GbkText.h"

using namespace ChecksumIds;

const CommandEntry<ChecksumDialog> ChecksumDialog::commandTable[] = {
    {IDC_COMPUTE, Notification::Clicked, &ChecksumDialog::Compute},
};

ChecksumDialog::ChecksumDialog(QWidget* parent) : Dialog(IDD_CHECKSUM, parent) {
    SetCommandTable(commandTable);
    BindText(IDC_INPUT, inputText);
    BindText(IDC_CHECK_CODE, checkCodeText);
    BindComboIndex(IDC_METHOD, methodIndex);
}

bool ChecksumDialog::OnInitDialog() {
    Dialog::OnInitDialog();
    const ChecksumTool tool;
    for (const std::string& name : tool.MethodNames()) AddString(IDC_METHOD, FromUtf8(name));
    ControlAs<QComboBox>(IDC_METHOD)->setCurrentIndex(0);
    UpdateData(true);
    return true;
}

void ChecksumDialog::Compute() {
    UpdateData(true);
    if (methodIndex == 0) {
        const int32_t count = ChecksumTool::ParseHexText(inputText, byteBuffer,
                                                         static_cast<int32_t>(sizeof byteBuffer));
        if (count < 0) {
            ShowMessageBox(TooManyBytesMessage);
            checkCodeText.clear();
            UpdateData(false);
            return;
        }
        ShowCheckBytes(ChecksumTool::Crc16(byteBuffer, static_cast<uint32_t>(count)), 2);
    } else if (methodIndex == 1) {
        ShowCheckBytes(ChecksumTool::Lrc(inputText), 1);
    }
}

void ChecksumDialog::ShowCheckBytes(uint16_t value, int count) {
    const uint8_t bytes[2] = {static_cast<uint8_t>(value & 0xFF), static_cast<uint8_t>(value >> 8)};
    checkCodeText = ChecksumTool::FormatHexBytes(bytes, count == 2 ? 2 : 1);
    UpdateData(false);
}
