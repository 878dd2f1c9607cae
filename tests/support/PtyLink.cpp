#include "PtyLink.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <stdexcept>

PtyLink::PtyLink(bool recordFromB) : recordFromB(recordFromB) {
    stopFd = eventfd(0, EFD_CLOEXEC);
    if (stopFd < 0) throw std::runtime_error(std::string("eventfd: ") + std::strerror(errno));
    relay = std::thread([this] { Relay(); });
}

PtyLink::~PtyLink() {
    uint64_t one = 1;
    (void)!write(stopFd, &one, sizeof one);
    relay.join();
    close(stopFd);
}

void PtyLink::Relay() {
    pollfd fds[3] = {{stopFd, POLLIN, 0}, {a.MasterFd(), POLLIN, 0}, {b.MasterFd(), POLLIN, 0}};
    uint8_t chunk[4096];
    for (;;) {
        int r = poll(fds, 3, -1);
        if (r < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[0].revents) return;
        for (int side = 1; side <= 2; ++side) {
            if (!(fds[side].revents & POLLIN)) continue;
            ssize_t n = read(fds[side].fd, chunk, sizeof chunk);
            if (n <= 0) continue;
            if (side == 2 && recordFromB) {
                std::lock_guard<std::mutex> hold(recordLock);
                fromB.insert(fromB.end(), chunk, chunk + n);
            }
            int to = side == 1 ? b.MasterFd() : a.MasterFd();
            PtyPair::WriteAll(to, chunk, static_cast<size_t>(n));
        }
    }
}

std::vector<uint8_t> PtyLink::FromB() const {
    std::lock_guard<std::mutex> hold(recordLock);
    return fromB;
}
