// The CPU a recording of a 9600-baud bus costs: talvenor-capture as its own
// process, beside the main window (offscreen) recording the same bus into a
// capture file. The bus is Modbus exchanges back to back (a request for 10
// registers, its 25-byte reply), handed over the way a 16550A UART does: 8
// bytes at a time, as fast as the wire brings them.
//
//   capture_bench [seconds of each run, default 20]
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QApplication>
#include <QComboBox>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/ProcessFigures.h"
#include "bench/WindowBench.h"
#include "serial/PosixComm.h"
#include "tools/ChecksumTool.h"
#include "trace/LineCapture.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kCharUs = 10 * 1e6 / 9600;  // start, 8 data, stop bits
constexpr size_t kFifoTrigger = 8;

std::vector<uint8_t> WithCrc(std::vector<uint8_t> frame) {
    const uint16_t crc = ChecksumTool::Crc16(frame.data(), static_cast<uint32_t>(frame.size()));
    frame.insert(frame.end(), {static_cast<uint8_t>(crc), static_cast<uint8_t>(crc >> 8)});
    return frame;
}

// Puts the bus on `master` until `stop`, paced as the wire is; answers the
// bytes it put and the CPU seconds of its own thread.
struct Bus {
    Bus(int fd) : master(fd) {}
    void Run() {
        const double cpuBefore = CpuSeconds(RUSAGE_THREAD);
        auto due = Clock::now();
        for (uint32_t n = 0; !stop.load(); ++n) {
            std::vector<uint8_t> reply = {1, 3, 20};
            for (int i = 0; i < 20; ++i) reply.push_back(static_cast<uint8_t>(n + i));
            for (const auto& frame :
                 {WithCrc({1, 3, 0, static_cast<uint8_t>(n % 90), 0, 10}), WithCrc(reply)}) {
                for (size_t at = 0; at < frame.size(); at += kFifoTrigger) {
                    const size_t piece = std::min(kFifoTrigger, frame.size() - at);
                    due += std::chrono::microseconds(static_cast<int64_t>(piece * kCharUs));
                    std::this_thread::sleep_until(due);
                    WriteAll(master, frame.data() + at, piece);
                    bytes += piece;
                }
                // The silence between two frames: 3.5 characters.
                due += std::chrono::microseconds(static_cast<int64_t>(3.5 * kCharUs));
            }
        }
        cpu = CpuSeconds(RUSAGE_THREAD) - cpuBefore;
    }
    int master;
    std::atomic<bool> stop{false};
    size_t bytes = 0;
    double cpu = 0;
};

void Report(const char* who, double cpu, double seconds, size_t bytes, long rssKiB) {
    std::printf("%-36s: %5.2f %% of one core (%.2f s CPU in %.1f s, %zu bytes of the bus", who,
                100.0 * cpu / seconds, cpu, seconds, bytes);
    if (rssKiB > 0) std::printf(", %ld KiB resident at the end", rssKiB);
    std::printf(")\n");
}

double Recorder(const BenchLine& line, const std::string& dir, int seconds) {
    const std::string program = TALVENOR_CAPTURE_PATH;
    const std::string path = line.ports + "/COM1", file = dir + "/recorder.pcap";
    std::string q = "-q", i = "-i", w = "-w";
    char* args[] = {const_cast<char*>(program.c_str()),
                    q.data(),
                    i.data(),
                    const_cast<char*>(path.c_str()),
                    w.data(),
                    const_cast<char*>(file.c_str()),
                    nullptr};
    pid_t child = -1;
    if (posix_spawn(&child, program.c_str(), nullptr, nullptr, args, environ) != 0) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    Bus bus(line.master);
    const auto start = Clock::now();
    std::thread feeder([&] { bus.Run(); });
    // Its resident memory halfway and at the end, read before it ends:
    // flat, however long it runs.
    const auto resident = [child] {
        long kib = -1;
        if (FILE* status =
                std::fopen(("/proc/" + std::to_string(child) + "/status").c_str(), "r")) {
            char text[256];
            while (std::fgets(text, sizeof text, status))
                if (std::sscanf(text, "VmRSS: %ld", &kib) == 1) break;
            std::fclose(status);
        }
        return kib;
    };
    std::this_thread::sleep_for(std::chrono::milliseconds(seconds * 500));
    const long halfway = resident();
    std::this_thread::sleep_for(std::chrono::milliseconds(seconds * 500));
    const long rss = resident();
    std::printf("talvenor-capture resident: %ld KiB halfway, %ld KiB at the end\n", halfway, rss);
    kill(child, SIGTERM);
    int exitStatus = 0;
    rusage usage{};
    wait4(child, &exitStatus, 0, &usage);
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    bus.stop = true;
    feeder.join();
    const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    Report("talvenor-capture (own process)", cpu, elapsed, bus.bytes, rss);
    return cpu / elapsed;
}

double Window(const BenchLine& line, const std::string& dir, int seconds) {
    int error = 0;
    std::unique_ptr<LineCapture> capture = LineCapture::Create(dir + "/window.pcap", error);
    if (!capture) return -1;
    double share = -1;
    {
        MainWindow window(std::make_unique<PosixComm>(line.names), line.names);
        window.show();
        window.SetCapture(capture.get());
        OpenThroughSettings(window, 1);
        if (!window.receiving) return -1;
        RunUntil([] { return false; }, 500);
        Bus bus(line.master);
        const double before = CpuSeconds();
        const auto start = Clock::now();
        std::thread feeder([&] { bus.Run(); });
        RunUntil([] { return false; }, seconds * 1000, 100);
        bus.stop = true;
        feeder.join();
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        // The bus's own thread is not the window's cost.
        const double cpu = CpuSeconds() - before - bus.cpu;
        Report("the window with --capture (offscreen)", cpu, elapsed, bus.bytes, ResidentKiB());
        share = cpu / elapsed;
    }
    capture->Finish();
    return share;
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication application(argc, argv);
    BenchLine line;
    if (!line.ok()) return 1;
    const std::string dir = line.root.path().toStdString();
    const double recorder = Recorder(line, dir, seconds);
    const double window = Window(line, dir, seconds);
    if (recorder < 0 || window < 0) {
        std::printf("a run failed (recorder %.3f, window %.3f)\n", recorder, window);
        return 1;
    }
    std::printf(
        "recording a 9600-baud bus: the recorder takes %.2f %% of a core, the window "
        "%.2f %%\n",
        100 * recorder, 100 * window);
    return 0;
}
