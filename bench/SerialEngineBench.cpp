// Receive figures of the serial engine on the system's comm layer, with an
// owner that handles each SPN_RXCHAR at once: the throughput of 4 MB pushed
// through a pty as fast as it goes, with the line recorded into a capture
// file and without, and the CPU share of a slow line, 960 bytes per second
// (a 9600-baud line) for 10 s.
#include "serial/ComNames.h"
#include "trace/LineCapture.h"
#include "trace/LineTrace.h"
#include "serial/PosixComm.h"
#include "serial/SerialPort.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/ProcessFigures.h"

namespace {

constexpr size_t kTotalBytes = 4u << 20;
constexpr int kPort = 1;
constexpr int kSlowRate = 960;  // bytes per second
constexpr int kSlowSeconds = 10;

uint8_t PatternByte(size_t index) { return static_cast<uint8_t>(index % 251); }

class CountingOwner : public SerialPortOwner {
public:
    size_t received = 0;
    size_t mismatches = 0;
    size_t otherNotes = 0;
    size_t errors = 0;
    bool probeSeen = false;

    void OnNotification(uint32_t message, uint32_t wParam, int32_t) override {
        if (message != SPN_RXCHAR) {
            ++otherNotes;
            return;
        }
        if (wParam != PatternByte(received)) ++mismatches;
        ++received;
    }
    void OnError(const std::string& text, const std::string&) override {
        ++errors;
        std::fprintf(stderr, "%s", text.c_str());
    }
    void WakeOwner() override {
        {
            std::lock_guard<std::mutex> guard(lock);
            woken = true;
        }
        wake.notify_one();
    }
    void WaitForWake() {
        std::unique_lock<std::mutex> guard(lock);
        wake.wait_for(guard, std::chrono::milliseconds(100), [this] { return woken; });
        woken = false;
    }

private:
    std::mutex lock;
    std::condition_variable wake;
    bool woken = false;
};

// Writes on a non-blocking descriptor until done or told to give up: a
// stalled engine stops reading, and a blocked writer would then keep the
// program from ever reporting the stall.
bool WriteAll(int fd, const uint8_t* bytes, size_t count, const std::atomic<bool>& giveUp) {
    while (count > 0) {
        if (giveUp.load()) return false;
        const ssize_t done = write(fd, bytes, count);
        if (done < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN) {
                pollfd room{fd, POLLOUT, 0};
                poll(&room, 1, 100);
                continue;
            }
            return false;
        }
        bytes += done;
        count -= static_cast<size_t>(done);
    }
    return true;
}

// The worker purges the device when it starts and before each write: the far
// end sends only after the worker's probe came out.
bool SyncWithWorker(SerialPort& port, int master) {
    const uint8_t probe = 0x5A;
    port.RequestWrite(&probe, 1);
    pollfd far{master, POLLIN, 0};
    uint8_t answer = 0;
    return poll(&far, 1, 5000) == 1 && read(master, &answer, 1) == 1;
}

bool OpenAndStart(SerialPort& port, CountingOwner& owner, int master) {
    if (!port.Open(&owner, kPort, 115200, 'N', 8, 1, EV_RXCHAR | EV_CTS, 512) ||
        !port.StartWorker()) {
        std::fprintf(stderr, "cannot open the pty as COM%d\n", kPort);
        return false;
    }
    if (!SyncWithWorker(port, master)) {
        std::fprintf(stderr, "the worker wrote nothing\n");
        return false;
    }
    return true;
}

int MeasureThroughput(SerialPort& port, int master, double& rate) {
    CountingOwner owner;
    if (!OpenAndStart(port, owner, master)) return 1;
    int status = 0;

    std::vector<uint8_t> data(kTotalBytes);
    for (size_t i = 0; i < data.size(); ++i) data[i] = PatternByte(i);

    const double cpuBefore = CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    std::atomic<bool> giveUp{false};
    std::thread writer([&] {
        constexpr size_t kChunk = 4096;
        for (size_t at = 0; at < data.size(); at += kChunk)
            if (!WriteAll(master, data.data() + at, std::min(kChunk, data.size() - at), giveUp))
                return;
    });
    auto lastProgress = start;
    size_t lastCount = 0;
    while (owner.received < kTotalBytes && owner.errors == 0) {
        owner.WaitForWake();
        port.DispatchNotifications();
        const auto now = std::chrono::steady_clock::now();
        if (owner.received != lastCount) {
            lastCount = owner.received;
            lastProgress = now;
        } else if (now - lastProgress > std::chrono::seconds(10)) {
            std::fprintf(stderr, "stalled after %zu bytes\n", owner.received);
            status = 1;
            break;
        }
    }
    const auto end = std::chrono::steady_clock::now();
    const double cpu = CpuSeconds() - cpuBefore;
    giveUp.store(true);
    writer.join();

    const double wall = std::chrono::duration<double>(end - start).count();
    rate = static_cast<double>(owner.received) / wall;
    std::printf("  bytes received   %zu of %zu (%zu wrong, %zu other notifications, %zu boxes)\n",
                owner.received, kTotalBytes, owner.mismatches, owner.otherNotes, owner.errors);
    std::printf("  wall time        %.3f s\n", wall);
    std::printf("  throughput       %.0f bytes/s (%.2f MB/s)\n", rate, rate / 1e6);
    std::printf("  CPU time         %.3f s (user+system, all threads), %.0f ns per byte\n", cpu,
                cpu * 1e9 / static_cast<double>(owner.received ? owner.received : 1));
    if (owner.mismatches != 0 || owner.errors != 0) status = 1;
    return status;
}

// The received bytes in a capture file's records, and whether it ends with
// a whole record.
size_t CapturedBytes(const std::string& path, bool& whole) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> data{std::istreambuf_iterator<char>(in), {}};
    size_t at = 24, bytes = 0;
    while (at + 28 <= data.size()) {
        const size_t length = data[at + 8] | data[at + 9] << 8 | data[at + 10] << 16 |
                              static_cast<size_t>(data[at + 11]) << 24;
        if (data[at + 24] == 2) bytes += length - 12;
        at += 16 + length;
    }
    whole = at == data.size();
    return bytes;
}

// The throughput without a capture and with one, alternately, three times each:
// what else the machine does weighs on both alike. The best of each counts.
int CompareCapture(const std::string& root, int master) {
    double best[2] = {0, 0};
    int status = 0;
    const std::string path = root + "/line.pcap";
    for (int round = 0; round < 3; ++round) {
        for (const bool capturing : {false, true}) {
            std::printf(
                "serial engine receive, one synchronous SPN_RXCHAR per byte, pty at 115200 "
                "baud setting, capture %s\n",
                capturing ? "on" : "off");
            double rate = 0;
            {
                int error = 0;
                std::unique_ptr<LineCapture> capture;
                if (capturing && !(capture = LineCapture::Create(path, error))) return 1;
                LineTrace trace;
                if (capture) trace.AddSink(capture.get());
                SerialPort port(std::make_unique<PosixComm>(
                    ComNames({root + "/ports", root + "/dev", root + "/sys"})));
                if (capture) port.SetTap(&trace);
                status |= MeasureThroughput(port, master, rate);
            }
            best[capturing] = std::max(best[capturing], rate);
            if (capturing) {
                bool whole = false;
                const size_t bytes = CapturedBytes(path, whole);
                std::printf("  capture file     %zu received bytes in its records, %s\n", bytes,
                            whole ? "whole records" : "CUT SHORT");
                if (!whole || bytes < kTotalBytes) status = 1;
            }
        }
    }
    std::printf(
        "capture on keeps %.1f %% of the throughput without it (best of three each: %.2f "
        "and %.2f MB/s)\n",
        100.0 * best[1] / best[0], best[1] / 1e6, best[0] / 1e6);
    return status;
}

// Sends `count` pattern bytes one at a time, `rate` per second, from a child
// process, so that the far end's CPU is not counted as the engine's.
pid_t StartPacedWriter(int master, size_t count, int rate) {
    const pid_t child = fork();
    if (child != 0) return child;
    // The parent has threads: only async-signal-safe calls from here on.
    const long stepNs = 1000000000L / rate;
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    for (size_t i = 0; i < count; ++i) {
        next.tv_nsec += stepNs;
        if (next.tv_nsec >= 1000000000L) {
            next.tv_nsec -= 1000000000L;
            ++next.tv_sec;
        }
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr) == EINTR) {
        }
        const uint8_t byte = PatternByte(i);
        for (;;) {
            const ssize_t done = write(master, &byte, 1);
            if (done == 1) break;
            if (done < 0 && errno == EINTR) continue;
            pollfd room{master, POLLOUT, 0};
            if (done < 0 && errno == EAGAIN && poll(&room, 1, 1000) == 1) continue;
            _exit(1);
        }
    }
    _exit(0);
}

int MeasureSlowLine(SerialPort& port, int master) {
    CountingOwner owner;
    if (!OpenAndStart(port, owner, master)) return 1;
    const size_t total = static_cast<size_t>(kSlowRate) * kSlowSeconds;

    const double cpuBefore = CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    const pid_t writer = StartPacedWriter(master, total, kSlowRate);
    if (writer < 0) {
        std::perror("fork");
        return 1;
    }
    const auto deadline = start + std::chrono::seconds(kSlowSeconds + 10);
    while (owner.received < total && owner.errors == 0 &&
           std::chrono::steady_clock::now() < deadline) {
        owner.WaitForWake();
        port.DispatchNotifications();
    }
    const auto end = std::chrono::steady_clock::now();
    const double cpu = CpuSeconds() - cpuBefore;
    int writerStatus = 0;
    if (owner.received < total) kill(writer, SIGKILL);
    waitpid(writer, &writerStatus, 0);

    const double wall = std::chrono::duration<double>(end - start).count();
    std::printf("serial engine on a slow line, %d bytes/s for %d s, pty at 115200 baud setting\n",
                kSlowRate, kSlowSeconds);
    std::printf("  bytes received   %zu of %zu (%zu wrong, %zu other notifications, %zu boxes)\n",
                owner.received, total, owner.mismatches, owner.otherNotes, owner.errors);
    std::printf("  wall time        %.3f s\n", wall);
    std::printf("  CPU time         %.3f s (user+system, this process), %.1f us per byte\n", cpu,
                cpu * 1e6 / static_cast<double>(owner.received ? owner.received : 1));
    std::printf("  CPU share        %.2f %% of one core (CPU time / wall time)\n",
                100.0 * cpu / wall);
    return owner.received == total && owner.mismatches == 0 && owner.errors == 0 ? 0 : 1;
}

}  // namespace

// With an argument, "throughput" or "slow", runs only that measurement.
int main(int argc, char** argv) {
    const std::string only = argc > 1 ? argv[1] : "";
    int master = -1, slave = -1;
    char slavePath[128] = {};
    if (openpty(&master, &slave, slavePath, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return 1;
    }
    termios raw{};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);

    char pattern[] = "/tmp/talvenor-bench-XXXXXX";
    const std::string root = mkdtemp(pattern);
    std::filesystem::create_directory(root + "/ports");
    std::filesystem::permissions(root + "/ports", std::filesystem::perms::owner_all);
    std::filesystem::create_directory(root + "/dev");
    std::filesystem::create_symlink(slavePath, root + "/ports/COM" + std::to_string(kPort));

    int status = 0;
    if (only.empty() || only == "throughput") status |= CompareCapture(root, master);
    if (only.empty() || only == "slow") {
        SerialPort port(
            std::make_unique<PosixComm>(ComNames({root + "/ports", root + "/dev", root + "/sys"})));
        status |= MeasureSlowLine(port, master);
    }
    close(master);
    close(slave);
    std::filesystem::remove_all(root);
    return status;
}
