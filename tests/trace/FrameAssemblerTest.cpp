// Frames found in the line as hardware hands it over: pieces cut by a UART's
// FIFO trigger or a USB adapter's 16 ms timer, frames back to back, noise,
// echoes, text. Times are microseconds of a 9600 8N1 line (a character is
// 1042 us).
#include "trace/FrameAssembler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "tools/ChecksumTool.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr int64_t kChar = 1042;

Bytes WithCrc(Bytes bytes) {
    const uint16_t crc = ChecksumTool::Crc16(bytes.data(), static_cast<uint32_t>(bytes.size()));
    bytes.push_back(static_cast<uint8_t>(crc));
    bytes.push_back(static_cast<uint8_t>(crc >> 8));
    return bytes;
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

Bytes Slice(const Bytes& bytes, size_t from, size_t to) {
    return Bytes(bytes.begin() + static_cast<ptrdiff_t>(from),
                 bytes.begin() + static_cast<ptrdiff_t>(std::min(to, bytes.size())));
}

std::string Hex(const Bytes& bytes) {
    std::string text;
    char digits[4];
    for (uint8_t byte : bytes) {
        std::snprintf(digits, sizeof digits, "%02x", byte);
        text += text.empty() ? "" : " ";
        text += digits;
    }
    return text;
}

// One line a frame: the way, the kind ("!" for a bad check), the role, the
// echo, the bytes; bytes that form no frame merge with their neighbours.
std::vector<std::string> Lines(const std::vector<LineFrame>& frames) {
    std::vector<std::string> lines;
    bool lastNone = false;
    Bytes none;
    auto flush = [&] {
        if (lastNone) lines.push_back("R none " + std::to_string(none.size()));
        none.clear();
        lastNone = false;
    };
    for (const LineFrame& f : frames) {
        if (f.kind == FrameKind::NoFrame && !f.sent) {
            none.insert(none.end(), f.bytes.begin(), f.bytes.end());
            lastNone = true;
            continue;
        }
        flush();
        static const char* const kinds[] = {"rtu", "ascii", "none", "noreply"};
        static const char* const roles[] = {"", " request", " reply"};
        std::string line = std::string(f.sent ? "S " : "R ") + kinds[static_cast<int>(f.kind)] +
                           (f.BadCheck() ? "!" : "") + roles[static_cast<int>(f.role)] +
                           (f.echo ? " echo" : "");
        if (f.responseUs >= 0) line += " +" + std::to_string(f.responseUs / 1000) + "ms";
        lines.push_back(line + (f.bytes.empty() ? "" : " " + Hex(f.bytes)));
    }
    flush();
    return lines;
}

struct Step {
    enum Kind { Tx, Rx, Clock, Open } kind;
    int64_t at;
    Bytes bytes = {};
};

TEST(FrameAssembler, FramesAreFoundByTheirContent) {
    const Bytes request = {0x01, 0x03, 0x00, 0x00, 0x00, 0x0a, 0xc5, 0xcd};
    Bytes values;
    for (int v = 1000; v < 1010; ++v) values.insert(values.end(), {uint8_t(v >> 8), uint8_t(v)});
    const Bytes reply = WithCrc(Join({{0x01, 0x03, 0x14}, values}));
    // The CRC of its first six bytes stands where a request's would: only
    // the reply's length rule keeps it whole.
    const Bytes head = {0x01, 0x03, 0x14, 0x03, 0xe8, 0x03};
    const Bytes chance = WithCrc(Join({WithCrc(head), Bytes(15, 0x55)}));
    const Bytes otherRequest = WithCrc({0x07, 0x04, 0x00, 0x10, 0x00, 0x01});
    const Bytes asciiRequest = Text(":010300000001FB\r\n");
    const Bytes asciiReply = Text(":010302006496\r\n");
    // Register values that happen to read as a whole request of station 1.
    const Bytes holding = WithCrc(Join({{0x07, 0x03, 0x14}, request, Bytes(12, 0)}));
    const Bytes write = WithCrc({0x01, 0x06, 0x00, 0x01, 0x12, 0x34});
    const Bytes write2 = WithCrc({0x01, 0x06, 0x00, 0x01, 0x12, 0x35});
    const Bytes fileWrite = WithCrc({0x01, 0x15, 0x0d, 0x06, 0x00, 0x04, 0x00, 0x07, 0x00, 0x03,
                                     0x06, 0xaf, 0x04, 0xbe, 0x10, 0x0d});
    const Bytes readWrite = WithCrc(
        {0x01, 0x17, 0x00, 0x03, 0x00, 0x01, 0x00, 0x0e, 0x00, 0x02, 0x04, 0x00, 0xff, 0x00, 0xff});
    const Bytes readWriteReply = WithCrc({0x01, 0x17, 0x02, 0x00, 0xfe});
    const Bytes deviceId = WithCrc({0x01, 0x2b, 0x0e, 0x01, 0x00});
    const Bytes deviceIdException = WithCrc({0x01, 0xab, 0x01});
    const Bytes userDefined = WithCrc({0x01, 0x41, 0x12, 0x34});
    const Bytes spoiled = Join({Slice(reply, 0, 24), {uint8_t(reply[24] ^ 0xff)}});
    const Bytes broadcast = WithCrc({0x00, 0x06, 0x00, 0x01, 0x12, 0x34});
    const std::string R = "S rtu request " + Hex(request);
    const struct {
        const char* name;
        std::vector<Step> steps;
        std::vector<std::string> frames;
    } rows[] = {
        {"NoiseBeforeAFrame",
         {{Step::Tx, 0, request}, {Step::Rx, 42000, Join({{0xff, 0x00}, reply})}},
         {R, "R none 2", "R rtu reply +7ms " + Hex(reply)}},
        {"AsciiCutAnywhere",
         {{Step::Tx, 0, asciiRequest},
          {Step::Rx, 20000, Slice(asciiReply, 0, 1)},
          {Step::Rx, 36000, Slice(asciiReply, 1, 9)},
          {Step::Rx, 52000, Slice(asciiReply, 9, 15)}},
         {"S ascii request " + Hex(asciiRequest), "R ascii reply +1ms " + Hex(asciiReply)}},
        {"TextIsNoFrame",
         {{Step::Tx, 0, Text("AT\r\n")}, {Step::Rx, 5000, Text("你好\r\nOK\r\n")}},
         {"S none 41 54 0d 0a", "R none 12"}},
        {"ACrcByChanceDoesNotCutTheReply",
         {{Step::Tx, 0, request}, {Step::Rx, 40000, chance}},
         {R, "R rtu reply +5ms " + Hex(chance)}},
        {"BadCheckWhereTheReplyIsAwaited",
         {{Step::Tx, 0, request}, {Step::Rx, 40000, Join({Slice(reply, 0, 24), {0x00}})}},
         {R, "R rtu! reply +5ms " + Hex(Join({Slice(reply, 0, 24), {0x00}}))}},
        {"NoFrameEndsAt256BytesAndTheNextIsWhole",
         {{Step::Rx, 0, Join({Bytes(300, 0xff), otherRequest})}},
         {"R none 300", "R rtu request " + Hex(otherRequest)}},
        {"AFrameInsideAnotherIsPartOfIt",
         {{Step::Rx, 0, holding}},
         {"R rtu reply " + Hex(holding)}},
        {"AWritesReplyIsNoEchoOnALineThatDoesNotEcho",
         {{Step::Tx, 0, write}, {Step::Rx, 9000, write}},
         {"S rtu request " + Hex(write), "R rtu reply +0ms " + Hex(write)}},
        {"NoReplyInASecond", {{Step::Tx, 0, request}, {Step::Clock, 1100000}}, {R, "R noreply"}},
        // A write of file records is answered with its own bytes: no echo
        // on a line that has not shown one.
        {"FileRecordWriteAnsweredByItsBytes",
         {{Step::Tx, 0, fileWrite}, {Step::Rx, 45000, fileWrite}},
         {"S rtu request " + Hex(fileWrite), "R rtu reply +7ms " + Hex(fileWrite)}},
        // What one line showed, and the request it left unanswered, say
        // nothing of the next line: there another master's request is a
        // request, whatever this program sent before.
        {"AnEchoingLineThenAnotherLine",
         {{Step::Tx, 0, write},
          {Step::Rx, 8400, write},
          {Step::Rx, 17000, write},
          {Step::Tx, 100000, request},
          {Step::Open, 150000},
          {Step::Rx, 200000, request},
          {Step::Rx, 240000, reply}},
         {"S rtu request " + Hex(write), "R rtu echo " + Hex(write),
          "R rtu reply +0ms " + Hex(write), R, "R rtu request " + Hex(request),
          "R rtu reply +13ms " + Hex(reply)}},
        {"ReadWriteOfOneRegister",
         {{Step::Tx, 0, readWrite}, {Step::Rx, 30000, readWriteReply}},
         {"S rtu request " + Hex(readWrite), "R rtu reply +5ms " + Hex(readWriteReply)}},
        {"ExceptionOfDeviceIdentification",
         {{Step::Tx, 0, deviceId}, {Step::Rx, 20000, deviceIdException}},
         {"S rtu request " + Hex(deviceId), "R rtu reply +7ms " + Hex(deviceIdException)}},
        // A line without bias reads zeros after the last frame: they keep
        // its CRC checking but are not part of it. A frame of a function
        // without a rule is a request when nothing is awaited.
        {"ZerosAfterAFrame",
         {{Step::Rx, 5000, Join({userDefined, {0, 0, 0}})},
          {Step::Rx, 200000, Join({otherRequest, {0, 0}})}},
         {"R rtu request " + Hex(userDefined), "R none 3", "R noreply",
          "R rtu request " + Hex(otherRequest), "R none 2"}},
        // Another master: the write that got no reply does not pair with
        // the next, and each later write pairs with its own reply.
        {"WatchedWriteUnansweredThenAnswered",
         {{Step::Rx, 10000, write},
          {Step::Rx, 300000, write2},
          {Step::Rx, 312500, write2},
          {Step::Rx, 600000, write},
          {Step::Rx, 612500, write}},
         {"R rtu request " + Hex(write), "R noreply", "R rtu request " + Hex(write2),
          "R rtu reply +4ms " + Hex(write2), "R rtu request " + Hex(write),
          "R rtu reply +4ms " + Hex(write)}},
        {"ChanceCrcInAWatchedReply",
         {{Step::Rx, 10000, request}, {Step::Rx, 40000, chance}},
         {"R rtu request " + Hex(request), "R rtu reply +3ms " + Hex(chance)}},
        {"BadCheckOfAWatchedReply",
         {{Step::Rx, 10000, request}, {Step::Rx, 40000, spoiled}},
         {"R rtu request " + Hex(request), "R rtu! reply +3ms " + Hex(spoiled)}},
        // A reader that woke late reads the spoiled reply and the next
        // request together.
        {"BadCheckOfAWatchedReplyReadWithTheNextRequest",
         {{Step::Rx, 10000, request}, {Step::Rx, 120000, Join({spoiled, otherRequest})}},
         {"R rtu request " + Hex(request), "R rtu! reply +75ms " + Hex(spoiled),
          "R rtu request " + Hex(otherRequest)}},
        // A busy reader or a USB host holds the last byte back for 60 ms.
        {"PauseBeforeTheLastByte",
         {{Step::Rx, 20000, Slice(readWrite, 0, readWrite.size() - 1)},
          {Step::Rx, 80000, Slice(readWrite, readWrite.size() - 1, readWrite.size())},
          {Step::Clock, 2000000}},
         {"R rtu request " + Hex(readWrite), "R noreply"}},
        {"ABroadcastIsNotAnswered",
         {{Step::Tx, 0, broadcast}, {Step::Clock, 1100000}},
         {"S rtu request " + Hex(broadcast)}},
    };
    for (const auto& row : rows) {
        FrameAssembler assembler;
        std::vector<LineFrame> frames;
        assembler.LineOpened(DCB{9600, 8, NOPARITY, ONESTOPBIT}, frames);
        for (const Step& step : row.steps) {
            const LineStamp at{step.at, step.at};
            if (step.kind == Step::Tx) assembler.Sent(at, 0, step.bytes, frames);
            if (step.kind == Step::Rx) assembler.Received(at, at, 0, step.bytes, false, frames);
            if (step.kind == Step::Clock) assembler.Expire(step.at, frames);
            if (step.kind == Step::Open)
                assembler.LineOpened(DCB{9600, 8, NOPARITY, ONESTOPBIT}, frames);
        }
        assembler.Finish(frames);
        EXPECT_EQ(Lines(frames), row.frames) << row.name;
    }
}

// A bus as it went: each frame from its first start bit, and whether this
// program sent it (the rest it reads: slaves, another master, an adapter's
// echo). At 9600 8N1 a character is 1042 us.
struct Wire {
    int64_t at;
    Bytes bytes;
    bool sent;
};
struct Bus {
    std::vector<Wire> wire;
    int64_t now = 3000;
    Bus& Put(int64_t gapUs, const Bytes& bytes, bool sent = false) {
        wire.push_back({now += gapUs, bytes, sent});
        now += static_cast<int64_t>(bytes.size()) * kChar;
        return *this;
    }
    // Sent through an adapter that gives it back as it goes out.
    Bus& Echoed(int64_t gapUs, const Bytes& bytes) {
        Put(gapUs, bytes, true);
        wire.push_back({now - static_cast<int64_t>(bytes.size() - 1) * kChar, bytes, false});
        now += kChar;
        return *this;
    }
};

// What the frames window reads: the way, the role ("stray": a reply that
// answers nothing), "!" for a bad check, and the bytes.
std::vector<std::string> Roles(const std::vector<LineFrame>& frames) {
    std::vector<std::string> lines;
    for (const LineFrame& f : frames) {
        std::string line = f.sent ? "S " : "R ";
        if (f.kind == FrameKind::NoReply) {
            lines.push_back(line + "noreply");
            continue;
        }
        if (!f.IsModbus()) {
            lines.push_back(line + "none " + std::to_string(f.bytes.size()));
            continue;
        }
        line += f.echo                         ? "echo"
                : f.role == FrameRole::Request ? "request"
                : f.role != FrameRole::Reply   ? "frame"
                : f.request.empty()            ? "stray"
                                               : "reply";
        lines.push_back(line + (f.BadCheck() ? "! " : " ") + Hex(f.bytes));
    }
    return lines;
}

// A bus's frames reach the program as each kind of hardware hands them
// over; every frame, its role and its response time must be those of the
// wire, within what the hand-over blurs.
TEST(FrameAssembler, ABusIsReadAsItWent) {
    Bytes values;
    for (int v = 0; v < 125; ++v) values.insert(values.end(), {uint8_t(v >> 8), uint8_t(v)});
    const Bytes q3 = WithCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x01}),
                r3 = WithCrc({0x01, 0x03, 0x02, 0x03, 0xe8}), x3 = WithCrc({0x01, 0x83, 0x02}),
                q15 = WithCrc({0x01, 0x0f, 0x00, 0x00, 0x00, 0x0a, 0x02, 0xff, 0x03}),
                r15 = WithCrc({0x01, 0x0f, 0x00, 0x00, 0x00, 0x0a}),
                q16 = WithCrc({0x01, 0x10, 0x00, 0x00, 0x00, 0x02, 0x04, 0x00, 0x01, 0x00, 0x02}),
                r16 = WithCrc({0x01, 0x10, 0x00, 0x00, 0x00, 0x02}),
                w5 = WithCrc({0x01, 0x05, 0x00, 0x03, 0xff, 0x00}),
                w6 = WithCrc({0x01, 0x06, 0x00, 0x01, 0x00, 0x2a}),
                q10 = WithCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x0a}),
                r10 = WithCrc(Join({{0x01, 0x03, 0x14}, Slice(values, 0, 20)})),
                q125 = WithCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x7d}),
                r125 = WithCrc(Join({{0x01, 0x03, 0xfa}, values})),
                broadcast = WithCrc({0x00, 0x06, 0x00, 0x01, 0x00, 0x07}),
                q17 = WithCrc({0x11, 0x03, 0x00, 0x6b, 0x00, 0x03}),
                r17 = WithCrc({0x11, 0x03, 0x06, 0x02, 0x2b, 0x00, 0x00, 0x00, 0x64}),
                short17 = WithCrc({0x11, 0x03, 0x02, 0x00, 0x17}),
                q17far = WithCrc({0x11, 0x03, 0x70, 0x00, 0x00, 0x03}),
                x17 = WithCrc({0x11, 0x83, 0x02}),
                q4 = WithCrc({0x11, 0x04, 0x00, 0x08, 0x00, 0x01}),
                r4 = WithCrc({0x11, 0x04, 0x02, 0x00, 0x0a}),
                count17 = WithCrc(
                    {0x11, 0x10, 0x00, 0x01, 0x00, 0x02, 0x05, 0x00, 0x0a, 0x01, 0x02, 0x03}),
                x17count = WithCrc({0x11, 0x90, 0x03}), q42 = WithCrc({0x11, 0x42, 0x00, 0x00}),
                x42 = WithCrc({0x11, 0xc2, 0x01}),
                q18 = WithCrc({0x12, 0x03, 0x00, 0x01, 0x00, 0x02}),
                r18 = WithCrc({0x12, 0x03, 0x04, 0x00, 0x01, 0x00, 0x02}),
                r2 = WithCrc({0x02, 0x03, 0x02, 0x00, 0x05});
    auto S = [](const std::string& role, const Bytes& b) { return "S " + role + " " + Hex(b); };
    auto R = [](const std::string& role, const Bytes& b) { return "R " + role + " " + Hex(b); };
    constexpr int64_t kTurn = 4000, kPoll = 50000;
    const struct {
        const char* name;
        Bus bus;
        std::vector<std::string> truth;
    } rows[] = {
        {"FivePolls",
         Bus()
             .Put(0, q125)
             .Put(kTurn, r125)
             .Put(kPoll, q3)
             .Put(kTurn, r3)
             .Put(kPoll, w6)
             .Put(kTurn, w6)
             .Put(kPoll, q3)
             .Put(kTurn, x3),
         {R("request", q125), R("reply", r125), R("request", q3), R("reply", r3), R("request", w6),
          R("reply", w6), R("request", q3), R("reply", x3)}},
        {"AnEchoLongerThanItsReply",
         Bus()
             .Echoed(0, q3)
             .Put(kTurn, r3)
             .Echoed(kPoll, q15)
             .Put(kTurn, r15)
             .Echoed(kPoll, q16)
             .Put(kTurn, r16)
             .Echoed(kPoll, q3)
             .Put(kTurn, x3),
         {S("request", q3), R("echo", q3), R("reply", r3), S("request", q15), R("echo", q15),
          R("reply", r15), S("request", q16), R("echo", q16), R("reply", r16), S("request", q3),
          R("echo", q3), R("reply", x3)}},
        {"AnEchoOnALineThatOnlyWrites",
         Bus().Echoed(0, w5).Put(kTurn, w5).Echoed(kPoll, w6).Put(kTurn, w6),
         {S("request", w5), R("echo", w5), R("reply", w5), S("request", w6), R("echo", w6),
          R("reply", w6)}},
        {"ABroadcastThenARetryWithinASecond",
         Bus().Put(0, broadcast).Put(300000, q17).Put(500000, q17).Put(kTurn, r17),
         {R("request", broadcast), R("request", q17), "R noreply", R("request", q17),
          R("reply", r17)}},
        {"AReplyAfterTheMastersTimeout",
         Bus().Put(0, q17).Put(1300000, r17).Put(200000, q4).Put(kTurn, r4),
         {R("request", q17), "R noreply", R("stray", r17), R("request", q4), R("reply", r4)}},
        {"ACaptureStartsInAReply",
         Bus()
             .Put(0, Slice(r10, 13, 25))
             .Put(kPoll, q3)
             .Put(kTurn, r3)
             .Put(kPoll, q3)
             .Put(kTurn, r3),
         {"R none 12", R("request", q3), R("reply", r3), R("request", q3), R("reply", r3)}},
        {"ACaptureStartsInAWriteRequest",
         Bus()
             .Put(0, Slice(w6, 3, 8))
             .Put(kTurn, w6)
             .Put(kPoll, w6)
             .Put(kTurn, w6)
             .Put(kPoll, w6)
             .Put(kTurn, w6),
         {"R none 5", R("stray", w6), R("request", w6), R("reply", w6), R("request", w6),
          R("reply", w6)}},
        {"AShortReplyThenTheNextRequest500msLater",
         Bus().Put(0, q17).Put(kTurn, short17).Put(500000, q17far).Put(kTurn, x17),
         {R("request", q17), R("reply", short17), R("request", q17far), R("reply", x17)}},
        {"ARequestSoonAfterAnUnansweredOneItsReplyGlued",
         Bus().Put(0, q18).Put(900000, q18).Put(2 * kChar, r18),
         {R("request", q18), "R noreply", R("request", q18), R("reply", r18)}},
        {"AReplyCutShortAndTheNextExchange20msLater",
         Bus().Put(0, q10).Put(kTurn, Slice(r10, 0, 10)).Put(20000, q3).Put(kTurn, r3),
         {R("request", q10), "R none 10", "R noreply", R("request", q3), R("reply", r3)}},
        {"AWriteWithAWrongByteCountAndAnUnknownFunction",
         Bus().Put(0, count17).Put(kTurn, x17count).Put(kPoll, q42).Put(kTurn, x42),
         {R("request", count17), R("reply", x17count), R("request", q42), R("reply", x42)}},
        {"AReplyFromAnotherStation",
         Bus().Put(0, q3).Put(kTurn, r2).Put(200000, q3).Put(kTurn, r3),
         {R("request", q3), R("stray", r2), "R noreply", R("request", q3), R("reply", r3)}},
    };

    // Each byte's arrival: the end of its stop bit.
    struct Byte {
        int64_t at;
        uint8_t value;
    };
    // Hand-overs: the frame at its last byte; a 16550A at its 8th byte or 4
    // characters after the last; a USB adapter what came by each 16 ms tick.
    using HandOver = std::function<int64_t(const std::vector<Byte>&, size_t)>;
    const HandOver perFrame = [](const std::vector<Byte>& wire, size_t i) {
        return i + 1 == wire.size() || wire[i + 1].at - wire[i].at > kChar ? wire[i].at : -1;
    };
    const HandOver fifo = [held = size_t{0}](const std::vector<Byte>& wire, size_t i) mutable {
        ++held;
        const bool timeout = i + 1 == wire.size() || wire[i + 1].at > wire[i].at + 4 * kChar;
        if (held < 8 && !timeout) return int64_t{-1};
        const int64_t handed = held == 8 ? wire[i].at : wire[i].at + 4 * kChar;
        held = 0;
        return handed;
    };
    const HandOver usb = [](const std::vector<Byte>& wire, size_t i) {
        const int64_t tick = (wire[i].at - 7000) / 16000 * 16000 + 16000 + 7000;
        return i + 1 == wire.size() || wire[i + 1].at > tick ? tick : int64_t{-1};
    };
    const struct {
        const char* name;
        HandOver handOver;
        int64_t toleranceUs;
    } handOvers[] = {
        {"OneWriteAFrame", perFrame, kChar + 1000},
        {"Uart16550A", fifo, 5 * kChar},
        {"UsbLatency16ms", usb, 16000 + kChar},
    };
    for (const auto& row : rows) {
        std::vector<Byte> wire;
        for (const Wire& w : row.bus.wire)
            for (size_t i = 0; i < w.bytes.size() && !w.sent; ++i)
                wire.push_back({w.at + static_cast<int64_t>(i + 1) * kChar, w.bytes[i]});
        std::stable_sort(wire.begin(), wire.end(),
                         [](const Byte& a, const Byte& b) { return a.at < b.at; });
        for (auto [name, handOver, tolerance] : handOvers) {
            const std::string where = std::string(row.name) + " " + name;
            FrameAssembler assembler;
            std::vector<LineFrame> frames;
            assembler.LineOpened(DCB{9600, 8, NOPARITY, ONESTOPBIT}, frames);
            auto sent = row.bus.wire.begin();
            auto sendUpTo = [&](int64_t at) {
                for (; sent != row.bus.wire.end() && sent->at <= at; ++sent) {
                    if (!sent->sent) continue;
                    assembler.Expire(sent->at, frames);
                    assembler.Sent({sent->at, sent->at}, 0, sent->bytes, frames);
                }
            };
            Bytes read;
            for (size_t i = 0; i < wire.size(); ++i) {
                read.push_back(wire[i].value);
                const int64_t handed = handOver(wire, i);
                if (handed < 0) continue;
                sendUpTo(handed);
                assembler.Expire(handed, frames);
                assembler.Received({handed, handed}, {handed, handed}, 0, read, false, frames);
                read.clear();
            }
            sendUpTo(INT64_MAX);
            assembler.Expire(row.bus.now + 3000000, frames);
            assembler.Finish(frames);
            EXPECT_EQ(Roles(frames), row.truth) << where;

            // A reply's time, from the truth's request's last stop bit to
            // its first start bit: each line of the truth is a frame of the
            // wire, in the order they began, but for "no reply".
            if (Roles(frames) != row.truth) continue;
            std::vector<const Wire*> order;
            for (const Wire& w : row.bus.wire) order.push_back(&w);
            std::stable_sort(order.begin(), order.end(),
                             [](const Wire* a, const Wire* b) { return a->at < b->at; });
            const Wire* asked = nullptr;
            for (size_t k = 0, w = 0; k < frames.size(); ++k) {
                if (frames[k].kind == FrameKind::NoReply) continue;
                const Wire& on = *order[w++];
                if (row.truth[k].find(" request ") != std::string::npos) asked = &on;
                if (row.truth[k].find(" reply ") == std::string::npos) continue;
                const int64_t truth =
                    on.at - asked->at - static_cast<int64_t>(asked->bytes.size()) * kChar;
                EXPECT_NEAR(frames[k].responseUs, truth, tolerance)
                    << where << " " << Hex(on.bytes);
            }
        }
    }
}

}  // namespace
