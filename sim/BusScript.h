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
};

// The cycle: functions 1 to 6, 8 (echo), 15, 16, 17, 23 and 43/14, a read of
// 125 registers, exceptions, a station that never answers, a reply with a
// spoiled CRC and a broadcast. Every frame ends in its CRC, low byte first.
std::vector<BusExchange> BusCycle();

struct BusTimeline {
    std::vector<uint8_t> bytes;     // every frame of the cycle, in order
    std::vector<WireFrame> frames;  // from the cycle's start; `bytes` in their order
    int64_t cycleMicros = 0;        // the next cycle's first request starts here
};

// A reply starts `turnaroundMicros` after its request's last bit; the next
// request `intervalMicros` after the exchange's last frame ends.
BusTimeline LayOutBus(const std::vector<BusExchange>& cycle, double characterMicros,
                      double turnaroundMicros, double intervalMicros);
