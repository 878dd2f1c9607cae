// Records what crosses the line into a capture file (see PcapRecords) while
// the program runs, across any number of opens. The engine's worker hands
// over what it writes and reads under a short lock and goes on; a writer
// thread of the capture's own groups the records, writes them and flushes
// the file at least once a second, so the worker never waits for the disk.
// The first write that fails stops the capture and is reported once.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "serial/CommLayer.h"

class LineCapture {
public:
    // Creates `path`, or empties it; null, with the error number in `error`,
    // when it cannot be. The file's header is written by the writer thread.
    static std::unique_ptr<LineCapture> Create(const std::string& path, int& error);
    // Takes `fd` over; the limit bounds what waits for the writer.
    LineCapture(int fd, std::string path, size_t queueLimit = kQueueLimit);
    // Writes out everything handed over, then closes the file.
    ~LineCapture();
    LineCapture(const LineCapture&) = delete;
    LineCapture& operator=(const LineCapture&) = delete;

    // What may wait for the writer before the capture gives up (a disk that
    // has stopped taking bytes); the error reported then is ENOBUFS.
    static constexpr size_t kQueueLimit = 64u << 20;

    const std::string& Path() const { return path; }

    // The capture's clock, in microseconds since the epoch: the system time
    // at the start, then steady, so that records never go back in time.
    int64_t Now() const;

    // The worker's side; none of these waits for the file.
    void LineOpened(const DCB& line);
    void Sent(int64_t stampUs, uint8_t lines, std::span<const uint8_t> bytes);
    // See PcapRecords::Received.
    void Received(int64_t firstUs, int64_t lastUs, uint8_t lines, std::span<const uint8_t> bytes,
                  bool continues);

    bool Failed() const { return failed.load(); }
    // Called once, with the error number, when the capture stops on a failure:
    // on the writer thread, or at once here if it stopped already. Setting
    // another (or none) waits for a call in progress, so that a handler's
    // owner can go away safely.
    void OnFailure(std::function<void(int error)> handler);

private:
    enum class Kind : uint8_t { LineOpened, Sent, Received };
    struct Entry {
        Kind kind;
        bool continues;
        uint8_t lines;
        int64_t firstUs;  // LineOpened: the silence that ends a received record
        int64_t lastUs;
        size_t offset;
        size_t length;
    };

    void Queue(const Entry& entry, std::span<const uint8_t> bytes);
    void WriterLoop();
    bool WriteOut(const std::vector<uint8_t>& bytes);
    void Fail(int error);

    int fd;
    size_t written = 0;  // writer thread: what the file holds
    std::string path;
    size_t queueLimit;
    std::chrono::steady_clock::time_point startSteady;
    int64_t startUs;

    std::mutex lock;  // guards the queue and stopping
    std::condition_variable wake;
    std::vector<Entry> entries;
    std::vector<uint8_t> queued;
    bool stopping = false;
    bool overflowed = false;

    std::atomic<bool> failed{false};
    int failure = 0;  // set before `failed`
    std::mutex handlerLock;
    std::function<void(int)> failureHandler;
    bool reported = false;

    std::thread writer;
};
