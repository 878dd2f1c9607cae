#include "protocol/PollPlan.h"

#include <algorithm>
#include <tuple>

#include "protocol/ModbusFrameRules.h"
#include "tools/ChecksumTool.h"

namespace PollPlan {

namespace {

constexpr uint8_t kExceptionBit = 0x80;

bool ReadsBits(uint8_t function) { return function == 1 || function == 2; }

void PutWord(std::vector<uint8_t>& frame, uint16_t word) {
    frame.push_back(static_cast<uint8_t>(word >> 8));
    frame.push_back(static_cast<uint8_t>(word));
}

std::vector<uint8_t> Finished(std::vector<uint8_t> frame) {
    const uint16_t crc = ChecksumTool::Crc16(frame.data(), static_cast<uint32_t>(frame.size()));
    frame.push_back(static_cast<uint8_t>(crc));  // CRC goes low byte first on the line
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    return frame;
}

}  // namespace

uint16_t ReadLimit(uint8_t function) { return ReadsBits(function) ? 2000 : 125; }
uint16_t MergeGap(uint8_t function) { return ReadsBits(function) ? 32 : 4; }

bool Readable(const PollPoint& point) {
    return point.function >= 1 && point.function <= 4 && point.station >= 1 &&
           point.station <= ModbusFrameRules::kLastStation && point.count >= 1 &&
           point.count <= ReadLimit(point.function) &&
           uint32_t{point.address} + point.count <= 0x10000;
}

std::vector<PollRead> PlanReads(std::span<const PollPoint> points) {
    std::vector<size_t> order;
    for (size_t i = 0; i < points.size(); ++i)
        if (Readable(points[i])) order.push_back(i);
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        const PollPoint &p = points[a], &q = points[b];
        return std::tie(p.station, p.function, p.address) <
               std::tie(q.station, q.function, q.address);
    });
    std::vector<PollRead> reads;
    uint32_t end = 0;
    for (size_t i : order) {
        const PollPoint& point = points[i];
        const uint32_t pointEnd = uint32_t{point.address} + point.count;
        if (!reads.empty()) {
            PollRead& last = reads.back();
            const uint32_t merged = std::max(end, pointEnd);
            if (last.station == point.station && last.function == point.function &&
                point.address <= end + MergeGap(point.function) &&
                merged - last.start <= ReadLimit(point.function)) {
                end = merged;
                last.count = static_cast<uint16_t>(end - last.start);
                last.points.push_back(i);
                continue;
            }
        }
        reads.push_back({point.station, point.function, point.address, point.count, {i}});
        end = pointEnd;
    }
    return reads;
}

std::vector<uint8_t> ReadRequest(const PollRead& read) {
    std::vector<uint8_t> frame{read.station, read.function};
    PutWord(frame, read.start);
    PutWord(frame, read.count);
    return Finished(std::move(frame));
}

std::vector<uint8_t> WriteRequest(const PollPoint& point, std::span<const uint16_t> values) {
    if (values.empty() || point.station < 1 || point.station > ModbusFrameRules::kLastStation)
        return {};
    std::vector<uint8_t> frame{point.station};
    if (point.function == 1) {
        frame.push_back(5);
        PutWord(frame, point.address);
        PutWord(frame, values[0] ? 0xFF00 : 0x0000);
    } else if (point.function == 3 && values.size() == 1) {
        frame.push_back(6);
        PutWord(frame, point.address);
        PutWord(frame, values[0]);
    } else if (point.function == 3 && values.size() <= 123 &&
               uint32_t{point.address} + values.size() <= 0x10000) {
        frame.push_back(16);
        PutWord(frame, point.address);
        PutWord(frame, static_cast<uint16_t>(values.size()));
        frame.push_back(static_cast<uint8_t>(values.size() * 2));
        for (uint16_t value : values) PutWord(frame, value);
    } else {
        return {};
    }
    return Finished(std::move(frame));
}

Answer ReadAnswer(std::span<const uint8_t> request, std::span<const uint8_t> reply,
                  bool checkGood) {
    Answer answer;
    if (request.size() < 4 || reply.size() < 4) return answer;
    if (!checkGood) {
        answer.outcome = Outcome::BadCheck;
        return answer;
    }
    if (!ModbusFrameRules::ReplyFits(request, reply)) return answer;
    if (reply[1] & kExceptionBit) {
        answer.outcome = Outcome::Exception;
        answer.exception = reply[2];
        return answer;
    }
    answer.outcome = Outcome::Good;
    const uint8_t function = request[1];
    if (function < 1 || function > 4) return answer;
    const uint16_t count = static_cast<uint16_t>(request[4] << 8 | request[5]);
    const size_t bytes = ReadsBits(function) ? (count + 7u) / 8u : count * 2u;
    if (reply[2] != bytes || reply.size() < 5 + bytes) {
        answer.outcome = Outcome::Unfit;
        return answer;
    }
    const std::span<const uint8_t> data = reply.subspan(3, bytes);
    if (ReadsBits(function)) {
        for (size_t i = 0; i < count; ++i)
            answer.values.push_back(static_cast<uint16_t>(data[i / 8] >> (i % 8) & 1));
    } else {
        for (size_t i = 0; i < bytes; i += 2)
            answer.values.push_back(static_cast<uint16_t>(data[i] << 8 | data[i + 1]));
    }
    return answer;
}

std::span<const uint16_t> PointValues(const PollRead& read, const PollPoint& point,
                                      std::span<const uint16_t> values) {
    const size_t from = point.address - read.start;
    if (point.address < read.start || from + point.count > values.size()) return {};
    return values.subspan(from, point.count);
}

}  // namespace PollPlan
