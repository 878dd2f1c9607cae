// How late the serial engine stamps what it reads. A pty, one write a frame:
// a request, its reply 1 ms later and the next request 1 ms after that (a
// master that polls fast), then 30 ms of quiet. The
// engine's own part of a stamp is the stamp of the read that took a frame's
// last byte less the moment that frame's write returned. A bare reader (poll
// and read on a thread of its own) gives the floor the kernel and the
// scheduler set; the engine then runs with an owner that takes no time, and
// with one that takes 600 us a byte (a busy window: each frame is still with
// it when the next comes).
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "serial/ComNames.h"
#include "serial/PosixComm.h"
#include "serial/SerialPort.h"

namespace {

constexpr int kGroups = 300;

int64_t NowUs() { return LineStamp::Now().steadyUs; }

void SleepUntilUs(int64_t dueUs) {
    const timespec due{static_cast<time_t>(dueUs / 1000000),
                       static_cast<long>(dueUs % 1000000) * 1000};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr) != 0) {
    }
}

struct Read {
    int64_t stampUs;
    size_t count;
};

// The far end: each frame in one write; when each write returned, and how long each was.
std::vector<std::pair<int64_t, size_t>> PlayExchanges(int fd) {
    const std::vector<uint8_t> request{1, 3, 0, 0, 0, 1, 0x84, 0x0A};
    const std::vector<uint8_t> reply{1, 3, 2, 0x03, 0xE8, 0xB8, 0xFA};
    std::vector<std::pair<int64_t, size_t>> written;
    int64_t at = NowUs() + 50000;
    for (int i = 0; i < kGroups; ++i) {
        for (const auto* frame : {&request, &reply, &request}) {
            SleepUntilUs(at);
            if (write(fd, frame->data(), frame->size()) != static_cast<ssize_t>(frame->size()))
                return written;
            written.push_back({NowUs(), frame->size()});
            at += 1000;
        }
        at += 30000;
    }
    return written;
}

// Each read's lateness: its stamp less the write that brought its last byte.
void Print(const char* what, const std::vector<Read>& reads,
           const std::vector<std::pair<int64_t, size_t>>& written) {
    std::vector<int64_t> late;
    size_t frame = 0, frameEnd = written.empty() ? 0 : written[0].second, total = 0;
    for (const Read& read : reads) {
        total += read.count;
        while (frame + 1 < written.size() && frameEnd < total) frameEnd += written[++frame].second;
        late.push_back(read.stampUs - written[frame].first);
    }
    if (late.empty()) return;
    std::sort(late.begin(), late.end());
    const auto at = [&](size_t percent) { return late[late.size() * percent / 100] / 1000.0; };
    std::printf("%-42s %3zu reads: median %.3f, 90th %.3f, 99th %.3f, worst %.3f ms\n", what,
                late.size(), at(50), at(90), at(99), late.back() / 1000.0);
}

class Tap : public LineTap {
public:
    std::mutex lock;
    std::vector<Read> reads;
    void LineOpened(const DCB&) override {}
    void Sent(LineStamp, uint8_t, std::span<const uint8_t>) override {}
    void Received(LineStamp first, LineStamp, uint8_t, std::span<const uint8_t> bytes,
                  bool) override {
        std::lock_guard hold(lock);
        reads.push_back({first.steadyUs, bytes.size()});
    }
};

class Owner : public SerialPortOwner {
public:
    explicit Owner(int64_t costUs) : costUs(costUs) {}
    void OnNotification(uint32_t, uint32_t, int32_t) override {
        const int64_t until = NowUs() + costUs;
        while (NowUs() < until) {
        }
    }
    void OnError(const std::string& text, const std::string&) override {
        std::fprintf(stderr, "%s", text.c_str());
    }
    void WakeOwner() override {
        {
            std::lock_guard hold(lock);
            woken = true;
        }
        wake.notify_one();
    }
    void Pump(SerialPort& port, const std::atomic<bool>& done) {
        while (!done) {
            {
                std::unique_lock hold(lock);
                wake.wait_for(hold, std::chrono::milliseconds(5), [this] { return woken; });
                woken = false;
            }
            port.DispatchNotifications();
        }
    }

private:
    const int64_t costUs;
    std::mutex lock;
    std::condition_variable wake;
    bool woken = false;
};

struct Pty {
    int master = -1, slave = -1;
    char path[128] = {};
    Pty() {
        openpty(&master, &slave, path, nullptr, nullptr);
        termios raw{};
        tcgetattr(slave, &raw);
        cfmakeraw(&raw);
        tcsetattr(slave, TCSANOW, &raw);
    }
    ~Pty() {
        close(master);
        close(slave);
    }
};

void Bare() {
    Pty pty;
    std::vector<Read> reads;
    std::atomic<bool> done{false};
    std::thread reader([&] {
        uint8_t chunk[256];
        pollfd in{pty.slave, POLLIN, 0};
        while (!done) {
            if (poll(&in, 1, 20) <= 0) continue;
            const ssize_t n = read(pty.slave, chunk, sizeof chunk);
            if (n > 0) reads.push_back({NowUs(), static_cast<size_t>(n)});
        }
    });
    const auto written = PlayExchanges(pty.master);
    usleep(50000);
    done = true;
    reader.join();
    Print("bare poll and read (the floor)", reads, written);
}

void Engine(const std::string& root, int64_t costUs, const char* what) {
    Pty pty;
    std::filesystem::remove(root + "/ports/COM1");
    std::filesystem::create_symlink(pty.path, root + "/ports/COM1");
    Tap tap;
    Owner owner(costUs);
    std::vector<std::pair<int64_t, size_t>> written;
    {
        SerialPort port(
            std::make_unique<PosixComm>(ComNames({root + "/ports", root + "/dev", root + "/sys"})));
        port.SetTap(&tap);
        if (!port.Open(&owner, 1, 115200, 'N', 8, 1, EV_RXCHAR, 512) || !port.StartWorker()) {
            std::fprintf(stderr, "cannot open %s\n", pty.path);
            return;
        }
        std::atomic<bool> done{false};
        std::thread pump([&] { owner.Pump(port, done); });
        written = PlayExchanges(pty.master);
        usleep(300000);
        done = true;
        pump.join();
    }
    std::lock_guard hold(tap.lock);
    Print(what, tap.reads, written);
}

}  // namespace

int main() {
    char pattern[] = "/tmp/talvenor-stamp-XXXXXX";
    const std::string root = mkdtemp(pattern);
    std::filesystem::create_directories(root + "/ports");
    std::filesystem::permissions(root + "/ports", std::filesystem::perms::owner_all);
    std::printf("%d times a request, its reply 1 ms later, the next request 1 ms on\n", kGroups);
    Bare();
    Engine(root, 0, "engine, an owner that takes no time");
    Engine(root, 600, "engine, an owner that takes 600 us a byte");
    std::filesystem::remove_all(root);
    return 0;
}
