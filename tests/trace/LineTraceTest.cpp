// The trace's thread between the engine and the window: loose bytes end by
// silence without a busy wait, what is open when the trace ends reaches the
// sinks, what it cannot queue is reported, and the window reads the frame
// list while frames come in (run under ThreadSanitizer too).
#include "trace/LineTrace.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "trace/FrameList.h"

namespace {

struct Kept : FrameSink {
    void Take(std::span<const LineFrame> frames) override {
        for (const LineFrame& frame : frames) bytes += frame.bytes.size();
    }
    std::atomic<size_t> bytes{0};
};

const std::vector<uint8_t> kText = {'O', 'K', '\r', '\n'};

}  // namespace

TEST(LineTrace, LooseBytesEndBySilenceWithoutABusyWaitOrWithTheTrace) {
    Kept bySilence, byTheEnd;
    std::atomic<int> looks{0};
    {
        LineTrace trace([&] { return ++looks, LineStamp::Now(); });
        trace.AddSink(&bySilence);
        const LineStamp now = LineStamp::Now();
        trace.Received(now, now, 0, kText, false);
        for (int i = 0; i < 500 && bySilence.bytes == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(bySilence.bytes, kText.size());
    EXPECT_LT(looks, 20);  // the clock is read each time the thread wakes
    {
        // The line's clock stands still: only the trace's end ends them.
        LineTrace trace([] { return LineStamp{1, 1}; });
        trace.AddSink(&byTheEnd);
        trace.Received({1, 1}, {1, 1}, 0, kText, false);
    }
    EXPECT_EQ(byTheEnd.bytes, kText.size());
}

TEST(LineTrace, WhatItCannotQueueIsReported) {
    LineTrace trace(LineStamp::Now, 1024);
    uint64_t lost = 0;
    trace.OnLost([&](uint64_t bytes) { lost += bytes; });
    trace.Received({}, {}, 0, std::vector<uint8_t>(4096, 0x55), false);
    EXPECT_EQ(lost, 4096u);
}

TEST(FrameList, RowsAndCountersReadWhileFramesComeIn) {
    FrameList list(64);
    LineFrame request;
    request.sent = request.checkGood = true;
    request.kind = FrameKind::Rtu;
    request.role = FrameRole::Request;
    request.bytes = {0x01, 0x03, 0x00, 0x00, 0x00, 0x0a, 0xc5, 0xcd};
    std::thread trace([&] {
        for (int i = 0; i < 20000; ++i) list.Take({&request, 1});
    });
    FrameRow row;
    for (uint64_t next = 0; next < 20000; next = list.Next()) {
        if (next > 0 && list.Row(next - 1, row)) {
            EXPECT_EQ(row.says, "地址 0 数量 10");
        }
        EXPECT_GE(list.Counters().requests, next);
    }
    trace.join();
    EXPECT_EQ(list.Counters().requests, 20000u);
}
