// Finds the Modbus frames in what crosses the line and what each is to the
// exchange. Two stages, each keeping every explanation still in the running
// and committing only what they all agree on:
//
// Framing proposes. At each start it lists what the bytes could be: every
// length a rule allows for a request, a reply or an exception, the reply
// awaited by the request this program sent, an echo of that request, an
// ASCII frame from ':' to CR LF, and a frame of no length rule whose CRC
// holds at a silence or where the next frame starts. Each reading has a
// cost, and the cheapest sequence of readings and loose bytes explains the
// stretch (a Viterbi search over byte positions, two states each: the last
// byte ended a frame, or was loose).
//
// Pairing decides. Over the frames framing committed, in wire order, it
// keeps the cheapest explanation of the exchange for each state of the line
// (idle, or awaiting the reply to one request, with or without that
// request's echo still to come). Roles, pairs, echoes and "no reply" rows
// follow from the chosen path only, never from a flag an earlier guess set.
//
// Times are put back on the wire: the last byte of a read crossed at the
// read, each byte before it one character earlier, none before the last
// read's end.
//
// Invariants a row can be checked against (costs in hundredths):
//   framing: a frame whose check holds, of a length its function's rule gives,
//            or the exact copy of the request sent ........................ -1000
//            a frame whose CRC holds but of no length rule (an unknown
//            function, a byte count against the quantity), ending at a
//            silence: -600; elsewhere ....................................... -300
//            a frame whose check fails, of its rule's length or of the
//            awaited reply's, with silence before and after it: +200; the
//            awaited reply's elsewhere: +1200; any other elsewhere ....... no frame
//            a run of bytes in no frame: +800, and +5 a byte
//            a silence of 40 ms or more inside a frame whose check holds: +800;
//            inside one whose check fails ................................ no frame
//            a silence of a reply timeout inside a frame ......... never a frame
//   pairing: a reply: 50 x log2(1 + its response time in ms), +100 when
//            its length does not fit the request (same station and function)
//            a request that gets no reply ..................................... +200
//            a frame whose check holds that answers nothing: +600; the first
//            of a line that began with part of a frame (its request went
//            before the line opened): +100;
//            one that fits the request awaited ............................. +1100
//            a request of no length rule ...................................... +100
//            an echo: 0; one that starts later than kEchoSlackUs after its
//            request's end (a busy adapter or pseudo-terminal) .............. +300
//   An echo is a copy of the request sent, starting before that request has
//   ended on the wire or within kEchoSlackUs after; a request has one echo.
//   A reply starts after its request did and before its reply timeout ends.
//   Nothing is committed while an explanation in the running disagrees on
//   it, unless a reply timeout has passed over it or the window grew too big.
//
// Not thread-safe; no I/O. Frames come out in the order they crossed the line.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <deque>
#include <span>
#include <vector>

#include "serial/CommLayer.h"
#include "serial/LineTap.h"
#include "trace/LineFrame.h"

class FrameAssembler {
public:
    // Silence inside a frame up to this long is the hand-over's (a USB
    // adapter's 16 ms latency timer), not the line's; longer costs.
    static constexpr int64_t kHandOverSilenceUs = 40000;
    // A request with no reply in this time is unanswered; no frame spans a
    // silence this long.
    static constexpr int64_t kReplyTimeoutUs = 1000000;
    // An echo of the request starts while the request is on the wire, or
    // up to this much later (an adapter's own hand-over).
    static constexpr int64_t kEchoSlackUs = 20000;
    static constexpr int64_t kNever = INT64_MAX;

    // How long `count` characters take on `line`: start bit, data bits,
    // parity and stop bits at its speed.
    static int64_t WireUs(const DCB& line, size_t count);
    // 3.5 characters, at least 1.75 ms: the silence between RTU frames.
    static int64_t InterFrameUs(const DCB& line);

    FrameAssembler();

    void LineOpened(const DCB& line, std::vector<LineFrame>& out);
    void Sent(LineStamp started, uint8_t lines, std::span<const uint8_t> bytes,
              std::vector<LineFrame>& out);
    void Received(LineStamp first, LineStamp last, uint8_t lines, std::span<const uint8_t> bytes,
                  bool continues, std::vector<LineFrame>& out);

    // When, on the monotonic clock, what is open ends if nothing comes first.
    int64_t Deadline() const;
    // What is due by `nowSteadyUs` ends.
    void Expire(int64_t nowSteadyUs, std::vector<LineFrame>& out);
    // Everything open ends now; the request awaited is still awaited.
    void Finish(std::vector<LineFrame>& out);

private:
    // ---- the line's clock ----
    // Bytes read together; the last crossed the line at `read`.
    struct Run {
        uint64_t from;
        LineStamp read;
        int64_t floorUs;      // the first byte did not start before the last read's end
        int64_t notBeforeUs;  // nor before the last frame sent began, however fast a pty is
        int64_t silenceUs;    // the line's silence before its first byte, as far as known
        uint8_t lines;
        size_t count;
    };
    LineStamp StampAt(uint64_t at) const;
    int64_t CharacterUs() const { return WireUs(line, 1); }
    // The longest silence before a read that starts inside (start, end).
    int64_t SilenceWithin(uint64_t start, uint64_t end) const;

    // ---- framing ----
    enum class Reading : uint8_t { Rule, Awaited, Echo, NoRule, Ascii, Loose };
    struct Candidate {
        uint64_t start;
        uint16_t length;
        Reading reading;
    };
    // The cheapest explanation of the bytes before a position, ending with a
    // frame (F) or with a loose byte (L).
    struct Cell {
        int64_t costF, costL;
        uint64_t fromF;    // F: where the frame began
        Reading readingF;  // F: what the frame was read as
        bool checkF;       // F: its check held
        bool prevLoose;    // F: the state before the frame
        bool prevLooseL;   // L: the state before the byte
        bool runStartL;    // L: the byte begins a run of loose bytes
    };
    struct Open {
        uint64_t start, lastEnd;  // the last byte the start may still end at
    };
    struct Anchor {
        uint64_t start;
        uint16_t crc;
    };
    struct Deferred {  // readings ending at the last byte read: is silence next?
        uint64_t start;
        Reading reading;
        bool checkGood;
    };

    void Take(uint8_t byte);
    void TakeAscii(uint64_t at, uint8_t byte);
    void Examine(uint64_t start, uint8_t forms);
    void CheckEnd(const Candidate& candidate);
    void Propose(uint64_t start, uint64_t end, Reading reading, bool checkGood, bool silenceAfter);
    void ResolveDeferred(bool silenceAfter);
    void LookAhead(uint64_t at);
    void AddAnchor(uint64_t at);
    bool BoundaryAt(uint64_t at) const;
    Cell& CellAt(uint64_t at) { return cells[at - base]; }
    const Cell& CellAt(uint64_t at) const { return cells[at - base]; }
    void OnSilence(int64_t silentUs);
    // Commits what every explanation in the running agrees on; everything
    // when `all`.
    void CommitFraming(bool all);
    void Trim(uint64_t to, bool loose);
    std::span<const uint8_t> Bytes(uint64_t start, uint64_t end) const;

    // ---- pairing ----
    struct Item {
        LineFrame frame;
        int64_t startUs = 0, endUs = 0;  // on the wire
        std::vector<uint8_t> rtu;        // ASCII: as it would be in RTU, two check bytes last
        bool requestForm = false, replyForm = false, tick = false;
        std::span<const uint8_t> Rtu() const {
            return frame.kind == FrameKind::Ascii ? std::span<const uint8_t>(rtu) : frame.bytes;
        }
    };
    struct Request {
        uint32_t id;
        bool sent, ascii;
        std::vector<uint8_t> bytes, rtu;  // rtu: ASCII only
        LineStamp start;
        int64_t endUs, deadlineUs;
        std::span<const uint8_t> Rtu() const {
            return ascii ? std::span<const uint8_t>(rtu) : std::span<const uint8_t>(bytes);
        }
    };
    enum class Role : uint8_t { None, Request, Reply, Unpaired, Echo, RoleByForm };
    struct Decision {
        Role role = Role::None;
        uint32_t pairedWith = 0;  // Reply: the request's id
        uint32_t noReply = 0;     // a request left unanswered before this item, 0: none
        int64_t noReplyUs = 0;
    };
    struct Node {
        uint32_t awaiting;  // 0: idle
        uint32_t echoOf;    // the sent request whose echo may still come, 0: none
        int64_t cost;
        int32_t prev;  // in the column before
        Decision decision;
    };
    // The explanations still in the running after an item, one for each
    // state of the line: a handful at most.
    struct Column {
        static constexpr size_t kMost = 6;
        std::array<Node, kMost> nodes;
        size_t count = 0;
        Node* begin() { return nodes.data(); }
        Node* end() { return nodes.data() + count; }
        const Node* begin() const { return nodes.data(); }
        const Node* end() const { return nodes.data() + count; }
        size_t size() const { return count; }
        Node& operator[](size_t i) { return nodes[i]; }
        const Node& operator[](size_t i) const { return nodes[i]; }
        void Add(const Node& node);
        template <typename Drop>
        void DropIf(Drop drop) {
            count = static_cast<size_t>(std::remove_if(begin(), end(), drop) - begin());
        }
    };
    void PairCommitted();
    void PairTick(int64_t atUs, std::vector<LineFrame>& out);
    void Step(Item item);
    void CommitPairing(bool all, std::vector<LineFrame>& out);
    void EmitColumn(size_t column, const Decision& decision, std::vector<LineFrame>& out);
    const Request* FindRequest(uint32_t id) const;
    uint32_t AddRequest(const Item& item);
    void ForgetRequests();
    Item ItemOf(uint64_t start, uint64_t end, FrameKind kind, bool checkGood);

    DCB line;
    int64_t interFrameUs;

    std::vector<uint8_t> pending;        // received, not yet committed; pending[0] is at `base`
    std::vector<Cell> cells;             // cells[i]: before pending[i]; one more than pending
    std::vector<uint16_t> registers{0};  // the CRC16 register before pending[i], from one origin
    uint64_t base = 0;
    bool originLoose = false;  // the state at `base`
    std::deque<Run> runs;
    int64_t lastByteUs = 0;   // when the last bytes were read
    int64_t lastReadUs = 0;   // the wire time of the last byte read
    int64_t sentUs = 0;       // just after the last frame sent began
    int64_t silenceSeen = 0;  // how long the line has been silent, as applied
    uint64_t readEnd = 0;     // just past the last byte of the read being taken
    std::vector<Candidate> endsAt[512];
    std::vector<std::pair<uint64_t, uint8_t>> examineAt[512];
    std::vector<Open> open;
    std::vector<Anchor> anchors;
    std::vector<Deferred> deferred;
    struct Ahead {  // a frame that fails its check, within a read: what follows it?
        uint64_t start, end;
    };
    std::vector<Ahead> aheadOf;
    uint64_t asciiStart = 0;
    bool asciiOpen = false, asciiCr = false;
    std::vector<Item> committed;  // framing's output, handed to pairing

    // What this program sent last, for its echo and its reply's length.
    struct SentFrame {
        bool active = false, ascii = false;
        std::vector<uint8_t> bytes;
        size_t replyLength = 0;
        int64_t endUs = 0;
        uint8_t station = 0, function = 0;
    } sent;

    std::vector<Request> requests;
    uint32_t nextRequestId = 1;
    std::deque<Item> items;            // not yet decided, in wire order
    std::deque<Column> columns;        // one an undecided item; columns.back(): now
    Column survivors;                  // the state before any undecided item
    std::vector<size_t> alive, chain;  // scratch
    std::vector<uint32_t> kept;        // scratch
    int64_t pairingBoundUs = 0;        // nothing before this is still to come
    uint64_t framesSeen = 0;           // received since the line opened
    bool looseFirst = false;           // bytes in no frame came before the first
};
