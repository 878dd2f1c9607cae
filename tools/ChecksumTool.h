// Byte-level utilities shared by the framing, the calculator and the dialogs:
// the Modbus CRC16 and LRC, and the hexadecimal byte text typed by the user.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class ChecksumTool {
public:
    ChecksumTool();
    virtual ~ChecksumTool() = default;

    // The calculator's methods in list order; the index is the method code
    // (0 CRC16, 1 LRC). UTF-8.
    const std::vector<std::string>& MethodNames() const { return methodNames; }

    // Modbus CRC16 (reflected 0x8005, initial 0xFFFF). It goes on the line low
    // byte first.
    static uint16_t Crc16(const uint8_t* bytes, uint32_t length);
    // One byte more of a running CRC16 that starts at kCrc16Initial. Run over
    // a frame and its CRC, it ends at 0.
    static uint16_t Crc16Step(uint16_t crc, uint8_t byte);
    static constexpr uint16_t kCrc16Initial = 0xFFFF;

    // LRC of hexadecimal digit pairs as typed in the calculator: upper-cases the
    // text, tells the user about an odd character count and answers 0 then.
    static uint8_t Lrc(std::string text);

    // LRC of `length` characters of digit pairs for the ASCII framing: an odd
    // count answers 0 without a word.
    static uint8_t FrameLrc(const char* chars, uint32_t length);

    // Reads tokens separated by spaces, each one byte from its first two
    // characters after an optional 0x prefix. Answers the number of bytes
    // written to `out`, or -1 once the text holds more than `capacity` bytes
    // (the first `capacity` bytes are written then). `text` is code page 936.
    static int32_t ParseHexText(std::string text, uint8_t* out, int32_t capacity);

    // Each byte as "0x", two upper-case digits and a space. ParseHexText reads
    // the result back.
    static std::string FormatHexBytes(const uint8_t* bytes, size_t count);

private:
    std::vector<std::string> methodNames;
};
