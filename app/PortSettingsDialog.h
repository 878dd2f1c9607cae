// The port settings dialog: shows the port, the line settings and the event
// flags and collects what the user chose, as texts. It parses, checks and
// opens nothing; the main window does that with the texts.
#pragma once

#include <cstdint>
#include <string>

#include "serial/ComNames.h"
#include "serial/CommLayer.h"
#include "ui/Dialog.h"

class QLabel;

class PortSettingsDialog : public Dialog {
    Q_OBJECT
public:
    static constexpr int eventCount = 9;
    struct EventBox {
        int controlId;
        uint32_t eventBit;
    };
    // The check boxes in field order, each with the comm event it shows.
    static constexpr EventBox eventBoxes[eventCount] = {
        {PortSettingsIds::IDC_EV_BREAK, EV_BREAK},     {PortSettingsIds::IDC_EV_CTS, EV_CTS},
        {PortSettingsIds::IDC_EV_DSR, EV_DSR},         {PortSettingsIds::IDC_EV_ERR, EV_ERR},
        {PortSettingsIds::IDC_EV_RING, EV_RING},       {PortSettingsIds::IDC_EV_RLSD, EV_RLSD},
        {PortSettingsIds::IDC_EV_RXCHAR, EV_RXCHAR},   {PortSettingsIds::IDC_EV_RXFLAG, EV_RXFLAG},
        {PortSettingsIds::IDC_EV_TXEMPTY, EV_TXEMPTY},
    };

    // Shown beside the port list when its number leads to no device.
    static constexpr std::string_view NoDeviceText = "无设备";

    PortSettingsDialog(QWidget* owner, const DCB& lineSettings, int portNumber);

    // Sets each event flag from its bit in mask; the flags are not read back.
    void SetEventFlags(uint32_t mask);

    // Texts as the lists show them, code page 936.
    std::string portText;
    std::string baudText;
    std::string dataBitsText;
    std::string parityText;
    std::string stopBitsText;
    int eventFlags[eventCount] = {};  // in the order of eventBoxes
    std::string sendBufferText;
    DCB lineSettings;

    // Where port numbers lead; replaceable before the dialog is shown.
    ComNames comNames;

    // The text beside the port list: the device path of the selected number,
    // then what can be told of the device without opening it (empty when
    // it looks usable).
    QString DevicePathText() const { return shownPath; }
    QString DeviceStateText() const { return shownState; }
    // A USB adapter's maker, product, VID:PID and serial number; else empty.
    QString DeviceIdentityText() const { return shownIdentity; }

protected:
    bool OnInitDialog() override;

private:
    void OnPortChanged();

    QLabel* devicePath;
    QString shownPath;
    QString shownState;
    QString shownIdentity;

    static const CommandEntry<PortSettingsDialog> commandTable[];
};
