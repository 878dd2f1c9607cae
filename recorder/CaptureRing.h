// Where talvenor-capture writes the frames: one capture file, or a ring of
// them as dumpcap keeps it (PREFIX_NNNNN_YYYYMMDDHHMMSS.EXT, switched by
// size, frames, age or the clock, the oldest removed beyond the count), each
// one a whole pcap file of its own; and dumpcap's stop conditions by size,
// frames and files. Each file is a LineCapture: its writer thread writes and
// syncs, so the trace never waits for the disk. A file that is switched away
// from is finished on a thread of the ring's own: a card that takes seconds
// to sync holds neither the trace nor the main loop that serves the line.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "trace/FrameSink.h"
#include "trace/LineCapture.h"

class CaptureRing : public FrameSink {
public:
    struct Limits {
        uint64_t fileBytes = 0;       // switch before a file grows past this; 0: never
        uint64_t filePackets = 0;     // switch once a file holds this many frames
        int64_t fileUs = 0;           // switch once a file is this old
        int64_t intervalSeconds = 0;  // switch on each multiple of the wall clock
        unsigned files = 0;           // files kept; 0: all
        unsigned stopFiles = 0;       // end once this many files are full
        uint64_t stopFileBytes = 0;   // end before a file grows past this
        uint64_t stopPackets = 0;     // end after this many frames
    };

    // `wake` is called, on any thread, when the recording is to end. It must
    // not block.
    CaptureRing(std::string path, Limits limits, std::function<void()> wake);
    ~CaptureRing() override;

    // Creates the first file; false with the error number when it cannot be.
    bool Start(int& error);
    // Writes to `fd` instead (standard output, Wireshark's FIFO), one file.
    void Start(int fd, const std::string& name);

    void Take(std::span<const LineFrame> frames) override;
    void Lost(uint64_t bytes) override;

    // Main thread: switches a file that is due by its age or the clock.
    void Tick();
    // When Tick is next due; max() when no file is switched by time.
    std::chrono::steady_clock::time_point NextTick() const;
    // A stop condition was met or a file failed: the recording ends.
    bool Ended() const { return ended.load(); }
    uint64_t Packets() const { return packets.load(); }
    const std::string& FirstName() const { return firstName; }

    struct Result {
        LineCapture::Outcome outcome;  // the first that was not whole, else the last
        std::string file;              // its file
    };
    // Finishes every file (after the trace handed over its last frames).
    Result Finish();

    // dumpcap's name for file `number` of a ring after `path`, begun at `when`.
    static std::string RingName(const std::string& path, unsigned number, std::time_t when);

private:
    bool Ring() const;
    bool Switch();          // to the next file, or the end; under the lock
    bool Open(int& error);  // the next file; under the lock
    void Watch(LineCapture& capture);
    void Settle(std::unique_ptr<LineCapture> capture);  // the finisher's
    void RunFinisher();

    const std::string path;
    const Limits limits;
    const std::function<void()> wake;

    mutable std::mutex lock;  // guards what follows up to `ended`
    std::condition_variable retired;
    std::unique_ptr<LineCapture> current;
    std::vector<std::unique_ptr<LineCapture>> retiring;
    std::deque<std::string> names;  // every file kept, the oldest first
    unsigned number = 0;
    uint64_t fileSize = 0, fileRecords = 0;
    std::time_t fileStarted = 0;
    std::chrono::steady_clock::time_point fileBegun;
    std::string firstName;
    struct {
        int error = 0;
        std::string name;
    } openFailure;  // the first file that could not be created
    bool finishing = false;
    Result result;
    std::atomic<bool> ended{false};
    std::atomic<uint64_t> packets{0};
    std::thread finisher;
};
