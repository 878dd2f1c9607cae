#include "tools/ChecksumTool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <ostream>
#include <string>
#include <vector>

#include "RecordingMessageBoxSink.h"

namespace {

using Bytes = std::vector<uint8_t>;

const std::string OddCountPrefix = "字符数量只有";

TEST(ChecksumTool, OffersCrc16ThenLrc) {
    const ChecksumTool tool;
    EXPECT_EQ(tool.MethodNames(),
              (std::vector<std::string>{"CRC16", "LRC (BCD码,字符之间不许有空格)"}));
}

// --- CRC16 ---------------------------------------------------------------

struct CrcRow {
    const char* name;
    Bytes bytes;
    uint16_t crc;
};

void PrintTo(const CrcRow& row, std::ostream* os) { *os << row.name; }

class Crc16 : public testing::TestWithParam<CrcRow> {};

TEST_P(Crc16, MatchesPublishedValue) {
    const CrcRow& row = GetParam();
    EXPECT_EQ(ChecksumTool::Crc16(row.bytes.data(), static_cast<uint32_t>(row.bytes.size())),
              row.crc);
}

INSTANTIATE_TEST_SUITE_P(
    Vectors, Crc16,
    testing::Values(
        CrcRow{"NoBytes", {}, 0xFFFF},
        CrcRow{"ReadOneRegister", {0x01, 0x03, 0x00, 0x00, 0x00, 0x01}, 0x0A84},
        CrcRow{"CheckValueOfDigits", {'1', '2', '3', '4', '5', '6', '7', '8', '9'}, 0x4B37},
        CrcRow{"ReadHoldingRegistersExample", {0x11, 0x03, 0x00, 0x6B, 0x00, 0x03}, 0x8776},
        CrcRow{"WriteSingleRegister", {0x01, 0x06, 0x00, 0x01, 0x00, 0x03}, 0x0B98}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Crc16, FrameWithItsCrcLowByteFirstLeavesZero) {
    Bytes frame{0x01, 0x03, 0x00, 0x00, 0x00, 0x01};
    const uint16_t crc = ChecksumTool::Crc16(frame.data(), 6);
    frame.push_back(static_cast<uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    EXPECT_EQ(frame[6], 0x84);
    EXPECT_EQ(frame[7], 0x0A);
    EXPECT_EQ(ChecksumTool::Crc16(frame.data(), 8), 0);
}

// --- LRC -----------------------------------------------------------------

struct LrcRow {
    const char* name;
    std::string text;
    uint8_t lrc;
};

void PrintTo(const LrcRow& row, std::ostream* os) { *os << row.name; }

// Even texts: Lrc and FrameLrc agree and neither says a word.
class Lrc : public testing::TestWithParam<LrcRow> {};

TEST_P(Lrc, SumsPairsSilently) {
    const LrcRow& row = GetParam();
    RecordingMessageBoxSink boxes;
    EXPECT_EQ(ChecksumTool::Lrc(row.text), row.lrc);
    EXPECT_EQ(ChecksumTool::FrameLrc(row.text.data(), static_cast<uint32_t>(row.text.size())),
              row.lrc);
    EXPECT_TRUE(boxes.Texts().empty());
}

INSTANTIATE_TEST_SUITE_P(Pairs, Lrc,
                         testing::Values(LrcRow{"Empty", "", 0x00},
                                         LrcRow{"ReadOneRegister", "010300000001", 0xFB},
                                         LrcRow{"UpperCaseDigit", "0A", 0xF6},
                                         LrcRow{"LowerCaseSameAsUpper", "0a", 0xF6},
                                         LrcRow{"SumWrapsAt256", "FF01", 0x00},
                                         LrcRow{"BlankBeforeDigit", " 5", 0xFB},
                                         LrcRow{"DigitThenGarbage", "5G", 0xFB},
                                         LrcRow{"NegativePairTakesLowByte", "-1", 0x01},
                                         // Pairs that read no digit add the previous pair's value
                                         // again: 05 + 05 = 0A.
                                         LrcRow{"BarePrefixRepeatsPrevious", "050x", 0xF6},
                                         LrcRow{"UpperBarePrefixRepeatsPrevious", "050X", 0xF6},
                                         LrcRow{"BlankPairRepeatsPrevious", "05  ", 0xF6},
                                         LrcRow{"SignAloneRepeatsPrevious", "05+ ", 0xF6},
                                         LrcRow{"NonDigitsRepeatPrevious", "05GG", 0xF6},
                                         LrcRow{"RepeatsOnlyTheLastRead", "0102  ", 0xFB},
                                         LrcRow{"FirstPairWithoutDigitsIsZero", "0x05", 0xFB},
                                         LrcRow{"NoDigitsAtAll", "  GG", 0x00}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Lrc, OddCountTellsTheUserTheByteCount) {
    struct Row {
        const char* name;
        std::string text;
        const char* count;
    };
    const Row rows[] = {
        {"SpaceBetweenPairs", "01 03", "5"},
        {"SingleDigit", "1", "1"},
        // Counted in code page 936 bytes: two characters of two bytes and a digit.
        {"DoubleByteCharacters",
         "\xD0\xA3\xD1\xE9"
         "1",
         "5"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        RecordingMessageBoxSink boxes;
        EXPECT_EQ(ChecksumTool::Lrc(row.text), 0);
        EXPECT_EQ(boxes.Texts(), std::vector<std::string>{OddCountPrefix + row.count});
    }
}

TEST(FrameLrc, OddCountIsZeroWithoutAWord) {
    RecordingMessageBoxSink boxes;
    EXPECT_EQ(ChecksumTool::FrameLrc("01030", 5), 0);
    EXPECT_EQ(ChecksumTool::FrameLrc("1", 1), 0);
    EXPECT_TRUE(boxes.Texts().empty());
}

TEST(FrameLrc, ReadsOnlyTheGivenCount) {
    const std::string frame = "010300000001FB\r\n";
    EXPECT_EQ(ChecksumTool::FrameLrc(frame.data(), 12), 0xFB);
    EXPECT_EQ(ChecksumTool::FrameLrc(frame.data(), 0), 0);
    EXPECT_EQ(ChecksumTool::FrameLrc(nullptr, 0), 0);
}

// --- ParseHexText --------------------------------------------------------

struct ParseRow {
    const char* name;
    std::string text;
    int32_t capacity;
    int32_t result;
    Bytes written;  // what out holds afterwards, also when the result is -1
};

void PrintTo(const ParseRow& row, std::ostream* os) { *os << row.name; }

class ParseHexText : public testing::TestWithParam<ParseRow> {};

TEST_P(ParseHexText, ReadsTokens) {
    const ParseRow& row = GetParam();
    constexpr uint8_t Untouched = 0xCC;
    Bytes out(static_cast<size_t>(row.capacity) + 16, Untouched);
    EXPECT_EQ(ChecksumTool::ParseHexText(row.text, out.data(), row.capacity), row.result);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + static_cast<long>(row.written.size())), row.written);
    for (size_t i = row.written.size(); i < out.size(); ++i) {
        EXPECT_EQ(out[i], Untouched) << "byte " << i << " written";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Tokens, ParseHexText,
    testing::Values(
        ParseRow{"Empty", "", 500, 0, {}}, ParseRow{"BlanksOnly", " \t\r\n\v\f ", 500, 0, {}},
        ParseRow{
            "ReadOneRegister", "01 03 00 00 00 01", 500, 6, {0x01, 0x03, 0x00, 0x00, 0x00, 0x01}},
        ParseRow{"PrefixedWithTrailingSpace", "0x84 0x0A ", 500, 2, {0x84, 0x0A}},
        ParseRow{"PrefixOnSomeTokens", "0x01 02 0X03", 500, 3, {0x01, 0x02, 0x03}},
        ParseRow{"SingleDigits", "1 a", 500, 2, {0x01, 0x0A}},
        ParseRow{"LowerCaseDigits", "ab cd ef", 500, 3, {0xAB, 0xCD, 0xEF}},
        ParseRow{"RunOfSpaces", "01    02", 500, 2, {0x01, 0x02}},
        ParseRow{"LeadingBlanks", " \t\r\n 0x01", 500, 1, {0x01}},
        ParseRow{"BlanksAfterASpaceAreDropped", "01 \t\r\n02", 500, 2, {0x01, 0x02}},
        ParseRow{"ThirdDigitIgnored", "123", 500, 1, {0x12}},
        ParseRow{"DigitsNotSplitIntoPairs", "0X0103", 500, 1, {0x01}},
        ParseRow{"TabDoesNotSeparate", "01\t02", 500, 1, {0x01}},
        ParseRow{"LineBreakDoesNotSeparate", "01\r\n02", 500, 1, {0x01}},
        ParseRow{"NonHexLettersNotRejected", "GG", 500, 1, {0x10}},
        ParseRow{"DigitAndNonHexLetter", "1G", 500, 1, {0x10}},
        ParseRow{"PrefixDroppedOnce", "0x0x01", 500, 1, {0x21}},
        ParseRow{"BarePrefixStandsForNoByte", "0X 01", 500, 1, {0x01}},
        ParseRow{"BarePrefixBetweenTokens", "01 0x 02", 500, 2, {0x01, 0x02}},
        ParseRow{"BarePrefixAtTheEnd", "01 0x", 500, 1, {0x01}},
        ParseRow{"BarePrefixAlone", "0x", 500, 0, {}},
        ParseRow{"BarePrefixThenBlanks", "0x \t ", 500, 0, {}},
        // 0x81 0x61 is one double-byte character; its trail byte must not be
        // upper-cased: D(0x81) << 4 | D(0x61) = 0x10 | 0x2A.
        ParseRow{"DoubleByteTrailKeepsItsCase", "\x81\x61 0a", 500, 2, {0x3A, 0x0A}},
        ParseRow{"CapacityFilledExactly", "01 02 03", 3, 3, {0x01, 0x02, 0x03}},
        ParseRow{"TrailingSpacesAfterAFullBuffer", "01 02 03   ", 3, 3, {0x01, 0x02, 0x03}},
        ParseRow{"OneTokenTooMany", "01 02 03 04", 3, -1, {0x01, 0x02, 0x03}},
        ParseRow{"NoCapacityNoTokens", " ", 0, 0, {}},
        ParseRow{"NoCapacityOneToken", "01", 0, -1, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ParseHexText, FullCapacityOfTheCallers) {
    for (const int32_t capacity : {100, 500}) {
        SCOPED_TRACE(capacity);
        std::string text;
        for (int32_t i = 0; i < capacity; ++i) text += "5A ";
        Bytes out(static_cast<size_t>(capacity) + 1, 0);
        EXPECT_EQ(ChecksumTool::ParseHexText(text, out.data(), capacity), capacity);
        EXPECT_EQ(ChecksumTool::ParseHexText(text + "A5", out.data(), capacity), -1);
        EXPECT_EQ(std::count(out.begin(), out.end() - 1, 0x5A), capacity);
        EXPECT_EQ(out.back(), 0);
    }
}

// --- FormatHexBytes ------------------------------------------------------

TEST(FormatHexBytes, WritesPrefixedUpperCasePairsEachFollowedByASpace) {
    const Bytes crc{0x84, 0x0A};
    EXPECT_EQ(ChecksumTool::FormatHexBytes(crc.data(), crc.size()), "0x84 0x0A ");
    EXPECT_EQ(ChecksumTool::FormatHexBytes(nullptr, 0), "");
    const Bytes letters{0xAB, 0xCD, 0xEF, 0x00};
    EXPECT_EQ(ChecksumTool::FormatHexBytes(letters.data(), letters.size()), "0xAB 0xCD 0xEF 0x00 ");
}

TEST(FormatHexBytes, ParseHexTextReadsEveryByteBack) {
    Bytes all(256);
    std::iota(all.begin(), all.end(), 0);
    const std::string text = ChecksumTool::FormatHexBytes(all.data(), all.size());
    Bytes back(256);
    EXPECT_EQ(ChecksumTool::ParseHexText(text, back.data(), 256), 256);
    EXPECT_EQ(back, all);
    // A check code appended to a typed hex text reads on as further bytes.
    Bytes out(8);
    EXPECT_EQ(
        ChecksumTool::ParseHexText(
            "01 03 00 00 00 01 " + ChecksumTool::FormatHexBytes(all.data() + 0x84, 1) + "0x0A ",
            out.data(), 8),
        8);
    EXPECT_EQ(out, (Bytes{0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A}));
}

}  // namespace
