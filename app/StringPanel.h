// The string send panel: free text sent as its own bytes (ASCII) or as
// hexadecimal byte values separated by spaces (HEX), with the checksum
// calculator to append a CRC16 or LRC to the text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "ui/Dialog.h"

class StringPanel : public Dialog {
    Q_OBJECT
public:
    // What the caller's buffer holds, the main window's send buffer.
    static constexpr int32_t sendCapacity = 500;

    // An ASCII text longer than the send buffer: refused whole rather than cut.
    static constexpr std::string_view TextTooLongMessage = "发送的字符超过500个字节";

    explicit StringPanel(QWidget* parent = nullptr);

    // The bytes to send, at most sendCapacity of them, written to buffer;
    // answers their count, or 0 or less when there is nothing to send.
    int32_t BuildFrame(uint8_t* buffer);

    // The checksum button: the trimmed text goes to the calculator, and what
    // the calculator holds afterwards comes back with its check code.
    void AppendChecksum();

    int hexMode = 1;       // 0 ASCII, 1 HEX
    std::string sendText;  // code page 936
    uint8_t hexBytes[sendCapacity] = {};

protected:
    // Return and Escape leave the panel as it is.
    void OnOK() override {}
    void OnCancel() override {}

private:
    static const CommandEntry<StringPanel> commandTable[];
};
