#include "tools/ChecksumTool.h"

#include <array>
#include <string_view>

#include "tools/AsciiChars.h"
#include "tools/MessageBox.h"
#include "tools/TextCodec.h"

namespace {

void SkipBlanks(std::string_view& s) {
    size_t i = 0;
    while (i < s.size() && IsAsciiSpace(s[i])) ++i;
    s.remove_prefix(i);
}

// The digit value the hex text parser gives any byte: letters count from 'A'
// as 10 and everything else from '0', so malformed digits yield some value
// rather than a refusal.
uint8_t DigitValue(uint8_t k) {
    return static_cast<uint8_t>(k >= 0x41 && k <= 0x7F ? k - 55 : k - 48);
}

// Reads one digit pair the way "%x" reads a short string: blanks, a sign and a
// 0x prefix may come first. When no digit is read, `value` keeps what it held,
// so a pair without digits adds the previous pair's value again. (glibc's
// sscanf would read a lone "0x" as 0, hence this reader.)
void ReadPair(std::string_view pair, int32_t& value) {
    size_t i = 0;
    while (i < pair.size() && IsAsciiSpace(pair[i])) ++i;
    bool negative = false;
    if (i < pair.size() && (pair[i] == '+' || pair[i] == '-')) negative = pair[i++] == '-';
    if (i + 1 < pair.size() && pair[i] == '0' && (pair[i + 1] == 'x' || pair[i + 1] == 'X')) i += 2;
    uint32_t digits = 0;
    bool any = false;
    for (; i < pair.size() && HexDigitValue(pair[i]) >= 0; ++i) {
        digits = digits * 16 + static_cast<uint32_t>(HexDigitValue(pair[i]));
        any = true;
    }
    if (any) value = static_cast<int32_t>(negative ? 0u - digits : digits);
}

uint8_t PairSumLrc(std::string_view chars) {
    int32_t value = 0;
    uint8_t sum = 0;
    for (size_t i = 0; i + 1 < chars.size(); i += 2) {
        ReadPair(chars.substr(i, 2), value);
        sum = static_cast<uint8_t>(sum + (value & 0xFF));
    }
    return static_cast<uint8_t>(-sum);
}

const char kUpperDigits[] = "0123456789ABCDEF";

}  // namespace

ChecksumTool::ChecksumTool() : methodNames{"CRC16", "LRC (BCD码,字符之间不许有空格)"} {}

uint16_t ChecksumTool::Crc16(const uint8_t* bytes, uint32_t length) {
    uint16_t crc = kCrc16Initial;
    for (uint32_t i = 0; i < length; ++i) crc = Crc16Step(crc, bytes[i]);
    return crc;
}

uint8_t ChecksumTool::Lrc(std::string text) {
    if (text.empty()) return 0;
    UpperAscii(text);
    if (text.size() % 2 != 0) {
        ShowMessageBox("字符数量只有" + std::to_string(text.size()));
        return 0;
    }
    return PairSumLrc(text);
}

uint8_t ChecksumTool::FrameLrc(const char* chars, uint32_t length) {
    if (length % 2 != 0) return 0;
    return PairSumLrc(std::string_view(chars, length));
}

int32_t ChecksumTool::ParseHexText(std::string text, uint8_t* out, int32_t capacity) {
    // Trimming removes ASCII blanks only, so upper-casing first cannot shift
    // the lead/trail pairing of double-byte characters.
    UpperAscii(text);
    std::string_view s = text;
    SkipBlanks(s);
    int32_t count = 0;
    for (;;) {
        if (s.starts_with("0X")) {
            s.remove_prefix(2);
            // A bare prefix ("0X 01") stands for no byte: skip it and read on,
            // rather than stopping and losing every byte after it.
            if (s.starts_with(' ')) {
                SkipBlanks(s);
                continue;
            }
        }
        const size_t space = s.find(' ');
        const std::string_view token = s.substr(0, space);
        if (token.empty()) return count;
        uint8_t byte = DigitValue(static_cast<uint8_t>(token[0]));
        if (token.size() >= 2) {
            byte = static_cast<uint8_t>((byte << 4) | DigitValue(static_cast<uint8_t>(token[1])));
        }
        if (count >= capacity) return -1;
        out[count++] = byte;
        if (space == std::string_view::npos) return count;
        s.remove_prefix(space);
        SkipBlanks(s);
    }
}

std::string ChecksumTool::FormatHexBytes(const uint8_t* bytes, size_t count) {
    std::string text;
    text.reserve(count * 5);
    for (size_t i = 0; i < count; ++i) {
        text += "0x";
        text += kUpperDigits[bytes[i] >> 4];
        text += kUpperDigits[bytes[i] & 0x0F];
        text += ' ';
    }
    return text;
}
