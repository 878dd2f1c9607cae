// Where the line's trace hands the frames it finds, in order, on its own
// thread. A sink must not block: it queues or stores and returns.
#pragma once

#include <cstdint>
#include <span>

#include "trace/LineFrame.h"

class FrameSink {
public:
    virtual ~FrameSink() = default;
    virtual void Take(std::span<const LineFrame> frames) = 0;
    // `bytes` of the line never reached the trace (it fell too far behind):
    // told on the engine's worker, so it must not block either. A record of
    // the line that must be whole stops here; a view may go on.
    virtual void Lost(uint64_t /*bytes*/) {}
};
