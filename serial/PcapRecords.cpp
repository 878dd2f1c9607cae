#include "serial/PcapRecords.h"

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

int64_t PcapRecords::SilenceUs(const DCB& line) {
    if (line.baudRate == 0) return kShortestSilenceUs;
    // In half bits, for one and a half stop bits.
    const int64_t stopHalves = line.stopBits == ONE5STOPBITS  ? 3
                               : line.stopBits == TWOSTOPBITS ? 4
                                                              : 2;
    const int64_t halves =
        int64_t{2} * (1 + line.byteSize + (line.parity == NOPARITY ? 0 : 1)) + stopHalves;
    // 3.5 characters: 7 halves of a character, in half bits, rounded up.
    const int64_t baud = line.baudRate;
    const int64_t us = (7 * halves * 1000000 + 4 * baud - 1) / (4 * baud);
    return std::max(us, kShortestSilenceUs);
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

PcapRecords::PcapRecords() {
    PutLittle32(out, 0xa1b2c3d4);  // microsecond stamps
    PutLittle16(out, 2);
    PutLittle16(out, 4);
    PutLittle32(out, 0);  // stamps in UTC
    PutLittle32(out, 0);
    PutLittle32(out, kSnapLength);
    PutLittle32(out, kLinkType);
}

void PcapRecords::Append(int64_t stampUs, uint8_t event, uint8_t lines,
                         std::span<const uint8_t> bytes) {
    const auto seconds = static_cast<uint32_t>(stampUs / 1000000);
    const auto micros = static_cast<uint32_t>(stampUs % 1000000);
    const auto length = static_cast<uint32_t>(kRtacHeaderSize + bytes.size());
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
    out.insert(out.end(), bytes.begin(), bytes.end());
}

void PcapRecords::LineOpened(int64_t silence) {
    EndReceived();
    silenceUs = silence;
}

void PcapRecords::Sent(int64_t stampUs, uint8_t lines, std::span<const uint8_t> bytes) {
    EndReceived();
    do {
        const size_t piece = std::min(bytes.size(), kLargestPiece);
        Append(stampUs, kSentEvent, lines, bytes.first(piece));
        bytes = bytes.subspan(piece);
    } while (!bytes.empty());
}

void PcapRecords::Received(int64_t firstUs, int64_t lastUs, uint8_t lines,
                           std::span<const uint8_t> bytes, bool continues) {
    if (!continues && firstUs - lastByteUs >= silenceUs) EndReceived();
    int64_t stampUs = firstUs;
    while (!bytes.empty()) {
        if (received.empty()) {
            receivedStampUs = stampUs;
            receivedLines = lines;
        }
        const size_t piece = std::min(bytes.size(), kReceivedLimit - received.size());
        received.insert(received.end(), bytes.begin(), bytes.begin() + piece);
        bytes = bytes.subspan(piece);
        if (received.size() == kReceivedLimit) EndReceived();
        // The bytes after the first were read a little later; when they open
        // a record, the time the last was read is the nearest known.
        stampUs = lastUs;
    }
    lastByteUs = lastUs;
}

void PcapRecords::EndIfSilent(int64_t nowUs, int64_t slackUs) {
    if (nowUs - lastByteUs >= silenceUs + slackUs) EndReceived();
}

void PcapRecords::EndReceived() {
    if (received.empty()) return;
    Append(receivedStampUs, kReceivedEvent, receivedLines, received);
    received.clear();
}

std::vector<uint8_t> PcapRecords::Take() {
    std::vector<uint8_t> taken;
    taken.swap(out);
    return taken;
}
