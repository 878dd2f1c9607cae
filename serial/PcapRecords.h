// The bytes of a capture file: a classic pcap file of link type 250 (RTAC
// serial, which Wireshark hands to a subdissector such as Modbus RTU), and
// the grouping of received bytes into its records. No I/O here.
//
// Stamps are microseconds since the epoch. A received record ends when the
// line falls silent for 3.5 character times (at least 1.75 ms, as Modbus RTU
// delimits its frames), when a send starts, or at kReceivedLimit bytes; it
// carries the stamp of its first byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "serial/CommLayer.h"

class PcapRecords {
public:
    static constexpr uint32_t kLinkType = 250;
    static constexpr size_t kReceivedLimit = 4096;
    // The most a record holds, its 12-byte RTAC header included; a longer
    // frame is written as several records.
    static constexpr uint32_t kSnapLength = 65535;
    static constexpr uint8_t kSentEvent = 0x01, kReceivedEvent = 0x02;
    static constexpr int64_t kShortestSilenceUs = 1750;

    // 3.5 character times of the line: start bit, data bits, parity and stop
    // bits at its speed.
    static int64_t SilenceUs(const DCB& line);

    // How much of `bytes`, records as Take hands them out, ends with a whole
    // record: where a file cut short by a failed write is to end.
    static size_t WholeRecords(std::span<const uint8_t> bytes);

    // Starts the file with its header.
    PcapRecords();

    // A line (re)opened: ends the received record and measures silence on it.
    void LineOpened(int64_t silenceUs);
    // A frame written, from `stampUs` on.
    void Sent(int64_t stampUs, uint8_t lines, std::span<const uint8_t> bytes);
    // Bytes read back to back, the first at firstUs and the last at lastUs.
    // `continues`: they were waiting already when the bytes before them were
    // read, so the time between says nothing about the line.
    void Received(int64_t firstUs, int64_t lastUs, uint8_t lines, std::span<const uint8_t> bytes,
                  bool continues);
    // Ends the open received record if the line has been silent since its
    // last byte, for the silence and `slackUs` more, at nowUs.
    void EndIfSilent(int64_t nowUs, int64_t slackUs);
    // Ends the open received record.
    void EndReceived();

    // The bytes of the records ended so far (the file header first); they are
    // handed over once.
    std::vector<uint8_t> Take();

private:
    void Append(int64_t stampUs, uint8_t event, uint8_t lines, std::span<const uint8_t> bytes);

    std::vector<uint8_t> out;
    std::vector<uint8_t> received;
    int64_t receivedStampUs = 0;
    uint8_t receivedLines = 0;
    int64_t lastByteUs = 0;
    int64_t silenceUs = kShortestSilenceUs;
};
