// The capture file's bytes: the header and record layout against bytes
// written out by hand, the silence of a line, and the grouping of received
// bytes into records.
#include "serial/PcapRecords.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PcapFile.h"

namespace {

using Bytes = std::vector<uint8_t>;

TEST(PcapRecords, FileHeaderAndOneRecordByteForByte) {
    PcapRecords records;
    records.Sent(1700000000123456, LINE_CTS | LINE_DSR, Bytes{0x01, 0x03});
    const Bytes expected = {
        0xd4, 0xc3, 0xb2, 0xa1, 0x02, 0x00, 0x04, 0x00,  // magic, version 2.4
        0,    0,    0,    0,    0,    0,    0,    0,     // zone, accuracy
        0xff, 0xff, 0x00, 0x00, 0xfa, 0x00, 0x00, 0x00,  // snap length 65535, link type 250
        0x00, 0xf1, 0x53, 0x65, 0x40, 0xe2, 0x01, 0x00,  // 1700000000 s 123456 us
        0x0e, 0,    0,    0,    0x0e, 0,    0,    0,     // 14 bytes kept of 14
        0x65, 0x53, 0xf1, 0x00, 0x00, 0x01, 0xe2, 0x40,  // the same stamp, big-endian
        0x01, 0x05, 0x00, 0x00, 0x01, 0x03,              // sent, CTS and DSR, footer, data
    };
    EXPECT_EQ(records.Take(), expected);
    EXPECT_EQ(records.Take(), Bytes{});
}

TEST(PcapRecords, SilenceIsThreeAndAHalfCharactersAtLeast1750us) {
    struct Row {
        uint32_t baud;
        uint8_t dataBits, parity, stopBits;
        int64_t silenceUs;
    };
    for (const Row& row :
         {Row{9600, 8, NOPARITY, ONESTOPBIT, 3646},  // 10 bits a character
          Row{9600, 8, NOPARITY, ONE5STOPBITS, 3829},
          Row{1200, 7, EVENPARITY, TWOSTOPBITS, 32084},  // 11 bits
          Row{19200, 8, ODDPARITY, ONESTOPBIT, 2006}, Row{115200, 8, NOPARITY, ONESTOPBIT, 1750},
          Row{0, 8, NOPARITY, ONESTOPBIT, 1750}}) {
        DCB line;
        line.baudRate = row.baud;
        line.byteSize = row.dataBits;
        line.parity = row.parity;
        line.stopBits = row.stopBits;
        EXPECT_EQ(PcapRecords::SilenceUs(line), row.silenceUs) << row.baud << " baud";
    }
}

// What the engine hands over, in order.
struct Step {
    enum Kind { Open, Rx, RxGoingOn, Tx, EndIfSilent, End } kind;
    int64_t firstUs = 0;  // Open: the silence; EndIfSilent: now
    int64_t lastUs = 0;
    Bytes bytes = {};
};
Step Rx(int64_t firstUs, int64_t lastUs, Bytes bytes) { return {Step::Rx, firstUs, lastUs, bytes}; }
Bytes Count(size_t n) {
    Bytes bytes(n);
    for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(i);
    return bytes;
}

struct Expected {
    int64_t stampUs;
    uint8_t event;
    Bytes bytes = {};
};

struct GroupingRow {
    std::string name;
    std::vector<Step> steps;
    std::vector<Expected> records;
};

constexpr int64_t kSlack = 100000;

TEST(PcapRecords, ReceivedBytesAreGroupedIntoRecords) {
    const Bytes big = Count(5000), huge = Count(70000);
    const std::vector<GroupingRow> rows = {
        {"SilenceEndsARecord",
         {{Step::Open, 3646}, Rx(10, 20, {1, 2}), Rx(3666, 3666, {3}), {Step::End}},
         {{10, 2, {1, 2}}, {3666, 2, {3}}}},
        {"AShorterGapDoesNot",
         {{Step::Open, 3646}, Rx(10, 20, {1, 2}), Rx(3665, 3665, {3}), {Step::End}},
         {{10, 2, {1, 2, 3}}}},
        {"BytesWaitingAllAlongAreOneStretchAnyGap",
         {Rx(10, 20, {1}), {Step::RxGoingOn, 90000, 90000, {2}}, {Step::End}},
         {{10, 2, {1, 2}}}},
        {"ASendEndsARecordAndIsOneOfItsOwn",
         {Rx(10, 10, {1}), {Step::Tx, 11, 11, {9, 8}}, Rx(12, 12, {2}), {Step::End}},
         {{10, 2, {1}}, {11, 1, {9, 8}}, {12, 2, {2}}}},
        {"ReceivedRecordsHold4096BytesAtMost",
         {Rx(10, 50, big), {Step::End}},
         {{10, 2, Bytes(big.begin(), big.begin() + 4096)},
          {50, 2, Bytes(big.begin() + 4096, big.end())}}},
        {"ALongSentFrameFillsRecordsOfTheSnapLength",
         {{Step::Tx, 7, 7, huge}},
         {{7, 1, Bytes(huge.begin(), huge.begin() + 65523)},
          {7, 1, Bytes(huge.begin() + 65523, huge.end())}}},
        {"AReopenEndsTheRecordAndSetsTheSilence",
         {Rx(10, 10, {1}), {Step::Open, 1750}, Rx(20, 20, {2}), Rx(1770, 1770, {3}), {Step::End}},
         {{10, 2, {1}}, {20, 2, {2}}, {1770, 2, {3}}}},
        {"TheWritersClockEndsARecordOnlyPastSilenceAndSlack",
         {{Step::Open, 1750},
          Rx(10, 10, {1}),
          {Step::EndIfSilent, 10 + 1750 + kSlack - 1},
          Rx(20, 20, {2}),
          {Step::EndIfSilent, 20 + 1750 + kSlack},
          Rx(30, 30, {3})},
         {{10, 2, {1, 2}}}},
    };
    for (const GroupingRow& row : rows) {
        PcapRecords records;
        for (const Step& step : row.steps) {
            switch (step.kind) {
                case Step::Open:
                    records.LineOpened(step.firstUs);
                    break;
                case Step::Rx:
                case Step::RxGoingOn:
                    records.Received(step.firstUs, step.lastUs, 0, step.bytes,
                                     step.kind == Step::RxGoingOn);
                    break;
                case Step::Tx:
                    records.Sent(step.firstUs, 0, step.bytes);
                    break;
                case Step::EndIfSilent:
                    records.EndIfSilent(step.firstUs, kSlack);
                    break;
                case Step::End:
                    records.EndReceived();
                    break;
            }
        }
        const CaptureFile file = CaptureFile::Parse(records.Take());
        EXPECT_TRUE(file.headerOk && file.wellFormed) << row.name;
        ASSERT_EQ(file.records.size(), row.records.size()) << row.name;
        for (size_t i = 0; i < row.records.size(); ++i) {
            EXPECT_EQ(file.records[i].stampUs, row.records[i].stampUs) << row.name << " #" << i;
            EXPECT_EQ(file.records[i].event, row.records[i].event) << row.name << " #" << i;
            EXPECT_EQ(file.records[i].bytes, row.records[i].bytes) << row.name << " #" << i;
        }
    }
}

TEST(PcapRecords, WholeRecordsFindsWhereACutFileMustEnd) {
    PcapRecords records;
    records.Take();  // the header
    records.Sent(1, 0, Bytes{1, 2, 3});
    records.Sent(2, 0, Bytes{4});
    const Bytes two = records.Take();
    const size_t first = 16 + 12 + 3;
    for (const auto& [cut, whole] :
         std::vector<std::pair<size_t, size_t>>{{0, 0},
                                                {15, 0},
                                                {first - 1, 0},
                                                {first, first},
                                                {two.size() - 1, first},
                                                {two.size(), two.size()}})
        EXPECT_EQ(PcapRecords::WholeRecords(std::span(two.data(), cut)), whole) << cut;
}

}  // namespace
