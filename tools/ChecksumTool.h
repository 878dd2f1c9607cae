// Byte-level utilities shared by the framing, the calculator and the dialogs:
// the Modbus CRC16 and LRC, and the hexadecimal byte text typed by the user.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace checksum_detail {
constexpr std::array<uint16_t, 256> MakeCrc16Table() {
    std::array<uint16_t, 256> table{};
    for (unsigned value = 0; value < 256; ++value) {
        uint16_t crc = static_cast<uint16_t>(value);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001)
                            : static_cast<uint16_t>(crc >> 1);
        table[value] = crc;
    }
    return table;
}
}  // namespace checksum_detail

class ChecksumTool {
    static constexpr std::array<uint16_t, 256> kCrc16Table = checksum_detail::MakeCrc16Table();

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
    // a frame and its CRC, it ends at 0. Inline: the frame finder takes a
    // step for every byte of the line.
    static uint16_t Crc16Step(uint16_t crc, uint8_t byte) {
        return static_cast<uint16_t>((crc >> 8) ^ kCrc16Table[(crc ^ byte) & 0xff]);
    }
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
