// One frame of the line as the frame assembler finds it: which way it went,
// when its first and last bytes crossed, its bytes, and what they are.
#pragma once

#include <cstdint>
#include <vector>

#include "serial/LineTap.h"

enum class FrameKind : uint8_t {
    Rtu,       // station, PDU, CRC16
    Ascii,     // ':' digit pairs with the LRC, CR LF
    NoFrame,   // bytes that form no Modbus frame: noise, text, a frame cut short
    NoReply,   // no bytes: the request just before got no reply in time
    LineLost,  // no bytes: the line's device went away
    LineBack,  // no bytes: it came back and the line is open again
    // No bytes: what the driver told of the line as it happened.
    ModemChange,   // CTS, DSR, DCD or RI moved; `lines` as they are now
    FramingError,  // `count` framing errors
    ParityError,   // `count` parity errors
    LineBreak,     // `count` breaks
};

enum class FrameRole : uint8_t { Unknown, Request, Reply };

struct LineFrame {
    bool sent = false;
    FrameKind kind = FrameKind::NoFrame;
    bool checkGood = false;  // Rtu, Ascii: the CRC or the LRC checks
    FrameRole role = FrameRole::Unknown;
    bool echo = false;  // the adapter handed the request just sent back
    LineStamp first, last;
    uint8_t lines = 0;  // the control lines (LINE_* bits) as the bytes came
    // A reply: from the end of its request on the line to its first byte;
    // -1 for anything else.
    int64_t responseUs = -1;
    uint32_t count = 0;  // FramingError, ParityError, LineBreak: how many
    std::vector<uint8_t> bytes;
    // A reply: the request it answers, as it went on the line.
    std::vector<uint8_t> request;

    bool IsModbus() const { return kind == FrameKind::Rtu || kind == FrameKind::Ascii; }
    bool BadCheck() const { return IsModbus() && !checkGood; }
    bool IsLineEvent() const { return kind >= FrameKind::ModemChange; }
};
