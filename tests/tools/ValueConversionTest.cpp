#include "tools/ValueConversion.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace {

using Strings = std::vector<std::string>;

std::string Repeat(const std::string& text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += text;
    return out;
}

const std::string S8 = "有符号8位整形";
const std::string U8 = "无符号8位整形";
const std::string S16 = "有符号16位整形";
const std::string U16 = "无符号16位整形";
const std::string S32 = "有符号32位整形";
const std::string U32 = "无符号32位整形";
const std::string Real = "32位实数";

struct ChoicesRow {
    const char* name;
    int32_t count;
    Strings types;
    int selectedType;
    Strings orders;
    int selectedOrder;
    bool countMessage;
};

TEST(ValueConversion, ChoicesPerByteCount) {
    const ChoicesRow rows[] = {
        {"OneByte", 1, {S8, U8}, 0, {}, -1, false},
        {"TwoBytes", 2, {S16, U16}, 0, {"HV12", "HV21"}, 1, false},
        {"FourBytes", 4, {S32, U32, Real}, 0, {"HV1234", "HV2143", "HV3412", "HV4321"}, 3, false},
        {"NoBytes", 0, {}, -1, {}, -1, true},
        {"ThreeBytes", 3, {}, -1, {}, -1, true},
        {"EightBytes", 8, {}, -1, {}, -1, true},
        {"TooMany", -1, {}, -1, {}, -1, true},
    };
    for (const ChoicesRow& row : rows) {
        SCOPED_TRACE(row.name);
        const ValueConversion::Choices choices = ValueConversion::ChoicesFor(row.count);
        EXPECT_EQ(choices.typeTexts, row.types);
        EXPECT_EQ(choices.selectedType, row.selectedType);
        EXPECT_EQ(choices.orderTexts, row.orders);
        EXPECT_EQ(choices.selectedOrder, row.selectedOrder);
        EXPECT_EQ(choices.countMessage, row.countMessage);
    }
}

TEST(ValueConversion, CountBytesReadsAtMostAHundred) {
    const std::string hundred = Repeat("01 ", 100);
    EXPECT_EQ(ValueConversion::CountBytes("12 34"), 2);
    EXPECT_EQ(ValueConversion::CountBytes(""), 0);
    EXPECT_EQ(ValueConversion::CountBytes(hundred), 100);
    EXPECT_EQ(ValueConversion::CountBytes(hundred + "02"), -1);
}

TEST(ValueConversion, ReorderBytesByOrderName) {
    const uint8_t bytes[] = {0x01, 0x02, 0x03, 0x04};
    const uint8_t pair[] = {0x12, 0x34};
    struct Row {
        const char* name;
        int count;
        const uint8_t* bytes;
        const char* order;
        uint32_t value;
    };
    const Row rows[] = {
        {"HV12FirstByteLow", 2, pair, "HV12", 0x3412},
        {"HV21FirstByteHigh", 2, pair, "HV21", 0x1234},
        {"TwoBytesUnknownNameReadsHighFirst", 2, pair, "HV1234", 0x1234},
        {"HV1234LittleEndian", 4, bytes, "HV1234", 0x04030201},
        {"HV2143LowHalfFirst", 4, bytes, "HV2143", 0x03040102},
        {"HV3412HalvesLowByteFirst", 4, bytes, "HV3412", 0x02010403},
        {"HV4321BigEndian", 4, bytes, "HV4321", 0x01020304},
        {"FourBytesNoOrderReadsHighFirst", 4, bytes, "", 0x01020304},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(ValueConversion::ReorderBytes(row.count, row.bytes, row.order), row.value);
    }
}

struct ConvertRow {
    const char* name;
    std::string hex;
    std::string type;
    std::string order;
    std::string text;
};

void PrintTo(const ConvertRow& row, std::ostream* os) { *os << row.name; }

class ConvertValue : public testing::TestWithParam<ConvertRow> {};

TEST_P(ConvertValue, FormatsTheValue) {
    const ConvertRow& row = GetParam();
    const ValueConversion::Result result =
        ValueConversion::ConvertValue(row.hex, row.type, row.order);
    EXPECT_TRUE(result.converted);
    EXPECT_FALSE(result.countMessage);
    EXPECT_EQ(result.text, row.text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ConvertValue,
    testing::Values(ConvertRow{"Signed16HighFirst", "12 34", S16, "HV21", "4660"},
                    ConvertRow{"Signed16LowFirst", "12 34", S16, "HV12", "13330"},
                    ConvertRow{"Signed16Negative", "FF FE", S16, "HV21", "-2"},
                    ConvertRow{"Unsigned16", "FF FE", U16, "HV21", "65534"},
                    ConvertRow{"Signed16LowFirstNegative", "FF FE", S16, "HV12", "-257"},
                    ConvertRow{"Signed32Negative", "FF FF FF FE", S32, "HV4321", "-2"},
                    ConvertRow{"Unsigned32Largest", "FF FF FF FE", U32, "HV4321", "4294967294"},
                    ConvertRow{"RealBigEndian", "3F 80 00 00", Real, "HV4321", "1.000000"},
                    ConvertRow{"RealLittleEndian", "00 00 80 3F", Real, "HV1234", "1.000000"},
                    ConvertRow{"RealLowHalfFirst", "00 00 3F 80", Real, "HV2143", "1.000000"},
                    ConvertRow{"RealHalvesSwapped", "80 3F 00 00", Real, "HV3412", "1.000000"},
                    ConvertRow{"RealNegative", "C2 C8 00 00", Real, "HV4321", "-100.000000"},
                    ConvertRow{"RealLargestFinite", "7F 7F FF FF", Real, "HV4321",
                               "340282346638528859811704183484516925440.000000"},
                    ConvertRow{"Unsigned8", "FF", U8, "", "255"},
                    ConvertRow{"Signed8TwosComplement", "FF", S8, "", "-1"},
                    ConvertRow{"Signed8Positive", "7F", S8, "", "127"},
                    ConvertRow{"Signed8Smallest", "80", S8, "", "-128"},
                    // Typed in lower case and with prefixes, as the pane hands them over.
                    ConvertRow{"LowerCaseWithPrefixes", "0xff 0xfe", U16, "HV21", "65534"},
                    // Bytes the text does not supply are zero.
                    ConvertRow{"MissingBytesAreZero", "01", U32, "HV4321", "16777216"},
                    ConvertRow{"NoBytesAtAll", "", U16, "HV21", "0"},
                    // Beyond 100 bytes the first ones still count.
                    ConvertRow{"MoreThanAHundredBytes", "12 34" + Repeat(" 00", 100), U16, "HV21",
                               "4660"},
                    // The 8-bit types take byte 1 whatever the count.
                    ConvertRow{"EightBitOfTwoBytes", "FE 01", U8, "HV21", "254"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ConvertValue, OddCountAboveTwoAsksForOneTwoOrFourAndGoesOn) {
    struct Row {
        const char* name;
        const char* hex;
        bool countMessage;
    };
    const Row rows[] = {
        {"Three", "01 02 03", true}, {"Five", "01 02 03 04 05", true},    {"One", "01", false},
        {"None", "", false},         {"Six", "01 02 03 04 05 06", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const ValueConversion::Result result =
            ValueConversion::ConvertValue(row.hex, U32, "HV4321");
        EXPECT_EQ(result.countMessage, row.countMessage);
        EXPECT_TRUE(result.converted);
    }
    EXPECT_EQ(ValueConversion::ConvertValue("01 02 03", U32, "HV4321").text, "16909056");
}

TEST(ConvertValue, UnknownTypeConvertsNothing) {
    // Opened with three bytes, both lists are empty: the count message, then
    // the no-match message.
    const ValueConversion::Result empty = ValueConversion::ConvertValue("01 02 03", "", "");
    EXPECT_TRUE(empty.countMessage);
    EXPECT_FALSE(empty.converted);
    EXPECT_EQ(empty.text, "");
    // Exact text only: a near miss is no match either.
    EXPECT_FALSE(ValueConversion::ConvertValue("01", S8 + " ", "").converted);
    EXPECT_EQ(ValueConversion::CountMessage, "选择的十六进制数据必须是1/2/4个");
    EXPECT_EQ(ValueConversion::NoMatchMessage, "数据转换不能正确");
}

}  // namespace
