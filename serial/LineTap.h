// What the engine hands over of everything that crosses the line, stamped as
// it happens. The engine calls these on its worker thread and never waits on
// what a tap does with them: a tap queues and returns.
#pragma once

#include <cstdint>
#include <span>

#include "serial/CommLayer.h"

// A moment on the line: the wall clock for dating a record, the monotonic
// clock for the silences between records (a suspend or a clock step moves
// the first and not the second).
struct LineStamp {
    int64_t wallUs = 0;
    int64_t steadyUs = 0;

    static LineStamp Now();
};

// What the driver tells of the line besides its bytes.
enum class LineEvent : uint8_t {
    ModemLines,  // CTS, DSR, DCD or RI changed
    Framing,     // framing errors counted
    Parity,      // parity errors counted
    Break,       // breaks counted
};

class LineTap {
public:
    virtual ~LineTap() = default;

    // The clock the engine stamps with.
    virtual LineStamp Now() const { return LineStamp::Now(); }

    // The line was (re)opened with these settings.
    virtual void LineOpened(const DCB& line) = 0;
    // A frame written, from `started` on.
    virtual void Sent(LineStamp started, uint8_t lines, std::span<const uint8_t> bytes) = 0;
    // Bytes read back to back: found waiting at `first` (the engine may then
    // wait for its owner before it reads them), all read by `last`.
    // `continues`: they were waiting already when the bytes before them were
    // read, so the time between says nothing about the line.
    virtual void Received(LineStamp first, LineStamp last, uint8_t lines,
                          std::span<const uint8_t> bytes, bool continues) = 0;
    // `event` came at `at`, the control lines then `lines`; `count`: how
    // many the driver counted since it was last told (a modem line change
    // counts each line that moved).
    virtual void LineChanged(LineStamp /*at*/, LineEvent /*event*/, uint8_t /*lines*/,
                             uint32_t /*count*/) {}
};
