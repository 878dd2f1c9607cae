// Finds the Modbus frames in what crosses the line by their content: an RTU
// frame ends where its function's length rule and its CRC say it does, an
// ASCII frame at CR LF after its ':'. What the reading program sees of the
// line's timing is the driver's (a UART's FIFO trigger, a USB adapter's
// 16 ms packets), so silence ends only what content cannot: a frame of a
// function without a length rule, and bytes that form no frame. Times are
// put back on the wire: the last byte of a read crossed at the read, each
// byte before it one character earlier, none before the last read's end.
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
    // A request with no reply in this time, or before the next, is unanswered;
    // a frame of known length waits this long for the rest of its bytes.
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
    // The request whose reply is awaited: sent by this program, or seen on
    // the bus between another master and its slaves.
    struct Awaited {
        bool active = false;
        bool watched = false;
        bool ascii = false;
        bool echoTaken = false;      // a request has at most one echo
        std::vector<uint8_t> bytes;  // as on the line
        std::vector<uint8_t> rtu;    // as it would be in RTU, check bytes last
        size_t replyLength = 0;      // RTU, 0: not known from the request
        LineStamp start;
        int64_t endUs = 0, deadlineUs = 0;  // its end on the wire, when it is given up
    };
    // What a frame is to the exchange: decided as it is found, in the order
    // frames end on the line.
    struct Meaning {
        FrameRole role = FrameRole::Unknown;
        int64_t responseUs = -1;
        std::vector<uint8_t> request;
    };
    struct Found {
        uint64_t start, end;  // [start, end)
        FrameKind kind;
        bool checkGood;
        bool echo;
        Meaning meaning;
        Awaited before;  // what was awaited before it was read: a longer frame at its start may win
    };
    struct Open {
        uint64_t start, lastEnd;  // the last byte the start may still end at
    };
    // Bytes read together; the last crossed the line at `read`.
    struct Run {
        uint64_t from;
        LineStamp read;
        int64_t floorUs;      // the first byte did not start before the last read's end
        int64_t notBeforeUs;  // nor before the last frame sent began, however fast a pty is
        uint8_t lines;
        size_t count;
    };
    struct Recheck {
        uint64_t start;
        uint8_t forms;  // which lengths are still to be told: kRequestForm, kReplyForm
    };

    static constexpr size_t kRing = 1024;

    void Take(uint8_t byte, std::vector<LineFrame>& out);
    void TakeAscii(uint64_t at, uint8_t byte, std::vector<LineFrame>& out);
    void Examine(uint64_t start, uint8_t forms);
    void CheckEnd(const Candidate& candidate, std::vector<LineFrame>& out);
    bool IsEcho(uint64_t start, std::span<const uint8_t> frame, bool ascii);
    void AddFound(Found frame, std::vector<LineFrame>& out);
    Meaning Classify(std::span<const uint8_t> bytes, FrameKind kind, bool checkGood, bool echo,
                     LineStamp first, std::vector<LineFrame>& out);
    uint64_t FirstOpen() const;
    bool HeldAt(const Found& frame) const;
    void Emit(std::vector<LineFrame>& out, uint64_t limit = UINT64_MAX);
    void Cap(std::vector<LineFrame>& out);
    void Silence(int64_t silentUs, std::vector<LineFrame>& out);
    void ResolvePause(std::vector<LineFrame>& out);
    size_t QuietLength() const;
    void EndQuiet(std::vector<LineFrame>& out);
    void EndBefore(uint64_t at, std::vector<LineFrame>& out);
    void EndAll(std::vector<LineFrame>& out);
    void EmitFound(const Found& frame, std::vector<LineFrame>& out);
    void EmitBytes(uint64_t start, uint64_t end, FrameKind kind, bool checkGood,
                   std::vector<LineFrame>& out);
    void Consume(uint64_t to);
    int64_t CharacterUs() const { return WireUs(line, 1); }
    LineStamp StampAt(uint64_t at) const;
    std::span<const uint8_t> Bytes(uint64_t start, uint64_t end) const;
    void GiveUp(int64_t atUs, std::vector<LineFrame>& out);

    DCB line;
    int64_t interFrameUs;

    std::vector<uint8_t> pending;  // received, not yet in a frame; pending[0] is at `base`
    uint64_t base = 0;
    std::deque<Run> runs;
    int64_t lastByteUs = 0;  // when the last bytes were read
    int64_t lastReadUs = 0;  // the wire time of the last byte read
    int64_t sentUs = 0;      // just after the last frame sent began
    // Where the hand-over paused while a frame of known length was open:
    // its bytes may still come, and content that checks across the pause wins.
    // The first start still open then decides: the rest of its frame may come.
    uint64_t pauseAt = 0, pauseStart = 0;
    bool paused = false;

    std::vector<Recheck> examineAt[kRing];
    std::vector<Candidate> endsAt[kRing];
    mutable std::deque<Open> open;
    std::vector<Found> found;  // by start
    uint64_t asciiStart = 0;
    bool asciiOpen = false, asciiCr = false;

    Awaited awaited;
    bool echoSeen = false;
};
