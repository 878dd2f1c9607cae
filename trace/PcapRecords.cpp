#include "trace/PcapRecords.h"

#include <algorithm>

namespace {

constexpr size_t kRtacHeaderSize = 12;
constexpr size_t kLargestPiece = PcapRecords::kSnapLength - kRtacHeaderSize;

// The pcap headers go little-endian (the magic number tells readers so);
// the RTAC header is big-endian.
void PutLittle32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}
void PutLittle16(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}
void PutBig32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}

}  // namespace

size_t PcapRecords::RecordSize(size_t frameBytes) {
    constexpr size_t kRecordHeaderSize = 16;
    const size_t pieces = std::max<size_t>(1, (frameBytes + kLargestPiece - 1) / kLargestPiece);
    return frameBytes + pieces * (kRecordHeaderSize + kRtacHeaderSize);
}

size_t PcapRecords::WholeRecords(std::span<const uint8_t> bytes) {
    constexpr size_t kRecordHeaderSize = 16;
    size_t at = 0;
    while (at + kRecordHeaderSize <= bytes.size()) {
        const size_t length = bytes[at + 8] | bytes[at + 9] << 8 | bytes[at + 10] << 16 |
                              static_cast<size_t>(bytes[at + 11]) << 24;
        if (at + kRecordHeaderSize + length > bytes.size()) break;
        at += kRecordHeaderSize + length;
    }
    return at;
}

void PcapRecords::AppendFileHeader(std::vector<uint8_t>& out) {
    PutLittle32(out, 0xa1b2c3d4);  // microsecond stamps
    PutLittle16(out, 2);
    PutLittle16(out, 4);
    PutLittle32(out, 0);  // stamps in UTC
    PutLittle32(out, 0);
    PutLittle32(out, kSnapLength);
    PutLittle32(out, kLinkType);
}

void PcapRecords::AppendRecord(std::vector<uint8_t>& out, int64_t stampUs, uint8_t event,
                               uint8_t lines, std::span<const uint8_t> bytes) {
    const auto seconds = static_cast<uint32_t>(stampUs / 1000000);
    const auto micros = static_cast<uint32_t>(stampUs % 1000000);
    do {
        const std::span<const uint8_t> piece = bytes.first(std::min(bytes.size(), kLargestPiece));
        bytes = bytes.subspan(piece.size());
        const auto length = static_cast<uint32_t>(kRtacHeaderSize + piece.size());
        PutLittle32(out, seconds);
        PutLittle32(out, micros);
        PutLittle32(out, length);
        PutLittle32(out, length);
        PutBig32(out, seconds);
        PutBig32(out, micros);
        out.push_back(event);
        out.push_back(lines);
        out.push_back(0);
        out.push_back(0);
        out.insert(out.end(), piece.begin(), piece.end());
    } while (!bytes.empty());
}
