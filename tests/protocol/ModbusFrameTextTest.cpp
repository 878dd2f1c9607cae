// The frames window's line for bench vectors and for frames cut short or lying.
#include <gtest/gtest.h>

#include "FrameBytes.h"
#include "protocol/ModbusFrameText.h"

namespace {

struct TextCase {
    const char* name;
    Bytes adu;
    bool reply;
    int station, function;
    std::string says;
    Bytes request = {};  // the request a reply answers, when known
};

const Bytes readTen = HexBytes("01 03 00 00 00 0A");
const Bytes tenValues =
    HexBytes("01 03 14 03 E8 03 E9 03 EA 03 EB 03 EC 03 ED 03 EE 03 EF 03 F0 03 F1");
const Bytes tenCoils = HexBytes("01 01 02 CD 01");
class FrameText : public testing::TestWithParam<TextCase> {};

// The row's frame cut short, or with two bytes left on, fits no layout: it shows its bytes.
TEST_P(FrameText, SaysWhatTheFrameHoldsAndWrongLengthsTheirBytes) {
    const TextCase& c = GetParam();
    const ModbusFrameText text = DescribeModbusFrame(c.adu, c.reply, c.request);
    EXPECT_EQ(std::pair(text.station, text.function), std::pair(c.station, c.function));
    EXPECT_EQ(text.says, c.says);
    std::vector<Bytes> wrong;
    for (size_t n = 2; n < c.adu.size(); ++n) wrong.emplace_back(c.adu.begin(), c.adu.begin() + n);
    wrong.push_back(c.adu);
    wrong.back().insert(wrong.back().end(), {0, 0});
    for (const Bytes& bytes : wrong) {
        const std::string says = DescribeModbusFrame(bytes, c.reply, c.request).says;
        EXPECT_EQ(says.size(), bytes.size() == 2 ? 0 : 3 * (bytes.size() - 2) - 1) << says;
        EXPECT_EQ(says.find_first_not_of("0123456789abcdef "), std::string::npos) << says;
    }
}

INSTANTIATE_TEST_SUITE_P(
    ModbusFrameText, FrameText,
    testing::Values(
        TextCase{"ReadTenRegisters", readTen, false, 1, 3, "地址 0 数量 10"},
        TextCase{"RegistersFromTheRequestsAddress", tenValues, true, 1, 3,
                 "[0] 1000 1001 1002 1003 1004 1005 1006 1007 1008 1009", readTen},
        TextCase{"CoilsCutToTheTenAsked", tenCoils, true, 1, 1, "[19] 1 0 1 1 0 0 1 1 1 0",
                 HexBytes("01 01 00 13 00 0A")},
        TextCase{"CoilsWithNoRequestFillTheirBytes", tenCoils, true, 1, 1,
                 "1 0 1 1 0 0 1 1 1 0 0 0 0 0 0 0"},
        TextCase{"CoilsOfAnotherRequestFillTheirBytes", tenCoils, true, 1, 1,
                 "1 0 1 1 0 0 1 1 1 0 0 0 0 0 0 0", HexBytes("01 01 00 13 00 14")},
        TextCase{"CoilOn", HexBytes("01 05 00 03 FF 00"), false, 1, 5, "地址 3 ON"},
        TextCase{"CoilNeitherOnNorOff", HexBytes("01 05 00 03 12 AB"), false, 1, 5,
                 "地址 3 0x12ab"},
        TextCase{"RegisterWriteEcho", HexBytes("11 06 00 03 04 D2"), true, 17, 6,
                 "写入 地址 3 值 1234"},
        TextCase{"WriteTwoRegistersUnsigned", HexBytes("01 10 00 00 00 02 04 03 E8 FF FF"), false,
                 1, 16, "地址 0 数量 2 值 1000 65535"},
        TextCase{"CoilsEcho", HexBytes("01 0F 00 00 00 0A"), true, 1, 15, "写入 地址 0 数量 10"},
        TextCase{"IllegalDataAddress", HexBytes("01 83 02"), true, 1, 0x83, "异常 02 非法数据地址"},
        TextCase{"ExceptionOfNoKnownMeaning", HexBytes("01 84 10"), true, 1, 0x84, "异常 10"},
        TextCase{"ExceptionWithoutItsCode", HexBytes("01 83"), true, 1, 0x83, ""},
        TextCase{"UnknownFunction", HexBytes("01 41 0E 01 00"), false, 1, 0x41, "0e 01 00"},
        TextCase{"DiagnosticsQueryData", HexBytes("01 08 00 00 A5 37"), true, 1, 8,
                 "诊断 00 返回询问数据 数据 a5 37"},
        TextCase{"BusMessageCount", HexBytes("01 08 00 0B 01 2C"), true, 1, 8,
                 "诊断 0B 返回总线报文计数 值 300"},
        // A device's own reply: 3 messages, 3 events.
        TextCase{"EventLog", HexBytes("05 0C 09 00 00 00 00 00 03 80 42 80"), true, 5, 12,
                 "状态 0x0000 事件计数 0 报文计数 3 事件 80 42 80"},
        TextCase{"WriteFileRecordOfThreeRegisters",
                 HexBytes("01 15 0D 06 00 04 00 07 00 03 06 AF 04 BE 10 0D"), false, 1, 21,
                 "文件 4 记录 7 值 1711 1214 4109"},
        TextCase{"EventCounter", HexBytes("01 0B FF FF 01 08"), true, 1, 11,
                 "状态 0xFFFF 事件计数 264"},
        TextCase{"ReadFileRecords", HexBytes("01 14 0E 06 00 04 00 01 00 02 06 00 03 00 09 00 02"),
                 false, 1, 20, "文件 4 记录 1 长度 2; 文件 3 记录 9 长度 2"},
        TextCase{"MaskWrite", HexBytes("01 16 00 04 00 F2 00 25"), false, 1, 22,
                 "地址 4 与 0x00F2 或 0x0025"},
        TextCase{"ReadWriteRequest", HexBytes("01 17 00 03 00 06 00 0E 00 03 06 00 FF 00 FF 00 FF"),
                 false, 1, 23, "读 地址 3 数量 6 写 地址 14 数量 3 值 255 255 255"},
        TextCase{"ReadWriteReplyFromItsReadAddress", HexBytes("01 17 04 00 FE 0A CD"), true, 1, 23,
                 "[3] 254 2765", HexBytes("01 17 00 03 00 02 00 0E 00 01 02 00 FF")},
        TextCase{"FifoQueue", HexBytes("01 18 00 06 00 02 01 B8 12 84"), true, 1, 24,
                 "FIFO 数量 2 值 440 4740"},
        TextCase{"DeviceIdentification",
                 HexBytes("01 2B 0E 01 01 00 00 02 00 03 41 42 43 01 02 54 31"), true, 1, 43,
                 "厂商 = ABC; 产品代码 = T1"},
        TextCase{"DeviceIdentificationMoreFollows",
                 HexBytes("01 2B 0E 01 81 FF 02 02 00 03 41 42 43 01 02 54 31"), true, 1, 43,
                 "厂商 = ABC; 产品代码 = T1; 后续 对象 2"},
        TextCase{"ByteCountBeyondTheData", HexBytes("01 03 14 03 E8"), true, 1, 3, "14 03 e8",
                 readTen},
        TextCase{"OddRegisterByteCount", HexBytes("01 03 03 00 01 02"), true, 1, 3, "03 00 01 02"},
        TextCase{"QuantityAndByteCountDisagree", HexBytes("01 10 00 00 00 03 04 03 E8 FF FF"),
                 false, 1, 16, "00 00 00 03 04 03 e8 ff ff"},
        TextCase{"StationAlone", HexBytes("07"), false, 7, -1, "07"},
        TextCase{"NoBytes", Bytes{}, true, -1, -1, "", readTen}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
