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

    SlaveSimulator* simulator = nullptr;
    try {
        simulator = new SlaveSimulator(*options);
    } catch (const std::exception& e) {
        unlink(link.c_str());
        std::fprintf(stderr, "talvenor-sim: %s\n", e.what());
        return 1;
    }

    if (pipe2(stopPipe, O_CLOEXEC) != 0) return 1;
    struct sigaction stop {};
    stop.sa_handler = OnStopSignal;
    sigaction(SIGINT, &stop, nullptr);
    sigaction(SIGTERM, &stop, nullptr);
    sigaction(SIGHUP, &stop, nullptr);

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
