// Response data as text by data type, and the record's data stream.
#include <gtest/gtest.h>

#include "FrameBytes.h"
#include "protocol/MemoryStream.h"
#include "protocol/ModbusRequest.h"

namespace {

struct FormatCase {
    const char* name;
    int dataType;
    int decimals;
    Bytes data;
    std::string text;
};

class FormatValue : public testing::TestWithParam<FormatCase> {};

TEST_P(FormatValue, WritesTheTextAndItsCopy) {
    const FormatCase& c = GetParam();
    ModbusRequest r;
    r.dataType = c.dataType;
    r.decimals = c.decimals;
    r.FormatValue(c.data.data(), static_cast<int>(c.data.size()));
    EXPECT_EQ(r.valueText, c.text);
    EXPECT_EQ(r.resultText, c.text);
}

INSTANTIATE_TEST_SUITE_P(
    ModbusFormat, FormatValue,
    testing::Values(
        FormatCase{"Signed16Negative", 2, 0, HexBytes("FF FE"), "-2"},
        FormatCase{"Unsigned16", 5, 0, HexBytes("FF FE"), "65534"},
        FormatCase{"Signed8", 1, 0, HexBytes("80"), "-128"},
        FormatCase{"Unsigned8", 4, 0, HexBytes("80"), "128"},
        FormatCase{"Signed32", 3, 0, HexBytes("FF FF FF FE"), "-2"},
        FormatCase{"Unsigned32", 6, 0, HexBytes("FF FF FF FE"), "4294967294"},
        FormatCase{"WrongLengthLeavesTheText", 2, 0, HexBytes("7B"), "00"},
        FormatCase{"Signed32WrongLength", 3, 0, HexBytes("00 7B"), "00"},
        FormatCase{"Types7And8LeaveTheText", 7, 0, HexBytes("00 7B"), "00"},
        FormatCase{"UnknownTypeLeavesTheText", 99, 0, HexBytes("00 7B"), "00"},
        FormatCase{"FixedOneDecimal", 9, 1, HexBytes("00 7B"), "12.3"},
        FormatCase{"FixedTwoDecimals", 9, 2, HexBytes("00 7B"), "1.23"},
        FormatCase{"FixedFiveDecimalsPrintsFour", 9, 5, HexBytes("00 7B"), "0.0012"},
        FormatCase{"FixedNoDecimals", 9, 0, HexBytes("FF 85"), "-123"},
        FormatCase{"FixedNegativeDecimals", 11, -1, HexBytes("00 7B"), "1230.0000"},
        FormatCase{"FixedSigned32", 10, 3, HexBytes("FF FF FF 85"), "-0.123"},
        FormatCase{"FixedUnsigned32", 12, 0, HexBytes("01 02 03 04"), "16909060"},
        FormatCase{"FixedUnsigned32AboveSignedRange", 12, 0, HexBytes("FF FF FF FE"), "4294967294"},
        FormatCase{"FixedUnsigned16", 11, 2, HexBytes("FF FF"), "655.35"},
        FormatCase{"BitInFirstByte", 0, 9, HexBytes("02 00"), "1"},
        FormatCase{"BitZeroIsLowestOfLastByte", 0, 0, HexBytes("00 01"), "1"},
        FormatCase{"BitClear", 0, 8, HexBytes("02 00"), "0"},
        FormatCase{"BitPastTheDataReadsZero", 0, 16, HexBytes("FF FF"), "0"},
        FormatCase{"NegativeBitReadsZero", 0, -1, HexBytes("FF FF"), "0"},
        FormatCase{"BitOfNoDataReadsZero", 0, 0, Bytes{}, "0"},
        FormatCase{"PointNoDecimals", 20, 0, HexBytes("04 D2"), "1234"},
        FormatCase{"PointTwoDecimals", 20, 2, HexBytes("04 D2"), "12.34"},
        FormatCase{"PointAsManyDecimalsAsDigits", 20, 4, HexBytes("04 D2"), "0.1234"},
        FormatCase{"PointMoreDecimalsThanDigits", 20, 6, HexBytes("04 D2"), "0.001234"},
        FormatCase{"PointSingleByte", 20, 3, HexBytes("05"), "0.005"},
        FormatCase{"PointNegativeDecimalsIgnored", 20, -2, HexBytes("04 D2"), "1234"},
        FormatCase{"PointNegativeOneDecimal", 20, 1, HexBytes("FF FF FF FB"), "-0.5"},
        FormatCase{"PointNegativeTwoDecimals", 20, 2, HexBytes("FF FF FB 2E"), "-12.34"},
        FormatCase{"PointNegativeThreeDecimals", 20, 3, HexBytes("FF FF FF FB"), "-0.005"},
        FormatCase{"PointNegativeNoDecimals", 20, 0, HexBytes("FF FF FF FB"), "-5"},
        FormatCase{"PointKeepsLastFourBytes", 20, 0, HexBytes("AA BB 00 00 04 D2"), "1234"},
        FormatCase{"PointLowestInt", 20, 2, HexBytes("80 00 00 00"), "-21474836.48"},
        FormatCase{"PointAbsurdDecimalsLeaveTheText", 20, 1000000, HexBytes("05"), "00"},
        FormatCase{"HexDigitsLowerCase", 21, 0, HexBytes("0A FF"), "0aff"},
        FormatCase{"HexDigitsOfNothing", 21, 0, Bytes{}, ""},
        FormatCase{"Characters", 30, 0, Bytes{'O', 'K'}, "OK"},
        FormatCase{"CharactersKeepAZero", 30, 0, Bytes{'A', 0, 'B'}, std::string("A\0B", 3)},
        FormatCase{"CharactersOfNothing", 30, 0, Bytes{}, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ModbusFormat, UnchangedTextIsStillCopied) {
    ModbusRequest r;
    r.valueText = "kept";
    r.resultText = "old";
    const uint8_t one = 1;
    r.FormatValue(&one, 1);  // type 2 wants two bytes
    EXPECT_EQ(r.valueText, "kept");
    EXPECT_EQ(r.resultText, "kept");
}

TEST(ModbusFormat, DataRoundTripsThroughAStream) {
    ModbusRequest source;
    for (int i = 0; i < 10; ++i) source.dataBuffer[i] = static_cast<uint8_t>(0xA0 + i);
    source.dataOffset = 2;
    source.streamLength = 5;
    MemoryStream stream;
    ASSERT_TRUE(source.SaveData(&stream));
    EXPECT_EQ(stream.Bytes(), HexBytes("05 00 00 00 A2 A3 A4 A5 A6"));

    ModbusRequest target;
    target.dataOffset = 7;
    ASSERT_TRUE(target.LoadData(&stream));
    EXPECT_EQ(target.dataOffset, 0);
    EXPECT_EQ(target.streamLength, 5);
    EXPECT_EQ(target.dataLength, 5);
    EXPECT_EQ(Bytes(target.dataBuffer, target.dataBuffer + 5), HexBytes("A2 A3 A4 A5 A6"));
}

TEST(ModbusFormat, NullStreamIsLeftAlone) {
    ModbusRequest r;
    r.streamLength = 3;
    EXPECT_FALSE(r.SaveData(nullptr));
    EXPECT_FALSE(r.LoadData(nullptr));
    EXPECT_EQ(r.streamLength, 3);
}

struct SaveRangeCase {
    const char* name;
    int dataOffset;
    int streamLength;
    bool saved;
};

TEST(ModbusFormat, SaveWritesNothingOutsideTheBuffer) {
    const SaveRangeCase cases[] = {
        {"WholeBuffer", 0, 500, true},           {"EndsAtTheBufferEnd", 499, 1, true},
        {"EmptyAtTheEnd", 500, 0, true},         {"OnePastTheEnd", 499, 2, false},
        {"LengthAboveTheBuffer", 0, 501, false}, {"NegativeOffset", -1, 1, false},
        {"NegativeLength", 0, -1, false},        {"OverflowingSum", 2, 2147483647, false},
    };
    for (const auto& c : cases) {
        ModbusRequest r;
        r.dataOffset = c.dataOffset;
        r.streamLength = c.streamLength;
        MemoryStream stream;
        EXPECT_EQ(r.SaveData(&stream), c.saved) << c.name;
        EXPECT_EQ(stream.Bytes().size(), c.saved ? 4u + static_cast<size_t>(c.streamLength) : 0u)
            << c.name;
    }
}

struct LoadCase {
    const char* name;
    Bytes stream;
    bool loaded;
    int dataLength;
};

TEST(ModbusFormat, LoadTrustsNoCountItCannotHold) {
    Bytes full = {0xF4, 0x01, 0x00, 0x00};
    full.resize(4 + 500, 0x5A);
    Bytes tooLong = {0xF5, 0x01, 0x00, 0x00};
    tooLong.resize(4 + 501, 0x5A);
    const LoadCase cases[] = {
        {"Empty", {}, false, 0},
        {"CountCutShort", HexBytes("05 00"), false, 0},
        {"DataCutShort", HexBytes("05 00 00 00 01 02"), false, 0},
        {"CountAboveTheBuffer", tooLong, false, 0},
        {"HugeCount", HexBytes("FF FF FF FF 01"), false, 0},
        {"ZeroCount", HexBytes("00 00 00 00"), true, 0},
        {"WholeBuffer", full, true, 500},
    };
    for (const auto& c : cases) {
        ModbusRequest r;
        r.dataLength = 77;
        r.streamLength = 77;
        MemoryStream stream(c.stream);
        EXPECT_EQ(r.LoadData(&stream), c.loaded) << c.name;
        EXPECT_EQ(r.dataLength, c.dataLength) << c.name;
        EXPECT_EQ(r.streamLength, c.dataLength) << c.name;
    }
}

}  // namespace
