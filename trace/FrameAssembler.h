// Finds the Modbus frames in what crosses the line by their content: an RTU
// frame ends where its function's length rule and its CRC say it does, an
// ASCII frame at CR LF after its ':'. What the reading program sees of the
// line's timing is the driver's (a UART's FIFO trigger, a USB adapter's
// 16 ms packets), so silence ends only what content cannot: a frame of a
// function without a length rule, and bytes that form no frame.
//
// Not thread-safe; no I/O. Frames come out in the order they crossed the line.
#pragma once

#include <cstdint>
#include <deque>
#include <span>
#include <vector>

#include "serial/CommLayer.h"
#include "serial/LineTap.h"
#include "trace/LineFrame.h"

class FrameAssembler {
public:
    // Bytes that form no frame end after this much silence: more than a USB
    // adapter's 16 ms latency timer, so that the pause between two of its
    // packets never cuts a frame.
    static constexpr int64_t kHandOverSilenceUs = 40000;
    // A request with no reply in this time, or before the next, is unanswered.
    static constexpr int64_t kReplyTimeoutUs = 1000000;
    // An echo of the request starts while the request is on the wire, or
    // up to this much later (an adapter's own hand-over).
    static constexpr int64_t kEchoSlackUs = 20000;
    static constexpr int64_t kNever = INT64_MAX;

    // How long `count` characters take on `line`: start bit, data bits,
    // parity and stop bits at its speed.
    static int64_t WireUs(const DCB& line, size_t count);
    // 3.5 characters, at least 1.75 ms: the silence between RTU frames.
    static int64_t InterFrameUs(const DCB& line);

    FrameAssembler();

    void LineOpened(const DCB& line, std::vector<LineFrame>& out);
    void Sent(LineStamp started, uint8_t lines, std::span<const uint8_t> bytes,
              std::vector<LineFrame>& out);
    void Received(LineStamp first, LineStamp last, uint8_t lines, std::span<const uint8_t> bytes,
                  bool continues, std::vector<LineFrame>& out);

    // When, on the monotonic clock, what is open ends if nothing comes first.
    int64_t Deadline() const;
    // What is due by `nowSteadyUs` ends.
    void Expire(int64_t nowSteadyUs, std::vector<LineFrame>& out);
    // Everything open ends now.
    void Finish(std::vector<LineFrame>& out);

private:
    enum class Form : uint8_t { Other, Expected, Echo };
    struct Candidate {
        uint64_t start;
        uint16_t length;
        Form form;
    };
    struct Found {
        uint64_t start, end;  // [start, end)
        FrameKind kind;
        bool checkGood;
        bool echo;
    };
    struct Open {
        uint64_t start, lastEnd;  // the last byte the start may still end at
    };
    struct Run {
        uint64_t from;
        LineStamp first, last;
        uint8_t lines;
        size_t count;
    };
    // The request sent last, while its reply is awaited.
    struct Awaited {
        bool active = false;
        bool ascii = false;
        uint8_t station = 0, function = 0;
        size_t replyLength = 0;  // RTU, 0: unknown
        std::vector<uint8_t> bytes;
        LineStamp start;
        int64_t endUs = 0, deadlineUs = 0;  // its end on the wire, when it is given up
    };
    // The request seen last between other devices on a watched bus.
    struct BusRequest {
        bool active = false;
        uint8_t station = 0, function = 0;
        std::vector<uint8_t> bytes;
        int64_t endUs = 0;
    };

    static constexpr size_t kRing = 1024;

    void Take(uint8_t byte, std::vector<LineFrame>& out);
    void TakeAscii(uint64_t at, uint8_t byte);
    void Examine(uint64_t start);
    void CheckEnd(const Candidate& candidate);
    bool IsEcho(uint64_t start, std::span<const uint8_t> frame, bool ascii);
    void AddFound(const Found& frame);
    uint64_t FirstOpen() const;
    void Emit(std::vector<LineFrame>& out);
    void Cap(std::vector<LineFrame>& out);
    bool QuietEnds() const;
    void EndQuiet(std::vector<LineFrame>& out);
    void EndAll(std::vector<LineFrame>& out);
    void EmitBytes(uint64_t start, uint64_t end, FrameKind kind, bool checkGood, bool echo,
                   std::vector<LineFrame>& out);
    void Classify(LineFrame& frame);
    void Consume(uint64_t to);
    LineStamp StampAt(uint64_t at) const;
    std::span<const uint8_t> Bytes(uint64_t start, uint64_t end) const;
    void GiveUp(int64_t atUs, std::vector<LineFrame>& out);

    DCB line;
    int64_t interFrameUs;

    std::vector<uint8_t> pending;  // received, not yet in a frame; pending[0] is at `base`
    uint64_t base = 0;
    std::deque<Run> runs;
    int64_t lastByteUs = 0;

    std::vector<uint64_t> examineAt[kRing];
    std::vector<Candidate> endsAt[kRing];
    mutable std::deque<Open> open;
    std::vector<Found> found;  // by start
    uint64_t asciiStart = 0;
    bool asciiOpen = false, asciiCr = false;

    Awaited awaited;
    bool echoSeen = false;
    BusRequest bus;
};
