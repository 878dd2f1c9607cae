#include "trace/FrameList.h"

#include <time.h>

#include <cstdio>

#include "protocol/ModbusFrameRules.h"
#include "protocol/ModbusFrameText.h"

namespace {

// What the window shows of bytes that form no frame.
constexpr size_t kBytesShown = 64;

// Station, function and data: the frame without its check.
std::vector<uint8_t> Adu(const std::vector<uint8_t>& bytes, FrameKind kind) {
    std::vector<uint8_t> adu;
    if (kind == FrameKind::Ascii) {
        if (ModbusFrameRules::ReadAsciiFrame(bytes, adu)) adu.pop_back();
    } else if (bytes.size() >= 2) {
        adu.assign(bytes.begin(), bytes.end() - 2);
    }
    return adu;
}

FrameKind KindOf(const std::vector<uint8_t>& bytes) {
    return !bytes.empty() && bytes.front() == ':' ? FrameKind::Ascii : FrameKind::Rtu;
}

std::string HexBytes(const std::vector<uint8_t>& bytes) {
    std::string text;
    char digits[4];
    for (size_t i = 0; i < bytes.size() && i < kBytesShown; ++i) {
        std::snprintf(digits, sizeof digits, i == 0 ? "%02x" : " %02x", bytes[i]);
        text += digits;
    }
    if (bytes.size() > kBytesShown) text += " … (" + std::to_string(bytes.size()) + " 字节)";
    return text;
}

std::string TimeOfDay(int64_t wallUs) {
    const time_t seconds = static_cast<time_t>(wallUs / 1000000);
    tm local{};
    localtime_r(&seconds, &local);
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min,
                  local.tm_sec, static_cast<int>(wallUs / 1000 % 1000));
    return text;
}

// The exception bit of the function, read where it stands on the line: the
// second byte, or the high digit of the second pair after the colon.
bool IsException(const LineFrame& frame) {
    if (frame.kind == FrameKind::Ascii)
        return frame.bytes.size() > 3 && frame.bytes[3] >= '8' && frame.bytes[3] != ':';
    return frame.bytes.size() >= 2 && (frame.bytes[1] & 0x80);
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
        if (frame.kind == FrameKind::NoReply) {
            ++counters.noReply;
            continue;
        }
        if (frame.IsModbus() && !frame.echo) {
            counters.requests += frame.role == FrameRole::Request;
            counters.replies += frame.role == FrameRole::Reply;
            counters.badChecks += !frame.checkGood;
            counters.exceptions +=
                frame.checkGood && frame.role == FrameRole::Reply && IsException(frame);
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

bool FrameList::Row(uint64_t number, FrameRow& row) const {
    LineFrame frame;
    {
        std::lock_guard guard(lock);
        if (number >= next || number < next - ring.size()) return false;
        frame = ring[number % capacity];
    }
    row = {};
    row.time = TimeOfDay(frame.first.wallUs);
    if (frame.kind == FrameKind::LineLost || frame.kind == FrameKind::LineBack) {
        row.says = frame.kind == FrameKind::LineLost ? "线路断开，等待设备" : "设备已恢复，线路重新打开";
        return true;
    }
    row.direction = frame.echo ? "回显" : frame.sent ? "发送" : "接收";
    if (frame.IsModbus()) {
        const std::vector<uint8_t> adu = Adu(frame.bytes, frame.kind);
        const std::vector<uint8_t> request = Adu(frame.request, KindOf(frame.request));
        const ModbusFrameText text =
            DescribeModbusFrame(adu, frame.role == FrameRole::Reply, request);
        if (text.station >= 0) row.station = std::to_string(text.station);
        if (text.function >= 0) row.function = std::to_string(text.function & 0x7f);
        row.says = text.says;
        row.check = std::string(frame.kind == FrameKind::Ascii ? "LRC " : "CRC ") +
                    (frame.checkGood ? "正确" : "错误");
    } else {
        row.says = HexBytes(frame.bytes);
    }
    if (frame.responseUs >= 0) {
        char text[24];
        std::snprintf(text, sizeof text, "%.1f", static_cast<double>(frame.responseUs) / 1000);
        row.response = text;
    }
    return true;
}

FrameCounters FrameList::Counters() const {
    std::lock_guard guard(lock);
    return counters;
}

void FrameList::ZeroCounters() {
    std::lock_guard guard(lock);
    counters = {};
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
