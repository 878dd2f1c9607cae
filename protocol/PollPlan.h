// A watch list as Modbus requests: the reads that cover its values in as few
// requests as the functions' limits allow, the writes of one value, and what
// a reply says. RTU frames, CRC included; no I/O and no state.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

// One value to read: `count` registers (functions 3, 4) or coils and inputs
// (1, 2) from `address`.
struct PollPoint {
    uint8_t station = 1;
    uint8_t function = 3;
    uint16_t address = 0;
    uint16_t count = 1;
};

// One read request and the points (indices into the list) it carries.
struct PollRead {
    uint8_t station = 1;
    uint8_t function = 3;
    uint16_t start = 0;
    uint16_t count = 0;
    std::vector<size_t> points;
};

namespace PollPlan {

// The most a read may ask for (registers, or bits), and the widest hole
// between two values that one read still spans: a hole is read for nothing,
// and a device may refuse an address in it, so it stays small.
uint16_t ReadLimit(uint8_t function);
uint16_t MergeGap(uint8_t function);

// Whether the point can be read at all: function 1 to 4, station 1 to 247,
// a count from 1 to the function's limit that ends inside the address space.
bool Readable(const PollPoint& point);

// The reads for the readable points: those of one station and function, in
// address order, share a read while it stays within the limit and the gap.
std::vector<PollRead> PlanReads(std::span<const PollPoint> points);

std::vector<uint8_t> ReadRequest(const PollRead& read);

// Writes `values` at the point's address: function 5 for a coil (function 1),
// 6 for one holding register, 16 for more (function 3). Empty for what
// cannot be written (discrete inputs, input registers).
std::vector<uint8_t> WriteRequest(const PollPoint& point, std::span<const uint16_t> values);

enum class Outcome : uint8_t { Good, Exception, BadCheck, Unfit };

struct Answer {
    Outcome outcome = Outcome::Unfit;
    uint8_t exception = 0;
    // A read's registers, or its bits as 0 and 1, one a value.
    std::vector<uint16_t> values;
};

// What `reply` (RTU, check bytes last) says to `request`.
Answer ReadAnswer(std::span<const uint8_t> request, std::span<const uint8_t> reply, bool checkGood);

// The values of point `index` of `read` within the read's values.
std::span<const uint16_t> PointValues(const PollRead& read, const PollPoint& point,
                                      std::span<const uint16_t> values);

}  // namespace PollPlan
