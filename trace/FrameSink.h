// Where the line's trace hands the frames it finds, in order, on its own
// thread. A sink must not block: it queues or stores and returns.
#pragma once

#include <span>

#include "trace/LineFrame.h"

class FrameSink {
public:
    virtual ~FrameSink() = default;
    virtual void Take(std::span<const LineFrame> frames) = 0;
};
