// Shows what 1, 2 or 4 bytes of hexadecimal text mean as a number under a
// chosen data type and byte order; the computing is ValueConversion's.
#pragma once

#include <cstdint>
#include <string>

#include "ui/Dialog.h"

class ConversionDialog : public Dialog {
    Q_OBJECT
public:
    explicit ConversionDialog(QWidget* parent = nullptr);

    // Code page 936, exchanged with the hex data and result fields.
    std::string hexText;
    std::string convertedText;
    // The list texts read at the last computation: the program's own texts,
    // UTF-8; orderText is empty when the byte order list is.
    std::string typeText;
    std::string orderText;

    void ConvertValue();
    // Bytes 1 to count (2 or 4) as one value under orderText.
    uint32_t ReorderBytes(int count, const uint8_t* bytes) const;

protected:
    bool OnInitDialog() override;

private:
    static const CommandEntry<ConversionDialog> commandTable[];
};
