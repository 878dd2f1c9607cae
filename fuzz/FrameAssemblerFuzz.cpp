// A line of any bytes, sent and received in any pieces at any times, on any
// speed: the frames found hold every byte exactly once, in the order it
// crossed the line, no frame ends before it starts, and nothing is left due.
#include <fuzzer/FuzzedDataProvider.h>

#include <vector>

#include "FuzzSupport.h"
#include "trace/FrameAssembler.h"

namespace {

constexpr uint32_t kBauds[] = {0, 300, 9600, 115200, 921600};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    FrameAssembler assembler;
    std::vector<LineFrame> frames;
    std::vector<uint8_t> sent, received;
    int64_t now = 1000000;
    while (input.remaining_bytes() > 0) {
        now += input.ConsumeIntegralInRange<int64_t>(0, 2000000);
        const LineStamp at{now, now};
        switch (input.ConsumeIntegralInRange(0, 3)) {
            case 0:
                assembler.LineOpened(DCB{input.PickValueInArray(kBauds), 8, NOPARITY, ONESTOPBIT},
                                     frames);
                break;
            case 1: {
                const std::vector<uint8_t> bytes =
                    input.ConsumeBytes<uint8_t>(input.ConsumeIntegralInRange(0, 300));
                assembler.Sent(at, 0, bytes, frames);
                sent.insert(sent.end(), bytes.begin(), bytes.end());
                break;
            }
            case 2: {
                const std::vector<uint8_t> bytes =
                    input.ConsumeBytes<uint8_t>(input.ConsumeIntegralInRange(0, 600));
                const int64_t spread = input.ConsumeIntegralInRange<int64_t>(0, 50000);
                assembler.Received(at, {now + spread, now + spread}, 0, bytes, input.ConsumeBool(),
                                   frames);
                received.insert(received.end(), bytes.begin(), bytes.end());
                now += spread;
                break;
            }
            default:
                assembler.Expire(now, frames);
                // What is due has ended: the trace's thread never spins.
                FUZZ_CHECK(assembler.Deadline() > now);
                break;
        }
        FUZZ_CHECK(assembler.Deadline() > 0);
    }
    assembler.Finish(frames);

    std::vector<uint8_t> sentOut, receivedOut;
    for (const LineFrame& frame : frames) {
        FUZZ_CHECK(frame.first.steadyUs <= frame.last.steadyUs);
        std::vector<uint8_t>& out = frame.sent ? sentOut : receivedOut;
        out.insert(out.end(), frame.bytes.begin(), frame.bytes.end());
    }
    FUZZ_CHECK(sentOut == sent);
    FUZZ_CHECK(receivedOut == received);
    return 0;
}
