// What each station of the line did, counted from the frames as they come:
// requests to it, its replies to them, requests it left unanswered, frames
// of its whose check holds that answer no request, bad checks,
// exceptions with their codes, its response times and when it was last
// heard. Station 0 (broadcast) gets requests only. No lock of its own: the
// frame list counts under its lock.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <string>
#include <vector>

#include "trace/LineFrame.h"

// One station's row as the statistics view shows it; UTF-8.
struct StationRow {
    int station = 0;
    bool silent = false;  // asked and never answered since the counts began
    std::string requests, replies, noReply, unpaired, badChecks, exceptions;
    std::string responseMin, responseMean, responseMax, responseLast, lastHeard;
};

class StationStats {
public:
    static constexpr int kStations = 248;  // 0 (broadcast) to 247

    void Count(const LineFrame& frame);
    void Zero();
    // The stations seen, in station order.
    std::vector<StationRow> Rows() const;

    // The column headings, in the order of a row's cells.
    static const std::vector<std::string>& Headers();
    static std::vector<std::string> Cells(const StationRow& row);

private:
    struct Station {
        uint64_t requests = 0, replies = 0, noReply = 0, unpaired = 0, badChecks = 0,
                 exceptions = 0;
        std::bitset<256> codes;
        uint64_t timed = 0;
        int64_t minUs = 0, maxUs = 0, lastUs = 0, sumUs = 0;
        int64_t heardWallUs = -1;
        bool seen = false;
    };
    std::array<Station, kStations> stations{};
};
