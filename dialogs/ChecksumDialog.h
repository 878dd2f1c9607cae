// The check code calculator: the CRC16 of typed hexadecimal bytes or the LRC
// of a run of digit pairs, computed by ChecksumTool.
#pragma once

#include <cstdint>
#include <string>

#include "ui/Dialog.h"

class ChecksumDialog : public Dialog {
    Q_OBJECT
public:
    // Shown instead of a check code when the CRC16 input holds more bytes
    // than byteBuffer: the CRC of a part would look like the CRC of all.
    static constexpr std::string_view TooManyBytesMessage = "校验字节超过500个";

    explicit ChecksumDialog(QWidget* parent = nullptr);

    // Both texts are code page 936.
    std::string inputText;
    std::string checkCodeText;
    int32_t methodIndex = 0;  // 0 CRC16, 1 LRC
    uint8_t byteBuffer[500] = {};

    void Compute();
    // value's low byte, then (count 2) its high byte, as check code text.
    void ShowCheckBytes(uint16_t value, int count);

protected:
    bool OnInitDialog() override;

private:
    static const CommandEntry<ChecksumDialog> commandTable[];
};
