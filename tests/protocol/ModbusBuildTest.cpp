// Request frames in both framings, and the requests that are refused.
#include <gtest/gtest.h>

#include "FrameBytes.h"
#include "protocol/ModbusProtocol.h"
#include "protocol/ModbusRequest.h"
#include "protocol/ProtocolError.h"

namespace {

struct RequestFields {
    int station = 1;
    int functionCode = 3;
    int address = 0;
    int quantity = 1;
    std::string valueText = "00";
};

void Fill(ModbusRequest& r, const RequestFields& f) {
    r.station = f.station;
    r.functionCode = f.functionCode;
    r.address = f.address;
    r.quantity = f.quantity;
    r.valueText = f.valueText;
}

struct RtuCase {
    const char* name;
    RequestFields fields;
    const char* bytesBeforeCrc;
};

class RtuFrame : public testing::TestWithParam<RtuCase> {};

TEST_P(RtuFrame, IsBuilt) {
    ModbusRequest r;
    Fill(r, GetParam().fields);
    ModbusProtocol p;
    p.BuildRequest(&r);
    EXPECT_EQ(FrameOf(r), WithCrc(HexBytes(GetParam().bytesBeforeCrc)));
    EXPECT_EQ(p.request, &r);
    EXPECT_EQ(p.expectedLength, 0);
    EXPECT_EQ(p.rxCount, 0);
}

INSTANTIATE_TEST_SUITE_P(
    ModbusBuild, RtuFrame,
    testing::Values(
        RtuCase{"ReadOneRegister", {}, "01 03 00 00 00 01"},
        RtuCase{"ReadCoils", {1, 1, 0x1234, 10, ""}, "01 01 12 34 00 0A"},
        RtuCase{"ReadDiscreteInputs", {17, 2, 5, 3, ""}, "11 02 00 05 00 03"},
        RtuCase{"ReadInputRegisters", {1, 4, 0xFFFF, 2, ""}, "01 04 FF FF 00 02"},
        RtuCase{"AddressKeepsLow16Bits", {1, 3, 0x12345, 1, ""}, "01 03 23 45 00 01"},
        RtuCase{"QuantityZeroSentAsOne", {1, 3, 0, 0, ""}, "01 03 00 00 00 01"},
        RtuCase{"Quantity65536SentAsOne", {1, 3, 0, 65536, ""}, "01 03 00 00 00 01"},
        RtuCase{"Quantity65537SentAsOne", {1, 3, 0, 65537, ""}, "01 03 00 00 00 01"},
        RtuCase{"Station256SentAsZero", {256, 3, 0, 1, ""}, "00 03 00 00 00 01"},
        RtuCase{"Station0Broadcast", {0, 6, 1, 1, "3"}, "00 06 00 01 00 03"},
        RtuCase{"CoilOn", {1, 5, 2, 1, "1"}, "01 05 00 02 FF 00"},
        RtuCase{"CoilEmptyTextOff", {1, 5, 2, 1, ""}, "01 05 00 02 00 00"},
        RtuCase{"CoilZeroOff", {1, 5, 2, 1, "0"}, "01 05 00 02 00 00"},
        RtuCase{"CoilTwoOff", {1, 5, 2, 1, "2"}, "01 05 00 02 00 00"},
        RtuCase{"CoilLow16BitsOfOne", {1, 5, 2, 1, "65537"}, "01 05 00 02 FF 00"},
        RtuCase{"CoilBlanksAndSignBeforeOne", {1, 5, 2, 1, "  +1x"}, "01 05 00 02 FF 00"},
        RtuCase{"Register65535", {1, 6, 1, 1, "65535"}, "01 06 00 01 FF FF"},
        RtuCase{"Register65536WrapsToZero", {1, 6, 1, 1, "65536"}, "01 06 00 01 00 00"},
        RtuCase{"RegisterNegative", {1, 6, 1, 1, "-1"}, "01 06 00 01 FF FF"},
        RtuCase{"RegisterDigitsUpToNonDigit", {1, 6, 1, 1, "12ab"}, "01 06 00 01 00 0C"},
        RtuCase{
            "RegisterHugeNumberKeepsLow16Bits", {1, 6, 1, 1, "123456789012"}, "01 06 00 01 1A 14"},
        RtuCase{"WriteRegisters", {1, 16, 1, 2, "000A0102"}, "01 10 00 01 00 02 04 00 0A 01 02"},
        RtuCase{
            "WriteRegistersQuantityZeroIsOne", {1, 16, 1, 0, "ABCD"}, "01 10 00 01 00 01 02 AB CD"},
        RtuCase{"WriteCoilsFirstCharLowestBit",
                {1, 15, 19, 10, "1011001110"},
                "01 0F 00 13 00 0A 02 CD 01"},
        RtuCase{"WriteOneCoil", {1, 15, 0, 1, "1"}, "01 0F 00 00 00 01 01 01"},
        RtuCase{"WriteEightCoilsOneByte", {1, 15, 0, 8, "00000001"}, "01 0F 00 00 00 08 01 80"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ModbusBuild, ReadOneRegisterIsTheWorkedExample) {
    ModbusRequest r;
    Fill(r, {});
    ModbusProtocol p;
    p.BuildRequest(&r);
    EXPECT_EQ(FrameOf(r), HexBytes("01 03 00 00 00 01 84 0A"));
}

TEST(ModbusBuild, LargestWritesTheByteCountCanSay) {
    // The byte count is one byte: 127 registers (254 bytes) and 2040 coils
    // (255 bytes) are the most a frame can carry truthfully.
    ModbusRequest registers;
    Fill(registers, {1, 16, 0, 127, std::string(4 * 127, 'F')});
    ModbusProtocol p;
    p.BuildRequest(&registers);
    ASSERT_EQ(registers.frameLength, 263);
    EXPECT_EQ(registers.frame[6], 254);
    EXPECT_EQ(FrameOf(registers), WithCrc(Bytes(registers.frame, registers.frame + 261)));

    ModbusRequest coils;
    Fill(coils, {1, 15, 0, 2040, std::string(2040, '1')});
    p.BuildRequest(&coils);
    ASSERT_EQ(coils.frameLength, 264);
    EXPECT_EQ(coils.frame[6], 255);
    EXPECT_EQ(coils.frame[7 + 254], 0xFF);
}

struct AsciiCase {
    const char* name;
    RequestFields fields;
    const char* frame;
};

class AsciiFrameTest : public testing::TestWithParam<AsciiCase> {};

TEST_P(AsciiFrameTest, IsBuilt) {
    ModbusRequest r;
    Fill(r, GetParam().fields);
    ModbusProtocol p;
    p.SetAsciiMode(1);
    p.BuildRequest(&r);
    EXPECT_EQ(FrameText(r), GetParam().frame);
    EXPECT_EQ(r.frameLength, 17);
}

INSTANTIATE_TEST_SUITE_P(
    ModbusBuild, AsciiFrameTest,
    testing::Values(
        AsciiCase{"ReadTenRegisters", {1, 3, 0, 10, ""}, ":01030000000AF2\r\n"},
        AsciiCase{"ReadOneRegister", {}, ":010300000001FB\r\n"},
        AsciiCase{"QuantityZeroSentAsOne", {1, 3, 0, 0, ""}, ":010300000001FB\r\n"},
        AsciiCase{"Quantity65536SentAsOne", {1, 3, 0, 65536, ""}, ":010300000001FB\r\n"},
        AsciiCase{"Quantity65537SentAsOne", {1, 3, 0, 65537, ""}, ":010300000001FB\r\n"},
        AsciiCase{"Station256SentAsZero", {256, 3, 0, 1, ""}, ":000300000001FC\r\n"},
        AsciiCase{"UpperCaseDigits", {0xAB, 4, 0xBEEF, 0xCAFE, ""}, ":AB04BEEFCAFEDC\r\n"},
        AsciiCase{"CoilOn", {1, 5, 2, 1, "1"}, ":01050002FF00F9\r\n"},
        AsciiCase{"CoilEmptyTextOff", {1, 5, 2, 1, ""}, ":010500020000F8\r\n"},
        AsciiCase{"CoilTwoOff", {1, 5, 2, 1, "2"}, ":010500020000F8\r\n"},
        AsciiCase{"Register65535", {1, 6, 1, 1, "65535"}, ":01060001FFFFFA\r\n"},
        AsciiCase{"Register65536WrapsToZero", {1, 6, 1, 1, "65536"}, ":010600010000F8\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

struct RefusalCase {
    const char* name;
    int asciiMode;
    RequestFields fields;
    const char* text;
    int bytesWrittenBeforeRefusal;  // the station, or ':' and its digits
};

class Refusal : public testing::TestWithParam<RefusalCase> {};

TEST_P(Refusal, RaisesItsTextAndLeavesTheFrame) {
    const RefusalCase& c = GetParam();
    ModbusRequest r;
    std::fill(std::begin(r.frame), std::end(r.frame), 0xEE);
    r.frameLength = 42;
    Fill(r, c.fields);
    ModbusProtocol p;
    p.SetAsciiMode(c.asciiMode);
    try {
        p.BuildRequest(&r);
        ADD_FAILURE() << "not refused";
    } catch (const ProtocolError& e) {
        EXPECT_EQ(std::string(e.what()), c.text);
    }
    EXPECT_EQ(p.request, &r);
    EXPECT_EQ(p.expectedLength, 0);
    EXPECT_EQ(p.rxCount, 0);
    EXPECT_EQ(r.frameLength, 42);
    const auto station = static_cast<uint8_t>(c.fields.station);
    static const char hex[] = "0123456789ABCDEF";
    const std::string digits = {':', hex[station >> 4], hex[station & 15]};
    const Bytes written = c.asciiMode ? Bytes(digits.begin(), digits.end()) : Bytes{station};
    EXPECT_EQ(Bytes(r.frame, r.frame + c.bytesWrittenBeforeRefusal),
              Bytes(written.begin(), written.begin() + c.bytesWrittenBeforeRefusal));
    EXPECT_EQ(r.frame[c.bytesWrittenBeforeRefusal], 0xEE);
}

INSTANTIATE_TEST_SUITE_P(
    ModbusBuild, Refusal,
    testing::Values(
        RefusalCase{"Station257Rtu", 0, {257, 3, 0, 1, ""}, "ModBus----站号>256", 0},
        RefusalCase{"StationNeverSetRtu", 0, {-1, 3, 0, 1, ""}, "ModBus----站号>256", 0},
        RefusalCase{"Station257Ascii", 1, {257, 3, 0, 1, ""}, "ModBus----站号>256", 0},
        RefusalCase{"Function7Rtu", 0, {1, 7, 0, 1, ""}, "ModBus----功能代码错误", 1},
        RefusalCase{"Function7Ascii", 1, {0x2A, 7, 0, 1, ""}, "ModBus----功能代码错误", 3},
        RefusalCase{"Function0Rtu", 0, {1, 0, 0, 1, ""}, "ModBus----功能代码错误", 1},
        RefusalCase{"Function15Ascii",
                    1,
                    {1, 15, 0, 1, "1"},
                    "ModBus----(写多个线圈)\t功能代码:0x0F,不支持",
                    3},
        RefusalCase{"Function16Ascii",
                    1,
                    {1, 16, 0, 1, "0001"},
                    "ModBus----(写多个寄存器)\t功能代码:0x10,不支持",
                    3},
        RefusalCase{"CoilTextShorterThanQuantity",
                    0,
                    {1, 15, 0, 3, "10"},
                    "ModBus----(写多个线圈)\t线圈值必须是3个字符,每个字符为0或1",
                    1},
        RefusalCase{"CoilTextNotBits",
                    0,
                    {1, 15, 0, 2, "12"},
                    "ModBus----(写多个线圈)\t线圈值必须是2个字符,每个字符为0或1",
                    1},
        RefusalCase{"CoilsOverflowTheFrame",
                    0,
                    {1, 15, 0, 4000, std::string(4000, '1')},
                    "ModBus----(写多个线圈)\t线圈数量4000太多,数据超过255字节",
                    1},
        RefusalCase{"CoilsOverflowTheByteCount",
                    0,
                    {1, 15, 0, 2041, std::string(2041, '1')},
                    "ModBus----(写多个线圈)\t线圈数量2041太多,数据超过255字节",
                    1},
        RefusalCase{"RegisterTextTooShort",
                    0,
                    {1, 16, 0, 2, "0001"},
                    "ModBus----(写多个寄存器)\t寄存器值必须是8个大写十六进制数字(0-9,A-F)",
                    1},
        RefusalCase{"RegisterTextLowerCase",
                    0,
                    {1, 16, 0, 1, "abcd"},
                    "ModBus----(写多个寄存器)\t寄存器值必须是4个大写十六进制数字(0-9,A-F)",
                    1},
        RefusalCase{"RegistersOverflowTheFrame",
                    0,
                    {1, 16, 0, 246, std::string(4 * 246, '0')},
                    "ModBus----(写多个寄存器)\t寄存器数量246太多,数据超过255字节",
                    1},
        RefusalCase{"RegistersOverflowTheByteCount",
                    0,
                    {1, 16, 0, 128, std::string(4 * 128, '0')},
                    "ModBus----(写多个寄存器)\t寄存器数量128太多,数据超过255字节",
                    1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ModbusBuild, NullRequestDetachesAndBuildsNothing) {
    ModbusRequest r;
    Fill(r, {});
    ModbusProtocol p;
    p.BuildRequest(&r);
    p.rxCount = 5;
    p.BuildRequest(nullptr);
    EXPECT_EQ(p.request, nullptr);
    EXPECT_EQ(p.rxCount, 0);
    EXPECT_EQ(p.expectedLength, 0);
    EXPECT_EQ(r.frameLength, 8);
}

TEST(ModbusBuild, FreshObjectsHoldTheirInitialValues) {
    ModbusProtocol p;
    EXPECT_EQ(p.name, "ModBus");
    EXPECT_EQ(p.request, nullptr);
    EXPECT_EQ(p.expectedLength, 500);
    EXPECT_EQ(p.asciiMode, 0);
    EXPECT_FALSE(p.Reserved());
    ModbusRequest r;
    EXPECT_EQ(r.valueText, "00");
    EXPECT_EQ(r.resultText, "00");
    EXPECT_EQ(r.quantity, 1);
    EXPECT_EQ(r.dataType, 2);
    EXPECT_EQ(r.station, -1);
    EXPECT_EQ(r.frameLength, 0);
    Protocal base;
    EXPECT_EQ(base.name, "Protocal");
    uint8_t byte = 0;
    EXPECT_EQ(base.ReceiveByte(&byte), 1);
}

}  // namespace
