// How long a ring of capture files holds the threads that serve the line
// while it switches files: the trace's hand-over (Take) and the recorder's
// main loop (Tick), for frames of a 115200-baud bus, a new file every 50
// frames. Run it on the card in question, or with a slow one simulated:
//
//   LD_PRELOAD=build/dev/tests/support/libtalvenor_slow_sync.so SLOW_SYNC_MS=1000
//   build/dev/bench/ring_sync_bench [directory, default /tmp] [frames, default 1000]
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "recorder/CaptureRing.h"

int main(int argc, char** argv) {
    using Clock = std::chrono::steady_clock;
    namespace fs = std::filesystem;
    const fs::path dir =
        fs::path(argc > 1 ? argv[1] : "/tmp") / ("ring_sync_bench-" + std::to_string(getpid()));
    const int frames = argc > 2 ? std::atoi(argv[2]) : 1000;
    fs::create_directories(dir);
    CaptureRing::Limits limits;
    limits.filePackets = 50;
    limits.files = 4;
    CaptureRing ring((dir / "bench.pcap").string(), limits, [] {});
    int error = 0;
    if (!ring.Start(error)) {
        std::fprintf(stderr, "cannot create a file in %s\n", dir.c_str());
        return 1;
    }
    LineFrame frame;
    frame.bytes.assign(25, 0x55);
    // A 25-byte frame takes 2.2 ms on the wire at 115200 baud.
    const auto wire = std::chrono::microseconds(25 * 10 * 1000000 / 115200);
    Clock::duration longest{}, total{};
    const auto started = Clock::now();
    for (int i = 0; i < frames; ++i) {
        const auto before = Clock::now();
        ring.Take({&frame, 1});
        ring.Tick();
        const auto held = Clock::now() - before;
        longest = std::max(longest, held);
        total += held;
        std::this_thread::sleep_until(started + wire * (i + 1));
    }
    const auto finishing = Clock::now();
    ring.Finish();
    const auto ms = [](Clock::duration d) {
        return std::chrono::duration<double, std::milli>(d).count();
    };
    std::printf(
        "%d frames, %d files: the line held %.3f ms at most, %.3f ms in all; "
        "the end took %.0f ms\n",
        frames, (frames + 49) / 50, ms(longest), ms(total), ms(Clock::now() - finishing));
    fs::remove_all(dir);
    return 0;
}
