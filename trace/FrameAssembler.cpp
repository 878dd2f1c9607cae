#include "trace/FrameAssembler.h"

#include <algorithm>

#include "protocol/ModbusFrameRules.h"
#include "tools/ChecksumTool.h"

namespace Rules = ModbusFrameRules;

namespace {

constexpr uint64_t kNoStart = UINT64_MAX;
constexpr int64_t kShortestInterFrameUs = 1750;
constexpr uint8_t kExceptionBit = 0x80;

// A character on the line in half bits, for one and a half stop bits.
int64_t CharacterHalfBits(const DCB& line) {
    const int64_t stopHalves = line.stopBits == ONE5STOPBITS  ? 3
                               : line.stopBits == TWOSTOPBITS ? 4
                                                              : 2;
    return int64_t{2} * (1 + line.byteSize + (line.parity == NOPARITY ? 0 : 1)) + stopHalves;
}

int64_t Baud(const DCB& line) { return line.baudRate != 0 ? line.baudRate : 9600; }

bool IsHexDigit(uint8_t c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// The functions whose normal reply repeats the request byte for byte.
bool ReplyEchoesRequest(uint8_t function) {
    return function == 5 || function == 6 || function == 8;
}

LineStamp Later(LineStamp stamp, int64_t us) {
    return {stamp.wallUs + us, stamp.steadyUs + us};
}

}  // namespace

int64_t FrameAssembler::WireUs(const DCB& line, size_t count) {
    return static_cast<int64_t>(count) * CharacterHalfBits(line) * 1000000 / (2 * Baud(line));
}

int64_t FrameAssembler::InterFrameUs(const DCB& line) {
    if (line.baudRate == 0) return kShortestInterFrameUs;
    const int64_t baud = line.baudRate;
    // 3.5 characters are 7 halves of a character, counted in half bits.
    const int64_t us = (7 * CharacterHalfBits(line) * 1000000 + 4 * baud - 1) / (4 * baud);
    return std::max(us, kShortestInterFrameUs);
}

FrameAssembler::FrameAssembler()
    : interFrameUs(InterFrameUs(line)) {}

void FrameAssembler::LineOpened(const DCB& opened, std::vector<LineFrame>& out) {
    EndAll(out);
    line = opened;
    interFrameUs = InterFrameUs(line);
    // Another line, perhaps another adapter: what was awaited and learned
    // of the last one no longer holds.
    awaited.active = false;
    bus.active = false;
    echoSeen = false;
}

void FrameAssembler::Sent(LineStamp started, uint8_t lines, std::span<const uint8_t> bytes,
                          std::vector<LineFrame>& out) {
    EndAll(out);
    if (awaited.active) GiveUp(started.steadyUs, out);

    LineFrame frame;
    frame.sent = true;
    frame.first = started;
    frame.last = Later(started, WireUs(line, bytes.size() > 0 ? bytes.size() - 1 : 0));
    frame.lines = lines;
    frame.bytes.assign(bytes.begin(), bytes.end());
    std::vector<uint8_t> decoded;
    if (Rules::ReadAsciiFrame(bytes, decoded)) {
        frame.kind = FrameKind::Ascii;
        frame.checkGood = Rules::AsciiCheckGood(decoded);
    } else if (bytes.size() >= 4 && Rules::RtuCheckGood(bytes)) {
        frame.kind = FrameKind::Rtu;
        frame.checkGood = true;
        decoded.assign(bytes.begin(), bytes.end() - 2);
    } else if (Rules::RtuFrameLengths(bytes).request == bytes.size()) {
        frame.kind = FrameKind::Rtu;  // a request with a wrong CRC
    }
    if (frame.IsModbus()) frame.role = FrameRole::Request;

    // A request the master expects an answer to (not a broadcast).
    if (frame.IsModbus() && frame.checkGood && decoded.size() >= 2 && decoded[0] != 0) {
        awaited.active = true;
        awaited.ascii = frame.kind == FrameKind::Ascii;
        awaited.station = decoded[0];
        awaited.function = decoded[1] & ~kExceptionBit;
        awaited.replyLength = awaited.ascii ? 0 : Rules::RtuReplyLength(bytes);
        awaited.bytes = frame.bytes;
        awaited.start = started;
        awaited.endUs = started.steadyUs + WireUs(line, bytes.size());
        awaited.deadlineUs = awaited.endUs + kReplyTimeoutUs;
    }
    out.push_back(std::move(frame));
}

void FrameAssembler::Received(LineStamp first, LineStamp last, uint8_t lines,
                              std::span<const uint8_t> bytes, bool continues,
                              std::vector<LineFrame>& out) {
    if (bytes.empty()) return;
    if (!pending.empty() && !continues) {
        const int64_t silence = first.steadyUs - lastByteUs;
        if (silence >= std::max(kHandOverSilenceUs, interFrameUs))
            EndAll(out);
        else if (silence >= interFrameUs && QuietEnds())
            EndQuiet(out);
    }
    if (awaited.active && first.steadyUs >= awaited.deadlineUs) GiveUp(awaited.deadlineUs, out);
    runs.push_back({base + pending.size(), first, last, lines, bytes.size()});
    lastByteUs = last.steadyUs;
    for (uint8_t byte : bytes) Take(byte, out);
}

int64_t FrameAssembler::Deadline() const {
    int64_t deadline = kNever;
    if (!pending.empty()) {
        deadline = lastByteUs + std::max(kHandOverSilenceUs, interFrameUs);
        if (QuietEnds()) deadline = std::min(deadline, lastByteUs + interFrameUs);
    }
    if (awaited.active) deadline = std::min(deadline, awaited.deadlineUs);
    return deadline;
}

void FrameAssembler::Expire(int64_t nowUs, std::vector<LineFrame>& out) {
    if (!pending.empty()) {
        if (nowUs >= lastByteUs + std::max(kHandOverSilenceUs, interFrameUs))
            EndAll(out);
        else if (nowUs >= lastByteUs + interFrameUs && QuietEnds())
            EndQuiet(out);
    }
    if (awaited.active && nowUs >= awaited.deadlineUs) GiveUp(awaited.deadlineUs, out);
}

void FrameAssembler::Finish(std::vector<LineFrame>& out) { EndAll(out); }

void FrameAssembler::Take(uint8_t byte, std::vector<LineFrame>& out) {
    const uint64_t at = base + pending.size();
    pending.push_back(byte);
    TakeAscii(at, byte);

    // Starts whose length needed this byte, then the start whose function
    // this byte is.
    std::vector<uint64_t>& due = examineAt[at % kRing];
    for (size_t i = 0; i < due.size(); ++i)
        if (due[i] >= base) Examine(due[i]);
    due.clear();
    if (at > base) Examine(at - 1);

    std::vector<Candidate>& ends = endsAt[at % kRing];
    for (const Candidate& candidate : ends)
        if (candidate.start >= base && candidate.start + candidate.length - 1 == at)
            CheckEnd(candidate);
    ends.clear();

    Emit(out);
    Cap(out);
}

void FrameAssembler::TakeAscii(uint64_t at, uint8_t byte) {
    if (byte == ':') {
        // A colon always starts an ASCII frame, whatever came before it.
        asciiOpen = true;
        asciiCr = false;
        asciiStart = at;
        return;
    }
    if (!asciiOpen) return;
    if (asciiCr) {
        asciiOpen = false;
        std::vector<uint8_t> decoded;
        const auto chars = Bytes(asciiStart, at + 1);
        if (byte == '\n' && Rules::ReadAsciiFrame(chars, decoded))
            AddFound({asciiStart, at + 1, FrameKind::Ascii, Rules::AsciiCheckGood(decoded),
                      IsEcho(asciiStart, chars, true)});
        return;
    }
    if (byte == '\r')
        asciiCr = true;
    else if (!IsHexDigit(byte) || at - asciiStart >= Rules::kLargestAsciiFrame)
        asciiOpen = false;
}

void FrameAssembler::Examine(uint64_t start) {
    // Most bytes of a stream start nothing: no station, or no function.
    if (!Rules::MayStartRtuFrame(pending[start - base], pending[start - base + 1])) return;
    const uint64_t end = base + pending.size();
    const auto header = Bytes(start, std::min(end, start + Rules::kLongestHeader));
    uint64_t lastEnd = 0;
    auto add = [&](size_t length, Form form) {
        if (length < 4 || length > Rules::kLargestRtuFrame) return;
        const uint64_t at = start + length - 1;
        endsAt[at % kRing].push_back({start, static_cast<uint16_t>(length), form});
        lastEnd = std::max(lastEnd, at);
    };

    const bool answers = awaited.active && !awaited.ascii && header[0] == awaited.station &&
                         (header[1] & ~kExceptionBit) == awaited.function;
    if (answers && (header[1] & kExceptionBit)) {
        add(5, Form::Expected);
    } else if (answers && awaited.replyLength != 0) {
        // The reply to the request just sent: its length is known exactly,
        // so a CRC that checks by chance before it cuts nothing.
        add(awaited.replyLength, Form::Expected);
        if (awaited.bytes.size() != awaited.replyLength) add(awaited.bytes.size(), Form::Echo);
    } else {
        const Rules::RtuLengths lengths = Rules::RtuFrameLengths(header);
        if (lengths.need != 0) {
            examineAt[(start + header.size() + lengths.need - 1) % kRing].push_back(start);
            return;
        }
        add(lengths.request, Form::Other);
        if (lengths.reply != lengths.request) add(lengths.reply, Form::Other);
    }
    if (lastEnd == 0) return;
    auto place = open.end();
    while (place != open.begin() && std::prev(place)->start > start) --place;
    open.insert(place, {start, lastEnd});
}

void FrameAssembler::CheckEnd(const Candidate& candidate) {
    const uint64_t end = candidate.start + candidate.length;
    const auto frame = Bytes(candidate.start, end);
    if (IsEcho(candidate.start, frame, false)) {
        AddFound({candidate.start, end, FrameKind::Rtu, true, true});
        return;
    }
    // Where the reply is awaited only the echo is this long.
    if (candidate.form == Form::Echo) return;
    const bool good = Rules::RtuCheckGood(frame);
    // Bytes where the reply was awaited, as long as it was, are the reply
    // with a bad check; elsewhere a failed check means no frame starts there.
    if (good || candidate.form == Form::Expected)
        AddFound({candidate.start, end, FrameKind::Rtu, good, false});
}

bool FrameAssembler::IsEcho(uint64_t start, std::span<const uint8_t> frame, bool ascii) {
    if (!awaited.active || awaited.ascii != ascii ||
        !std::equal(frame.begin(), frame.end(), awaited.bytes.begin(), awaited.bytes.end()) ||
        StampAt(start).steadyUs > awaited.endUs + kEchoSlackUs)
        return false;
    // A write's reply is the request again: it counts as the echo only on a
    // line that has shown it echoes.
    if (ReplyEchoesRequest(awaited.function) && !echoSeen) return false;
    echoSeen = true;
    return true;
}

void FrameAssembler::AddFound(const Found& frame) {
    auto place = std::upper_bound(found.begin(), found.end(), frame.start,
                                  [](uint64_t start, const Found& f) { return start < f.start; });
    found.insert(place, frame);
}

uint64_t FrameAssembler::FirstOpen() const {
    // Starts whose every end has passed hold nothing up any more; the rest
    // are in order of their start.
    const uint64_t last = base + pending.size() - 1;
    while (!open.empty() && (open.front().start < base || open.front().lastEnd <= last))
        open.pop_front();
    const uint64_t first = open.empty() ? kNoStart : open.front().start;
    return asciiOpen ? std::min(first, asciiStart) : first;
}

void FrameAssembler::Emit(std::vector<LineFrame>& out) {
    while (!found.empty()) {
        const Found frame = found.front();
        if (frame.start < base) {
            found.erase(found.begin());
            continue;
        }
        // A frame that may still be going on around this one comes first.
        if (!pending.empty() && FirstOpen() < frame.start) break;
        if (frame.start > base) EmitBytes(base, frame.start, FrameKind::NoFrame, false, false, out);
        EmitBytes(frame.start, frame.end, frame.kind, frame.checkGood, frame.echo, out);
        Consume(frame.end);
    }
}

void FrameAssembler::Cap(std::vector<LineFrame>& out) {
    // No frame is longer: bytes that no start still open can take go as
    // bytes, a frame's worth at a time.
    const uint64_t end = base + pending.size();
    if (pending.size() < Rules::kLargestRtuFrame + Rules::kLongestHeader) return;
    uint64_t keep = std::min(end - Rules::kLongestHeader, FirstOpen());
    if (!found.empty()) keep = std::min(keep, found.front().start);
    if (keep - base < Rules::kLargestRtuFrame) return;
    EmitBytes(base, base + Rules::kLargestRtuFrame, FrameKind::NoFrame, false, false, out);
    Consume(base + Rules::kLargestRtuFrame);
}

bool FrameAssembler::QuietEnds() const {
    // A frame of a function without a length rule: its CRC checks and
    // nothing of a known length is still going on from its first byte.
    return pending.size() >= 4 && found.empty() && FirstOpen() != base &&
           Rules::RtuCheckGood(pending);
}

void FrameAssembler::EndQuiet(std::vector<LineFrame>& out) {
    EmitBytes(base, base + pending.size(), FrameKind::Rtu, true, false, out);
    Consume(base + pending.size());
}

void FrameAssembler::EndAll(std::vector<LineFrame>& out) {
    if (!pending.empty()) {
        // Nothing more comes: what is still open cannot end by content.
        open.clear();
        asciiOpen = false;
        Emit(out);
    }
    if (!pending.empty()) {
        const auto rest = Bytes(base, base + pending.size());
        const Rules::RtuLengths lengths = Rules::RtuFrameLengths(rest);
        if (rest.size() >= 4 && Rules::RtuCheckGood(rest))
            EmitBytes(base, base + rest.size(), FrameKind::Rtu, true, false, out);
        else if (lengths.Known() && (lengths.request == rest.size() || lengths.reply == rest.size()))
            EmitBytes(base, base + rest.size(), FrameKind::Rtu, false, false, out);
        else
            EmitBytes(base, base + rest.size(), FrameKind::NoFrame, false, false, out);
    }
    base += pending.size();
    pending.clear();
    runs.clear();
    found.clear();
    open.clear();
    asciiOpen = false;
}

void FrameAssembler::Consume(uint64_t to) {
    pending.erase(pending.begin(), pending.begin() + static_cast<ptrdiff_t>(to - base));
    base = to;
    while (runs.size() > 1 && runs[1].from <= base) runs.pop_front();
    if (asciiOpen && asciiStart < base) asciiOpen = false;
    while (!found.empty() && found.front().start < base) found.erase(found.begin());
}

void FrameAssembler::EmitBytes(uint64_t start, uint64_t end, FrameKind kind, bool checkGood,
                               bool echo, std::vector<LineFrame>& out) {
    LineFrame frame;
    frame.kind = kind;
    frame.checkGood = checkGood;
    frame.echo = echo;
    frame.first = StampAt(start);
    frame.last = StampAt(end - 1);
    for (const Run& run : runs)
        if (run.from <= start) frame.lines = run.lines;
    const auto bytes = Bytes(start, end);
    frame.bytes.assign(bytes.begin(), bytes.end());
    Classify(frame);
    out.push_back(std::move(frame));
}

void FrameAssembler::Classify(LineFrame& frame) {
    if (!frame.IsModbus() || frame.echo) return;
    // The frame as long as it would be in RTU, station and function first.
    std::vector<uint8_t> decoded;
    std::span<const uint8_t> rtu = frame.bytes;
    if (frame.kind == FrameKind::Ascii) {
        Rules::ReadAsciiFrame(frame.bytes, decoded);
        decoded.push_back(0);  // the LRC's byte and one more take the CRC's place
        rtu = decoded;
    }
    if (rtu.size() < 4) return;
    const uint8_t station = rtu[0], function = rtu[1] & ~kExceptionBit;
    const bool ascii = frame.kind == FrameKind::Ascii;
    if (awaited.active && awaited.ascii == ascii && station == awaited.station &&
        function == awaited.function) {
        frame.role = FrameRole::Reply;
        // A pseudo-terminal hands the request over at once, not in its wire time.
        frame.responseUs = std::max<int64_t>(0, frame.first.steadyUs - awaited.endUs);
        frame.request = awaited.bytes;
        awaited.active = false;
        return;
    }
    // Between other devices on the bus: a request, or the reply to the
    // request seen last, by the lengths the function allows.
    const Rules::RtuLengths lengths = Rules::RtuFrameLengths(rtu);
    const bool asRequest = lengths.request == rtu.size() && !(rtu[1] & kExceptionBit);
    const bool asReply = lengths.reply == rtu.size();
    if (asReply && bus.active && station == bus.station && function == bus.function) {
        frame.role = FrameRole::Reply;
        frame.responseUs = std::max<int64_t>(0, frame.first.steadyUs - bus.endUs);
        frame.request = bus.bytes;
        bus.active = false;
    } else if (asRequest) {
        frame.role = FrameRole::Request;
        bus = {true, station, function, frame.bytes, frame.last.steadyUs};
    } else if (asReply) {
        frame.role = FrameRole::Reply;
    }
}

void FrameAssembler::GiveUp(int64_t atUs, std::vector<LineFrame>& out) {
    LineFrame frame;
    frame.kind = FrameKind::NoReply;
    frame.first = frame.last = Later(awaited.start, atUs - awaited.start.steadyUs);
    frame.request = awaited.bytes;
    awaited.active = false;
    out.push_back(std::move(frame));
}

LineStamp FrameAssembler::StampAt(uint64_t at) const {
    for (auto run = runs.rbegin(); run != runs.rend(); ++run) {
        if (run->from > at) continue;
        if (run->count <= 1) return run->first;
        // Bytes read together crossed the line between the run's two stamps.
        const int64_t index = static_cast<int64_t>(at - run->from);
        const int64_t span = static_cast<int64_t>(run->count - 1);
        return {run->first.wallUs + (run->last.wallUs - run->first.wallUs) * index / span,
                run->first.steadyUs + (run->last.steadyUs - run->first.steadyUs) * index / span};
    }
    return {};
}

std::span<const uint8_t> FrameAssembler::Bytes(uint64_t start, uint64_t end) const {
    return std::span(pending).subspan(static_cast<size_t>(start - base),
                                      static_cast<size_t>(end - start));
}
