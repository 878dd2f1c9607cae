#include "app/PortSettingsDialog.h"

#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QStringList>

#include "serial/DeviceAccess.h"
#include "ui/GbkText.h"
#include "ui/IntegerText.h"

using namespace PortSettingsIds;

namespace {

// Right of the port list (x 102, 103 wide) inside the port row's frame: two
// rows, the path and, for a USB adapter, what it is, centred on the list.
constexpr int kPathX = 209, kPathY = 12, kPathW = 86, kPathH = 20;

// Beside the path: a word, and the full sentence in the tool tip.
struct AccessText {
    DeviceAccess access;
    std::string_view word;
    std::string_view sentence;
};
constexpr AccessText kAccessTexts[] = {
    {DeviceAccess::Missing, "不存在", "设备不存在：适配器已拔出，或链接指向的设备已不在。"},
    {DeviceAccess::NoPermission, "无权限",
     "无权限读写此设备：请把用户加入 dialout 组，重新登录后再试。"},
    {DeviceAccess::Busy, "被占用", "设备已被其他程序打开（例如 ModemManager 或 brltty）。"},
};

// "0403:6001 A50285BI FTDI FT232R USB UART": what tells two alike adapters
// apart first, since the row is short.
QString IdentityLine(const UsbIdentity& usb) {
    QStringList parts;
    if (!usb.vendorId.empty()) parts << QString::fromStdString(usb.vendorId + ":" + usb.productId);
    for (const std::string* text : {&usb.serialNumber, &usb.manufacturer, &usb.product})
        if (!text->empty()) parts << QString::fromStdString(*text);
    return parts.join(QLatin1Char(' '));
}

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
    devicePath->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
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
    const ComNames::Places& places = comNames.GetPlaces();
    shownPath = path.empty() ? FromUtf8(NoDeviceText) : QString::fromLocal8Bit(path.c_str());
    shownState.clear();
    shownIdentity.clear();
    QString tip = shownPath;
    if (!path.empty()) {
        const UsbIdentity usb =
            DescribeUsbAdapter(path, places.deviceDirectory, places.ttyClassDirectory);
        shownIdentity = IdentityLine(usb);
        if (!shownIdentity.isEmpty()) tip += QLatin1Char('\n') + shownIdentity;
        if (!usb.byIdPath.empty())
            tip += QLatin1Char('\n') + QString::fromLocal8Bit(usb.byIdPath.c_str());
    }
    const DeviceAccess access =
        path.empty() ? DeviceAccess::Ready : ProbeDeviceAccess(path, places.procDirectory);
    for (const AccessText& row : kAccessTexts) {
        if (row.access != access) continue;
        shownState = FromUtf8(row.word);
        tip += QLatin1Char('\n') + FromUtf8(row.sentence);
    }
    devicePath->setToolTip(tip);
    // The path gives way when the label is too narrow; the word stays. The
    // identity is cut at its end; the tool tip has it all.
    const QString state = shownState.isEmpty() ? QString() : QLatin1Char(' ') + shownState;
    const QFontMetrics metrics = devicePath->fontMetrics();
    QString text = metrics.elidedText(shownPath, Qt::ElideMiddle,
                                      devicePath->width() - metrics.horizontalAdvance(state)) +
                   state;
    if (!shownIdentity.isEmpty())
        text += QLatin1Char('\n') +
                metrics.elidedText(shownIdentity, Qt::ElideRight, devicePath->width());
    devicePath->setText(text);
}
