// The capture file's bytes: the header and a record against bytes written out
// by hand, and the silence between frames of a line.
#include "trace/PcapRecords.h"

#include "trace/FrameAssembler.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

TEST(PcapRecords, FileHeaderAndOneRecordByteForByte) {
    Bytes file;
    PcapRecords::AppendFileHeader(file);
    PcapRecords::AppendRecord(file, 1700000000123456, PcapRecords::kSentEvent, LINE_CTS | LINE_DSR,
                              Bytes{0x01, 0x03});
    const Bytes expected = {
        0xd4, 0xc3, 0xb2, 0xa1, 0x02, 0x00, 0x04, 0x00, 0, 0, 0, 0, 0, 0, 0, 0,  // pcap 2.4
        0xff, 0xff, 0x00, 0x00, 0xfa, 0x00, 0x00, 0x00,  // snap length 65535, link type 250
        0x00, 0xf1, 0x53, 0x65, 0x40, 0xe2, 0x01, 0x00,  // 1700000000 s 123456 us
        0x0e, 0,    0,    0,    0x0e, 0,    0,    0,     // 14 bytes of 14
        0x65, 0x53, 0xf1, 0x00, 0x00, 0x01, 0xe2, 0x40,  // the stamp again, big-endian
        0x01, 0x05, 0x00, 0x00, 0x01, 0x03,              // sent, CTS and DSR, footer, data
    };
    EXPECT_EQ(file, expected);
}

TEST(FrameAssembler, SilenceIsThreeAndAHalfCharactersAtLeast1750us) {
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
        EXPECT_EQ(FrameAssembler::InterFrameUs(line), silenceUs) << line.baudRate;
}

}  // namespace
