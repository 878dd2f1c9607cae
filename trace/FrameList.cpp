#include "trace/FrameList.h"

#include <cstdio>

#include "protocol/ModbusFrameText.h"
#include "trace/FrameFields.h"

namespace {

// What the window shows of bytes that form no frame.
constexpr size_t kBytesShown = 64;

// The exception bit of the function, read where it stands on the line: the
// second byte, or the high digit of the second pair after the colon.
bool IsException(const LineFrame& frame) {
    if (frame.kind == FrameKind::Ascii)
        return frame.bytes.size() > 3 && frame.bytes[3] >= '8' && frame.bytes[3] != ':';
    return frame.bytes.size() >= 2 && (frame.bytes[1] & 0x80);
}

// What the driver told of the line: the input lines' levels as they are
// now, or the errors counted.
std::string LineEventText(const LineFrame& frame) {
    static constexpr struct {
        uint8_t line;
        const char* name;
    } kInputs[] = {{LINE_CTS, "CTS"}, {LINE_DSR, "DSR"}, {LINE_DCD, "DCD"}, {LINE_RING, "RI"}};
    if (frame.kind == FrameKind::ModemChange) {
        std::string text;
        for (const auto& input : kInputs)
            text += std::string(text.empty() ? "" : "  ") + input.name +
                    ((frame.lines & input.line) ? " 1" : " 0");
        return text;
    }
    const char* const name = frame.kind == FrameKind::FramingError  ? "帧错误"
                             : frame.kind == FrameKind::ParityError ? "奇偶校验错误"
                                                                    : "中断";
    return std::string(name) + " " + std::to_string(frame.count);
}

}  // namespace

FrameList::FrameList(size_t ringCapacity) : capacity(ringCapacity) {
    // Room for every slot at once: filling the ring never moves the frames
    // already in it.
    ring.reserve(capacity);
}

void FrameList::Take(std::span<const LineFrame> frames) {
    std::lock_guard guard(lock);
    for (const LineFrame& frame : frames) {
        stations.Count(frame);
        if (frame.kind == FrameKind::NoReply) {
            ++counters.noReply;
            continue;
        }
        if (frame.IsModbus() && !frame.echo) {
            counters.requests += frame.role == FrameRole::Request;
            const bool reply = frame.role == FrameRole::Reply, paired = !frame.request.empty();
            counters.replies += reply && paired;
            counters.unpaired += reply && !paired && frame.checkGood;
            counters.badChecks += !frame.checkGood;
            counters.exceptions += frame.checkGood && reply && paired && IsException(frame);
        }
        if (ring.size() < capacity)
            ring.push_back(frame);
        else
            ring[next % capacity] = frame;
        ++next;
    }
}

uint64_t FrameList::First() const {
    std::lock_guard guard(lock);
    return next - ring.size();
}

uint64_t FrameList::Next() const {
    std::lock_guard guard(lock);
    return next;
}

bool FrameList::Copy(uint64_t number, LineFrame& frame) const {
    std::lock_guard guard(lock);
    if (number >= next || number < next - ring.size()) return false;
    frame = ring[number % capacity];
    return true;
}

bool FrameList::Row(uint64_t number, FrameRow& row) const {
    LineFrame frame;
    if (!Copy(number, frame)) return false;
    row = RowOf(frame);
    return true;
}

bool FrameList::FileRecord(uint64_t number, std::vector<std::string>& cells) const {
    LineFrame frame;
    if (!Copy(number, frame)) return false;
    FrameRow row = RowOf(frame);
    cells = {DateAndTime(frame.first.wallUs), std::move(row.direction), std::move(row.station),
             std::move(row.function),         std::move(row.says),      std::move(row.check),
             std::move(row.response),         HexBytes(frame.bytes)};
    return true;
}

const std::vector<std::string>& FrameList::FileHeaders() {
    static const std::vector<std::string> headers{"时间", "方向", "站号",     "功能",
                                                  "内容", "校验", "响应(ms)", "字节"};
    return headers;
}

FrameRow FrameList::RowOf(const LineFrame& frame) {
    FrameRow row;
    row.time = TimeOfDay(frame.first.wallUs);
    if (frame.kind == FrameKind::LineLost || frame.kind == FrameKind::LineBack) {
        row.says =
            frame.kind == FrameKind::LineLost ? "线路断开，等待设备" : "设备已恢复，线路重新打开";
        return row;
    }
    if (frame.IsLineEvent()) {
        row.direction = "线路";
        row.says = LineEventText(frame);
        return row;
    }
    row.direction = frame.echo ? "回显" : frame.sent ? "发送" : "接收";
    if (frame.IsModbus()) {
        const std::vector<uint8_t> adu = FrameAdu(frame.bytes, frame.kind);
        const std::vector<uint8_t> request = FrameAdu(frame.request);
        const ModbusFrameText text =
            DescribeModbusFrame(adu, frame.role == FrameRole::Reply, request);
        if (text.station >= 0) row.station = std::to_string(text.station);
        if (text.function >= 0) row.function = std::to_string(text.function & 0x7f);
        row.says = text.says;
        row.check = std::string(frame.kind == FrameKind::Ascii ? "LRC " : "CRC ") +
                    (frame.checkGood ? "正确" : "错误");
    } else {
        row.says = HexBytes(frame.bytes, kBytesShown);
    }
    if (frame.responseUs >= 0) {
        char text[24];
        std::snprintf(text, sizeof text, "%.1f", static_cast<double>(frame.responseUs) / 1000);
        row.response = text;
    }
    return row;
}

FrameCounters FrameList::Counters() const {
    std::lock_guard guard(lock);
    return counters;
}

std::vector<StationRow> FrameList::Stations() const {
    // Copied under the lock, written out after it: the trace's thread waits
    // for a copy, not for the text.
    StationStats copy;
    {
        std::lock_guard guard(lock);
        copy = stations;
    }
    return copy.Rows();
}

void FrameList::ZeroCounters() {
    std::lock_guard guard(lock);
    counters = {};
    stations.Zero();
}

std::string FrameList::RowText(const FrameRow& row) {
    std::string text;
    for (const std::string* cell : {&row.time, &row.direction, &row.station, &row.function,
                                    &row.says, &row.check, &row.response}) {
        if (!text.empty() || cell != &row.time) text += '\t';
        text += *cell;
    }
    return text;
}
