#include "recorder/CaptureRing.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <utility>

#include "trace/PcapRecords.h"

CaptureRing::CaptureRing(std::string file, Limits fileLimits, std::function<void()> wakeMain)
    : path(std::move(file)), limits(fileLimits), wake(std::move(wakeMain)) {
    finisher = std::thread([this] { RunFinisher(); });
}

CaptureRing::~CaptureRing() { Finish(); }

std::string CaptureRing::RingName(const std::string& path, unsigned number, std::time_t when) {
    // The extension is what follows the last dot of the file's own name.
    const size_t slash = path.rfind('/');
    const size_t dot = path.rfind('.');
    const bool hasExtension =
        dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
    const std::string prefix = hasExtension ? path.substr(0, dot) : path;
    const std::string extension = hasExtension ? path.substr(dot) : std::string();
    std::tm local{};
    localtime_r(&when, &local);
    char middle[40];
    std::snprintf(middle, sizeof middle, "_%05u_%04d%02d%02d%02d%02d%02d", number,
                  local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                  local.tm_min, local.tm_sec);
    return prefix + middle + extension;
}

bool CaptureRing::Ring() const {
    return limits.fileBytes > 0 || limits.filePackets > 0 || limits.fileUs > 0 ||
           limits.intervalSeconds > 0;
}

bool CaptureRing::Start(int& error) {
    std::lock_guard guard(lock);
    if (!Open(error)) return false;
    firstName = names.front();
    return true;
}

void CaptureRing::Start(int fd, const std::string& name) {
    std::lock_guard guard(lock);
    current = std::make_unique<LineCapture>(fd, name);
    Watch(*current);
    firstName = name;
    fileSize = PcapRecords::kFileHeaderSize;
}

bool CaptureRing::Switch() {
    if (limits.stopFiles > 0 && number >= limits.stopFiles) {
        ended = true;
        return false;
    }
    int error = 0;
    if (Open(error)) return true;
    ended = true;
    return false;
}

bool CaptureRing::Open(int& error) {
    const std::time_t now = std::time(nullptr);
    const std::string name = Ring() ? RingName(path, ++number, now) : path;
    std::unique_ptr<LineCapture> next = LineCapture::Create(name, error);
    if (!next) {
        // The recording ends as if that file had failed.
        if (openFailure.error == 0) openFailure = {error, name};
        return false;
    }
    if (current) {
        retiring.push_back(std::move(current));
        retired.notify_one();
    }
    current = std::move(next);
    Watch(*current);
    // Only a ring remembers its files: a run without one stays flat however
    // many files it makes.
    if (names.empty() || limits.files > 0) names.push_back(name);
    fileSize = PcapRecords::kFileHeaderSize;
    fileRecords = 0;
    fileStarted = now;
    fileBegun = std::chrono::steady_clock::now();
    return true;
}

void CaptureRing::Watch(LineCapture& capture) {
    // On the writer's thread or the trace's, maybe under the lock: it only
    // marks the end and wakes the main thread.
    capture.OnFailure([this](int) {
        ended = true;
        wake();
    });
}

void CaptureRing::Take(std::span<const LineFrame> frames) {
    bool stopped = false;
    {
        std::lock_guard guard(lock);
        for (const LineFrame& frame : frames) {
            if (ended.load() || !current) break;
            if (frame.bytes.empty()) continue;
            const size_t size = PcapRecords::RecordSize(frame.bytes.size());
            const bool bySize = limits.fileBytes > 0 && fileSize + size > limits.fileBytes;
            const bool byCount = limits.filePackets > 0 && fileRecords >= limits.filePackets;
            if (limits.stopFileBytes > 0 && fileRecords > 0 &&
                fileSize + size > limits.stopFileBytes) {
                stopped = true;
                break;
            }
            if (fileRecords > 0 && (bySize || byCount) && !Switch()) {
                stopped = true;
                break;
            }
            current->Take({&frame, 1});
            fileSize += size;
            ++fileRecords;
            if (++packets == limits.stopPackets) {
                stopped = true;
                break;
            }
        }
        if (stopped) ended = true;
    }
    if (stopped) wake();
}

void CaptureRing::Lost(uint64_t bytes) {
    std::lock_guard guard(lock);
    if (current) current->Lost(bytes);
}

std::chrono::steady_clock::time_point CaptureRing::NextTick() const {
    using namespace std::chrono;
    std::lock_guard guard(lock);
    auto next = steady_clock::time_point::max();
    if (!current || ended.load()) return next;
    if (limits.fileUs > 0) next = fileBegun + microseconds(limits.fileUs);
    if (limits.intervalSeconds > 0) {
        // The next multiple of the interval, by the wall clock.
        const auto wall = system_clock::now().time_since_epoch();
        const auto interval = seconds(limits.intervalSeconds);
        next = std::min(next, steady_clock::now() + (interval - wall % interval));
    }
    return next;
}

void CaptureRing::Tick() {
    bool stopped = false;
    {
        std::lock_guard guard(lock);
        if (!current || ended.load()) return;
        const std::time_t now = std::time(nullptr);
        const bool old = limits.fileUs > 0 && std::chrono::steady_clock::now() - fileBegun >=
                                                  std::chrono::microseconds(limits.fileUs);
        const bool onTheClock =
            limits.intervalSeconds > 0 &&
            now / limits.intervalSeconds != fileStarted / limits.intervalSeconds;
        stopped = (old || onTheClock) && !Switch();
    }
    if (stopped) wake();
}

void CaptureRing::RunFinisher() {
    std::unique_lock guard(lock);
    for (;;) {
        retired.wait(guard, [this] { return finishing || !retiring.empty(); });
        if (retiring.empty()) break;
        std::vector<std::unique_ptr<LineCapture>> done;
        done.swap(retiring);
        guard.unlock();
        for (auto& capture : done) Settle(std::move(capture));
        guard.lock();
        // Only finished files go; the current one is always kept.
        while (limits.files > 0 && names.size() > limits.files) {
            unlink(names.front().c_str());
            names.pop_front();
        }
    }
}

void CaptureRing::Settle(std::unique_ptr<LineCapture> capture) {
    const LineCapture::Outcome outcome = capture->Finish();
    std::lock_guard guard(lock);
    if (!result.file.empty() && !result.outcome.Whole()) return;
    result = {outcome, capture->Path()};
    if (!outcome.Whole()) {
        ended = true;
        wake();
    }
}

CaptureRing::Result CaptureRing::Finish() {
    std::unique_ptr<LineCapture> last;
    {
        std::lock_guard guard(lock);
        ended = true;
        finishing = true;
        last = std::move(current);
    }
    retired.notify_one();
    if (finisher.joinable()) finisher.join();
    if (last) Settle(std::move(last));
    std::lock_guard guard(lock);
    if (openFailure.error != 0 && (result.file.empty() || result.outcome.Whole()))
        result = {{openFailure.error, false, 0}, openFailure.name};
    return result;
}
