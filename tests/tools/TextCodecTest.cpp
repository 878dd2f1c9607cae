#include "tools/TextCodec.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace {

struct CodecRow {
    const char* name;
    std::string utf8;
    std::string gbk;
};

void PrintTo(const CodecRow& row, std::ostream* os) { *os << row.name; }

// Texts that convert both ways without loss.
class GbkRoundTrip : public testing::TestWithParam<CodecRow> {};

TEST_P(GbkRoundTrip, ConvertsBothWays) {
    const CodecRow& row = GetParam();
    EXPECT_EQ(Utf8ToGbk(row.utf8), row.gbk);
    EXPECT_EQ(GbkToUtf8(row.gbk), row.utf8);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, GbkRoundTrip,
    testing::Values(
        CodecRow{"Empty", "", ""}, CodecRow{"Ascii", "0x01 03 FF\r\n", "0x01 03 FF\r\n"},
        CodecRow{"CalculatorCaption", "校验码计算", "\xD0\xA3\xD1\xE9\xC2\xEB\xBC\xC6\xCB\xE3"},
        CodecRow{"MixedWithAscii", "LRC (BCD码,字符之间不许有空格)",
                 "LRC (BCD\xC2\xEB,\xD7\xD6\xB7\xFB\xD6\xAE\xBC\xE4\xB2\xBB\xD0\xED\xD3\xD0"
                 "\xBF\xD5\xB8\xF1)"},
        // Code page 936 keeps the euro sign as the single byte 0x80.
        CodecRow{"EuroSign", "€", "\x80"},
        // A trail byte in the ASCII letter range.
        CodecRow{"TrailByteLooksLikeALetter", "乤", "\x81\x61"}),
    [](const auto& info) { return std::string(info.param.name); });

struct LossyRow {
    const char* name;
    std::string in;
    std::string out;
};

TEST(Utf8ToGbk, WhatTheCodePageCannotHoldBecomesOneQuestionMark) {
    const LossyRow rows[] = {
        {"Emoji", "a😀b", "a?b"},
        {"LatinSmallYWithDiaeresis", "ÿ", "?"},
        {"StrayLeadByteKeepsTheNextCharacter",
         "a\xC3"
         "Ab",
         "a?Ab"},
        {"LoneContinuationByte",
         "a\x80"
         "b",
         "a?b"},
        {"TruncatedThreeByteSequence",
         "\xE6\xA0"
         "x",
         "?x"},
        {"TruncatedAtTheEnd", "ab\xE6\xA0", "ab?"},
        {"InvalidLeadByte",
         "\xFF\xFE"
         "1",
         "??1"},
        {"NeighboursKept", "校😀验", "\xD0\xA3?\xD1\xE9"},
    };
    for (const LossyRow& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(Utf8ToGbk(row.in), row.out);
    }
}

TEST(GbkToUtf8, BrokenDoubleByteBecomesOneQuestionMark) {
    const LossyRow rows[] = {
        {"LeadByteBeforeASpaceKeepsTheSpace", "\x81 01", "? 01"},
        {"LeadByteAtTheEnd", "01\xD0", "01?"},
        {"ByteFF",
         "\xFF"
         "A",
         "?A"},
    };
    for (const LossyRow& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(GbkToUtf8(row.in), row.out);
    }
}

TEST(UpperAscii, TouchesOnlyAsciiLetters) {
    const LossyRow rows[] = {
        {"AsciiLetters", "0xab Cd gz", "0XAB CD GZ"},
        {"TrailByteOfADoubleByteCharacter",
         "\x81\x61"
         "a",
         "\x81\x61"
         "A"},
        {"LeadBytesInARow",
         "\xD0\xA3\x81\x7A"
         "z",
         "\xD0\xA3\x81\x7A"
         "Z"},
        {"LeadByteAtTheEnd", "a\x81", "A\x81"},
        {"EuroSignIsASingleByte",
         "\x80"
         "a",
         "\x80"
         "A"},
    };
    for (const LossyRow& row : rows) {
        SCOPED_TRACE(row.name);
        std::string text = row.in;
        UpperAscii(text);
        EXPECT_EQ(text, row.out);
    }
}

}  // namespace
