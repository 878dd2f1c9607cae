// The bytes of a capture file: a classic pcap file of link type 250 (RTAC
// serial, which Wireshark hands to a subdissector such as Modbus RTU), one
// record a frame. No I/O here. Stamps are microseconds since the epoch.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

class PcapRecords {
public:
    static constexpr uint32_t kLinkType = 250;
    // The most a record holds, its 12-byte RTAC header included; a longer
    // frame is written as several records.
    static constexpr uint32_t kSnapLength = 65535;
    static constexpr uint8_t kSentEvent = 0x01, kReceivedEvent = 0x02;
    // Records without data: the control lines changed, the driver counted
    // line errors (Wireshark's STATUS_CHANGE, FRAMING_ERROR, PARITY_ERROR,
    // SERIAL_BREAK_EVENT).
    static constexpr uint8_t kStatusChangeEvent = 0x00, kFramingErrorEvent = 0x07,
                             kParityErrorEvent = 0x08, kBreakEvent = 0x09;
    static constexpr size_t kFileHeaderSize = 24;

    static void AppendFileHeader(std::vector<uint8_t>& out);
    // `bytes` as one record (or several, past the snap length) stamped
    // `stampUs`, with the event and the control lines (LINE_* bits).
    static void AppendRecord(std::vector<uint8_t>& out, int64_t stampUs, uint8_t event,
                             uint8_t lines, std::span<const uint8_t> bytes);

    // What AppendRecord adds to a file for a frame of `frameBytes` bytes.
    static size_t RecordSize(size_t frameBytes);

    // How much of `bytes`, records as AppendRecord writes them, ends with a
    // whole record: where a file cut short by a failed write is to end.
    static size_t WholeRecords(std::span<const uint8_t> bytes);
};
