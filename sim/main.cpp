// talvenor-sim: a Modbus slave on a pseudo-terminal, reachable from Talvenor
// under a COM number. See --help.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "serial/ComNames.h"
#include "serial/DeviceSpeed.h"
#include "sim/BusScript.h"
#include "sim/Delivery.h"
#include "sim/SimOptions.h"
#include "sim/SlaveSimulator.h"

namespace {

constexpr int kQuietMs = 20;  // a gap this long ends a frame of unknown length
int stopPipe[2] = {-1, -1};

void OnStopSignal(int) {
    const char one = 1;
    (void)!write(stopPipe[1], &one, 1);
}

// Links COM<n> to the device; the first free number from 1 when n is 0.
int LinkComNumber(const std::string& directory, int number, const std::string& device) {
    for (int n = number ? number : 1; n <= (number ? number : 30); ++n) {
        const std::string link = directory + "/COM" + std::to_string(n);
        if (symlink(device.c_str(), link.c_str()) == 0) return n;
        if (errno != EEXIST) break;
    }
    return 0;
}

bool WriteAll(int fd, const uint8_t* bytes, size_t count) {
    size_t done = 0;
    while (done < count) {
        const ssize_t n = write(fd, bytes + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            pollfd out{fd, POLLOUT, 0};
            poll(&out, 1, 100);
            continue;
        }
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Hands the bytes to the reader in the pieces `kind` makes of them, each at
// its time on the line the reader set up (a pty keeps the reader's speed and
// shows it from this end). Replies that go out together are one stretch on
// the wire, so they share one plan.
void Deliver(int fd, const std::vector<uint8_t>& bytes, Delivery kind) {
    if (kind == Delivery::Write) {
        WriteAll(fd, bytes.data(), bytes.size());
        return;
    }
    termios line{};
    if (tcgetattr(fd, &line) != 0) line.c_cflag = CS8;  // unknown: 10 bits a character
    uint32_t baudRate = 0;                              // unknown: 9600
    DeviceSpeed::Read(fd, baudRate);
    const auto plan = DeliveryPlan(kind, bytes.size(), CharacterMicros(line.c_cflag, baudRate));
    // Absolute deadlines: the time each write takes does not push the later
    // pieces back.
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    size_t done = 0;
    for (const DeliveryPiece& piece : plan) {
        const int64_t dueNanos =
            start.tv_sec * 1000000000LL + start.tv_nsec + piece.offsetMicros * 1000;
        const timespec due{static_cast<time_t>(dueNanos / 1000000000),
                           static_cast<long>(dueNanos % 1000000000)};
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr) == EINTR) {
        }
        if (!WriteAll(fd, bytes.data() + done, piece.byteCount)) return;
        done += piece.byteCount;
    }
}

int64_t NowNanos() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000000000LL + now.tv_nsec;
}

enum class Waited { Due, Stop, HungUp };

// Waits for `deadlineNanos` on the monotonic clock, throwing away what the
// listener writes.
Waited WaitUntil(int fd, int64_t deadlineNanos) {
    for (;;) {
        const int64_t left = deadlineNanos - NowNanos();
        if (left <= 0) return Waited::Due;
        const timespec timeout{static_cast<time_t>(left / 1000000000),
                               static_cast<long>(left % 1000000000)};
        pollfd fds[2] = {{stopPipe[0], POLLIN, 0}, {fd, POLLIN, 0}};
        const int ready = ppoll(fds, 2, &timeout, nullptr);
        if (ready < 0 && errno != EINTR) return Waited::Stop;
        if (ready <= 0) continue;
        if (fds[0].revents) return Waited::Stop;
        if (fds[1].revents & POLLIN) {
            uint8_t ignored[256];
            (void)!read(fd, ignored, sizeof ignored);
        } else if (fds[1].revents & POLLHUP) {
            return Waited::HungUp;
        }
    }
}

// Until a program has the port open; false when asked to stop first.
bool WaitForListener(int fd) {
    for (;;) {
        pollfd fds[2] = {{stopPipe[0], POLLIN, 0}, {fd, POLLIN, 0}};
        const int ready = poll(fds, 2, 50);
        if (ready < 0 && errno != EINTR) return false;
        if (ready > 0 && fds[0].revents) return false;
        if (ready > 0 && (fds[1].revents & POLLHUP) && !(fds[1].revents & POLLIN)) {
            poll(fds, 1, 50);
            continue;
        }
        if (ready >= 0) return true;
    }
}

// Every frame of a cycle with what it is, so that what a listener shows can
// be checked against it.
void PrintPlayed(const BusTimeline& timeline) {
    constexpr const char* kRoles[] = {"request", "echo", "reply", "unpaired"};
    std::printf(
        "Each cycle, frame by frame (exchange, start from the cycle's start, role, bytes):\n");
    size_t offset = 0;
    for (size_t f = 0; f < timeline.frames.size(); ++f) {
        const PlayedFrame& played = timeline.played[f];
        std::printf("  %2zu. %10.3f ms %-8s", played.exchange + 1,
                    static_cast<double>(timeline.frames[f].startMicros) / 1000,
                    kRoles[static_cast<int>(played.role)]);
        for (size_t k = 0; k < timeline.frames[f].length; ++k)
            std::printf(" %02x", timeline.bytes[offset + k]);
        if (played.role == PlayedFrame::Role::Reply)
            std::printf("; response %.3f ms", static_cast<double>(played.responseMicros) / 1000);
        std::printf("\n");
        offset += timeline.frames[f].length;
    }
}

// The bus mode: the cycle, played while a program listens, from its start
// each time one opens the port.
void PlayBus(int fd, const SimOptions& options) {
    const std::vector<BusExchange> cycle = options.rough ? RoughBusCycle() : BusCycle();
    std::printf(
        "A bus: a master polls stations 1 to 5, %zu exchanges a cycle, each reply %.1f ms "
        "after its request%s, %d ms between exchanges:\n",
        cycle.size(), options.turnaroundMs,
        options.echo ? "'s echo (the adapter echoes every request)" : "", options.intervalMs);
    for (size_t i = 0; i < cycle.size(); ++i) {
        std::printf("  %2zu. %s; request %zu bytes, ", i + 1, cycle[i].what.c_str(),
                    cycle[i].request.size());
        if (cycle[i].reply.empty())
            std::printf("no reply\n");
        else
            std::printf("reply %zu bytes%s\n", cycle[i].reply.size(),
                        cycle[i].answers ? "" : " that answers nothing");
    }
    std::fflush(stdout);
    // Time for the listener to set its line up and purge before the first frame.
    constexpr int64_t kSettleNanos = 300000000;
    int played = 0;
    while (options.cycles == 0 || played < options.cycles) {
        if (!WaitForListener(fd)) return;
        const Waited settled = WaitUntil(fd, NowNanos() + kSettleNanos);
        if (settled == Waited::Stop) return;
        if (settled == Waited::HungUp) continue;
        termios line{};
        if (tcgetattr(fd, &line) != 0) line.c_cflag = CS8;
        uint32_t baudRate = 0;
        DeviceSpeed::Read(fd, baudRate);
        const double character = CharacterMicros(line.c_cflag, baudRate);
        const BusTimeline timeline = LayOutBus(cycle, character, options.turnaroundMs * 1000,
                                               options.intervalMs * 1000.0, options.echo);
        const auto plan = StretchDeliveryPlan(options.delivery, timeline.frames, character);
        std::printf("Playing at %u baud: a character is %.3f ms, a cycle %.1f ms.\n",
                    baudRate ? baudRate : 9600, character / 1000, timeline.cycleMicros / 1000.0);
        PrintPlayed(timeline);
        std::fflush(stdout);
        Waited waited = Waited::Due;
        while (waited == Waited::Due && (options.cycles == 0 || played < options.cycles)) {
            // A piece written late moves everything after it, as a slave
            // answers a request from when it came: the turnaround holds.
            int64_t start = NowNanos();
            size_t done = 0;
            for (const DeliveryPiece& piece : plan) {
                const int64_t due = start + piece.offsetMicros * 1000;
                waited = WaitUntil(fd, due);
                if (waited != Waited::Due) break;
                start += std::max<int64_t>(0, NowNanos() - due);
                WriteAll(fd, timeline.bytes.data() + done, piece.byteCount);
                done += piece.byteCount;
            }
            if (waited == Waited::Due) waited = WaitUntil(fd, start + timeline.cycleMicros * 1000);
            if (waited == Waited::Due) ++played;
        }
        if (waited == Waited::Stop) return;
    }
    std::printf("Played %d cycle%s.\n", played, played == 1 ? "" : "s");
    std::fflush(stdout);
    // Stay linked, quiet, until Ctrl-C.
    for (;;) {
        const Waited waited = WaitUntil(fd, NowNanos() + 1000000000LL * 3600);
        if (waited == Waited::Stop) return;
        if (waited == Waited::HungUp) {
            pollfd stop{stopPipe[0], POLLIN, 0};
            if (poll(&stop, 1, 50) > 0) return;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::string error;
    const auto options = ParseSimOptions(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!options) {
        std::fprintf(stderr, "talvenor-sim: %s\n", error.c_str());
        return 2;
    }
    if (options->help) {
        std::fputs(kSimUsage, stdout);
        return 0;
    }

    int master = -1, slave = -1;
    char path[128] = {};
    if (openpty(&master, &slave, path, nullptr, nullptr) != 0) {
        std::fprintf(stderr, "talvenor-sim: cannot make a pseudo-terminal: %s\n",
                     std::strerror(errno));
        return 1;
    }
    // The slave end is not kept open here: a port that this program held
    // would look busy in Talvenor's port dialog. The master then reads a
    // hang-up while no program has the port open.
    termios raw{};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
    close(slave);
    fcntl(master, F_SETFL, O_NONBLOCK);
    fcntl(master, F_SETFD, FD_CLOEXEC);

    const std::string directory =
        options->portDirectory.empty() ? ComNames::DefaultPortDirectory() : options->portDirectory;
    if (!ComNames::EnsurePortDirectory(directory)) {
        std::fprintf(stderr,
                     "talvenor-sim: the port directory %s is not a private directory of yours\n",
                     directory.c_str());
        return 1;
    }
    const int number = LinkComNumber(directory, options->comNumber, path);
    if (number == 0) {
        if (options->comNumber)
            std::fprintf(stderr, "talvenor-sim: COM%d is taken: %s/COM%d exists\n",
                         options->comNumber, directory.c_str(), options->comNumber);
        else
            std::fprintf(stderr, "talvenor-sim: COM1 to COM30 are all linked in %s\n",
                         directory.c_str());
        return 1;
    }
    const std::string link = directory + "/COM" + std::to_string(number);

    if (pipe2(stopPipe, O_CLOEXEC) != 0) return 1;
    struct sigaction stop {};
    stop.sa_handler = OnStopSignal;
    sigaction(SIGINT, &stop, nullptr);
    sigaction(SIGTERM, &stop, nullptr);
    sigaction(SIGHUP, &stop, nullptr);

    if (options->bus) {
        std::printf("COM%d %s\n", number, path);
        std::fflush(stdout);
        PlayBus(master, *options);
        unlink(link.c_str());
        std::printf("Removed %s.\n", link.c_str());
        close(master);
        return 0;
    }

    SlaveSimulator* simulator = nullptr;
    try {
        simulator = new SlaveSimulator(*options);
    } catch (const std::exception& e) {
        unlink(link.c_str());
        std::fprintf(stderr, "talvenor-sim: %s\n", e.what());
        return 1;
    }

    std::printf("COM%d %s\n", number, path);
    std::printf("Stations");
    for (int station : options->stations) std::printf(" %d", station);
    std::printf(", %d registers, coils and inputs each. Ctrl-C ends and removes %s.\n",
                options->mapSize, link.c_str());
    std::fflush(stdout);

    using Clock = std::chrono::steady_clock;
    auto nextTick = Clock::now() + std::chrono::milliseconds(options->periodMs);
    int exitCode = 0;
    for (;;) {
        if (options->periodMs > 0 && Clock::now() >= nextTick) {
            simulator->Tick();
            nextTick = Clock::now() + std::chrono::milliseconds(options->periodMs);
        }
        int timeout = -1;
        if (options->periodMs > 0)
            timeout = static_cast<int>(std::max<long>(
                0, std::chrono::duration_cast<std::chrono::milliseconds>(nextTick - Clock::now())
                       .count()));
        if (simulator->HasPartialFrame() && (timeout < 0 || timeout > kQuietMs)) timeout = kQuietMs;
        pollfd fds[2] = {{stopPipe[0], POLLIN, 0}, {master, POLLIN, 0}};
        const int ready = poll(fds, 2, timeout);
        if (ready < 0 && errno != EINTR) {
            exitCode = 1;
            break;
        }
        if (fds[0].revents) break;
        if (ready > 0 && (fds[1].revents & POLLHUP) && !(fds[1].revents & POLLIN)) {
            // Nobody on the port: look again shortly, still stoppable.
            poll(fds, 1, 50);
            continue;
        }
        std::vector<uint8_t> replies;
        if (ready > 0 && (fds[1].revents & POLLIN)) {
            uint8_t bytes[1024];
            const ssize_t n = read(master, bytes, sizeof bytes);
            // The adapter gives back what crosses at once, before any reply.
            if (n > 0 && options->echo)
                Deliver(master, std::vector<uint8_t>(bytes, bytes + n), options->delivery);
            if (n > 0) replies = simulator->Take(bytes, static_cast<size_t>(n));
        } else if (ready == 0 && simulator->HasPartialFrame()) {
            replies = simulator->Quiet();
        }
        if (!replies.empty()) {
            if (options->delayMs > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(options->delayMs));
            Deliver(master, replies, options->delivery);
        }
    }
    unlink(link.c_str());
    std::printf("Answered %d requests; removed %s.\n", simulator->RequestsAnswered(), link.c_str());
    delete simulator;
    close(master);
    return exitCode;
}
