// Replies fed byte by byte: statuses, value texts, echoes and the errors raised.
#include <gtest/gtest.h>

#include "FrameBytes.h"
#include "protocol/ModbusProtocol.h"
#include "protocol/ModbusRequest.h"
#include "protocol/ProtocolError.h"

namespace {

struct Request {
    int functionCode = 3;
    int address = 0;
    int quantity = 1;
    std::string valueText = "00";
};

// A protocol with a request built and attached.
struct Exchange {
    ModbusRequest record;
    ModbusProtocol protocol;

    Exchange(const Request& r, int asciiMode = 0) {
        record.station = 1;
        record.functionCode = r.functionCode;
        record.address = r.address;
        record.quantity = r.quantity;
        record.valueText = r.valueText;
        protocol.SetAsciiMode(asciiMode);
        protocol.BuildRequest(&record);
    }

    int Feed(uint8_t byte) { return protocol.ReceiveByte(&byte); }

    std::vector<int> FeedAll(const Bytes& bytes) {
        std::vector<int> statuses;
        for (uint8_t b : bytes) statuses.push_back(Feed(b));
        return statuses;
    }
    std::vector<int> FeedAll(const std::string& chars) {
        return FeedAll(Bytes(chars.begin(), chars.end()));
    }
};

// Statuses 0 for every byte but the last.
std::vector<int> EndingWith(size_t count, int last) {
    std::vector<int> statuses(count, 0);
    statuses.back() = last;
    return statuses;
}

struct ReplyCase {
    const char* name;
    int asciiMode;
    Request request;
    Bytes reply;
    int finalStatus;
    const char* valueText;
};

class Reply : public testing::TestWithParam<ReplyCase> {};

TEST_P(Reply, IsParsed) {
    const ReplyCase& c = GetParam();
    Exchange x(c.request, c.asciiMode);
    EXPECT_EQ(x.FeedAll(c.reply), EndingWith(c.reply.size(), c.finalStatus));
    EXPECT_EQ(x.record.valueText, c.valueText);
    // A settled reply detaches the request; an ignored one leaves it attached.
    EXPECT_EQ(x.Feed(0x01), c.finalStatus > 0 ? 4 : 0);
    EXPECT_EQ(x.protocol.request, c.finalStatus > 0 ? nullptr : &x.record);
}

Bytes Chars(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes BrokenCrc(Bytes frame) {
    frame.back() ^= 0xFF;
    return frame;
}

INSTANTIATE_TEST_SUITE_P(
    ModbusReceive, Reply,
    testing::Values(
        ReplyCase{
            "ReadOneRegisterFormatsTheValue", 0, {}, HexBytes("01 03 02 00 7B F8 67"), 1, "123"},
        ReplyCase{"ReadTwoRegistersDumpsHexDigits",
                  0,
                  {3, 0, 2},
                  WithCrc(HexBytes("01 03 04 00 01 00 02")),
                  1,
                  "00010002"},
        ReplyCase{"ReadInputRegister", 0, {4, 0, 1}, WithCrc(HexBytes("01 04 02 FF FE")), 1, "-2"},
        ReplyCase{"ReadCoilsOneByteGoesToTheFormatter",
                  0,
                  {1, 0, 8},
                  WithCrc(HexBytes("01 01 01 05")),
                  1,
                  "00"},
        ReplyCase{"ReadDiscreteInputsTwoBytesDumped",
                  0,
                  {2, 0, 10},
                  WithCrc(HexBytes("01 02 02 CD 01")),
                  1,
                  "CD01"},
        ReplyCase{"ReadWithNoDataBytes", 0, {3, 0, 1}, WithCrc(HexBytes("01 03 00")), 1, ""},
        ReplyCase{"StationNotCompared", 0, {}, WithCrc(HexBytes("09 03 02 00 7B")), 1, "123"},
        ReplyCase{
            "RegisterEchoAccepted", 0, {6, 1, 1, "3"}, HexBytes("01 06 00 01 00 03 98 0B"), 1, "3"},
        ReplyCase{"RegisterEchoOtherValue",
                  0,
                  {6, 1, 1, "3"},
                  WithCrc(HexBytes("01 06 00 01 00 04")),
                  3,
                  "3"},
        ReplyCase{"RegisterEchoFromAnotherStation",
                  0,
                  {6, 1, 1, "3"},
                  WithCrc(HexBytes("02 06 00 01 00 03")),
                  3,
                  "3"},
        ReplyCase{
            "CoilEchoAccepted", 0, {5, 2, 1, "1"}, WithCrc(HexBytes("01 05 00 02 FF 00")), 1, "1"},
        ReplyCase{"CoilEchoBrokenCrcIgnored",
                  0,
                  {5, 2, 1, "1"},
                  BrokenCrc(WithCrc(HexBytes("01 05 00 02 FF 00"))),
                  0,
                  "1"},
        ReplyCase{"RegistersEchoAccepted",
                  0,
                  {16, 1, 2, "000A0102"},
                  WithCrc(HexBytes("01 10 00 01 00 02")),
                  1,
                  "000A0102"},
        ReplyCase{"RegistersEchoOtherQuantity",
                  0,
                  {16, 1, 2, "000A0102"},
                  WithCrc(HexBytes("01 10 00 01 00 03")),
                  2,
                  "000A0102"},
        ReplyCase{"CoilsEchoAccepted",
                  0,
                  {15, 19, 10, "1011001110"},
                  WithCrc(HexBytes("01 0F 00 13 00 0A")),
                  1,
                  "1011001110"},
        ReplyCase{"CoilsEchoOtherAddress",
                  0,
                  {15, 19, 10, "1011001110"},
                  WithCrc(HexBytes("01 0F 00 14 00 0A")),
                  2,
                  "1011001110"},
        ReplyCase{"AsciiReadOneRegister", 1, {}, Chars(AsciiFrame("010302007B")), 1, "123"},
        ReplyCase{"AsciiReadTenRegisters",
                  1,
                  {3, 0, 10},
                  Chars(":010314007B007C007D007E007F00800081008200830084ED\r\n"),
                  1,
                  "007B007C007D007E007F00800081008200830084"},
        ReplyCase{"AsciiReadCoils", 1, {1, 0, 10}, Chars(AsciiFrame("010102CD01")), 1, "CD01"},
        ReplyCase{"AsciiNoiseBeforeTheColon",
                  1,
                  {},
                  Chars("\r\nxx" + AsciiFrame("010302007B")),
                  1,
                  "123"},
        ReplyCase{
            "AsciiColonRestartsTheFrame", 1, {}, Chars(":0103" + AsciiFrame("0103020005")), 1, "5"},
        ReplyCase{"AsciiMalformedFrameThenAGoodOne",
                  1,
                  {},
                  Chars(":0103G2007B\r\n:0103020\r\n" + AsciiFrame("0103020001")),
                  1,
                  "1"},
        ReplyCase{
            "AsciiRegisterEcho", 1, {6, 1, 1, "65535"}, Chars(":01060001FFFFFA\r\n"), 1, "65535"},
        ReplyCase{"AsciiRegisterEchoOtherValue",
                  1,
                  {6, 1, 1, "65535"},
                  Chars(AsciiFrame("01060001FFFE")),
                  3,
                  "65535"},
        ReplyCase{"AsciiCoilEchoBrokenLrcIgnored",
                  1,
                  {5, 2, 1, "1"},
                  Chars(":01050002FF0000\r\n"),
                  0,
                  "1"},
        ReplyCase{"AsciiLinefeedMissing", 1, {}, Chars(":0103020005F5\rX"), 0, "00"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ModbusReceive, ReadOneRegisterSetsTheExpectedLength) {
    Exchange x({});
    x.FeedAll(HexBytes("01 03 02 00 7B"));
    EXPECT_EQ(x.protocol.expectedLength, 7);
    x.FeedAll(HexBytes("F8 67"));
    EXPECT_EQ(x.record.resultText, "123");
}

TEST(ModbusReceive, AsciiReplyOf125RegistersFitsTheBuffer) {
    std::string digits = "0103FA";
    std::string data;
    for (int i = 0; i < 125; ++i) data += "1234";
    Exchange x({3, 0, 125}, 1);
    const std::string reply = AsciiFrame(digits + data);
    ASSERT_EQ(reply.size(), 511u);
    EXPECT_EQ(x.FeedAll(reply), EndingWith(reply.size(), 1));
    EXPECT_EQ(x.record.valueText, data);
}

struct ErrorCase {
    const char* name;
    int asciiMode;
    Request request;
    Bytes reply;  // the error comes at its last byte
    const char* text;
};

class RaisedError : public testing::TestWithParam<ErrorCase> {};

TEST_P(RaisedError, EndsTheReply) {
    const ErrorCase& c = GetParam();
    Exchange x(c.request, c.asciiMode);
    for (size_t i = 0; i + 1 < c.reply.size(); ++i)
        ASSERT_EQ(x.Feed(c.reply[i]), 0) << "byte " << i;
    try {
        x.Feed(c.reply.back());
        ADD_FAILURE() << "nothing raised";
    } catch (const ProtocolError& e) {
        EXPECT_EQ(std::string(e.what()), c.text);
    }
    // Still attached; whatever follows is ignored until the next request.
    EXPECT_EQ(x.protocol.request, &x.record);
    for (uint8_t b : Chars(":0103020005F5\r\n")) EXPECT_EQ(x.Feed(b), 0);
}

INSTANTIATE_TEST_SUITE_P(
    ModbusReceive, RaisedError,
    testing::Values(
        ErrorCase{"ExceptionReply",
                  0,
                  {3, 70000, 1},
                  HexBytes("01 83 02"),
                  "查询中的数据地址对于从机来说是非法的。\n\t功能：3\t寄存器地址：70000"},
        ErrorCase{"StrayFunctionReportsItsThirdByte",
                  0,
                  {3, 5, 1},
                  HexBytes("01 04 02"),
                  "查询中的数据地址对于从机来说是非法的。\n\t功能：3\t寄存器地址：5"},
        ErrorCase{"WriteExceptionReply",
                  0,
                  {6, 1, 1, "3"},
                  HexBytes("01 86 03"),
                  "查询中数据域的数值不是从机所允许的。\n\t功能：6\t寄存器地址：1"},
        ErrorCase{"ReadCrcFailure",
                  0,
                  {3, 7, 1},
                  HexBytes("01 03 02 00 7B F8 68"),
                  "接收到的数据CRC校验错误，响应无效。\n\t功能：3\t寄存器地址：7"},
        ErrorCase{"AsciiExceptionReply",
                  1,
                  {1, 100, 1},
                  Chars(":018102"),
                  "查询中的数据地址对于从机来说是非法的。\n\t功能：1\t寄存器地址：100"},
        ErrorCase{"AsciiReadLrcFailure",
                  1,
                  {3, 7, 1},
                  Chars(":0103020005F4\r\n"),
                  "接收到的数据LRC校验错误，响应无效。\n\t功能：3\t寄存器地址：7"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ModbusReceive, ExceptionLeavesTheCountsForReset) {
    Exchange x({});
    EXPECT_THROW(x.FeedAll(HexBytes("01 83 02")), ProtocolError);
    EXPECT_EQ(x.protocol.rxCount, 3);
    EXPECT_EQ(x.protocol.expectedLength, 0);
    // After Reset a whole reply is read again.
    x.record.dataLength = 9;
    EXPECT_EQ(x.protocol.Reset(), 0);
    EXPECT_EQ(x.record.dataLength, 0);
    EXPECT_EQ(x.FeedAll(HexBytes("01 03 02 00 7B F8 67")), EndingWith(7, 1));
    EXPECT_EQ(x.record.valueText, "123");
}

struct ExceptionTextCase {
    int code;
    const char* text;
};

TEST(ModbusReceive, ReportExceptionTexts) {
    const ExceptionTextCase cases[] = {
        {1, "从机接收到的功能是不允许的。\n\t功能：3\t寄存器地址：-2"},
        {2, "查询中的数据地址对于从机来说是非法的。\n\t功能：3\t寄存器地址：-2"},
        {3, "查询中数据域的数值不是从机所允许的。\n\t功能：3\t寄存器地址：-2"},
        {4, "当从机试图进行所要求的动作时，发生了一个不可恢复的错误。\n\t功能：3\t寄存器地址：-2"},
        {5, "从机已接受查询，正在进行处理，但需要持续较长的时间。\n\t功能：3\t寄存器地址：-2"},
        {6, "从机正在处理一个持续时间比较长的指令。\n\t功能：3\t寄存器地址：-2"},
        {7, "从机不能完成查询中的功能要求。\n\t功能：3\t寄存器地址：-2"},
        {8, "从机试图阅读扩展存储器，但在存储器中发现奇偶校验错误。\n\t功能：3\t寄存器地址：-2"},
        {0, "不可知的错误。\n\t功能：3\t寄存器地址：-2"},
        {9, "不可知的错误。\n\t功能：3\t寄存器地址：-2"},
        {255, "不可知的错误。\n\t功能：3\t寄存器地址：-2"},
    };
    ModbusProtocol p;
    for (const auto& c : cases) {
        try {
            p.ReportException(c.code, 3, -2);
            ADD_FAILURE() << "code " << c.code << " not raised";
        } catch (const ProtocolError& e) {
            EXPECT_EQ(std::string(e.what()), c.text) << "code " << c.code;
        }
    }
}

TEST(ModbusReceive, WithoutARequestEveryByteAnswers4) {
    ModbusProtocol fresh;
    uint8_t byte = 0x01;
    EXPECT_EQ(fresh.ReceiveByte(&byte), 4);
    EXPECT_EQ(fresh.rxCount, 0);
    Exchange detached({});
    detached.protocol.BuildRequest(nullptr);
    EXPECT_EQ(detached.Feed(0x01), 4);
}

TEST(ModbusReceive, FunctionWithoutHandlerIgnoresEveryByteWithinTheBuffer) {
    for (int asciiMode : {0, 1}) {
        ModbusRequest r;
        r.station = 1;
        r.functionCode = 7;
        ModbusProtocol p;
        p.SetAsciiMode(asciiMode);
        EXPECT_THROW(p.BuildRequest(&r), ProtocolError);
        const Bytes reply = WithCrc(HexBytes("01 07 01 00"));
        for (int i = 0; i < 700; ++i) {
            uint8_t b = reply[static_cast<size_t>(i) % reply.size()];
            ASSERT_EQ(p.ReceiveByte(&b), 0) << "mode " << asciiMode << " byte " << i;
        }
        // The 501st byte and later are dropped, never stored past the buffer.
        EXPECT_LE(p.rxCount, ModbusProtocol::rxCapacity);
    }
}

TEST(ModbusReceive, HexDumpWritesUpperCaseDigits) {
    Exchange x({});
    const Bytes bytes = HexBytes("00 0A FF 7b");
    std::copy(bytes.begin(), bytes.end(), x.protocol.rxBuffer);
    x.protocol.HexDump(1, 4);
    EXPECT_EQ(x.record.valueText, "0AFF7B");
    x.protocol.HexDump(2, 2);
    EXPECT_EQ(x.record.valueText, "");
}

}  // namespace
