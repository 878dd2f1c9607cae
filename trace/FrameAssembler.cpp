#include "trace/FrameAssembler.h"

#include <algorithm>
#include <cmath>

#include "protocol/ModbusFrameRules.h"
#include "tools/ChecksumTool.h"

namespace Rules = ModbusFrameRules;

namespace {

constexpr int64_t kShortestInterFrameUs = 1750;
constexpr uint8_t kExceptionBit = 0x80;
constexpr uint8_t kRequestForm = 1, kReplyForm = 2;
constexpr size_t kRing = 512;
constexpr size_t kAnchors = 4;

// Framing's costs, in hundredths (the table at the head of the header).
constexpr int64_t kInfinite = INT64_MAX / 4;
constexpr int64_t kGoodFrame = -1000;
constexpr int64_t kNoRuleAtSilence = -600;
constexpr int64_t kNoRule = -300;
constexpr int64_t kBadAtSilence = 200;
constexpr int64_t kBad = 1200;
constexpr int64_t kLooseRun = 800;
constexpr int64_t kLooseByte = 5;
constexpr int64_t kSilenceInFrame = 800;
// A loose stretch this long is committed even while the line goes on.
constexpr size_t kLongestLoose = 256;
// Framing keeps no more than this many bytes undecided.
constexpr size_t kFramingWindow = 1024;

// Pairing's costs.
constexpr int64_t kNoReply = 200;
constexpr int64_t kUnpaired = 600;
constexpr int64_t kUnpairedButFits = 1100;
constexpr int64_t kFirstUnpaired = 100;
constexpr int64_t kLooseFit = 100;
constexpr int64_t kLateEcho = 300;
constexpr int64_t kRequestOfNoRule = 100;
// Explanations this much dearer than the best are dropped.
constexpr int64_t kBeam = 700;
constexpr size_t kPairingWindow = 64;

int64_t ResponseCost(int64_t us) {
    return static_cast<int64_t>(
        50.0 * std::log2(1.0 + static_cast<double>(std::max<int64_t>(us, 0)) / 1000.0));
}

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

LineStamp Later(LineStamp stamp, int64_t us) { return {stamp.wallUs + us, stamp.steadyUs + us}; }

// A CRC16 register is linear in what it held and in the bytes it took, so
// the check of any stretch follows from the registers before and after it,
// both run from one origin: over [s, e) from the initial value it ends at
// after(e) ^ Zeros(e - s, after(s) ^ initial), where Zeros(n, r) is what n
// zero bytes make of r. A frame checks where that is 0. One lookup for
// each byte of r replaces a pass over a long frame.
class CrcZeros {
public:
    CrcZeros() {
        for (unsigned v = 0; v < 256; ++v)
            low[0][v] = static_cast<uint16_t>(v), high[0][v] = static_cast<uint16_t>(v << 8);
        for (size_t n = 1; n <= Rules::kLargestRtuFrame; ++n)
            for (unsigned v = 0; v < 256; ++v) {
                low[n][v] = ChecksumTool::Crc16Step(low[n - 1][v], 0);
                high[n][v] = ChecksumTool::Crc16Step(high[n - 1][v], 0);
            }
    }
    uint16_t operator()(size_t n, uint16_t r) const {
        return static_cast<uint16_t>(low[n][r & 0xff] ^ high[n][r >> 8]);
    }

private:
    uint16_t low[Rules::kLargestRtuFrame + 1][256], high[Rules::kLargestRtuFrame + 1][256];
};
const CrcZeros kCrcZeros;
// Below this a pass over the bytes is as quick.
constexpr size_t kShortCheck = 12;

// The frame as long as it would be in RTU, station and function first, two
// check bytes last (an ASCII frame's LRC and one more).
// (An RTU frame is its own bytes.)
std::vector<uint8_t> AsciiAsRtu(std::span<const uint8_t> bytes) {
    std::vector<uint8_t> rtu;
    Rules::ReadAsciiFrame(bytes, rtu);
    rtu.push_back(0);
    return rtu;
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

FrameAssembler::FrameAssembler() : interFrameUs(InterFrameUs(line)) {
    cells.push_back({0, kInfinite, 0, Reading::Loose, false, false, false, false});
    survivors.Add({0, 0, 0, -1, {}});
}

// ---------------------------------------------------------------- the line

void FrameAssembler::LineOpened(const DCB& opened, std::vector<LineFrame>& out) {
    Finish(out);
    line = opened;
    interFrameUs = InterFrameUs(line);
    // Another line, perhaps another adapter: nothing awaited or learned of
    // the last one holds.
    sent = {};
    survivors = {};
    survivors.Add({0, 0, 0, -1, {}});
    requests.clear();
    framesSeen = 0;
    looseFirst = false;
}

void FrameAssembler::Sent(LineStamp started, uint8_t lines, std::span<const uint8_t> bytes,
                          std::vector<LineFrame>& out) {
    CommitFraming(true);
    PairCommitted();
    sentUs = started.steadyUs + 1;

    Item item;
    LineFrame& frame = item.frame;
    frame.sent = true;
    frame.first = started;
    frame.last = Later(started, WireUs(line, bytes.size() > 0 ? bytes.size() - 1 : 0));
    frame.lines = lines;
    frame.bytes.assign(bytes.begin(), bytes.end());
    std::vector<uint8_t> rtu;
    if (Rules::ReadAsciiFrame(bytes, rtu)) {
        frame.kind = FrameKind::Ascii;
        frame.checkGood = Rules::AsciiCheckGood(rtu);
        rtu.push_back(0);
    } else if (bytes.size() >= 4 && Rules::RtuCheckGood(bytes)) {
        frame.kind = FrameKind::Rtu;
        frame.checkGood = true;
    } else if (Rules::RtuFrameLengths(bytes).request == bytes.size()) {
        frame.kind = FrameKind::Rtu;  // a request with a wrong CRC
    }
    item.startUs = started.steadyUs;
    item.endUs = started.steadyUs + WireUs(line, bytes.size());
    if (frame.kind == FrameKind::Ascii) item.rtu = std::move(rtu);

    sent = {};
    if (frame.IsModbus() && item.Rtu().size() >= 4) {
        sent.active = true;
        sent.ascii = frame.kind == FrameKind::Ascii;
        sent.bytes = frame.bytes;
        sent.replyLength = sent.ascii ? 0 : Rules::RtuReplyLength(frame.bytes);
        sent.endUs = item.endUs;
        sent.station = item.Rtu()[0];
        sent.function = item.Rtu()[1];
    }
    Step(std::move(item));
    CommitPairing(true, out);
}

void FrameAssembler::Received(LineStamp first, LineStamp last, uint8_t lines,
                              std::span<const uint8_t> bytes, bool continues,
                              std::vector<LineFrame>& out) {
    if (bytes.empty()) return;
    const bool quietBefore = !pending.empty() || !deferred.empty();
    if (quietBefore && !continues) OnSilence(first.steadyUs - lastByteUs);
    // The read's last byte crossed the line as the bytes were found waiting
    // (`first`: the engine may then wait for its owner before it reads
    // them), the ones before it back to back, none before the last read's end.
    const uint64_t from = base + pending.size();
    const bool firstRead = lastReadUs == 0;
    runs.push_back({from, first, lastReadUs, sentUs, 0, lines, bytes.size()});
    const int64_t silenceUs = continues   ? 0
                              : firstRead ? kReplyTimeoutUs
                                          : StampAt(from).steadyUs - lastReadUs;
    runs.back().silenceUs = silenceUs;
    lastReadUs = first.steadyUs;
    lastByteUs = last.steadyUs;
    silenceSeen = 0;
    ResolveDeferred(silenceUs >= interFrameUs);
    if (silenceUs >= interFrameUs) AddAnchor(from);
    readEnd = from + bytes.size();
    for (uint8_t byte : bytes) Take(byte);
    CommitFraming(false);
    PairCommitted();
    if (!items.empty()) {
        pairingBoundUs = items.back().startUs;
        CommitPairing(false, out);
    }
}

int64_t FrameAssembler::Deadline() const {
    int64_t deadline = kNever;
    if (!pending.empty() || !deferred.empty()) {
        for (int64_t threshold : {interFrameUs, kHandOverSilenceUs, kReplyTimeoutUs})
            if (silenceSeen < threshold) {
                deadline = lastByteUs + threshold;
                break;
            }
    }
    // Pairing waits for framing: nothing past a byte not yet in a frame is
    // decided, so such a time is no deadline of its own.
    const int64_t framedUntil = pending.empty() ? kNever : StampAt(base).steadyUs;
    auto pairingDue = [&](int64_t at) {
        if (at <= framedUntil) deadline = std::min(deadline, at);
    };
    const Column& now = columns.empty() ? survivors : columns.back();
    for (const Node& node : now)
        if (const Request* r = node.awaiting ? FindRequest(node.awaiting) : nullptr)
            pairingDue(r->deadlineUs);
    if (!items.empty()) pairingDue(items.front().startUs + kReplyTimeoutUs);
    return deadline;
}

void FrameAssembler::Expire(int64_t nowUs, std::vector<LineFrame>& out) {
    if (!pending.empty() || !deferred.empty()) {
        OnSilence(nowUs - lastByteUs);
        PairCommitted();
    }
    // Nothing is decided past a byte that is not yet in a frame.
    const int64_t bound = pending.empty() ? nowUs : std::min(nowUs, StampAt(base).steadyUs);
    for (;;) {
        int64_t due = kNever;
        const Column& last = columns.empty() ? survivors : columns.back();
        for (const Node& node : last)
            if (const Request* r = node.awaiting ? FindRequest(node.awaiting) : nullptr)
                due = std::min(due, r->deadlineUs);
        if (due > bound) break;
        PairTick(due, out);
    }
    if (!items.empty()) {
        pairingBoundUs = bound;
        CommitPairing(false, out);
    }
}

void FrameAssembler::Finish(std::vector<LineFrame>& out) {
    CommitFraming(true);
    PairCommitted();
    CommitPairing(true, out);
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

int64_t FrameAssembler::SilenceWithin(uint64_t start, uint64_t end) const {
    if (runs.empty() || start >= runs.back().from) return 0;  // all in one read
    int64_t longest = 0;
    for (size_t i = runs.size(); i-- > 0 && runs[i].from > start;)
        if (runs[i].from < end) longest = std::max(longest, runs[i].silenceUs);
    return longest;
}

// ---------------------------------------------------------------- framing

void FrameAssembler::Take(uint8_t byte) {
    const uint64_t at = base + pending.size();
    pending.push_back(byte);
    registers.push_back(ChecksumTool::Crc16Step(registers.back(), byte));
    {
        // A loose byte: the first of a run costs the run. Loose bytes on
        // both sides of a pause are two runs.
        const Cell& before = cells.back();
        Cell next{kInfinite, kInfinite, 0, Reading::Loose, false, false, false, false};
        const bool paused = at == runs.back().from && runs.back().silenceUs >= kHandOverSilenceUs;
        const int64_t fromLoose = before.costL + (paused ? kLooseRun : 0) + kLooseByte;
        const int64_t fromFrame = before.costF + kLooseRun + kLooseByte;
        next.costL = std::min(fromLoose, fromFrame);
        next.prevLooseL = fromLoose <= fromFrame;
        next.runStartL = paused || !next.prevLooseL;
        cells.push_back(next);
    }
    TakeAscii(at, byte);
    if (!aheadOf.empty()) LookAhead(at);

    // A frame of no length rule: its CRC holds at its end, counted from a
    // place where a frame may start (a silence, the end of a frame).
    const bool lastOfRead = at + 1 == readEnd;
    uint64_t holds[kAnchors];  // proposing changes the anchors
    size_t held = 0;
    for (Anchor& anchor : anchors) {
        const uint16_t before = anchor.crc;
        // The CRC of a frame that ends in its own CRC is 0.
        anchor.crc = ChecksumTool::Crc16Step(anchor.crc, byte);
        // Zeros after a frame (a line without bias) keep its CRC holding;
        // they are not part of it.
        if (anchor.crc != 0 || at + 1 - anchor.start < 4 || (byte == 0 && before == 0)) continue;
        holds[held++] = anchor.start;
    }
    for (size_t i = 0; i < held; ++i) {
        if (lastOfRead)
            deferred.push_back({holds[i], Reading::NoRule, true});
        else
            Propose(holds[i], at + 1, Reading::NoRule, true, false);
    }
    // Anchors come in order of their place: the oldest goes first.
    while (!anchors.empty() && at + 1 - anchors.front().start >= Rules::kLargestRtuFrame)
        anchors.erase(anchors.begin());

    // Starts whose length needed this byte, then the start whose function
    // this byte is.
    auto& due = examineAt[at % kRing];
    for (const auto& [start, forms] : due)
        if (start >= base) Examine(start, forms);
    due.clear();
    if (at > base) Examine(at - 1, kRequestForm | kReplyForm);

    auto& ends = endsAt[at % kRing];
    for (const Candidate& candidate : ends)
        if (candidate.start >= base && candidate.start + candidate.length - 1 == at)
            CheckEnd(candidate);
    ends.clear();
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
        if (byte == '\n' && Rules::ReadAsciiFrame(Bytes(asciiStart, at + 1), decoded))
            Propose(asciiStart, at + 1, Reading::Ascii, Rules::AsciiCheckGood(decoded), true);
        return;
    }
    if (byte == '\r')
        asciiCr = true;
    else if (!IsHexDigit(byte) || at - asciiStart >= Rules::kLargestAsciiFrame)
        asciiOpen = false;
}

void FrameAssembler::Examine(uint64_t start, uint8_t forms) {
    const uint8_t station = pending[start - base], function = pending[start - base + 1];
    const uint64_t end = base + pending.size();
    uint64_t lastEnd = 0;
    Candidate found[4];
    size_t count = 0;
    auto add = [&](size_t length, Reading reading) {
        if (length < 4 || length > Rules::kLargestRtuFrame) return;
        for (size_t i = 0; i < count; ++i)
            if (found[i].length == length) return;
        found[count++] = {start, static_cast<uint16_t>(length), reading};
    };
    // The request this program sent: its echo, and its reply as long as
    // the request asks, besides what the rules give.
    if ((forms & kReplyForm) && sent.active && !sent.ascii && station == sent.station &&
        (function & ~kExceptionBit) == sent.function &&
        StampAt(start).steadyUs < sent.endUs + kReplyTimeoutUs) {
        add(sent.bytes.size(), Reading::Echo);
        if (!(function & kExceptionBit)) add(sent.replyLength, Reading::Awaited);
    }
    if (Rules::MayStartRtuFrame(station, function)) {
        const Rules::RtuLengths lengths = Rules::RtuFrameLengths(Bytes(start, end));
        uint8_t waiting = 0;
        size_t need = SIZE_MAX;
        if (forms & kRequestForm) {
            if (lengths.requestNeed != 0) {
                waiting |= kRequestForm;
                need = std::min(need, lengths.requestNeed);
            } else {
                add(lengths.request, Reading::Rule);
            }
        }
        if (forms & kReplyForm) {
            if (lengths.replyNeed != 0) {
                waiting |= kReplyForm;
                need = std::min(need, lengths.replyNeed);
            } else {
                add(lengths.reply, Reading::Rule);
            }
        }
        if (waiting != 0) {
            const uint64_t at = end + need - 1;
            examineAt[at % kRing].emplace_back(start, waiting);
            lastEnd = at;  // held open until its length is told
        }
    }
    for (size_t i = 0; i < count; ++i) {
        const uint64_t at = start + found[i].length - 1;
        endsAt[at % kRing].push_back(found[i]);
        lastEnd = std::max(lastEnd, at);
    }
    if (lastEnd == 0) return;
    // Unordered; what has ended goes now and then.
    if (open.size() >= 256)
        std::erase_if(open, [&](const Open& o) { return o.lastEnd < end - 1 || o.start < base; });
    open.push_back({start, lastEnd});
}

void FrameAssembler::CheckEnd(const Candidate& candidate) {
    const uint64_t end = candidate.start + candidate.length;
    const auto frame = Bytes(candidate.start, end);
    bool good;
    if (candidate.reading == Reading::Echo) {
        if (!std::ranges::equal(frame, sent.bytes)) return;
        good = true;
    } else if (candidate.length < kShortCheck) {
        good = Rules::RtuCheckGood(frame);
    } else {
        const uint16_t before = registers[candidate.start - base] ^ ChecksumTool::kCrc16Initial;
        good = (registers[end - base] ^ kCrcZeros(candidate.length, before)) == 0;
    }
    // Whether the line falls silent after a frame that fails its check is
    // told by what comes next. With more bytes right behind it (a reader
    // that woke late, a USB packet), one that begins where a frame may is
    // a frame when the next two bytes may begin one too.
    if (!good && end == readEnd)
        deferred.push_back({candidate.start, candidate.reading, false});
    else if (good || candidate.reading == Reading::Awaited)
        Propose(candidate.start, end, candidate.reading, good, false);
    else if (BoundaryAt(candidate.start))
        aheadOf.push_back({candidate.start, end});
}

bool FrameAssembler::BoundaryAt(uint64_t at) const {
    if (at == base) return true;
    for (size_t i = runs.size(); i-- > 0 && runs[i].from >= at;)
        if (runs[i].from == at) return runs[i].silenceUs >= interFrameUs;
    const Cell& cell = CellAt(at);
    return cell.costF < kInfinite && cell.checkF;
}

void FrameAssembler::Propose(uint64_t start, uint64_t end, Reading reading, bool checkGood,
                             bool silenceAfter) {
    if (start < base) return;
    // Only a check that holds joins bytes across a pause in the hand-over.
    const int64_t silence = SilenceWithin(start, end);
    if (silence >= kReplyTimeoutUs || (!checkGood && silence >= kHandOverSilenceUs)) return;
    int64_t cost;
    if (checkGood)
        cost = reading != Reading::NoRule ? kGoodFrame : silenceAfter ? kNoRuleAtSilence : kNoRule;
    else if (reading == Reading::Ascii)
        cost = kBadAtSilence;  // its colon and CR LF mark it out
    else
        cost = silenceAfter && BoundaryAt(start) ? kBadAtSilence : kBad;
    if (silence >= kHandOverSilenceUs) cost += kSilenceInFrame;
    const Cell& from = CellAt(start);
    const bool prevLoose = from.costL < from.costF;
    const int64_t before = prevLoose ? from.costL : from.costF;
    if (before >= kInfinite) return;
    Cell& to = CellAt(end);
    if (before + cost < to.costF) {
        to.costF = before + cost;
        to.fromF = start;
        to.readingF = reading;
        to.checkF = checkGood;
        to.prevLoose = prevLoose;
    }
    // A frame of a rule that holds from an anchor leaves nothing there for
    // a frame of no rule to find.
    if (checkGood && reading != Reading::NoRule && reading != Reading::Ascii)
        std::erase_if(anchors, [&](const Anchor& a) { return a.start == start; });
    if (checkGood && reading != Reading::Ascii) AddAnchor(end);
}

void FrameAssembler::AddAnchor(uint64_t at) {
    for (const Anchor& anchor : anchors)
        if (anchor.start == at) return;
    if (anchors.size() == kAnchors) anchors.erase(anchors.begin());
    anchors.push_back({at, ChecksumTool::kCrc16Initial});
}

void FrameAssembler::LookAhead(uint64_t at) {
    // A frame that fails its check ends where the next two bytes may begin
    // another: as if the line were silent there.
    std::vector<Ahead> due;
    for (size_t i = 0; i < aheadOf.size();) {
        if (aheadOf[i].end + 1 <= at) {
            due.push_back(aheadOf[i]);
            aheadOf.erase(aheadOf.begin() + static_cast<ptrdiff_t>(i));
        } else {
            ++i;
        }
    }
    for (const Ahead& a : due)
        if (a.start >= base &&
            Rules::MayStartRtuFrame(pending[a.end - base], pending[a.end + 1 - base]))
            Propose(a.start, a.end, Reading::Rule, false, true);
}

void FrameAssembler::ResolveDeferred(bool silenceAfter) {
    const uint64_t end = base + pending.size();
    std::vector<Deferred> due;
    due.swap(deferred);
    for (const Deferred& d : due) {
        if (d.reading == Reading::NoRule)
            Propose(d.start, end, Reading::NoRule, true, silenceAfter);
        else
            Propose(d.start, end, d.reading, d.checkGood, silenceAfter);
    }
}

void FrameAssembler::OnSilence(int64_t silentUs) {
    if (silentUs >= interFrameUs) ResolveDeferred(true);
    if (silentUs >= kReplyTimeoutUs) {
        silenceSeen = silentUs;
        CommitFraming(true);
        return;
    }
    if (silentUs >= kHandOverSilenceUs) {
        // A frame that ends where the line paused is over: a longer reading
        // of its bytes no longer holds commits back.
        const Cell& last = cells.back();
        if (last.costF < last.costL && last.checkF) {
            open.clear();
            asciiOpen = false;
        }
    }
    silenceSeen = std::max(silenceSeen, silentUs);
    CommitFraming(false);
}

void FrameAssembler::CommitFraming(bool all) {
    const uint64_t end = base + pending.size();
    if (all) {
        ResolveDeferred(true);
        aheadOf.clear();
        open.clear();
        asciiOpen = false;
    }
    // A place on a path: a position and whether its last byte was loose.
    struct Place {
        uint64_t at;
        bool loose;
        bool operator==(const Place&) const = default;
    };
    auto parent = [&](Place p) -> Place {
        const Cell& cell = CellAt(p.at);
        return p.loose ? Place{p.at - 1, cell.prevLooseL} : Place{cell.fromF, cell.prevLoose};
    };
    auto better = [&](uint64_t at) {
        const Cell& cell = CellAt(at);
        return Place{at, cell.costL < cell.costF};
    };
    auto meet = [&](Place a, Place b) {
        while (!(a == b)) {
            if (a.at > b.at || (a.at == b.at && a.loose))
                a = parent(a);
            else
                b = parent(b);
        }
        return a;
    };

    const Cell& last = cells.back();
    Place frontier = better(end);
    Place commit = frontier;
    if (!all) {
        // Every place a later explanation may go on from: both states at the
        // end, unless one can no longer win, and the starts still open.
        if (last.costF < kInfinite && last.costL < kInfinite &&
            last.costL < last.costF + kLooseRun && last.costF < last.costL)
            commit = meet(commit, {end, true});
        for (const Open& o : open)
            if (o.start >= base && o.lastEnd >= end) commit = meet(commit, better(o.start));
        if (asciiOpen) commit = meet(commit, better(asciiStart));
        for (const Deferred& d : deferred) commit = meet(commit, better(d.start));
        for (const Ahead& a : aheadOf) commit = meet(commit, better(a.start));
        // Loose bytes are one stretch: they may still join what comes
        // next, unless the line paused after them or they are too many.
        if (commit.loose && !(commit == frontier && silenceSeen >= kHandOverSilenceUs)) {
            Place run = commit;
            while (run.loose && run.at > base) {
                const bool first = CellAt(run.at).runStartL;
                run = parent(run);
                if (first) break;
            }
            if (commit.at - run.at < kLongestLoose) commit = run;
        }
        if (end - commit.at > kFramingWindow) {
            // Bounded: the cheapest path decides what lies far enough back.
            Place p = frontier;
            while (p.at > end - kFramingWindow / 2) p = parent(p);
            commit = p;
            open.clear();
            deferred.clear();
            aheadOf.clear();
            asciiOpen = false;
        }
    }
    if (commit.at == base) return;

    // The path from the origin to the commit, first to last.
    std::vector<Place> path;
    for (Place p = commit; p.at > base;) {
        path.push_back(p);
        p = parent(p);
    }
    std::reverse(path.begin(), path.end());
    uint64_t looseFrom = UINT64_MAX;
    auto flushLoose = [&](uint64_t to) {
        if (looseFrom == UINT64_MAX) return;
        committed.push_back(ItemOf(looseFrom, to, FrameKind::NoFrame, false));
        looseFrom = UINT64_MAX;
    };
    for (const Place& p : path) {
        if (p.loose) {
            if (CellAt(p.at).runStartL) flushLoose(p.at - 1);
            if (looseFrom == UINT64_MAX) looseFrom = p.at - 1;
            continue;
        }
        const Cell& cell = CellAt(p.at);
        flushLoose(cell.fromF);
        committed.push_back(ItemOf(
            cell.fromF, p.at, cell.readingF == Reading::Ascii ? FrameKind::Ascii : FrameKind::Rtu,
            cell.checkF));
    }
    flushLoose(commit.at);
    Trim(commit.at, commit.loose);
}

void FrameAssembler::Trim(uint64_t to, bool loose) {
    const size_t drop = static_cast<size_t>(to - base);
    const int64_t origin = loose ? CellAt(to).costL : CellAt(to).costF;
    pending.erase(pending.begin(), pending.begin() + static_cast<ptrdiff_t>(drop));
    cells.erase(cells.begin(), cells.begin() + static_cast<ptrdiff_t>(drop));
    registers.erase(registers.begin(), registers.begin() + static_cast<ptrdiff_t>(drop));
    base = to;
    originLoose = loose;
    // What is left keeps only the explanations that go through the commit;
    // a loose byte can always follow the cheapest of them.
    cells[0].costF = loose ? kInfinite : 0;
    cells[0].costL = loose ? 0 : kInfinite;
    for (size_t i = 1; i < cells.size(); ++i) {
        Cell& cell = cells[i];
        const Cell& prior = cells[i - 1];
        if (cell.costF < kInfinite) {
            const bool through =
                cell.fromF >= base &&
                (cell.prevLoose ? CellAt(cell.fromF).costL : CellAt(cell.fromF).costF) < kInfinite;
            cell.costF = through ? cell.costF - origin : kInfinite;
        }
        const int64_t fromLoose =
            prior.costL < kInfinite
                ? prior.costL + (cell.runStartL && cell.prevLooseL ? kLooseRun : 0) + kLooseByte
                : kInfinite;
        const int64_t fromFrame =
            prior.costF < kInfinite ? prior.costF + kLooseRun + kLooseByte : kInfinite;
        const bool paused = cell.runStartL && cell.prevLooseL;
        cell.costL = std::min(fromLoose, fromFrame);
        cell.prevLooseL = fromLoose <= fromFrame;
        cell.runStartL = paused || !cell.prevLooseL;
    }
    while (runs.size() > 1 && runs[1].from <= base) runs.pop_front();
    std::erase_if(anchors, [&](const Anchor& a) { return a.start < base; });
    std::erase_if(deferred, [&](const Deferred& d) { return d.start < base; });
    std::erase_if(aheadOf, [&](const Ahead& a) { return a.start < base; });
    std::erase_if(open, [&](const Open& o) { return o.start < base; });
    if (asciiOpen && asciiStart < base) asciiOpen = false;
}

std::span<const uint8_t> FrameAssembler::Bytes(uint64_t start, uint64_t end) const {
    return std::span(pending).subspan(static_cast<size_t>(start - base),
                                      static_cast<size_t>(end - start));
}

FrameAssembler::Item FrameAssembler::ItemOf(uint64_t start, uint64_t end, FrameKind kind,
                                            bool checkGood) {
    Item item;
    LineFrame& frame = item.frame;
    frame.kind = kind;
    frame.checkGood = checkGood;
    frame.first = StampAt(start);
    frame.last = StampAt(end - 1);
    for (const Run& run : runs)
        if (run.from <= start) frame.lines = run.lines;
    const auto bytes = Bytes(start, end);
    frame.bytes.assign(bytes.begin(), bytes.end());
    item.startUs = frame.first.steadyUs;
    item.endUs = item.startUs + WireUs(line, bytes.size());
    if (kind == FrameKind::Ascii) item.rtu = AsciiAsRtu(bytes);
    const auto rtu = item.Rtu();
    if (frame.IsModbus() && rtu.size() >= 4) {
        const Rules::RtuLengths lengths = Rules::RtuFrameLengths(rtu);
        item.requestForm = lengths.request == rtu.size() && !(rtu[1] & kExceptionBit);
        item.replyForm = lengths.reply == rtu.size();
    }
    return item;
}

// ---------------------------------------------------------------- pairing

const FrameAssembler::Request* FrameAssembler::FindRequest(uint32_t id) const {
    for (const Request& r : requests)
        if (r.id == id) return &r;
    return nullptr;
}

uint32_t FrameAssembler::AddRequest(const Item& item) {
    const uint32_t id = nextRequestId++;
    requests.push_back({id, item.frame.sent, item.frame.kind == FrameKind::Ascii, item.frame.bytes,
                        item.rtu, item.frame.first, item.endUs, item.endUs + kReplyTimeoutUs});
    return id;
}

void FrameAssembler::ForgetRequests() {
    if (requests.size() < 8) return;
    kept.clear();
    auto keep = [&](const Node& node) {
        for (uint32_t id :
             {node.awaiting, node.echoOf, node.decision.pairedWith, node.decision.noReply})
            if (id) kept.push_back(id);
    };
    for (const Node& node : survivors) keep(node);
    for (const auto& column : columns)
        for (const Node& node : column) keep(node);
    std::erase_if(requests, [&](const Request& r) {
        return std::find(kept.begin(), kept.end(), r.id) == kept.end();
    });
}

void FrameAssembler::PairCommitted() {
    for (Item& item : committed) Step(std::move(item));
    committed.clear();
}

void FrameAssembler::PairTick(int64_t atUs, std::vector<LineFrame>& out) {
    Item tick;
    tick.tick = true;
    tick.startUs = tick.endUs = atUs;
    Step(std::move(tick));
    pairingBoundUs = atUs;
    CommitPairing(false, out);
}

void FrameAssembler::Step(Item item) {
    const Column& before = columns.empty() ? survivors : columns.back();
    Column next;
    auto add = [&](const Node& node) { next.Add(node); };
    const LineFrame& frame = item.frame;
    const auto rtu = item.Rtu();
    const bool modbus = frame.IsModbus() && rtu.size() >= 4;
    // A copy of what this program sent, while it may still be answered, is
    // its echo or its reply: nobody else's request.
    const bool copyOfSent = !frame.sent && sent.active && frame.bytes == sent.bytes &&
                            item.startUs < sent.endUs + kReplyTimeoutUs;
    uint32_t asRequest = 0;  // the record of this frame as a request, made once
    auto requestId = [&] {
        if (!asRequest) asRequest = AddRequest(item);
        return asRequest;
    };

    for (size_t i = 0; i < before.size(); ++i) {
        Node node = before[i];
        node.prev = static_cast<int32_t>(i);
        node.decision = {};
        bool added = false;
        const Request* awaited = node.awaiting ? FindRequest(node.awaiting) : nullptr;
        if (awaited && awaited->deadlineUs <= item.startUs) {
            node.decision.noReply = node.awaiting;
            node.decision.noReplyUs = awaited->deadlineUs;
            node.cost += kNoReply;
            node.awaiting = 0;
            awaited = nullptr;
        }
        // An echo starts while its request is on the line or within the
        // adapter's hand-over; one that can be nothing else may come later,
        // from a busy adapter or pseudo-terminal, as long as a reply could.
        const Request* echoed = node.echoOf ? FindRequest(node.echoOf) : nullptr;
        if (echoed && item.startUs >= echoed->deadlineUs) {
            node.echoOf = 0;
            echoed = nullptr;
        }
        const bool lateEcho = echoed && item.startUs > echoed->endUs + kEchoSlackUs;
        if (frame.sent) {
            // What this program sends ends what was awaited before it.
            if (awaited) {
                node.decision.noReply = node.awaiting;
                node.decision.noReplyUs = std::min(awaited->deadlineUs, item.startUs);
                node.cost += kNoReply;
            }
            node.decision.role = modbus ? Role::Request : Role::None;
            const bool answered = modbus && frame.checkGood && rtu[0] != 0;
            node.awaiting = answered ? requestId() : 0;
            node.echoOf = answered ? requestId() : 0;
            add(node);
            continue;
        }
        if (item.tick || !modbus) {
            if (!item.tick && framesSeen == 0) looseFirst = true;
            node.decision.role = Role::None;
            add(node);
            continue;
        }
        const uint8_t station = rtu[0], function = rtu[1] & ~kExceptionBit;
        const bool answers = awaited && awaited->ascii == (frame.kind == FrameKind::Ascii) &&
                             awaited->Rtu()[0] == station && awaited->Rtu()[1] == function &&
                             item.startUs >= awaited->start.steadyUs;
        const bool fits = answers && Rules::ReplyFits(awaited->Rtu(), rtu);
        const bool mayReply = item.replyForm || !item.requestForm;
        const int64_t responseCost = answers ? ResponseCost(item.startUs - awaited->endUs) : 0;
        if (!frame.checkGood) {
            // A frame that fails its check answers what it fits; otherwise it
            // is what its form says, and changes nothing.
            if (answers && (fits || item.replyForm)) {
                Node reply = node;
                reply.decision.role = Role::Reply;
                reply.decision.pairedWith = node.awaiting;
                reply.cost += responseCost;
                reply.awaiting = reply.echoOf = 0;
                add(reply);
            }
            node.decision.role = Role::RoleByForm;
            if (answers && (fits || item.replyForm)) node.cost += kUnpairedButFits;
            add(node);
            continue;
        }
        if (echoed && frame.bytes == echoed->bytes) {
            Node echo = node;
            echo.decision.role = Role::Echo;
            echo.echoOf = 0;
            echo.cost += lateEcho ? kLateEcho : 0;
            add(echo);
            added = true;
        }
        if (answers && (fits || mayReply)) {
            Node reply = node;
            reply.decision.role = Role::Reply;
            reply.decision.pairedWith = node.awaiting;
            reply.cost += responseCost + (fits ? 0 : kLooseFit);
            reply.awaiting = reply.echoOf = 0;
            add(reply);
            added = true;
        }
        if ((item.requestForm || !item.replyForm) && !copyOfSent) {
            Node request = node;
            request.decision.role = Role::Request;
            if (awaited) {
                request.decision.noReply = node.awaiting;
                request.decision.noReplyUs = std::min(awaited->deadlineUs, item.startUs);
                request.cost += kNoReply;
            }
            request.cost += item.requestForm ? 0 : kRequestOfNoRule;
            // A broadcast is never answered.
            request.awaiting = station != 0 ? requestId() : 0;
            request.echoOf = 0;
            add(request);
            added = true;
        }
        if (mayReply) {
            Node stray = node;
            stray.decision.role = Role::Unpaired;
            // A line whose record begins with part of a frame was opened in
            // the middle of an exchange: its first frame may answer a
            // request that went before.
            const bool cutIn = framesSeen == 0 && looseFirst && item.replyForm;
            stray.cost += answers ? kUnpairedButFits : cutIn ? kFirstUnpaired : kUnpaired;
            add(stray);
            added = true;
        }
        if (!added) {
            // Nothing fits (a second copy of the request sent, say): the
            // frame is what its form says and changes nothing.
            node.decision.role = Role::RoleByForm;
            node.cost += kUnpaired;
            add(node);
        }
    }
    if (modbus && !frame.sent) ++framesSeen;
    int64_t best = kInfinite;
    for (const Node& node : next) best = std::min(best, node.cost);
    next.DropIf([&](const Node& node) { return node.cost > best + kBeam; });
    for (Node& node : next) node.cost -= best;
    items.push_back(std::move(item));
    columns.push_back(next);
}

void FrameAssembler::CommitPairing(bool all, std::vector<LineFrame>& out) {
    if (columns.empty()) return;
    Column& last = columns.back();
    // Each node's ancestor in the first column.
    auto ancestor = [&](size_t index, size_t column) {
        for (size_t c = columns.size() - 1; c > column; --c)
            index = static_cast<size_t>(columns[c][index].prev);
        return index;
    };
    const bool bounded =
        items.size() > kPairingWindow || items.front().startUs + kReplyTimeoutUs <= pairingBoundUs;
    if (all || bounded) {
        // The cheapest explanation decides: all of it, or the first item.
        // A reply still awaited counts as one that will not come.
        auto cost = [&](const Node& node) { return node.cost + (node.awaiting ? kNoReply : 0); };
        size_t best = 0;
        for (size_t i = 1; i < last.size(); ++i)
            if (cost(last[i]) < cost(last[best])) best = i;
        if (all) {
            const Node chosen = last[best];
            last = {};
            last.Add(chosen);
        } else {
            const size_t root = ancestor(best, 0);
            Column kept;
            for (size_t i = 0; i < last.size(); ++i)
                if (ancestor(i, 0) == root) kept.Add(last[i]);
            last = kept;
        }
    }
    // The latest column where every explanation meets.
    alive.resize(last.size());
    for (size_t i = 0; i < alive.size(); ++i) alive[i] = i;
    size_t column = columns.size();
    size_t agreed = SIZE_MAX;
    for (;;) {
        --column;
        std::sort(alive.begin(), alive.end());
        alive.erase(std::unique(alive.begin(), alive.end()), alive.end());
        if (alive.size() == 1) {
            agreed = column;
            break;
        }
        if (column == 0) break;
        for (size_t& i : alive) i = static_cast<size_t>(columns[column][i].prev);
    }
    if (agreed == SIZE_MAX) return;

    chain.resize(agreed + 1);
    chain[agreed] = alive[0];
    for (size_t c = agreed; c > 0; --c)
        chain[c - 1] = static_cast<size_t>(columns[c][chain[c]].prev);
    for (size_t c = 0; c <= agreed; ++c) EmitColumn(c, columns[c][chain[c]].decision, out);
    Node root = columns[agreed][chain[agreed]];
    root.prev = -1;
    root.decision = {};
    survivors = {};
    survivors.Add(root);
    columns.erase(columns.begin(), columns.begin() + static_cast<ptrdiff_t>(agreed + 1));
    items.erase(items.begin(), items.begin() + static_cast<ptrdiff_t>(agreed + 1));
    if (!columns.empty())
        for (Node& node : columns.front()) node.prev = 0;
    ForgetRequests();
    if (!all && !items.empty() && bounded) CommitPairing(false, out);
}

void FrameAssembler::Column::Add(const Node& node) {
    // One explanation for each state: the cheapest.
    for (Node& other : *this)
        if (other.awaiting == node.awaiting && other.echoOf == node.echoOf) {
            if (node.cost < other.cost) other = node;
            return;
        }
    if (count < kMost) {
        nodes[count++] = node;
        return;
    }
    Node* dearest = std::max_element(begin(), end(),
                                     [](const Node& a, const Node& b) { return a.cost < b.cost; });
    if (node.cost < dearest->cost) *dearest = node;
}

void FrameAssembler::EmitColumn(size_t column, const Decision& decision,
                                std::vector<LineFrame>& out) {
    if (decision.noReply) {
        const Request& r = *FindRequest(decision.noReply);
        LineFrame none;
        none.kind = FrameKind::NoReply;
        none.first = none.last = Later(r.start, decision.noReplyUs - r.start.steadyUs);
        none.request = r.bytes;
        out.push_back(std::move(none));
    }
    Item& item = items[column];
    if (item.tick) return;
    LineFrame frame = std::move(item.frame);
    switch (decision.role) {
        case Role::Request:
            frame.role = FrameRole::Request;
            break;
        case Role::Reply: {
            const Request& r = *FindRequest(decision.pairedWith);
            frame.role = FrameRole::Reply;
            // A pseudo-terminal hands a request over at once, not in its wire
            // time: its reply can come before the request would have ended.
            frame.responseUs = std::max<int64_t>(0, item.startUs - r.endUs);
            frame.request = r.bytes;
            break;
        }
        case Role::Unpaired:
            frame.role = FrameRole::Reply;
            break;
        case Role::Echo:
            frame.echo = true;
            break;
        case Role::RoleByForm:
            frame.role = item.replyForm     ? FrameRole::Reply
                         : item.requestForm ? FrameRole::Request
                                            : FrameRole::Unknown;
            break;
        case Role::None:
            if (frame.sent && frame.IsModbus()) frame.role = FrameRole::Request;
            break;
    }
    out.push_back(std::move(frame));
}
