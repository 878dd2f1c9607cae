// Records the frames of the line into a capture file (see PcapRecords) while
// the program runs, across any number of opens: each frame one record,
// stamped with its first byte. The trace hands frames over and goes on; a
// writer thread of the capture's own writes them and flushes the file at
// least once a second, so nothing upstream waits for the disk. The first
// write that fails stops the capture and is reported once.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "trace/FrameSink.h"

class LineCapture : public FrameSink {
public:
    // Creates `path`, or empties it; null, with the error number in `error`,
    // when it cannot be. The file's header is written by the writer thread.
    static std::unique_ptr<LineCapture> Create(const std::string& path, int& error,
                                               size_t queueLimit = kQueueLimit);
    // Takes `fd` over; the limit bounds what waits for the writer. A pipe, a
    // FIFO or a device is written without blocking, so that a reader that
    // stopped cannot hold the writer beyond Finish.
    LineCapture(int fd, std::string path, size_t queueLimit = kQueueLimit);
    // Finish() with its bound, unless it was called.
    ~LineCapture() override;
    LineCapture(const LineCapture&) = delete;
    LineCapture& operator=(const LineCapture&) = delete;

    // The memory that may wait for the writer, the records and what the
    // writer holds, before the capture gives up (a disk that has stopped
    // taking bytes); the error reported then is ENOBUFS.
    static constexpr size_t kQueueLimit = 64u << 20;
    // How long the end waits for a file that takes nothing.
    static constexpr std::chrono::milliseconds kFinishBound{2000};

    const std::string& Path() const { return path; }

    // The trace's side; never waits for the file.
    void Take(std::span<const LineFrame> frames) override;
    // `bytes` of the line never reached the capture (the trace could not
    // keep them): a file with a gap is no record of the line, so it stops.
    void Lost(uint64_t bytes) override;

    bool Failed() const;
    // Called once, with the error number, when the capture stops on a failure:
    // on the writer thread or the trace's, or at once here if it stopped
    // already. Setting another (or none) waits for a call in progress, so
    // that a handler's owner can go away safely.
    void OnFailure(std::function<void(int error)> handler);

    struct Outcome {
        int error = 0;           // what stopped the capture; 0: nothing did
        bool timedOut = false;   // the file took nothing more within the bound
        uint64_t lostBytes = 0;  // bytes of the line handed over that the file lacks
        bool Whole() const { return error == 0 && !timedOut && lostBytes == 0; }
    };
    // Writes out what was handed over, syncs and closes the file, waiting at
    // most `bound` for it; a writer the file still holds then is left to
    // finish alone (a hung mount), and what it had not written counts as
    // lost. Once; later calls answer the same. Failures are not reported to
    // the handler from here on: the outcome tells them.
    Outcome Finish(std::chrono::milliseconds bound = kFinishBound);

private:
    struct Writer;  // the writer thread's state, kept alive by a thread left behind
    std::shared_ptr<Writer> shared;
    std::string path;
    std::thread writer;
    bool finished = false;
    Outcome outcome;
};
