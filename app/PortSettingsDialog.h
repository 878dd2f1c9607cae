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
    static constexpr int IDC_BAUD = 1026;
    static constexpr int IDC_PARITY = 1027;
    static constexpr int IDC_DATA_BITS = 1028;
    static constexpr int IDC_STOP_BITS = 1029;
    static constexpr int IDC_PORT = 1030;
    static constexpr int IDC_SEND_BUFFER = 1043;

    static constexpr int eventCount = 9;
    struct EventBox {
        int controlId;
        uint32_t eventBit;
    };
    // The check boxes in field order, each with the comm event it shows.
    static constexpr EventBox eventBoxes[eventCount] = {
        {1034, EV_BREAK}, {1035, EV_CTS},    {1036, EV_DSR},    {1037, EV_ERR},     {1038, EV_RING},
        {1039, EV_RLSD},  {1040, EV_RXCHAR}, {1041, EV_RXFLAG}, {1042, EV_TXEMPTY},
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

    // The text beside the port list: the device path of the selected number.
    QString DevicePathText() const;

protected:
    bool OnInitDialog() override;

private:
    void OnPortChanged();

    QLabel* devicePath;

    static const CommandEntry<PortSettingsDialog> commandTable[];
};
