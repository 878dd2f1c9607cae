// The simulator's bus mode: a master polling several slaves, both sides
// played here and only heard by the program on the other end of the pty. One
// fixed cycle of exchanges, repeated, so that what went on the line is known.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/Delivery.h"

struct BusExchange {
    std::string what;  // one line of the printed cycle
    std::vector<uint8_t> request;
    std::vector<uint8_t> reply;  // empty: nobody answers
    bool answers = true;         // false: the reply answers nothing (late, another station's)
    double replyAfterMs =
        -1;  // from the request's end (or its echo's) to the reply; -1: the turnaround
    double nextAfterMs = -1;  // from this exchange's end to the next request; -1: the interval
};

// The cycle: functions 1 to 6, 8 (echo), 15, 16, 17, 23 and 43/14, a read of
// 125 registers, exceptions, a station that never answers, a reply with a
// spoiled CRC and a broadcast. Every frame ends in its CRC, low byte first.
std::vector<BusExchange> BusCycle();

// A rougher cycle, what masters and slaves in the field do: a retry within
// 1 s, a reply after the master's 1 s timeout, a short reply with a good CRC,
// a function without a rule and its exception, a write whose byte count does
// not fit its quantity and its exception, a reply from the wrong station.
std::vector<BusExchange> RoughBusCycle();

// What one frame of the timeline is, as a listener should take it.
struct PlayedFrame {
    enum class Role { Request, Echo, Reply, Unpaired } role;
    size_t exchange;              // its exchange in the cycle
    int64_t responseMicros = -1;  // a reply: from its request's last bit to its own first
};

struct BusTimeline {
    std::vector<uint8_t> bytes;       // every frame of the cycle, in order
    std::vector<WireFrame> frames;    // from the cycle's start; `bytes` in their order
    std::vector<PlayedFrame> played;  // one for each of `frames`
    int64_t cycleMicros = 0;          // the next cycle's first request starts here
};

// A reply starts `turnaroundMicros` after its request's last bit; the next
// request `intervalMicros` after the exchange's last frame ends. `echo`: an
// adapter echoes every request right after it, before the reply, which then
// starts the turnaround after the echo.
BusTimeline LayOutBus(const std::vector<BusExchange>& cycle, double characterMicros,
                      double turnaroundMicros, double intervalMicros, bool echo = false);
