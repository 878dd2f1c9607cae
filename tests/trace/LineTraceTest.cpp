// The trace's thread: loose bytes end by silence without a busy wait, or
// with the trace; what it cannot queue is reported; the window reads the
// frame list while frames come in (also run under ThreadSanitizer).
#include "trace/LineTrace.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "trace/FrameList.h"

namespace {

struct Kept : FrameSink {
    void Take(std::span<const LineFrame> frames) override { bytes += frames[0].bytes.size(); }
    std::atomic<size_t> bytes{0};
};

}  // namespace

TEST(LineTrace, LooseBytesEndBySilenceOrWithTheTraceAndDropsAreReported) {
    const std::vector<uint8_t> text = {'O', 'K', '\r', '\n'};
    std::atomic<int> looks{0};
    Kept bySilence, byTheEnd;
    {
        LineTrace trace([&] { return ++looks, LineStamp::Now(); });
        trace.AddSink(&bySilence);
        trace.Received(LineStamp::Now(), LineStamp::Now(), 0, text, false);
        for (int i = 0; i < 500 && bySilence.bytes == 0; ++i) usleep(10000);
    }
    EXPECT_EQ(bySilence.bytes, 4u);
    EXPECT_LT(looks, 20);  // read each time the thread wakes
    uint64_t lost = 0;
    {
        LineTrace trace([] { return LineStamp{1, 1}; }, 1024);  // a clock that stands still
        trace.AddSink(&byTheEnd);
        trace.OnLost([&](uint64_t bytes) { lost += bytes; });
        trace.Received({1, 1}, {1, 1}, 0, text, false);
        trace.Received({1, 1}, {1, 1}, 0, std::vector<uint8_t>(4096), false);
    }
    EXPECT_EQ(byTheEnd.bytes, 4u);
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
    for (uint64_t next = 0; next < 20000; next = list.Next())
        EXPECT_TRUE(!list.Row(next - 1, row) || row.says == "地址 0 数量 10");
    trace.join();
    EXPECT_EQ(list.Counters().requests, 20000u);
}
