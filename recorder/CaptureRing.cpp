#include "recorder/CaptureRing.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <utility>

#include "trace/PcapRecords.h"

CaptureRing::CaptureRing(std::string file, Limits fileLimits, std::function<void()> wakeMain)
    : path(std::move(file)), limits(fileLimits), wake(std::move(wakeMain)) {}

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

bool CaptureRing::Open(int& error) {
    const bool ring = limits.fileBytes > 0 || limits.fileSeconds > 0;
    const std::time_t now = std::time(nullptr);
    const std::string name = ring ? RingName(path, ++number, now) : path;
    std::unique_ptr<LineCapture> next = LineCapture::Create(name, error);
    if (!next) {
        // The recording ends as if that file had failed.
        if (openFailure.error == 0) openFailure = {error, name};
        return false;
    }
    if (current) retiring.push_back(std::move(current));
    current = std::move(next);
    Watch(*current);
    // Only a ring remembers its files: a run without one stays flat however
    // many files it makes.
    if (names.empty() || limits.files > 0) names.push_back(name);
    fileSize = PcapRecords::kFileHeaderSize;
    fileRecords = 0;
    fileStarted = now;
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
    bool switched = false, stopped = false;
    {
        std::lock_guard guard(lock);
        for (const LineFrame& frame : frames) {
            if (ended.load() || !current) break;
            if (frame.bytes.empty()) continue;
            const size_t size = PcapRecords::RecordSize(frame.bytes.size());
            const bool full = fileRecords > 0 && fileSize + size > limits.fileBytes;
            if (limits.stopFileBytes > 0 && fileRecords > 0 &&
                fileSize + size > limits.stopFileBytes) {
                stopped = true;
                break;
            }
            if (limits.fileBytes > 0 && full) {
                int error = 0;
                if (!Open(error)) {
                    stopped = true;
                    break;
                }
                switched = true;
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
    if (switched || stopped) wake();
}

void CaptureRing::Lost(uint64_t bytes) {
    std::lock_guard guard(lock);
    if (current) current->Lost(bytes);
}

void CaptureRing::Tick() {
    std::vector<std::unique_ptr<LineCapture>> done;
    {
        std::lock_guard guard(lock);
        if (limits.fileSeconds > 0 && current && !ended.load() &&
            std::time(nullptr) - fileStarted >= limits.fileSeconds) {
            int error = 0;
            if (!Open(error)) {
                ended = true;
                wake();
            }
        }
        done.swap(retiring);
    }
    for (auto& capture : done) Settle(std::move(capture));
    // Only finished files go; the current one is always kept.
    std::lock_guard guard(lock);
    while (limits.files > 0 && names.size() > limits.files) {
        unlink(names.front().c_str());
        names.pop_front();
    }
}

void CaptureRing::Settle(std::unique_ptr<LineCapture> capture) {
    const LineCapture::Outcome outcome = capture->Finish();
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
        last = std::move(current);
    }
    Tick();
    if (last) Settle(std::move(last));
    std::lock_guard guard(lock);
    if (openFailure.error != 0 && (result.file.empty() || result.outcome.Whole()))
        result = {{openFailure.error, false, 0}, openFailure.name};
    return result;
}
