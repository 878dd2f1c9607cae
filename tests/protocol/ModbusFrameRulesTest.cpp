// Functions beyond 1 to 6 as devices send them: each frame's length, each reply fits.
#include "protocol/ModbusFrameRules.h"

#include <gtest/gtest.h>

#include "FrameBytes.h"

namespace {

namespace Rules = ModbusFrameRules;
Bytes C(const char* hex) { return WithCrc(HexBytes(hex)); }

TEST(ModbusFrameRules, RepliesAnswerTheirRequests) {
    const struct {
        const char* name;
        Bytes request, reply;
    } rows[] = {
        {"ExceptionStatus", C("11 07"), C("11 07 6D")},
        {"DiagnosticsLoopback", C("11 08 00 00 A5 37"), C("11 08 00 00 A5 37")},
        // The counters answer with their value, not the request's zeros.
        {"BusMessageCount", C("11 08 00 0B 00 00"), C("11 08 00 0B 01 2C")},
        {"CharacterOverrunCount", C("11 08 00 12 00 00"), C("11 08 00 12 00 07")},
        {"EventCounter", C("11 0B"), C("11 0B FF FF 01 08")},
        // A device's own reply, its CRC as it sent it.
        {"EventLog", C("05 0C"), HexBytes("05 0C 09 00 00 00 00 00 03 80 42 80 B7 DD")},
        {"WriteFileRecord", C("11 15 0D 06 00 04 00 07 00 03 06 AF 04 BE 10 0D"),
         C("11 15 0D 06 00 04 00 07 00 03 06 AF 04 BE 10 0D")},
        {"MaskWrite", C("11 16 00 04 00 F2 00 25"), C("11 16 00 04 00 F2 00 25")},
        {"FifoQueue", C("11 18 04 DE"), C("11 18 00 06 00 02 01 B8 12 84")},
        {"DeviceIdentificationMoreFollows", C("01 2B 0E 01 00"),
         C("01 2B 0E 01 81 FF 02 02 00 03 41 42 43 01 02 54 31")},
    };
    for (const auto& row : rows) {
        EXPECT_TRUE(Rules::RtuCheckGood(row.request) && Rules::RtuCheckGood(row.reply)) << row.name;
        EXPECT_EQ(Rules::RtuFrameLengths(row.request).request, row.request.size()) << row.name;
        EXPECT_EQ(Rules::RtuFrameLengths(row.reply).reply, row.reply.size()) << row.name;
        const size_t expected = Rules::RtuReplyLength(row.request);
        EXPECT_TRUE(expected == 0 || expected == row.reply.size()) << row.name;
        EXPECT_TRUE(Rules::ReplyFits(row.request, row.reply)) << row.name;
        // Known to repeat its request, or on a line without echo it is taken for the echo.
        EXPECT_TRUE(row.reply != row.request || Rules::ReplyRepeatsRequest(row.request[1]))
            << row.name;
    }
}

}  // namespace
