// Where talvenor-capture writes the frames: one capture file, or a ring of
// them as dumpcap keeps it (PREFIX_NNNNN_YYYYMMDDHHMMSS.EXT, switched by size
// or age, the oldest removed beyond the count), each one a whole pcap file of
// its own; and dumpcap's stop conditions by size and by frames. Each file is
// a LineCapture: its writer thread writes and syncs, so the trace never waits
// for the disk. A file that is switched away from is finished on the
// recorder's main thread (Tick), never on the trace's.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "trace/FrameSink.h"
#include "trace/LineCapture.h"

class CaptureRing : public FrameSink {
public:
    struct Limits {
        uint64_t fileBytes = 0;      // switch before a file grows past this; 0: never
        int64_t fileSeconds = 0;     // switch once a file is this old; 0: never
        unsigned files = 0;          // files kept; 0: all
        uint64_t stopFileBytes = 0;  // end before a file grows past this
        uint64_t stopPackets = 0;    // end after this many frames
    };

    // `wake` is called, on any thread, when the main thread has work here:
    // a file to finish, or the recording to end. It must not block.
    CaptureRing(std::string path, Limits limits, std::function<void()> wake);
    ~CaptureRing() override;

    // Creates the first file; false with the error number when it cannot be.
    bool Start(int& error);
    // Writes to `fd` instead (standard output, Wireshark's FIFO), one file.
    void Start(int fd, const std::string& name);

    void Take(std::span<const LineFrame> frames) override;
    void Lost(uint64_t bytes) override;

    // Main thread: switches a file that is due by its age, finishes the
    // files switched away from and removes those beyond the ring.
    void Tick();
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
    bool Open(int& error);  // the next file; under the lock
    void Watch(LineCapture& capture);
    void Settle(std::unique_ptr<LineCapture> capture);

    const std::string path;
    const Limits limits;
    const std::function<void()> wake;

    std::mutex lock;  // guards what follows up to `ended`
    std::unique_ptr<LineCapture> current;
    std::vector<std::unique_ptr<LineCapture>> retiring;
    std::deque<std::string> names;  // every file kept, the oldest first
    unsigned number = 0;
    uint64_t fileSize = 0, fileRecords = 0;
    std::time_t fileStarted = 0;
    std::string firstName;
    struct {
        int error = 0;
        std::string name;
    } openFailure;  // the first file that could not be created
    std::atomic<bool> ended{false};
    std::atomic<uint64_t> packets{0};
    Result result;  // the main thread's
};
