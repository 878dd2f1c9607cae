#include "trace/LineTrace.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

namespace {

// The worker stamps bytes before it hands them over, sometimes after the
// owner has kept it a while: a frame ends by this thread's clock only this
// long after its silence would end it, so that such bytes still join it.
constexpr int64_t kSlackUs = 100000;
// Woken by the first bytes, the thread lets more gather this long, or this
// much, before it takes them: a stream of short runs wakes it a few hundred
// times a second, not once a run, and a frame shows as soon as a person sees.
constexpr auto kGatherTime = std::chrono::milliseconds(20);
constexpr size_t kGatherBytes = 64u << 10;
constexpr int kRecordNice = 10;

}  // namespace

LineTrace::LineTrace(Clock lineClock, size_t limit)
    : clock(std::move(lineClock)), queueLimit(limit) {
    thread = std::thread([this] { Run(); });
}

LineTrace::~LineTrace() {
    {
        std::lock_guard guard(lock);
        stopping = true;
    }
    wake.notify_one();
    thread.join();
}

void LineTrace::LineOpened(const DCB& line) {
    Queue({Kind::LineOpened, false, 0, FrameKind::NoFrame, 0, line, {}, {}, 0, 0}, {});
}

void LineTrace::Sent(LineStamp started, uint8_t lines, std::span<const uint8_t> bytes) {
    Queue({Kind::Sent, false, lines, FrameKind::NoFrame, 0, {}, started, started, 0, 0}, bytes);
}

void LineTrace::Received(LineStamp first, LineStamp last, uint8_t lines,
                         std::span<const uint8_t> bytes, bool continues) {
    Queue({Kind::Received, continues, lines, FrameKind::NoFrame, 0, {}, first, last, 0, 0}, bytes);
}

void LineTrace::LineChanged(LineStamp at, LineEvent event, uint8_t lines, uint32_t count) {
    // The frame's kind for each event, in the order LineEvent lists them.
    static constexpr FrameKind kKinds[] = {FrameKind::ModemChange, FrameKind::FramingError,
                                           FrameKind::ParityError, FrameKind::LineBreak};
    Queue({Kind::Event, false, lines, kKinds[static_cast<size_t>(event)], count, {}, at, at, 0, 0},
          {});
}

void LineTrace::Note(FrameKind lostOrBack) {
    const LineStamp now = clock();
    Queue({Kind::Note, false, 0, lostOrBack, 0, {}, now, now, 0, 0}, {});
}

void LineTrace::Queue(const Entry& entry, std::span<const uint8_t> bytes) {
    bool wasEmpty, filled, dropped;
    {
        std::lock_guard guard(lock);
        // The engine never waits for this thread: when it falls that far
        // behind, the line's bytes are dropped, and whoever keeps a record
        // of them is told of the gap.
        dropped =
            queued.size() + bytes.size() + (entries.size() + 1) * sizeof(Entry) > queueLimit;
        wasEmpty = entries.empty();
        filled = queued.size() < kGatherBytes && queued.size() + bytes.size() >= kGatherBytes;
        if (!dropped) {
            entries.push_back(entry);
            entries.back().offset = queued.size();
            entries.back().length = bytes.size();
            queued.insert(queued.end(), bytes.begin(), bytes.end());
        }
    }
    if (dropped) {
        if (lostHandler) lostHandler(bytes.size());
        return;
    }
    // The thread takes everything queued at once: it needs waking only
    // when it may be waiting.
    if (wasEmpty || filled) wake.notify_one();
}

void LineTrace::Flush() {
    std::unique_lock guard(lock);
    const uint64_t asked = ++flushAsked;
    wake.notify_one();
    flushed.wait(guard, [&] { return flushDone >= asked; });
}

void LineTrace::Align() {
    const LineStamp now = clock();
    wallOffsetUs = now.wallUs - now.steadyUs;
    if (aligned) wallOffsetUs = std::max(wallOffsetUs, lastDated.wallUs - lastDated.steadyUs);
    aligned = true;
}

void LineTrace::Date(std::vector<LineFrame>& frames) {
    if (!aligned) Align();
    for (LineFrame& frame : frames) {
        frame.first.wallUs = frame.first.steadyUs + wallOffsetUs;
        frame.last.wallUs = frame.last.steadyUs + wallOffsetUs;
        lastDated = frame.first;
    }
}

void LineTrace::Run() {
    // What the user watches live (the engine's worker, the window) comes
    // first on a busy machine; the record catches up from its queue.
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kRecordNice);
    std::vector<Entry> taken;
    std::vector<uint8_t> bytes;
    std::vector<LineFrame> frames;
    std::unique_lock guard(lock);
    for (;;) {
        const int64_t deadline = assembler.Deadline();
        const auto due = [&] {
            return stopping || !entries.empty() || flushAsked > flushDone;
        };
        if (deadline == FrameAssembler::kNever) {
            wake.wait(guard, due);
        } else {
            const int64_t waitUs = deadline + kSlackUs - clock().steadyUs;
            wake.wait_for(guard, std::chrono::microseconds(std::max<int64_t>(waitUs, 0)), due);
        }
        const auto urgent = [&] {
            return stopping || flushAsked > flushDone || queued.size() >= kGatherBytes;
        };
        if (!entries.empty() && !urgent()) wake.wait_for(guard, kGatherTime, urgent);
        taken.swap(entries);
        bytes.swap(queued);
        const bool last = stopping;
        const uint64_t flushing = flushAsked;
        guard.unlock();

        for (const Entry& entry : taken) {
            const std::span<const uint8_t> data(bytes.data() + entry.offset, entry.length);
            switch (entry.kind) {
                case Kind::LineOpened:
                    Align();
                    assembler.LineOpened(entry.line, frames);
                    break;
                case Kind::Sent:
                    assembler.Sent(entry.first, entry.lines, data, frames);
                    break;
                case Kind::Received:
                    assembler.Received(entry.first, entry.last, entry.lines, data,
                                       entry.continues, frames);
                    break;
                case Kind::Note: {
                    // Nothing open goes on across the gap.
                    assembler.Finish(frames);
                    LineFrame note;
                    note.kind = entry.note;
                    note.first = note.last = entry.first;
                    frames.push_back(std::move(note));
                    break;
                }
                case Kind::Event: {
                    // Beside the frames, never in them: a frame open now
                    // goes on, and comes after this though it began before.
                    LineFrame event;
                    event.kind = entry.note;
                    event.lines = entry.lines;
                    event.count = entry.count;
                    event.first = event.last = entry.first;
                    frames.push_back(std::move(event));
                    break;
                }
            }
        }
        taken.clear();
        bytes.clear();
        if (last || flushing > flushDone)
            assembler.Finish(frames);
        else
            assembler.Expire(clock().steadyUs - kSlackUs, frames);
        if (!frames.empty()) {
            Date(frames);
            for (FrameSink* sink : sinks) sink->Take(frames);
            frames.clear();
        }

        guard.lock();
        if (flushing > flushDone) {
            flushDone = flushing;
            flushed.notify_all();
        }
        if (last && entries.empty()) break;
    }
}
