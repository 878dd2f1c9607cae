// The newest frames of the line for the frames window, as the rows it shows,
// and the counters of what happened: a ring of a fixed number of frames,
// filled on the trace's thread and read on the window's.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "trace/FrameSink.h"
#include "trace/StationStats.h"

// What one row shows; UTF-8.
struct FrameRow {
    std::string time;       // local time of its first byte, HH:MM:SS.mmm
    std::string direction;  // sent, received, echo
    std::string station, function, says, check, response;
};

struct FrameCounters {
    uint64_t requests = 0, replies = 0, noReply = 0, unpaired = 0, badChecks = 0, exceptions = 0;
};

class FrameList : public FrameSink {
public:
    static constexpr size_t kCapacity = 100000;
    explicit FrameList(size_t capacity = kCapacity);

    void Take(std::span<const LineFrame> frames) override;

    // Frames are numbered from 0 as they come; those from First() to Next()
    // are kept.
    uint64_t First() const;
    uint64_t Next() const;
    // False when frame `number` is gone or not there yet.
    bool Row(uint64_t number, FrameRow& row) const;
    bool Frame(uint64_t number, LineFrame& frame) const { return Copy(number, frame); }

    FrameCounters Counters() const;
    // Each station seen over the counters' span.
    std::vector<StationRow> Stations() const;
    // Zeroes the counters and the stations' statistics together.
    void ZeroCounters();

    // Frame `number` as a record of the saved file, in FileHeaders() order:
    // its date and time, the row's cells after its time, and all its bytes
    // in hexadecimal. False when it is gone.
    bool FileRecord(uint64_t number, std::vector<std::string>& cells) const;
    static const std::vector<std::string>& FileHeaders();

    // One row as a line of text, its cells between tabs.
    static std::string RowText(const FrameRow& row);

private:
    const size_t capacity;
    mutable std::mutex lock;
    std::vector<LineFrame> ring;
    uint64_t next = 0;
    FrameCounters counters;
    StationStats stations;

    bool Copy(uint64_t number, LineFrame& frame) const;
    static FrameRow RowOf(const LineFrame& frame);
};
