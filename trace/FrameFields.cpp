#include "trace/FrameFields.h"

#include <time.h>

#include <cstdio>

#include "protocol/ModbusFrameRules.h"

FrameKind FramingOf(const std::vector<uint8_t>& bytes) {
    return !bytes.empty() && bytes.front() == ':' ? FrameKind::Ascii : FrameKind::Rtu;
}

std::vector<uint8_t> FrameAdu(const std::vector<uint8_t>& bytes, FrameKind kind) {
    std::vector<uint8_t> adu;
    if (kind == FrameKind::Ascii) {
        if (ModbusFrameRules::ReadAsciiFrame(bytes, adu)) adu.pop_back();
    } else if (bytes.size() >= 2) {
        adu.assign(bytes.begin(), bytes.end() - 2);
    }
    return adu;
}

namespace {

std::string Stamp(int64_t wallUs, const char* format) {
    const time_t seconds = static_cast<time_t>(wallUs / 1000000);
    tm local{};
    localtime_r(&seconds, &local);
    char text[40];
    const size_t n = strftime(text, sizeof text, format, &local);
    std::snprintf(text + n, sizeof text - n, ".%03d", static_cast<int>(wallUs / 1000 % 1000));
    return text;
}

}  // namespace

std::string TimeOfDay(int64_t wallUs) { return Stamp(wallUs, "%H:%M:%S"); }

std::string DateAndTime(int64_t wallUs) { return Stamp(wallUs, "%Y-%m-%dT%H:%M:%S"); }

std::string HexBytes(const std::vector<uint8_t>& bytes, size_t limit) {
    std::string text;
    char digits[4];
    for (size_t i = 0; i < bytes.size() && i < limit; ++i) {
        std::snprintf(digits, sizeof digits, i == 0 ? "%02x" : " %02x", bytes[i]);
        text += digits;
    }
    if (bytes.size() > limit) text += " … (" + std::to_string(bytes.size()) + " 字节)";
    return text;
}
