// Frames built here, checked by peers written elsewhere: a libmodbus RTU slave
// and a pymodbus ASCII slave on the other end of a pty. Each reply goes back
// through ReceiveByte.
#include <gtest/gtest.h>

#include "FrameBytes.h"
#include "ModbusRtuSlave.h"
#include "PtyPair.h"
#include "PymodbusAsciiSlave.h"
#include "SlaveMap.h"
#include "protocol/ModbusProtocol.h"
#include "protocol/ModbusRequest.h"
#include "protocol/ProtocolError.h"

using namespace std::chrono_literals;

namespace {

struct PeerCase {
    const char* name;
    int functionCode;
    int address;
    int quantity;
    std::string valueText;     // the request's, for the writes
    std::string expectedText;  // valueText after the reply
};

std::string RegisterDigits(uint16_t value) {
    static const char hex[] = "0123456789ABCDEF";
    return {hex[value >> 12], hex[(value >> 8) & 15], hex[(value >> 4) & 15], hex[value & 15]};
}

// The same reads against both slaves: they serve the same map.
const std::string tenHoldingDigits = [] {
    std::string digits;
    for (int i = 0; i < 10; ++i) digits += RegisterDigits(SlaveMap::HoldingRegister(i));
    return digits;
}();

std::vector<PeerCase> ReadCases() {
    return {
        // Coils 0..7 are 1 0 0 1 0 0 1 0: 0x49, one byte, which the default
        // data type (two bytes) leaves as it was.
        {"ReadEightCoils", 1, 0, 8, "00", "00"},
        {"ReadSixteenCoils", 1, 0, 16, "00", "4992"},
        {"ReadDiscreteInputs", 2, 0, 16, "00", "AAAA"},
        {"ReadOneHoldingRegister", 3, 0, 1, "00", "123"},
        {"ReadTenHoldingRegisters", 3, 0, 10, "00", tenHoldingDigits},
        {"ReadOneInputRegister", 4, 5, 1, "00", "1005"},
        {"ReadTwoInputRegisters", 4, 0, 2, "00", "03E803E9"},
        {"WriteCoil", 5, 3, 1, "1", "1"},
        {"WriteRegister", 6, 2, 1, "4660", "4660"},
    };
}

// Reads from the master end until the reply is whole: the expected length
// of a normal reply once its header is in, or five bytes of an exception.
Bytes ReadRtuReply(const PtyPair& pty, std::chrono::milliseconds timeout) {
    return pty.ReadMasterUntil(
        [](const Bytes& b) {
            if (b.size() < 3) return false;
            if (b[1] & 0x80) return b.size() >= 5;
            if (b[1] <= 4) return b.size() >= 5u + b[2];
            return b.size() >= 8;
        },
        timeout);
}

bool EndsWithCrLf(const Bytes& b) {
    return b.size() >= 2 && b[b.size() - 2] == '\r' && b.back() == '\n';
}

// Builds the request, sends it, feeds the reply back; answers the statuses.
struct PeerRun {
    ModbusRequest record;
    ModbusProtocol protocol;
    Bytes reply;
    std::vector<int> statuses;
};

void Prepare(PeerRun& run, const PeerCase& c, int asciiMode) {
    run.record.station = SlaveMap::station;
    run.record.functionCode = c.functionCode;
    run.record.address = c.address;
    run.record.quantity = c.quantity;
    run.record.valueText = c.valueText;
    run.protocol.SetAsciiMode(asciiMode);
    run.protocol.BuildRequest(&run.record);
}

void FeedReply(PeerRun& run) {
    for (uint8_t b : run.reply) run.statuses.push_back(run.protocol.ReceiveByte(&b));
}

std::vector<int> Accepted(size_t count) {
    std::vector<int> statuses(count, 0);
    if (count) statuses.back() = 1;
    return statuses;
}

class RtuPeer : public testing::Test {
protected:
    PtyPair pty;
    ModbusRtuSlave slave{pty.SlavePath()};

    void Run(PeerRun& run, const PeerCase& c) {
        Prepare(run, c, 0);
        ASSERT_TRUE(pty.WriteMaster(FrameOf(run.record)));
        run.reply = ReadRtuReply(pty, 2s);
        ASSERT_GE(run.reply.size(), 2u) << "no reply";
        ASSERT_EQ(run.reply[1], c.functionCode) << "libmodbus refused the frame";
        FeedReply(run);
    }
};

TEST_F(RtuPeer, AcceptsEveryFunctionAndItsReplyParses) {
    std::vector<PeerCase> cases = ReadCases();
    cases.push_back({"WriteCoils", 15, 1, 10, "1011001110", "1011001110"});
    cases.push_back({"WriteRegisters", 16, 4, 3, "000A0102BEEF", "000A0102BEEF"});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PeerRun run;
        Run(run, c);
        EXPECT_EQ(run.statuses, Accepted(run.reply.size()));
        EXPECT_EQ(run.record.valueText, c.expectedText);
    }
    // The writes reached the slave's map as meant.
    slave.WithMapping([](modbus_mapping_t& map) {
        EXPECT_EQ(map.tab_bits[3], 1);
        EXPECT_EQ(map.tab_registers[2], 4660);
        const uint8_t coils[] = {1, 0, 1, 1, 0, 0, 1, 1, 1, 0};
        for (int i = 0; i < 10; ++i) EXPECT_EQ(map.tab_bits[1 + i], coils[i]) << "coil " << 1 + i;
        EXPECT_EQ(map.tab_registers[4], 0x000A);
        EXPECT_EQ(map.tab_registers[5], 0x0102);
        EXPECT_EQ(map.tab_registers[6], 0xBEEF);
    });
}

TEST_F(RtuPeer, AddressOutsideTheMapRaisesCode2) {
    PeerRun run;
    Prepare(run, {"OutOfMap", 3, 100, 1, "00", ""}, 0);
    ASSERT_TRUE(pty.WriteMaster(FrameOf(run.record)));
    run.reply = ReadRtuReply(pty, 2s);
    ASSERT_EQ(run.reply.size(), 5u);
    EXPECT_EQ(run.protocol.ReceiveByte(&run.reply[0]), 0);
    EXPECT_EQ(run.protocol.ReceiveByte(&run.reply[1]), 0);
    try {
        run.protocol.ReceiveByte(&run.reply[2]);
        ADD_FAILURE() << "no exception raised";
    } catch (const ProtocolError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "查询中的数据地址对于从机来说是非法的。\n\t功能：3\t寄存器地址：100");
    }
}

class AsciiPeer : public testing::Test {
protected:
    PtyPair pty;
    PymodbusAsciiSlave slave{pty.SlavePath()};
};

TEST_F(AsciiPeer, AcceptsFunctions1To6AndItsRepliesParse) {
    for (const auto& c : ReadCases()) {
        SCOPED_TRACE(c.name);
        PeerRun run;
        Prepare(run, c, 1);
        ASSERT_TRUE(pty.WriteMaster(FrameOf(run.record)));
        run.reply = pty.ReadMasterUntil(EndsWithCrLf, 5s);
        ASSERT_TRUE(EndsWithCrLf(run.reply)) << "no reply";
        FeedReply(run);
        EXPECT_EQ(run.statuses, Accepted(run.reply.size()))
            << std::string(run.reply.begin(), run.reply.end());
        EXPECT_EQ(run.record.valueText, c.expectedText);
    }
}

TEST_F(AsciiPeer, AddressOutsideTheMapRaisesCode2) {
    PeerRun run;
    Prepare(run, {"OutOfMap", 4, 100, 1, "00", ""}, 1);
    ASSERT_TRUE(pty.WriteMaster(FrameOf(run.record)));
    run.reply = pty.ReadMasterUntil(EndsWithCrLf, 5s);
    ASSERT_TRUE(EndsWithCrLf(run.reply)) << "no reply";
    try {
        FeedReply(run);
        ADD_FAILURE() << "no exception raised";
    } catch (const ProtocolError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "查询中的数据地址对于从机来说是非法的。\n\t功能：4\t寄存器地址：100");
    }
    // Raised at the exception code, the seventh character.
    EXPECT_EQ(run.statuses, std::vector<int>(6, 0));
}

}  // namespace
