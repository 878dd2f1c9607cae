#include "TwoWireBus.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace {

constexpr size_t kFifoTrigger = 8;
constexpr double kFifoTimeoutCharacters = 4;
constexpr int64_t kUsbLatencyUs = 16000;
constexpr size_t kUsbPacket = 62;

int64_t NowUs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t{now.tv_sec} * 1000000 + now.tv_nsec / 1000;
}

}  // namespace

TwoWireBus::TwoWireBus(uint32_t baudRate, HandOver kind)
    : characterUs(10e6 / baudRate), handOver(kind) {
    stopFd = eventfd(0, EFD_CLOEXEC);
    if (stopFd < 0) throw std::runtime_error(std::string("eventfd: ") + std::strerror(errno));
    usbTickUs = NowUs();
    relay = std::thread([this] { Run(); });
}

TwoWireBus::~TwoWireBus() {
    uint64_t one = 1;
    (void)!write(stopFd, &one, sizeof one);
    relay.join();
    close(stopFd);
}

std::vector<BusFrame> TwoWireBus::Log() const {
    std::lock_guard hold(lock);
    return log;
}

size_t TwoWireBus::HandedOver() const {
    std::lock_guard hold(lock);
    return handed;
}

void TwoWireBus::Put(bool fromMaster, const uint8_t* bytes, size_t count, int64_t nowUs) {
    // A side that writes while the other's frame is on the wire waits for it.
    BusFrame frame{fromMaster, {bytes, bytes + count}, std::max(nowUs, wireFreeUs), 0};
    frame.endUs = frame.startUs + std::llround(static_cast<double>(count) * characterUs);
    wireFreeUs = frame.endUs;
    for (size_t k = 1; k <= count; ++k)
        arrivalUs.push_back(frame.startUs + std::llround(static_cast<double>(k) * characterUs));
    wire.insert(wire.end(), bytes, bytes + count);
    frameEnds.push_back(wire.size());
    peers.push_back({frame.endUs, (fromMaster ? slave : master).MasterFd(), frame.bytes});
    std::lock_guard hold(lock);
    log.push_back(std::move(frame));
}

size_t TwoWireBus::NextPiece(int64_t& dueUs) const {
    if (done == arrivalUs.size()) return 0;
    switch (handOver) {
        case HandOver::Write: {
            const size_t end = *std::upper_bound(frameEnds.begin(), frameEnds.end(), done);
            dueUs = arrivalUs[end - 1];
            return end - done;
        }
        case HandOver::Fifo: {
            // Bytes known now are all there are before the timeout: later frames start later.
            const double timeout = kFifoTimeoutCharacters * characterUs;
            size_t last = done;
            while (last + 1 < arrivalUs.size() &&
                   static_cast<double>(arrivalUs[last + 1] - arrivalUs[last]) <= timeout)
                ++last;
            if (last - done + 1 >= kFifoTrigger) {
                dueUs = arrivalUs[done + kFifoTrigger - 1];
                return kFifoTrigger;
            }
            dueUs = arrivalUs[last] + std::llround(timeout);
            return last - done + 1;
        }
        case HandOver::Usb: {
            const int64_t after = std::max<int64_t>(arrivalUs[done] - usbTickUs, 1);
            dueUs = usbTickUs + (after + kUsbLatencyUs - 1) / kUsbLatencyUs * kUsbLatencyUs;
            const auto arrived = std::upper_bound(arrivalUs.begin() + static_cast<long>(done),
                                                  arrivalUs.end(), dueUs) -
                                 arrivalUs.begin();
            return std::min(static_cast<size_t>(arrived) - done, kUsbPacket);
        }
    }
    return 0;
}

void TwoWireBus::Run() {
    pollfd fds[3] = {
        {stopFd, POLLIN, 0}, {master.MasterFd(), POLLIN, 0}, {slave.MasterFd(), POLLIN, 0}};
    uint8_t chunk[1024];
    for (;;) {
        const int64_t now = NowUs();
        int64_t next = INT64_MAX;
        for (auto it = peers.begin(); it != peers.end();) {
            if (it->dueUs > now) {
                next = std::min(next, it->dueUs);
                ++it;
                continue;
            }
            PtyPair::WriteAll(it->fd, it->bytes.data(), it->bytes.size());
            it = peers.erase(it);
        }
        for (int64_t due = 0; const size_t count = NextPiece(due);) {
            if (due > now) {
                next = std::min(next, due);
                break;
            }
            PtyPair::WriteAll(listener.MasterFd(), wire.data() + done, count);
            done += count;
            if (handOver == HandOver::Usb) usbTickUs = due;
            std::lock_guard hold(lock);
            handed = done;
        }
        const int64_t waitUs = next == INT64_MAX ? -1 : std::max<int64_t>(next - NowUs(), 0);
        const timespec timeout{static_cast<time_t>(waitUs / 1000000),
                               static_cast<long>(waitUs % 1000000) * 1000};
        if (ppoll(fds, 3, waitUs < 0 ? nullptr : &timeout, nullptr) < 0 && errno != EINTR) return;
        if (fds[0].revents) return;
        for (int side = 1; side <= 2; ++side) {
            if (!(fds[side].revents & POLLIN)) continue;
            const ssize_t n = read(fds[side].fd, chunk, sizeof chunk);
            if (n > 0) Put(side == 1, chunk, static_cast<size_t>(n), NowUs());
        }
    }
}
