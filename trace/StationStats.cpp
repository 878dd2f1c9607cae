#include "trace/StationStats.h"

#include <cstdio>

#include "trace/FrameFields.h"

namespace {

std::string Number(uint64_t n) { return std::to_string(n); }

std::string Millis(double us) {
    char text[24];
    std::snprintf(text, sizeof text, "%.1f", us / 1000);
    return text;
}

}  // namespace

void StationStats::Count(const LineFrame& frame) {
    if (frame.echo) return;
    const bool noReply = frame.kind == FrameKind::NoReply;
    if (!noReply && !frame.IsModbus()) return;
    const std::vector<uint8_t> adu =
        noReply ? FrameAdu(frame.request) : FrameAdu(frame.bytes, frame.kind);
    if (adu.empty() || adu[0] >= kStations) return;
    Station& s = stations[adu[0]];
    const bool broadcast = adu[0] == 0;
    if (noReply) {
        // A broadcast is never answered: not a fault of anyone's.
        if (broadcast) return;
        s.seen = true;
        ++s.noReply;
        return;
    }
    const bool reply = frame.role == FrameRole::Reply;
    if (frame.role == FrameRole::Unknown && frame.checkGood) return;
    if (broadcast && (reply || !frame.checkGood)) return;
    s.seen = true;
    s.requests += frame.role == FrameRole::Request;
    s.badChecks += !frame.checkGood;
    if (!reply) return;
    s.heardWallUs = frame.first.wallUs;
    // A reply counts as one only with the request it answers.
    if (frame.request.empty()) {
        s.unpaired += frame.checkGood;
        return;
    }
    ++s.replies;
    if (!frame.checkGood) return;
    if (adu.size() >= 3 && (adu[1] & 0x80)) {
        ++s.exceptions;
        s.codes.set(adu[2]);
    }
    if (frame.responseUs < 0) return;
    const int64_t us = frame.responseUs;
    s.minUs = s.timed ? std::min(s.minUs, us) : us;
    s.maxUs = s.timed ? std::max(s.maxUs, us) : us;
    s.lastUs = us;
    s.sumUs += us;
    ++s.timed;
}

void StationStats::Zero() { stations = {}; }

std::vector<StationRow> StationStats::Rows() const {
    std::vector<StationRow> rows;
    for (int n = 0; n < kStations; ++n) {
        const Station& s = stations[n];
        if (!s.seen) continue;
        StationRow row;
        row.station = n;
        row.requests = Number(s.requests);
        if (n != 0) {
            row.silent = s.replies == 0 && (s.requests > 0 || s.noReply > 0);
            row.replies = Number(s.replies);
            row.noReply = Number(s.noReply);
            row.unpaired = Number(s.unpaired);
            row.badChecks = Number(s.badChecks);
            row.exceptions = Number(s.exceptions);
            std::string codes;
            for (int code = 0; code < 256; ++code)
                if (s.codes.test(code)) codes += (codes.empty() ? "" : ", ") + std::to_string(code);
            if (!codes.empty()) row.exceptions += " (" + codes + ")";
        }
        if (s.timed) {
            row.responseMin = Millis(static_cast<double>(s.minUs));
            row.responseMean = Millis(static_cast<double>(s.sumUs) / static_cast<double>(s.timed));
            row.responseMax = Millis(static_cast<double>(s.maxUs));
            row.responseLast = Millis(static_cast<double>(s.lastUs));
        }
        if (s.heardWallUs >= 0) row.lastHeard = TimeOfDay(s.heardWallUs);
        rows.push_back(std::move(row));
    }
    return rows;
}

const std::vector<std::string>& StationStats::Headers() {
    static const std::vector<std::string> headers{"站号",     "请求",     "应答",       "无应答",
                                                  "未配对",   "校验错误", "异常(代码)", "最短(ms)",
                                                  "平均(ms)", "最长(ms)", "最近(ms)",   "最后应答"};
    return headers;
}

std::vector<std::string> StationStats::Cells(const StationRow& row) {
    return {row.station == 0 ? "0 (广播)" : std::to_string(row.station),
            row.requests,
            row.replies,
            row.noReply,
            row.unpaired,
            row.badChecks,
            row.exceptions,
            row.responseMin,
            row.responseMean,
            row.responseMax,
            row.responseLast,
            row.lastHeard};
}
