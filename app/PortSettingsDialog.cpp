#include "app/PortSettingsDialog.h"

#include <QComboBox>
#include <QLabel>

#include "ui/GbkText.h"
#include "ui/IntegerText.h"

using namespace PortSettingsIds;

namespace {

// Right of the port list (x 102, 103 wide) inside the port row's frame.
constexpr int kPathX = 209, kPathY = 17, kPathW = 86, kPathH = 10;

void SelectIndex(QComboBox* list, int index) {
    list->setCurrentIndex(index < list->count() ? index : -1);
}

}  // namespace

const CommandEntry<PortSettingsDialog> PortSettingsDialog::commandTable[] = {
    {IDC_PORT, Notification::SelectionChanged, &PortSettingsDialog::OnPortChanged},
};

PortSettingsDialog::PortSettingsDialog(QWidget* owner, const DCB& lineSettings, int portNumber)
    : Dialog(IDD_PORT_SETTINGS, owner),
      portText(std::to_string(portNumber)),
      lineSettings(lineSettings) {
    SetCommandTable(commandTable);
    BindComboText(IDC_PORT, portText);
    BindComboText(IDC_BAUD, baudText);
    BindComboText(IDC_DATA_BITS, dataBitsText);
    BindComboText(IDC_PARITY, parityText);
    BindComboText(IDC_STOP_BITS, stopBitsText);
    for (int i = 0; i < eventCount; ++i) BindCheck(eventBoxes[i].controlId, eventFlags[i]);
    BindComboText(IDC_SEND_BUFFER, sendBufferText);

    devicePath = new QLabel(this);
    devicePath->setObjectName(QStringLiteral("devicePath"));
    devicePath->setGeometry(Units().ToPixels(kPathX, kPathY, kPathW, kPathH));
}

void PortSettingsDialog::SetEventFlags(uint32_t mask) {
    for (int i = 0; i < eventCount; ++i)
        eventFlags[i] = (mask & eventBoxes[i].eventBit) != 0 ? 1 : 0;
}

bool PortSettingsDialog::OnInitDialog() {
    Dialog::OnInitDialog();
    // Every run starts on the first port, whatever the current one is.
    ControlAs<QComboBox>(IDC_PORT)->setCurrentIndex(0);
    SelectStringPrefix(IDC_BAUD, 0, QString::number(lineSettings.baudRate));
    // Item index and record code are the same in these two lists.
    SelectIndex(ControlAs<QComboBox>(IDC_PARITY), lineSettings.parity);
    SelectIndex(ControlAs<QComboBox>(IDC_STOP_BITS), lineSettings.stopBits);
    SelectStringPrefix(IDC_DATA_BITS, 0, QString::number(lineSettings.byteSize));
    OnPortChanged();
    return true;
}

void PortSettingsDialog::OnPortChanged() {
    const std::string path =
        comNames.PathForPort(ParseIntText(ToGbk(ItemText(IDC_PORT))).value_or(0));
    const QString text =
        path.empty() ? FromUtf8(NoDeviceText) : QString::fromLocal8Bit(path.c_str());
    devicePath->setToolTip(text);
    devicePath->setText(
        devicePath->fontMetrics().elidedText(text, Qt::ElideMiddle, devicePath->width()));
}

QString PortSettingsDialog::DevicePathText() const { return devicePath->toolTip(); }
