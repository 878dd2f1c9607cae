// The capture file's bytes: the header and a record against bytes written out
// by hand, the silence of a line, and the grouping of received bytes.
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
        0xd4, 0xc3, 0xb2, 0xa1, 0x02, 0x00, 0x04, 0x00, 0, 0, 0, 0, 0, 0, 0, 0,  // pcap 2.4
        0xff, 0xff, 0x00, 0x00, 0xfa, 0x00, 0x00, 0x00,  // snap length 65535, link type 250
        0x00, 0xf1, 0x53, 0x65, 0x40, 0xe2, 0x01, 0x00,  // 1700000000 s 123456 us
        0x0e, 0,    0,    0,    0x0e, 0,    0,    0,     // 14 bytes of 14
        0x65, 0x53, 0xf1, 0x00, 0x00, 0x01, 0xe2, 0x40,  // the stamp again, big-endian
        0x01, 0x05, 0x00, 0x00, 0x01, 0x03,              // sent, CTS and DSR, footer, data
    };
    EXPECT_EQ(records.Take(), expected);
    EXPECT_EQ(records.Take(), Bytes{});
}

TEST(PcapRecords, SilenceIsThreeAndAHalfCharactersAtLeast1750us) {
    struct Row {
        DCB line;
        int64_t silenceUs;
    };
    for (const auto& [line, silenceUs] :
         {Row{{9600, 8, NOPARITY, ONESTOPBIT}, 3646},  // 10 bits
          Row{{9600, 8, NOPARITY, ONE5STOPBITS}, 3829},
          Row{{1200, 7, EVENPARITY, TWOSTOPBITS}, 32084},
          Row{{19200, 8, ODDPARITY, ONESTOPBIT}, 2006},
          Row{{115200, 8, NOPARITY, ONESTOPBIT}, 1750}, Row{{0, 8, NOPARITY, ONESTOPBIT}, 1750}})
        EXPECT_EQ(PcapRecords::SilenceUs(line), silenceUs) << line.baudRate;
}

// What the engine hands over: a line opened (a: the silence), bytes read from
// a to b (RxOn: they were waiting all along), a send at a, the writer's clock
// at a.
struct Step {
    enum Kind { Open, Rx, RxOn, Tx, Clock, End } kind;
    int64_t a = 0, b = 0;
    Bytes bytes = {};
};
struct Record {
    int64_t stampUs;
    uint8_t event;
    Bytes bytes;
};

TEST(PcapRecords, ReceivedBytesAreGroupedIntoRecords) {
    constexpr int64_t kSlack = 100000;
    Bytes big(70000);
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i);
    const auto part = [&](size_t from, size_t to) {
        return Bytes(big.begin() + from, big.begin() + to);
    };
    const Step end{Step::End};
    const struct {
        std::string name;
        std::vector<Step> steps;
        std::vector<Record> records;
    } rows[] = {
        {"SilenceEndsARecord",
         {{Step::Open, 3646}, {Step::Rx, 10, 20, {1, 2}}, {Step::Rx, 3666, 3666, {3}}, end},
         {{10, 2, {1, 2}}, {3666, 2, {3}}}},
        {"AShorterGapDoesNot",
         {{Step::Open, 3646}, {Step::Rx, 10, 20, {1, 2}}, {Step::Rx, 3665, 3665, {3}}, end},
         {{10, 2, {1, 2, 3}}}},
        {"BytesWaitingAllAlongJoinAfterAnyGap",
         {{Step::Rx, 10, 20, {1}}, {Step::RxOn, 90000, 90000, {2}}, end},
         {{10, 2, {1, 2}}}},
        {"ASendEndsARecord",
         {{Step::Rx, 10, 10, {1}}, {Step::Tx, 11, 11, {9, 8}}, {Step::Rx, 12, 12, {2}}, end},
         {{10, 2, {1}}, {11, 1, {9, 8}}, {12, 2, {2}}}},
        {"ReceivedRecordsHold4096BytesAtMost",
         {{Step::Rx, 10, 50, part(0, 5000)}, end},
         {{10, 2, part(0, 4096)}, {50, 2, part(4096, 5000)}}},
        {"ALongFrameFillsRecordsOfTheSnapLength",
         {{Step::Tx, 7, 7, big}},
         {{7, 1, part(0, 65523)}, {7, 1, part(65523, 70000)}}},
        {"AReopenEndsTheRecordAndSetsTheSilence",
         {{Step::Rx, 10, 10, {1}},
          {Step::Open, 1750},
          {Step::Rx, 20, 20, {2}},
          {Step::Rx, 1770, 1770, {3}},
          end},
         {{10, 2, {1}}, {20, 2, {2}}, {1770, 2, {3}}}},
        {"TheWritersClockEndsARecordOnlyPastSilenceAndSlack",
         {{Step::Open, 1750},
          {Step::Rx, 10, 10, {1}},
          {Step::Clock, 10 + 1750 + kSlack - 1},
          {Step::Rx, 20, 20, {2}},
          {Step::Clock, 20 + 1750 + kSlack},
          {Step::Rx, 30, 30, {3}}},
         {{10, 2, {1, 2}}}},
    };
    for (const auto& row : rows) {
        PcapRecords records;
        for (const Step& step : row.steps) {
            if (step.kind == Step::Open) records.LineOpened(step.a);
            if (step.kind == Step::Rx || step.kind == Step::RxOn)
                records.Received(step.a, step.b, 0, step.bytes, step.kind == Step::RxOn);
            if (step.kind == Step::Tx) records.Sent(step.a, 0, step.bytes);
            if (step.kind == Step::Clock) records.EndIfSilent(step.a, kSlack);
            if (step.kind == Step::End) records.EndReceived();
        }
        const CaptureFile file = CaptureFile::Parse(records.Take());
        EXPECT_TRUE(file.wellFormed) << row.name;
        ASSERT_EQ(file.records.size(), row.records.size()) << row.name;
        for (size_t i = 0; i < row.records.size(); ++i) {
            const CaptureRecord& got = file.records[i];
            EXPECT_TRUE(got.stampUs == row.records[i].stampUs &&
                        got.event == row.records[i].event && got.bytes == row.records[i].bytes)
                << row.name << " record " << i << " at " << got.stampUs;
        }
    }
}

}  // namespace
