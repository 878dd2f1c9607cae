// The simulator's command line and its framing, without a device: whole and
// split requests in both framings, and each fault it can be asked to make.
#include <gtest/gtest.h>
#include <termios.h>

#include <string>
#include <vector>

#include "sim/BusScript.h"
#include "sim/Delivery.h"
#include "sim/SimOptions.h"
#include "sim/SlaveSimulator.h"
#include "tools/ChecksumTool.h"

namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kReadRtu{0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A};
const std::string kReadAscii = ":010300000001FB\r\n";

Bytes Chars(const std::string& s) { return Bytes(s.begin(), s.end()); }

SimOptions Options(const std::vector<std::string>& args) {
    std::string error;
    auto options = ParseSimOptions(args, error);
    EXPECT_TRUE(options) << error;
    options->periodMs = 0;
    return *options;
}

struct OptionCase {
    std::vector<std::string> args;
    const char* error;  // empty: accepted
};

TEST(SimOptions, RefusesWithOneLine) {
    const OptionCase cases[] = {
        {{"--com", "7", "--stations", "1,2,247", "--bad-check", "--port-dir", "/tmp/p"}, ""},
        {{"--com", "31"}, "--com wants a whole number from 1 to 30, not 31"},
        {{"--stations", "1,,2"},
         "--stations wants numbers from 1 to 247 separated by commas, not 1,,2"},
        {{"--delay"}, "--delay needs a value (see --help)"},
        {{"--port-dir", ""}, "--port-dir needs a directory (see --help)"},
        {{"--period", "10ms"}, "--period wants a whole number from 0 to 3600000, not 10ms"},
        {{"--deliver", "serial"}, "--deliver wants write, fifo or usb, not serial"},
        {{"--turnaround", "4ms"}, "--turnaround wants milliseconds from 0 to 1000, not 4ms"},
        {{"-x"}, "unknown option -x (see --help)"},
        {{"--rough", "--echo"}, "--rough is a cycle of the bus: give --bus too"},
    };
    for (const OptionCase& c : cases) {
        std::string error;
        const bool accepted = ParseSimOptions(c.args, error).has_value();
        EXPECT_EQ(accepted, std::string(c.error).empty()) << c.args[0];
        EXPECT_EQ(error, c.error) << c.args[0];
    }
}

TEST(SlaveSimulator, AnswersEachFramingInItsOwn) {
    SlaveSimulator sim(Options({"--stations", "1"}));
    // Station 1's holding register 0 starts at 1000.
    EXPECT_EQ(sim.Take(kReadRtu.data(), kReadRtu.size()),
              (Bytes{0x01, 0x03, 0x02, 0x03, 0xE8, 0xB8, 0xFA}));
    const Bytes ascii = Chars(kReadAscii);
    EXPECT_EQ(sim.Take(ascii.data(), ascii.size()), Chars(":01030203E80F\r\n"));

    // Split anywhere, and two at once.
    Bytes both = kReadRtu;
    both.insert(both.end(), ascii.begin(), ascii.end());
    EXPECT_TRUE(sim.Take(both.data(), 5).empty());
    EXPECT_EQ(sim.Take(both.data() + 5, both.size() - 5).size(), 7u + 15u);
    EXPECT_EQ(sim.RequestsAnswered(), 4);
}

TEST(SlaveSimulator, MakesTheFaultsItIsAskedFor) {
    struct Case {
        std::vector<std::string> args;
        Bytes request;
        Bytes reply;
    };
    Bytes badCrc = kReadRtu;
    badCrc.back() ^= 1;
    Bytes otherStation{0x02, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x39};
    const Case cases[] = {
        {{"--exception", "2"}, kReadRtu, {0x01, 0x83, 0x02, 0xC0, 0xF1}},
        {{"--exception", "2"}, Chars(kReadAscii), Chars(":0183027A\r\n")},
        {{"--bad-check"}, kReadRtu, {0x01, 0x03, 0x02, 0x03, 0xE8, 0xB8, 0x05}},
        {{"--bad-check"}, Chars(kReadAscii), Chars(":01030203E810\r\n")},
        {{"--silent"}, kReadRtu, {}},
        {{}, badCrc, {}},
        {{}, otherStation, {}},
    };
    for (const Case& c : cases) {
        SlaveSimulator sim(Options(c.args));
        Bytes reply = sim.Take(c.request.data(), c.request.size());
        const Bytes quiet = sim.Quiet();
        reply.insert(reply.end(), quiet.begin(), quiet.end());
        EXPECT_EQ(reply, c.reply) << (c.args.empty() ? "plain" : c.args[0]);
    }
}

TEST(SlaveSimulator, ValuesChangeWithEachTick) {
    SlaveSimulator sim(Options({}));
    sim.Tick();
    EXPECT_EQ(sim.Take(kReadRtu.data(), kReadRtu.size())[4], 0xE9);  // 1000 became 1001
}

TEST(DeliveryPlan, PiecesAsHardwareHandsThemOver) {
    using Pieces = std::vector<std::pair<int64_t, size_t>>;  // micros from the start, bytes
    const double at9600 = CharacterMicros(CS8, 9600);        // 1041.7 us: 8N1, 10 bits
    struct Case {
        Delivery kind;
        size_t length;
        double characterMicros;
        Pieces pieces;
    };
    const Case cases[] = {
        {Delivery::Write, 25, at9600, {{0, 25}}},
        // 8, 16 and 24 character times in, and the last 4 after the 25th.
        {Delivery::Fifo, 25, at9600, {{8334, 8}, {16667, 8}, {25000, 8}, {30209, 1}}},
        {Delivery::Fifo, 16, at9600, {{8334, 8}, {16667, 8}}},
        {Delivery::Fifo, 7, CharacterMicros(CS8 | CSTOPB, 0), {{12605, 7}}},  // 11 bits at 9600
        // 15.4 characters cross the line in 16 ms.
        {Delivery::Usb, 25, at9600, {{16000, 15}, {32000, 10}}},
        // At 115200 a packet fills before the timer runs out: it goes at once.
        {Delivery::Usb,
         255,
         CharacterMicros(CS8, 115200),
         {{5382, 62}, {10764, 62}, {16000, 60}, {21355, 62}, {32000, 9}}},
        // At 300 baud a character takes 33 ms: ticks pass with nothing to send.
        {Delivery::Usb, 2, CharacterMicros(CS8, 300), {{48000, 1}, {80000, 1}}},
    };
    for (const Case& c : cases) {
        Pieces pieces;
        for (const DeliveryPiece& p : DeliveryPlan(c.kind, c.length, c.characterMicros))
            pieces.emplace_back(p.offsetMicros, p.byteCount);
        EXPECT_EQ(pieces, c.pieces) << static_cast<int>(c.kind) << " " << c.length;
    }
}

// The bus mode's cycle at 9600 baud as each adapter hands it over: every
// byte once and in order, none before its stop bit has ended, each frame's
// last byte within the adapter's own delay, and each reply 4.0 ms after its
// request. Every CRC checks but the one spoiled reply's.
TEST(BusMode, FramesReachTheReaderAtTheirWireTimes) {
    const double character = CharacterMicros(CS8, 9600);
    const auto cycle = BusCycle();
    const BusTimeline line = LayOutBus(cycle, character, 4000, 50000);
    size_t spoiled = 0;
    for (size_t i = 0, f = 0; i < cycle.size(); ++i) {
        for (const auto* frame : {&cycle[i].request, &cycle[i].reply}) {
            if (frame->empty()) continue;
            spoiled +=
                ChecksumTool::Crc16(frame->data(), static_cast<uint32_t>(frame->size())) != 0;
            if (frame == &cycle[i].reply) {
                const WireFrame& request = line.frames[f - 1];
                EXPECT_NEAR(line.frames[f].startMicros - request.startMicros -
                                static_cast<double>(request.length) * character,
                            4000, 1)
                    << i;
            }
            ++f;
        }
    }
    EXPECT_EQ(spoiled, 1u);
    const struct {
        Delivery kind;
        double slackMicros;  // the most a frame's last byte waits in the adapter
    } kinds[] = {{Delivery::Write, 1}, {Delivery::Fifo, 4 * character + 1}, {Delivery::Usb, 16000}};
    for (const auto& k : kinds) {
        std::vector<int64_t> handedAt;  // each byte's hand-over
        for (const DeliveryPiece& p : StretchDeliveryPlan(k.kind, line.frames, character))
            handedAt.insert(handedAt.end(), p.byteCount, p.offsetMicros);
        ASSERT_EQ(handedAt.size(), line.bytes.size());
        size_t b = 0;
        for (const WireFrame& frame : line.frames) {
            for (size_t k2 = 1; k2 <= frame.length; ++k2, ++b)
                EXPECT_GE(handedAt[b] + 1, frame.startMicros + k2 * character) << b;
            EXPECT_LE(handedAt[b - 1], frame.startMicros + frame.length * character + k.slackMicros)
                << static_cast<int>(k.kind) << " " << b;
        }
    }
}

// The rough cycle behind an echoing adapter: each request twice, back to
// back, every CRC good, each reply timed from its request's end across the
// echo, the late reply and the wrong station's answering nothing.
TEST(BusMode, RoughCycleBehindAnEchoingAdapter) {
    const double character = CharacterMicros(CS8, 9600);
    const BusTimeline line = LayOutBus(RoughBusCycle(), character, 4000, 50000, true);
    std::string roles;
    for (size_t f = 0, at = 0; f < line.frames.size(); at += line.frames[f++].length) {
        const uint32_t length = static_cast<uint32_t>(line.frames[f].length);
        EXPECT_EQ(ChecksumTool::Crc16(line.bytes.data() + at, length), 0) << f;
        roles += "qerU"[static_cast<int>(line.played[f].role)];
        if (line.played[f].role == PlayedFrame::Role::Reply) {
            EXPECT_NEAR(line.played[f].responseMicros,
                        static_cast<double>(line.frames[f - 1].length) * character + 4000, 1);
        }
    }
    EXPECT_EQ(roles,
              "qer"
              "qe"
              "qer"
              "qeU"
              "qer"
              "qer"
              "qer"
              "qeU");
}

}  // namespace
