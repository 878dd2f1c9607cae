#include "trace/LineCapture.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <utility>
#include <vector>

#include "trace/PcapRecords.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr auto kWakeInterval = std::chrono::milliseconds(200);
constexpr auto kSyncInterval = std::chrono::seconds(1);
// Written before the next wake when this much waits.
constexpr size_t kEarlyWrite = 1u << 20;
// A reader that takes nothing is asked again this often, so that the
// writer hears an overflow or the end's bound meanwhile.
constexpr int kPollMs = 100;

}  // namespace

struct LineCapture::Writer {
    // Where a frame's records end in the queue, and how many bytes of the
    // line they hold: what a write cut short keeps.
    struct Mark {
        size_t end;
        size_t lineBytes;
    };

    Writer(int file, size_t limit) : fd(file), queueLimit(limit) {}

    size_t Held() const { return queued.size() + marks.size() * sizeof(Mark) + writing; }
    void Run();
    bool WriteOut(std::span<const uint8_t> out, std::span<const Mark> frames);
    void Fail(int error);

    const int fd;
    const size_t queueLimit;
    size_t written = 0;  // the writer's: what the file holds

    std::mutex lock;  // guards the queue, stopping and closed
    std::condition_variable wake, ended;
    std::vector<uint8_t> queued;  // whole records
    std::vector<Mark> marks;
    size_t writing = 0;  // the memory of the batch the writer holds
    bool stopping = false;
    bool closed = false;

    std::atomic<bool> abandoned{false};
    std::atomic<int> failure{0};
    std::atomic<uint64_t> handed{0}, recorded{0};  // bytes of the line

    std::mutex handlerLock;
    std::function<void(int)> handler;
    bool reported = false;
};

std::unique_ptr<LineCapture> LineCapture::Create(const std::string& path, int& error,
                                                 size_t queueLimit) {
    // Not blocking while it opens: a FIFO nobody reads is refused, not waited for.
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0) {
        error = errno;
        return nullptr;
    }
    return std::make_unique<LineCapture>(fd, path, queueLimit);
}

LineCapture::LineCapture(int fd, std::string filePath, size_t limit)
    : shared(std::make_shared<Writer>(fd, limit)), path(std::move(filePath)) {
    // A regular file never answers "try again": it is written as usual, and
    // a disk that hangs holds only the writer, which Finish then leaves.
    // Anything else may wait for a reader, and is polled.
    struct stat status {};
    const bool regular = fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0) fcntl(fd, F_SETFL, regular ? flags & ~O_NONBLOCK : flags | O_NONBLOCK);
    writer = std::thread([w = shared] { w->Run(); });
}

namespace {

constexpr uint8_t kNoRecord = 0xff;

// The record's event: a frame's way on the line, or what the driver told.
uint8_t RecordEvent(const LineFrame& frame) {
    switch (frame.kind) {
        case FrameKind::ModemChange:
            return PcapRecords::kStatusChangeEvent;
        case FrameKind::FramingError:
            return PcapRecords::kFramingErrorEvent;
        case FrameKind::ParityError:
            return PcapRecords::kParityErrorEvent;
        case FrameKind::LineBreak:
            return PcapRecords::kBreakEvent;
        default:
            return frame.bytes.empty() ? kNoRecord
                   : frame.sent        ? PcapRecords::kSentEvent
                                       : PcapRecords::kReceivedEvent;
    }
}

}  // namespace

LineCapture::~LineCapture() { Finish(); }

void LineCapture::Take(std::span<const LineFrame> frames) {
    Writer& w = *shared;
    uint64_t lineBytes = 0;
    for (const LineFrame& frame : frames) lineBytes += frame.bytes.size();
    w.handed += lineBytes;
    if (w.failure.load() != 0) return;
    bool overflow = false, wakeWriter = false;
    {
        std::lock_guard guard(w.lock);
        if (w.stopping) return;
        const size_t before = w.queued.size();
        for (const LineFrame& frame : frames) {
            const uint8_t event = RecordEvent(frame);
            if (frame.bytes.empty() && event == kNoRecord) continue;
            PcapRecords::AppendRecord(w.queued, frame.first.wallUs, event, frame.lines,
                                      frame.bytes);
            w.marks.push_back({w.queued.size(), frame.bytes.size()});
        }
        if (w.Held() > w.queueLimit) {
            // The capture stops here: what waits is lost with it, and its
            // memory goes at once.
            overflow = true;
            w.queued = {};
            w.marks = {};
        } else {
            wakeWriter = before < kEarlyWrite && w.queued.size() >= kEarlyWrite;
        }
    }
    if (overflow)
        w.Fail(ENOBUFS);
    else if (wakeWriter)
        w.wake.notify_one();
}

void LineCapture::Lost(uint64_t bytes) {
    shared->handed += bytes;
    shared->Fail(ENOBUFS);
}

bool LineCapture::Failed() const { return shared->failure.load() != 0; }

void LineCapture::OnFailure(std::function<void(int error)> handler) {
    Writer& w = *shared;
    std::lock_guard guard(w.handlerLock);
    w.handler = std::move(handler);
    const int error = w.failure.load();
    if (w.handler && error != 0 && !w.reported) {
        w.reported = true;
        w.handler(error);
    }
}

LineCapture::Outcome LineCapture::Finish(std::chrono::milliseconds bound) {
    if (finished) return outcome;
    finished = true;
    OnFailure(nullptr);
    Writer& w = *shared;
    {
        std::unique_lock guard(w.lock);
        w.stopping = true;
        w.wake.notify_one();
        if (!w.ended.wait_for(guard, bound, [&] { return w.closed; })) {
            outcome.timedOut = true;
            w.abandoned = true;
        }
    }
    if (outcome.timedOut)
        writer.detach();
    else
        writer.join();
    outcome.error = w.failure.load();
    outcome.lostBytes = w.handed.load() - w.recorded.load();
    return outcome;
}

void LineCapture::Writer::Run() {
    // A pipe whose reader went away, or a file size limit, fails the write
    // with EPIPE or EFBIG instead of ending the program with a signal.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGPIPE);
    sigaddset(&signals, SIGXFSZ);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    auto lastSync = SteadyClock::now();
    bool unsynced = false;
    const auto sync = [&] {
        // Pipes and devices have nothing to sync.
        if (fdatasync(fd) != 0 && errno != EINVAL && errno != EROFS) Fail(errno);
        lastSync = SteadyClock::now();
        unsynced = false;
    };
    std::vector<uint8_t> batch;
    std::vector<Mark> batchMarks;
    // The header at once: the file is valid before anything crosses the line.
    PcapRecords::AppendFileHeader(batch);
    bool ok = WriteOut(batch, {});
    batch.clear();
    std::unique_lock guard(lock);
    while (ok) {
        wake.wait_for(guard, kWakeInterval, [this] {
            return stopping || failure.load() != 0 || queued.size() >= kEarlyWrite;
        });
        if (failure.load() != 0) break;
        batch.swap(queued);
        batchMarks.swap(marks);
        writing = batch.size() + batchMarks.size() * sizeof(Mark);
        const bool last = stopping;
        guard.unlock();

        if (!batch.empty()) {
            ok = WriteOut(batch, batchMarks);
            unsynced = true;
        }
        // On the disk once a second, so that a crash of the machine loses
        // at most that.
        if (ok && unsynced && (last || SteadyClock::now() - lastSync >= kSyncInterval)) sync();
        ok = ok && failure.load() == 0;
        batch.clear();
        batchMarks.clear();
        guard.lock();
        writing = 0;
        if (last) break;
    }
    queued = {};
    marks = {};
    guard.unlock();
    // What reached the file before the capture stopped stays in it.
    if (unsynced && !abandoned.load()) sync();
    // A file system that writes back at close reports its failure here.
    if (close(fd) != 0 && errno != EINTR && !abandoned.load()) Fail(errno);
    guard.lock();
    closed = true;
    ended.notify_all();
}

bool LineCapture::Writer::WriteOut(std::span<const uint8_t> out, std::span<const Mark> frames) {
    size_t done = 0, whole = 0;
    auto frame = frames.begin();
    int error = 0;
    // Stopped elsewhere (an overflow, the end's bound), the writer writes no more.
    while (done < out.size() && failure.load() == 0 && !abandoned.load()) {
        const ssize_t n = write(fd, out.data() + done, out.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            // Counted as they go: an end that leaves the writer behind tells
            // what the file holds.
            for (; frame != frames.end() && frame->end <= done; ++frame) {
                whole = frame->end;
                recorded += frame->lineBytes;
            }
        } else if (n < 0 && errno == EAGAIN) {
            pollfd ready{fd, POLLOUT, 0};
            poll(&ready, 1, kPollMs);
        } else if (n == 0 || errno != EINTR) {
            error = n < 0 ? errno : EIO;
            break;
        }
    }
    if (done == out.size()) whole = done;
    // A record cut short would spoil the file for its readers: it ends after
    // the last whole one (the header alone counts as none). A pipe or a
    // device cannot be cut: what went out stays out.
    if (whole < done && ftruncate(fd, static_cast<off_t>(written + whole)) != 0) {
    }
    written += whole;
    if (error != 0) Fail(error);
    return done == out.size();
}

void LineCapture::Writer::Fail(int error) {
    int none = 0;
    if (!failure.compare_exchange_strong(none, error)) return;
    wake.notify_one();
    std::lock_guard guard(handlerLock);
    if (handler && !reported) {
        reported = true;
        handler(error);
    }
}
