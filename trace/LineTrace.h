// The line's record: takes what the engine hands over (the tap), finds the
// frames in it on a thread of its own and hands them, in order, to its
// sinks (the capture file, the frame list). The engine's worker only queues
// and goes on; a frame that ends by silence ends on this thread's clock.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "serial/LineTap.h"
#include "trace/FrameAssembler.h"
#include "trace/FrameSink.h"

class LineTrace : public LineTap {
public:
    using Clock = std::function<LineStamp()>;
    // What may wait for the thread (the bytes and their entries) when it
    // falls behind the line; past it, what comes is dropped until it catches up.
    static constexpr size_t kQueueLimit = 64u << 20;
    explicit LineTrace(Clock clock = LineStamp::Now, size_t queueLimit = kQueueLimit);
    // Ends what is open and hands it to the sinks.
    ~LineTrace() override;
    LineTrace(const LineTrace&) = delete;
    LineTrace& operator=(const LineTrace&) = delete;

    // Before the engine has the trace.
    void AddSink(FrameSink* sink) { sinks.push_back(sink); }
    // Also before: told, on the engine's worker, how many bytes of the line
    // were dropped. It must not block.
    void OnLost(std::function<void(uint64_t bytes)> handler) { lostHandler = std::move(handler); }

    LineStamp Now() const override { return clock(); }
    void LineOpened(const DCB& line) override;
    void Sent(LineStamp started, uint8_t lines, std::span<const uint8_t> bytes) override;
    void Received(LineStamp first, LineStamp last, uint8_t lines, std::span<const uint8_t> bytes,
                  bool continues) override;
    void LineChanged(LineStamp at, LineEvent event, uint8_t lines, uint32_t count) override;

    // The owner's word that the line's device went away, or is back: a row
    // of its own for the frame list, a gap for the capture. Any thread.
    void Note(FrameKind lostOrBack);

    // Returns once everything handed over so far has reached the sinks, what
    // is still open ended as if the line had fallen silent.
    void Flush();

private:
    enum class Kind : uint8_t { LineOpened, Sent, Received, Note, Event };
    struct Entry {
        Kind kind;
        bool continues;
        uint8_t lines;
        FrameKind note;  // Note, Event
        uint32_t count;  // Event
        DCB line;
        LineStamp first, last;
        size_t offset, length;
    };

    void Queue(const Entry& entry, std::span<const uint8_t> bytes);
    void Run();
    // The thread's: takes the wall clock's offset from the monotonic one.
    void Align();
    void Date(std::vector<LineFrame>& frames);

    Clock clock;
    const size_t queueLimit;
    std::vector<FrameSink*> sinks;
    std::function<void(uint64_t)> lostHandler;

    std::mutex lock;
    std::condition_variable wake, flushed;
    std::vector<Entry> entries;
    std::vector<uint8_t> queued;
    bool stopping = false;
    uint64_t flushAsked = 0, flushDone = 0;

    FrameAssembler assembler;  // the thread's own
    // A frame's wall time is its monotonic time plus one offset, taken as the
    // line opens, so that the records of a line are dated in the order they
    // crossed it: a wall time read beside each monotonic one differs from read
    // to read (truncation, a thread preempted between the two reads). The
    // offset never moves back, so neither do the dates after a reopen.
    bool aligned = false;
    int64_t wallOffsetUs = 0;
    LineStamp lastDated;
    std::thread thread;
};
