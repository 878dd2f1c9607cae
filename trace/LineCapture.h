// Records the frames of the line into a capture file (see PcapRecords) while
// the program runs, across any number of opens: each frame one record,
// stamped with its first byte. The trace hands frames over and goes on; a
// writer thread of the capture's own writes them and flushes the file at
// least once a second, so nothing upstream waits for the disk. The first
// write that fails stops the capture and is reported once.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "trace/FrameSink.h"

class LineCapture : public FrameSink {
public:
    // Creates `path`, or empties it; null, with the error number in `error`,
    // when it cannot be. The file's header is written by the writer thread.
    static std::unique_ptr<LineCapture> Create(const std::string& path, int& error);
    // Takes `fd` over; the limit bounds what waits for the writer.
    LineCapture(int fd, std::string path, size_t queueLimit = kQueueLimit);
    // Writes out everything handed over, then closes the file.
    ~LineCapture() override;
    LineCapture(const LineCapture&) = delete;
    LineCapture& operator=(const LineCapture&) = delete;

    // What may wait for the writer before the capture gives up (a disk that
    // has stopped taking bytes); the error reported then is ENOBUFS.
    static constexpr size_t kQueueLimit = 64u << 20;

    const std::string& Path() const { return path; }

    // The trace's side; never waits for the file.
    void Take(std::span<const LineFrame> frames) override;

    bool Failed() const { return failed.load(); }
    // Called once, with the error number, when the capture stops on a failure:
    // on the writer thread, or at once here if it stopped already. Setting
    // another (or none) waits for a call in progress, so that a handler's
    // owner can go away safely.
    void OnFailure(std::function<void(int error)> handler);

private:
    void WriterLoop();
    bool WriteOut(const std::vector<uint8_t>& bytes);
    void Fail(int error);

    int fd;
    size_t written = 0;  // writer thread: what the file holds
    std::string path;
    size_t queueLimit;

    std::mutex lock;  // guards the queue and stopping
    std::condition_variable wake;
    std::vector<uint8_t> queued;  // whole records
    bool stopping = false;
    bool overflowed = false;

    std::atomic<bool> failed{false};
    int failure = 0;  // set before `failed`
    std::mutex handlerLock;
    std::function<void(int)> failureHandler;
    bool reported = false;

    std::thread writer;
};
