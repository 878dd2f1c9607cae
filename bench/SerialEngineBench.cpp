// Receive throughput of the serial engine: pushes 4 MB through a pty into
// SerialPort on the system's comm layer, with an owner that handles each
// SPN_RXCHAR at once, and prints bytes per second and CPU time.
#include "serial/ComNames.h"
#include "serial/PosixComm.h"
#include "serial/SerialPort.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr size_t kTotalBytes = 4u << 20;
constexpr int kPort = 1;

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

double Seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
}

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

}  // namespace

int main() {
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

    CountingOwner owner;
    int status = 0;
    {
        SerialPort port(
            std::make_unique<PosixComm>(ComNames({root + "/ports", root + "/dev", root + "/sys"})));
        if (!port.Open(&owner, kPort, 115200, 'N', 8, 1, EV_RXCHAR | EV_CTS, 512) ||
            !port.StartWorker()) {
            std::fprintf(stderr, "cannot open the pty as COM%d\n", kPort);
            return 1;
        }
        // The worker purges when it starts: send only after its probe is out.
        const uint8_t probe = 0x5A;
        port.RequestWrite(&probe, 1);
        pollfd far{master, POLLIN, 0};
        uint8_t answer = 0;
        if (poll(&far, 1, 5000) != 1 || read(master, &answer, 1) != 1) {
            std::fprintf(stderr, "the worker wrote nothing\n");
            return 1;
        }

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
        const double rate = static_cast<double>(owner.received) / wall;
        std::printf(
            "serial engine receive, one synchronous SPN_RXCHAR per byte, pty at 115200 baud "
            "setting\n");
        std::printf(
            "  bytes received   %zu of %zu (%zu wrong, %zu other notifications, %zu boxes)\n",
            owner.received, kTotalBytes, owner.mismatches, owner.otherNotes, owner.errors);
        std::printf("  wall time        %.3f s\n", wall);
        std::printf("  throughput       %.0f bytes/s (%.2f MB/s)\n", rate, rate / 1e6);
        std::printf("  CPU time         %.3f s (user+system, all threads), %.0f ns per byte\n", cpu,
                    cpu * 1e9 / static_cast<double>(owner.received ? owner.received : 1));
        if (owner.mismatches != 0 || owner.errors != 0) status = 1;
    }
    close(master);
    close(slave);
    std::filesystem::remove_all(root);
    return status;
}
