// Small helpers for writing frames in the protocol tests.
#pragma once

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "protocol/ModbusRequest.h"
#include "tools/ChecksumTool.h"

using Bytes = std::vector<uint8_t>;

// "01 03 00 7B" -> the bytes.
inline Bytes HexBytes(const std::string& text) {
    Bytes out;
    std::istringstream in(text);
    std::string token;
    while (in >> token) out.push_back(static_cast<uint8_t>(std::stoul(token, nullptr, 16)));
    return out;
}

// The bytes with their CRC16 appended, low byte first.
inline Bytes WithCrc(Bytes bytes) {
    const uint16_t crc = ChecksumTool::Crc16(bytes.data(), static_cast<uint32_t>(bytes.size()));
    bytes.push_back(static_cast<uint8_t>(crc));
    bytes.push_back(static_cast<uint8_t>(crc >> 8));
    return bytes;
}

// An ASCII frame for the digit pairs: ':' digits LRC CR LF.
inline std::string AsciiFrame(const std::string& digits) {
    static const char hex[] = "0123456789ABCDEF";
    const uint8_t lrc = ChecksumTool::FrameLrc(digits.data(), static_cast<uint32_t>(digits.size()));
    return ":" + digits + hex[lrc >> 4] + hex[lrc & 0x0F] + "\r\n";
}

inline Bytes FrameOf(const ModbusRequest& r) { return Bytes(r.frame, r.frame + r.frameLength); }

inline std::string FrameText(const ModbusRequest& r) {
    return std::string(reinterpret_cast<const char*>(r.frame), static_cast<size_t>(r.frameLength));
}
