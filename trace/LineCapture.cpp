#include "trace/LineCapture.h"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <utility>

#include "trace/PcapRecords.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr auto kWakeInterval = std::chrono::milliseconds(200);
constexpr auto kSyncInterval = std::chrono::seconds(1);
// Written before the next wake when this much waits.
constexpr size_t kEarlyWrite = 1u << 20;

}  // namespace

std::unique_ptr<LineCapture> LineCapture::Create(const std::string& path, int& error) {
    // Not blocking while it opens: a FIFO nobody reads is refused, not waited for.
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0 || fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        error = errno;
        if (fd >= 0) close(fd);
        return nullptr;
    }
    return std::make_unique<LineCapture>(fd, path);
}

LineCapture::LineCapture(int file, std::string filePath, size_t limit)
    : fd(file), path(std::move(filePath)), queueLimit(limit) {
    writer = std::thread([this] { WriterLoop(); });
}

LineCapture::~LineCapture() {
    {
        std::lock_guard guard(lock);
        stopping = true;
    }
    wake.notify_one();
    writer.join();
    close(fd);
}

void LineCapture::Take(std::span<const LineFrame> frames) {
    if (failed.load()) return;
    bool wakeWriter = false;
    {
        std::lock_guard guard(lock);
        if (overflowed) return;
        const size_t before = queued.size();
        for (const LineFrame& frame : frames) {
            if (frame.bytes.empty()) continue;
            PcapRecords::AppendRecord(
                queued, frame.first.wallUs,
                frame.sent ? PcapRecords::kSentEvent : PcapRecords::kReceivedEvent, frame.lines,
                frame.bytes);
        }
        if (queued.size() > queueLimit) {
            queued.resize(before);
            overflowed = wakeWriter = true;
        } else {
            wakeWriter = before < kEarlyWrite && queued.size() >= kEarlyWrite;
        }
    }
    if (wakeWriter) wake.notify_one();
}

void LineCapture::WriterLoop() {
    // A pipe whose reader went away, or a file size limit, fails the write
    // with EPIPE or EFBIG instead of ending the program with a signal.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGPIPE);
    sigaddset(&signals, SIGXFSZ);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    std::vector<uint8_t> bytes;
    auto lastSync = SteadyClock::now();
    bool unsynced = false;
    // The header at once: the file is valid before anything crosses the line.
    PcapRecords::AppendFileHeader(bytes);
    bool ok = WriteOut(bytes);
    bytes.clear();
    std::unique_lock guard(lock);
    while (ok) {
        wake.wait_for(guard, kWakeInterval,
                      [this] { return stopping || overflowed || queued.size() >= kEarlyWrite; });
        bytes.swap(queued);
        const bool last = stopping;
        const bool overflow = overflowed;
        guard.unlock();

        if (!bytes.empty()) {
            ok = WriteOut(bytes);
            unsynced = true;
            bytes.clear();
        }
        // On the disk once a second, so that a crash of the machine loses
        // at most that; pipes and devices have nothing to sync.
        if (ok && unsynced && (last || SteadyClock::now() - lastSync >= kSyncInterval)) {
            if (fdatasync(fd) != 0 && errno != EINVAL && errno != EROFS) {
                Fail(errno);
                ok = false;
            }
            lastSync = SteadyClock::now();
            unsynced = false;
        }
        if (ok && overflow) {
            Fail(ENOBUFS);
            ok = false;
        }
        guard.lock();
        if (last) break;
    }
}

bool LineCapture::WriteOut(const std::vector<uint8_t>& out) {
    size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = write(fd, out.data() + done, out.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : EIO;
            // A record cut short would spoil the file for its readers: it
            // ends after the last whole one (the header alone counts as none).
            if (done > 0) {
                const size_t whole =
                    written == 0 ? 0 : PcapRecords::WholeRecords(std::span(out.data(), done));
                if (ftruncate(fd, static_cast<off_t>(written + whole)) != 0) {
                    // A pipe or a device: what went out stays out.
                }
            }
            Fail(error);
            return false;
        }
        done += static_cast<size_t>(n);
    }
    written += done;
    return true;
}

void LineCapture::Fail(int error) {
    failure = error;
    failed.store(true);
    std::lock_guard guard(handlerLock);
    if (failureHandler && !reported) {
        reported = true;
        failureHandler(error);
    }
}

void LineCapture::OnFailure(std::function<void(int error)> handler) {
    std::lock_guard guard(handlerLock);
    failureHandler = std::move(handler);
    if (failureHandler && failed.load() && !reported) {
        reported = true;
        failureHandler(failure);
    }
}
