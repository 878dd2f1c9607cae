#include "PtyPair.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace {

void MakeRaw(int fd) {
    termios t{};
    if (tcgetattr(fd, &t) != 0)
        throw std::runtime_error(std::string("tcgetattr: ") + std::strerror(errno));
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&t, B9600);
    cfsetospeed(&t, B9600);
    if (tcsetattr(fd, TCSANOW, &t) != 0)
        throw std::runtime_error(std::string("tcsetattr: ") + std::strerror(errno));
}

}  // namespace

PtyPair::PtyPair() {
    char name[256] = {};
    if (openpty(&masterFd, &slaveFd, name, nullptr, nullptr) != 0)
        throw std::runtime_error(std::string("openpty: ") + std::strerror(errno));
    slavePath = name;
    // Children (the pymodbus slave) must not inherit the ends.
    fcntl(masterFd, F_SETFD, FD_CLOEXEC);
    fcntl(slaveFd, F_SETFD, FD_CLOEXEC);
    try {
        MakeRaw(masterFd);
        MakeRaw(slaveFd);
    } catch (...) {
        close(masterFd);
        close(slaveFd);
        throw;
    }
}

PtyPair::~PtyPair() {
    if (masterFd >= 0) close(masterFd);
    close(slaveFd);
}

bool PtyPair::WriteAll(int fd, const uint8_t* bytes, size_t count) {
    size_t done = 0;
    while (done < count) {
        ssize_t n = write(fd, bytes + done, count - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN) {
                pollfd p{fd, POLLOUT, 0};
                if (poll(&p, 1, 5000) <= 0) return false;
                continue;
            }
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

namespace {

// Reads at most `limit(bytes so far)` bytes per call, so that nothing past the
// end of what the caller waits for is taken off the line.
std::vector<uint8_t> ReadBounded(int fd,
                                 const std::function<bool(const std::vector<uint8_t>&)>& done,
                                 const std::function<size_t(const std::vector<uint8_t>&)>& limit,
                                 std::chrono::milliseconds timeout) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + timeout;
    std::vector<uint8_t> got;
    while (!done(got)) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) break;
        pollfd p{fd, POLLIN, 0};
        int r = poll(&p, 1, static_cast<int>(left.count()) + 1);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        uint8_t chunk[512];
        size_t want = std::min(sizeof chunk, std::max<size_t>(1, limit(got)));
        ssize_t n = read(fd, chunk, want);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) break;  // EIO: the other end has gone
        got.insert(got.end(), chunk, chunk + n);
    }
    return got;
}

}  // namespace

std::vector<uint8_t> PtyPair::ReadUntil(
    int fd, const std::function<bool(const std::vector<uint8_t>&)>& done,
    std::chrono::milliseconds timeout) {
    // A predicate cannot say how much is still to come: one byte at a time.
    return ReadBounded(
        fd, done, [](const std::vector<uint8_t>&) { return size_t{1}; }, timeout);
}

bool PtyPair::WriteMaster(const std::vector<uint8_t>& bytes) const {
    return WriteAll(masterFd, bytes.data(), bytes.size());
}

bool PtyPair::WriteMaster(const std::string& chars) const {
    return WriteAll(masterFd, reinterpret_cast<const uint8_t*>(chars.data()), chars.size());
}

std::vector<uint8_t> PtyPair::ReadMaster(size_t count, std::chrono::milliseconds timeout) const {
    return ReadBounded(
        masterFd, [count](const std::vector<uint8_t>& b) { return b.size() >= count; },
        [count](const std::vector<uint8_t>& b) { return count - b.size(); }, timeout);
}

std::vector<uint8_t> PtyPair::ReadMasterUntil(
    const std::function<bool(const std::vector<uint8_t>&)>& done,
    std::chrono::milliseconds timeout) const {
    return ReadUntil(masterFd, done, timeout);
}

void PtyPair::DrainMaster() const {
    uint8_t chunk[512];
    for (;;) {
        pollfd p{masterFd, POLLIN, 0};
        if (poll(&p, 1, 0) <= 0) return;
        if (read(masterFd, chunk, sizeof chunk) <= 0) return;
    }
}

void PtyPair::CloseMaster() {
    if (masterFd >= 0) close(masterFd);
    masterFd = -1;
}
