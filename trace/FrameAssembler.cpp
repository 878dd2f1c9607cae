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

constexpr uint8_t kRequestForm = 1, kReplyForm = 2;

// The length of the frame of no length rule that `bytes` hold: its CRC
// checks at its end. Zeros after a frame (a line without bias, a break)
// keep its CRC checking, so they are not taken. 0: the CRC does not check.
size_t CheckedLength(std::span<const uint8_t> bytes) {
    if (bytes.size() < 4 || !Rules::RtuCheckGood(bytes)) return 0;
    size_t length = bytes.size();
    while (length > 4 && bytes[length - 1] == 0 && Rules::RtuCheckGood(bytes.first(length - 1)))
        --length;
    return length;
}

LineStamp Later(LineStamp stamp, int64_t us) { return {stamp.wallUs + us, stamp.steadyUs + us}; }

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

FrameAssembler::FrameAssembler() : interFrameUs(InterFrameUs(line)) {}

void FrameAssembler::LineOpened(const DCB& opened, std::vector<LineFrame>& out) {
    EndAll(out);
    line = opened;
    interFrameUs = InterFrameUs(line);
    // Another line, perhaps another adapter: what was awaited and learned
    // of the last one no longer holds.
    awaited.active = false;
    echoSeen = false;
}

void FrameAssembler::Sent(LineStamp started, uint8_t lines, std::span<const uint8_t> bytes,
                          std::vector<LineFrame>& out) {
    EndAll(out);
    if (awaited.active) GiveUp(started.steadyUs, out);
    sentUs = started.steadyUs + 1;

    LineFrame frame;
    frame.sent = true;
    frame.first = started;
    frame.last = Later(started, WireUs(line, bytes.size() > 0 ? bytes.size() - 1 : 0));
    frame.lines = lines;
    frame.bytes.assign(bytes.begin(), bytes.end());
    std::vector<uint8_t> rtu;
    if (Rules::ReadAsciiFrame(bytes, rtu)) {
        frame.kind = FrameKind::Ascii;
        frame.checkGood = Rules::AsciiCheckGood(rtu);
        rtu.push_back(0);  // the LRC and one more byte stand where the CRC would
    } else if (bytes.size() >= 4 && Rules::RtuCheckGood(bytes)) {
        frame.kind = FrameKind::Rtu;
        frame.checkGood = true;
        rtu.assign(bytes.begin(), bytes.end());
    } else if (Rules::RtuFrameLengths(bytes).request == bytes.size()) {
        frame.kind = FrameKind::Rtu;  // a request with a wrong CRC
    }
    if (frame.IsModbus()) frame.role = FrameRole::Request;

    // A request the master expects an answer to (not a broadcast).
    if (frame.IsModbus() && frame.checkGood && rtu.size() >= 4 && rtu[0] != 0) {
        awaited.active = true;
        awaited.watched = false;
        awaited.echoTaken = false;
        awaited.ascii = frame.kind == FrameKind::Ascii;
        awaited.replyLength = awaited.ascii ? 0 : Rules::RtuReplyLength(bytes);
        awaited.bytes = frame.bytes;
        awaited.rtu = std::move(rtu);
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
    if (!pending.empty() && !continues) Silence(first.steadyUs - lastByteUs, out);
    if (awaited.active && first.steadyUs >= awaited.deadlineUs) GiveUp(awaited.deadlineUs, out);
    // The read's last byte crossed the line as the bytes were found waiting
    // (`first`: the engine may then wait for its owner before it reads
    // them), the ones before it back to back, none before the last read's end.
    runs.push_back({base + pending.size(), first, lastReadUs, sentUs, lines, bytes.size()});
    lastReadUs = first.steadyUs;
    lastByteUs = last.steadyUs;
    for (uint8_t byte : bytes) Take(byte, out);
}

int64_t FrameAssembler::Deadline() const {
    int64_t deadline = kNever;
    if (!pending.empty()) {
        // A frame of known length waits across a pause for its last bytes;
        // the pause itself is seen when the bytes after it come.
        const bool waits = paused || FirstOpen() != kNoStart;
        deadline =
            lastByteUs + (waits ? kReplyTimeoutUs : std::max(kHandOverSilenceUs, interFrameUs));
        if (QuietLength() != 0) deadline = std::min(deadline, lastByteUs + interFrameUs);
    }
    if (awaited.active) deadline = std::min(deadline, awaited.deadlineUs);
    return deadline;
}

void FrameAssembler::Expire(int64_t nowUs, std::vector<LineFrame>& out) {
    if (!pending.empty()) Silence(nowUs - lastByteUs, out);
    if (awaited.active && nowUs >= awaited.deadlineUs) GiveUp(awaited.deadlineUs, out);
}

void FrameAssembler::Finish(std::vector<LineFrame>& out) { EndAll(out); }

void FrameAssembler::Silence(int64_t silentUs, std::vector<LineFrame>& out) {
    if (silentUs >= interFrameUs && QuietLength() != 0) EndQuiet(out);
    if (pending.empty()) return;
    if (silentUs >= kReplyTimeoutUs) {
        EndAll(out);
    } else if (silentUs >= std::max(kHandOverSilenceUs, interFrameUs) && !paused) {
        // A pause in the hand-over: what can still end by content waits,
        // the rest ends now.
        if (FirstOpen() == kNoStart) {
            EndAll(out);
        } else {
            paused = true;
            pauseAt = base + pending.size();
            pauseStart = FirstOpen();
        }
    }
}

void FrameAssembler::Take(uint8_t byte, std::vector<LineFrame>& out) {
    const uint64_t at = base + pending.size();
    pending.push_back(byte);
    TakeAscii(at, byte, out);

    // Starts whose length needed this byte, then the start whose function
    // this byte is.
    // Neither an examination nor a check adds to the lists of this byte.
    std::vector<Recheck>& due = examineAt[at % kRing];
    for (const Recheck& recheck : due)
        if (recheck.start >= base) Examine(recheck.start, recheck.forms);
    due.clear();
    if (at > base) Examine(at - 1, kRequestForm | kReplyForm);

    std::vector<Candidate>& ends = endsAt[at % kRing];
    for (const Candidate& candidate : ends)
        if (candidate.start >= base && candidate.start + candidate.length - 1 == at)
            CheckEnd(candidate, out);
    ends.clear();

    Emit(out);
    if (paused) ResolvePause(out);
    Cap(out);
}

void FrameAssembler::TakeAscii(uint64_t at, uint8_t byte, std::vector<LineFrame>& out) {
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
        if (byte == '\n' && Rules::ReadAsciiFrame(chars, decoded)) {
            const bool echo = IsEcho(asciiStart, chars, true);
            const bool good = Rules::AsciiCheckGood(decoded);
            AddFound({asciiStart, at + 1, FrameKind::Ascii, good, echo, {}, {}}, out);
        }
        return;
    }
    if (byte == '\r')
        asciiCr = true;
    else if (!IsHexDigit(byte) || at - asciiStart >= Rules::kLargestAsciiFrame)
        asciiOpen = false;
}

void FrameAssembler::Examine(uint64_t start, uint8_t forms) {
    // Most bytes of a stream start nothing: no station, or no function.
    if (!Rules::MayStartRtuFrame(pending[start - base], pending[start - base + 1])) return;
    const uint64_t end = base + pending.size();
    const auto header = Bytes(start, end);
    uint64_t lastEnd = 0;
    auto add = [&](size_t length, Form form) {
        if (length < 4 || length > Rules::kLargestRtuFrame) return;
        const uint64_t at = start + length - 1;
        endsAt[at % kRing].push_back({start, static_cast<uint16_t>(length), form});
        lastEnd = std::max(lastEnd, at);
    };

    const bool answers = awaited.active && !awaited.ascii && header[0] == awaited.rtu[0] &&
                         (header[1] & ~kExceptionBit) == awaited.rtu[1];
    if (answers && (header[1] & kExceptionBit)) {
        add(5, Form::Expected);
    } else if (answers && awaited.replyLength != 0) {
        // The reply to the request just sent: its length is known exactly,
        // so a CRC that checks by chance before it cuts nothing.
        add(awaited.replyLength, Form::Expected);
        if (!awaited.watched && awaited.bytes.size() != awaited.replyLength)
            add(awaited.bytes.size(), Form::Echo);
    } else {
        const Rules::RtuLengths lengths = Rules::RtuFrameLengths(header);
        uint8_t waiting = 0;
        size_t need = SIZE_MAX;
        if (forms & kRequestForm) {
            if (lengths.requestNeed != 0) {
                waiting |= kRequestForm;
                need = std::min(need, lengths.requestNeed);
            } else {
                add(lengths.request, Form::Other);
            }
        }
        if (forms & kReplyForm) {
            if (lengths.replyNeed != 0) {
                waiting |= kReplyForm;
                need = std::min(need, lengths.replyNeed);
            } else if (lengths.reply != lengths.request || !(forms & kRequestForm)) {
                add(lengths.reply, answers ? Form::Expected : Form::Other);
            }
        }
        if (waiting != 0) {
            const uint64_t at = end + need - 1;
            examineAt[at % kRing].push_back({start, waiting});
            // Held open until its length is told.
            lastEnd = std::max(lastEnd, at);
        }
    }
    if (lastEnd == 0) return;
    auto place = open.end();
    while (place != open.begin() && std::prev(place)->start > start) --place;
    open.insert(place, {start, lastEnd});
}

void FrameAssembler::CheckEnd(const Candidate& candidate, std::vector<LineFrame>& out) {
    const uint64_t end = candidate.start + candidate.length;
    const auto frame = Bytes(candidate.start, end);
    if (IsEcho(candidate.start, frame, false)) {
        AddFound({candidate.start, end, FrameKind::Rtu, true, true, {}, {}}, out);
        return;
    }
    // Where the reply is awaited only the echo is this long.
    if (candidate.form == Form::Echo) return;
    const bool good = Rules::RtuCheckGood(frame);
    // Bytes where the reply was awaited, as long as it was, are the reply
    // with a bad check; elsewhere a failed check means no frame starts
    // there. Across a pause in the hand-over only a check that holds joins.
    const bool acrossPause = paused && candidate.start < pauseAt && end > pauseAt;
    if (good || (candidate.form == Form::Expected && !acrossPause))
        AddFound({candidate.start, end, FrameKind::Rtu, good, false, {}, {}}, out);
}

bool FrameAssembler::IsEcho(uint64_t start, std::span<const uint8_t> frame, bool ascii) {
    if (!awaited.active || awaited.watched || awaited.echoTaken || awaited.ascii != ascii ||
        !std::ranges::equal(frame, awaited.bytes) ||
        StampAt(start).steadyUs > awaited.endUs + kEchoSlackUs)
        return false;
    // A write's reply is the request again: it counts as the echo only on a
    // line that has shown it echoes.
    if (Rules::ReplyRepeatsRequest(awaited.rtu[1]) && !echoSeen) return false;
    echoSeen = true;
    awaited.echoTaken = true;
    return true;
}

void FrameAssembler::AddFound(Found frame, std::vector<LineFrame>& out) {
    auto place = std::upper_bound(found.begin(), found.end(), frame.start,
                                  [](uint64_t start, const Found& f) { return start < f.start; });
    if (place != found.begin() && std::prev(place)->start == frame.start) {
        // Two frames at one start: one that checks beats one that does not,
        // and the longer of two that check holds the other's CRC by chance.
        Found& other = *std::prev(place);
        if (other.checkGood ? !frame.checkGood || other.end >= frame.end : !frame.checkGood) return;
        awaited = other.before;
        found.erase(std::prev(place));
        place = std::upper_bound(found.begin(), found.end(), frame.start,
                                 [](uint64_t start, const Found& f) { return start < f.start; });
    }
    frame.before = awaited;
    frame.meaning = Classify(Bytes(frame.start, frame.end), frame.kind, frame.checkGood, frame.echo,
                             StampAt(frame.start), out);
    found.insert(place, std::move(frame));
}

FrameAssembler::Meaning FrameAssembler::Classify(std::span<const uint8_t> bytes, FrameKind kind,
                                                 bool checkGood, bool echo, LineStamp first,
                                                 std::vector<LineFrame>& out) {
    Meaning meaning;
    if ((kind != FrameKind::Rtu && kind != FrameKind::Ascii) || echo) return meaning;
    // The frame as long as it would be in RTU, station and function first.
    std::vector<uint8_t> rtu;
    const bool ascii = kind == FrameKind::Ascii;
    if (ascii) {
        Rules::ReadAsciiFrame(bytes, rtu);
        rtu.push_back(0);
    } else {
        rtu.assign(bytes.begin(), bytes.end());
    }
    if (rtu.size() < 4) return meaning;
    if (awaited.active && awaited.ascii == ascii && first.steadyUs < awaited.deadlineUs &&
        Rules::ReplyFits(awaited.rtu, rtu)) {
        meaning.role = FrameRole::Reply;
        // A pseudo-terminal hands a request over at once, not in its wire
        // time: its reply can come before the request would have ended.
        meaning.responseUs = std::max<int64_t>(0, first.steadyUs - awaited.endUs);
        meaning.request = awaited.bytes;
        awaited.active = false;
        return meaning;
    }
    const Rules::RtuLengths lengths = Rules::RtuFrameLengths(rtu);
    const bool asRequest = lengths.request == rtu.size() && !(rtu[1] & kExceptionBit);
    if (asRequest) {
        meaning.role = FrameRole::Request;
        // Another master's request: its reply is awaited in its stead.
        if (checkGood && rtu[0] != 0 && (!awaited.active || awaited.watched)) {
            if (awaited.active) GiveUp(first.steadyUs, out);
            awaited.active = true;
            awaited.watched = true;
            awaited.ascii = ascii;
            awaited.echoTaken = false;
            awaited.replyLength = ascii ? 0 : Rules::RtuReplyLength(rtu);
            awaited.bytes.assign(bytes.begin(), bytes.end());
            awaited.rtu = std::move(rtu);
            awaited.start = first;
            const int64_t lastStartUs = first.steadyUs + WireUs(line, bytes.size() - 1);
            awaited.endUs = lastStartUs + CharacterUs();
            awaited.deadlineUs = awaited.endUs + kReplyTimeoutUs;
        }
    } else if (lengths.reply == rtu.size()) {
        meaning.role = FrameRole::Reply;
    }
    return meaning;
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

bool FrameAssembler::HeldAt(const Found& frame) const {
    // A frame waits for one that may still be going on around it: one that
    // starts before it, or a longer one at its own start.
    const uint64_t first = FirstOpen();
    if (first < frame.start) return true;
    const uint64_t last = base + pending.size() - 1;
    for (const Open& o : open) {
        if (o.start > frame.start) break;
        if (o.start == frame.start && o.lastEnd >= frame.end && o.lastEnd > last) return true;
    }
    return false;
}

void FrameAssembler::Emit(std::vector<LineFrame>& out, uint64_t limit) {
    while (!found.empty()) {
        const Found& frame = found.front();
        if (frame.start < base) {
            found.erase(found.begin());
            continue;
        }
        if (frame.end > limit || (!pending.empty() && HeldAt(frame))) break;
        if (frame.start > base) EmitBytes(base, frame.start, FrameKind::NoFrame, false, out);
        const uint64_t end = frame.end;
        EmitFound(frame, out);
        Consume(end);
    }
}

void FrameAssembler::ResolvePause(std::vector<LineFrame>& out) {
    // Once the frame open first at the pause can no longer end after it,
    // the bytes before the pause end as silence would have ended them,
    // unless a frame that checks runs across it.
    const uint64_t last = base + pending.size() - 1;
    if (asciiOpen && asciiStart == pauseStart) return;
    for (const Open& o : open)
        if (o.start == pauseStart && o.lastEnd > last) return;
    paused = false;
    for (const Found& frame : found)
        if (frame.start < pauseAt && frame.end > pauseAt) return;
    if (pauseAt > base) EndBefore(pauseAt, out);
}

void FrameAssembler::Cap(std::vector<LineFrame>& out) {
    // No frame is longer: bytes that no start still open can take go as
    // bytes, a frame's worth at a time.
    const uint64_t end = base + pending.size();
    if (pending.size() < Rules::kLargestRtuFrame + Rules::kLongestHeader) return;
    uint64_t keep = std::min(end - Rules::kLongestHeader, FirstOpen());
    if (!found.empty()) keep = std::min(keep, found.front().start);
    if (keep - base < Rules::kLargestRtuFrame) return;
    EmitBytes(base, base + Rules::kLargestRtuFrame, FrameKind::NoFrame, false, out);
    Consume(base + Rules::kLargestRtuFrame);
}

size_t FrameAssembler::QuietLength() const {
    // A frame of a function without a length rule: its CRC checks and
    // nothing of a known length is still going on from its first byte.
    if (pending.size() < 4 || !found.empty() || FirstOpen() == base) return 0;
    return CheckedLength(pending);
}

void FrameAssembler::EndQuiet(std::vector<LineFrame>& out) {
    const uint64_t end = base + QuietLength();
    EmitBytes(base, end, FrameKind::Rtu, true, out);
    Consume(end);
    if (!pending.empty()) {
        EmitBytes(base, base + pending.size(), FrameKind::NoFrame, false, out);
        Consume(base + pending.size());
    }
}

void FrameAssembler::EndBefore(uint64_t at, std::vector<LineFrame>& out) {
    // Nothing before `at` ends after it: what content found there goes, and
    // what is not in such a frame is a frame of no length rule whose CRC
    // checks, bytes as long as a frame of their function with a bad check,
    // or bytes.
    while (!open.empty() && open.front().start < at) open.pop_front();
    if (asciiOpen && asciiStart < at) asciiOpen = false;
    Emit(out, at);
    if (base >= at) return;
    const auto rest = Bytes(base, at);
    const Rules::RtuLengths lengths = Rules::RtuFrameLengths(rest);
    const size_t good = CheckedLength(rest);
    if (good != 0) {
        EmitBytes(base, base + good, FrameKind::Rtu, true, out);
        if (good < rest.size()) EmitBytes(base + good, at, FrameKind::NoFrame, false, out);
    } else if (lengths.Known() &&
               (lengths.request == rest.size() || lengths.reply == rest.size())) {
        EmitBytes(base, at, FrameKind::Rtu, false, out);
    } else {
        EmitBytes(base, at, FrameKind::NoFrame, false, out);
    }
    Consume(at);
}

void FrameAssembler::EndAll(std::vector<LineFrame>& out) {
    if (!pending.empty()) EndBefore(base + pending.size(), out);
    runs.clear();
    found.clear();
    open.clear();
    asciiOpen = false;
    paused = false;
}

void FrameAssembler::Consume(uint64_t to) {
    pending.erase(pending.begin(), pending.begin() + static_cast<ptrdiff_t>(to - base));
    base = to;
    while (runs.size() > 1 && runs[1].from <= base) runs.pop_front();
    if (asciiOpen && asciiStart < base) asciiOpen = false;
    while (!found.empty() && found.front().start < base) found.erase(found.begin());
}

void FrameAssembler::EmitFound(const Found& found, std::vector<LineFrame>& out) {
    LineFrame frame;
    frame.kind = found.kind;
    frame.checkGood = found.checkGood;
    frame.echo = found.echo;
    frame.role = found.meaning.role;
    frame.responseUs = found.meaning.responseUs;
    frame.request = found.meaning.request;
    frame.first = StampAt(found.start);
    frame.last = StampAt(found.end - 1);
    for (const Run& run : runs)
        if (run.from <= found.start) frame.lines = run.lines;
    const auto bytes = Bytes(found.start, found.end);
    frame.bytes.assign(bytes.begin(), bytes.end());
    out.push_back(std::move(frame));
}

void FrameAssembler::EmitBytes(uint64_t start, uint64_t end, FrameKind kind, bool checkGood,
                               std::vector<LineFrame>& out) {
    Found bytes{start, end, kind, checkGood, false, {}, {}};
    bytes.meaning = Classify(Bytes(start, end), kind, checkGood, false, StampAt(start), out);
    EmitFound(bytes, out);
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
    for (size_t i = runs.size(); i-- > 0;) {
        const Run& run = runs[i];
        if (run.from > at) continue;
        // Back to back up to the read, but not before the last read's end;
        // a start is the time a byte's start bit began.
        const int64_t character = CharacterUs();
        const int64_t index = static_cast<int64_t>(at - run.from);
        const int64_t fromEnd = static_cast<int64_t>(run.count) - index;
        const int64_t startUs = std::max(std::min(std::max(run.read.steadyUs - fromEnd * character,
                                                           run.floorUs + index * character),
                                                  run.read.steadyUs - character),
                                         run.notBeforeUs);
        return Later(run.read, startUs - run.read.steadyUs);
    }
    return {};
}

std::span<const uint8_t> FrameAssembler::Bytes(uint64_t start, uint64_t end) const {
    return std::span(pending).subspan(static_cast<size_t>(start - base),
                                      static_cast<size_t>(end - start));
}
