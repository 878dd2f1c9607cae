// The receive pane's text model and its selection conversions, without a
// widget: formats, stamp removal, edits across chunk boundaries, and the
// texts the two conversions hand to the dialog or to a message box.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>

#include "tools/ReceiveText.h"
#include "tools/SelectionConversion.h"
#include "tools/TextCodec.h"

namespace {

std::u16string Ascii(std::string_view text) { return std::u16string(text.begin(), text.end()); }

ReceiveText Make(std::string_view ascii) {
    ReceiveText text;
    text.AppendAscii(ascii);
    return text;
}

TEST(ReceiveText, Formats) {
    EXPECT_EQ(FormatReceivedByte(0x01), "   1");
    EXPECT_EQ(FormatReceivedByte(0x0A), "   a");
    EXPECT_EQ(FormatReceivedByte(0xFF), "  ff");
    EXPECT_EQ(FormatReceiveStamp(0), "[   0]");
    EXPECT_EQ(FormatReceiveStamp(1234), "[1234]");
    EXPECT_EQ(FormatReceiveStamp(12345), "[12345]");
    // A wrapped tick difference is large, never negative.
    EXPECT_EQ(FormatReceiveStamp(0xFFFFFFFFu), "[4294967295]");
}

TEST(ReceiveText, RemoveStamps) {
    struct Row {
        const char* name;
        std::string text;
        std::string kept;
    } const rows[] = {
        {"StampedBytes", "   1[   0]   3[  12]  ff[12345]", "   1   3  ff"},
        {"FirstCharacterKept", "x[1]", "x"},
        {"NoStamps", "   1   3", "   1   3"},
        {"UnclosedStopsThere", "   1[   0]   3[  1", "   1   3[  1"},
        {"UnclosedKeepsLaterStamps", "a[b[c]d", "ad"},
        {"CloseBeforeOpenStays", "a]b[c]", "a]b"},
        {"UnclosedAfterClosedOnes", "[1]a[2]b[", "ab["},
        {"Empty", "", ""},
    };
    for (const Row& row : rows) {
        ReceiveText text = Make(row.text);
        text.RemoveStamps();
        EXPECT_EQ(text.ToU16String(), Ascii(row.kept)) << row.name;
        EXPECT_EQ(text.Size(), row.kept.size()) << row.name;
    }
}

// Stamps that straddle chunk boundaries, in a text of many chunks.
TEST(ReceiveText, RemoveStampsAcrossChunks) {
    ReceiveText text;
    std::string kept;
    for (uint32_t i = 0; i < 40000; ++i) {
        const std::string byte = FormatReceivedByte(static_cast<uint8_t>(i));
        text.AppendAscii(byte);
        text.AppendAscii(FormatReceiveStamp(i * 7));
        kept += byte;
    }
    text.AppendAscii("[open");
    kept += "[open";
    text.RemoveStamps();
    EXPECT_EQ(text.ToU16String(), Ascii(kept));
}

// Random replacements against a plain string: every piece of the chunk
// bookkeeping (splits, emptied chunks, starts) shows in Slice and At.
TEST(ReceiveText, EditsMatchAPlainString) {
    std::mt19937 random(7);
    ReceiveText text;
    std::u16string model;
    for (int round = 0; round < 400; ++round) {
        const size_t pos = model.empty() ? 0 : random() % (model.size() + 1);
        const size_t count = random() % 3 == 0 ? random() % 70000 : random() % 8;
        const size_t length = random() % 4 == 0 ? random() % 90000 : random() % 5;
        const std::u16string insert(length, static_cast<char16_t>(u'a' + round % 26));
        if (round % 3 == 0) {
            text.Append(insert);
            model += insert;
        } else if (round % 7 == 1) {  // the pane's trim
            text.DropFront(count);
            model.erase(0, count);
        } else {
            text.Replace(pos, count, insert);
            model.replace(std::min(pos, model.size()), count, insert);
        }
        ASSERT_EQ(text.Size(), model.size()) << "round " << round;
        if (!model.empty()) {
            const size_t at = random() % model.size();
            ASSERT_EQ(text.At(at), model[at]) << "round " << round;
            ASSERT_EQ(text.Slice(at, 100000), model.substr(at, 100000)) << "round " << round;
        }
    }
    EXPECT_EQ(text.ToU16String(), model);
}

// Each "[" up to the next "]" dropped; an unclosed "[" ends the removal.
std::u16string WithoutStamps(const std::u16string& text) {
    std::u16string kept;
    size_t i = 0;
    while (i < text.size()) {
        const size_t open = text.find(u'[', i);
        const size_t close = open == std::u16string::npos ? open : text.find(u']', open);
        if (close == std::u16string::npos) break;
        kept.append(text, i, open - i);
        i = close + 1;
    }
    return kept.append(text, i, std::u16string::npos);
}

// Units up to 255 take a byte each; the first one above that turns the whole
// text wide. Either way every reading and the stamp removal give the same
// units, and a text replaced whole or emptied is narrow again.
TEST(ReceiveText, NarrowAndWideStorage) {
    constexpr size_t kChunk = 32768;
    std::u16string stamped;  // some ten chunks, a Latin-1 unit now and then
    for (uint32_t i = 0; i < 30000; ++i) {
        stamped += Ascii(FormatReceivedByte(static_cast<uint8_t>(i)) + FormatReceiveStamp(i));
        if (i % 97 == 0) stamped += u'\u00e9';
    }
    using Edit = std::function<void(ReceiveText&, std::u16string&)>;
    struct Row {
        const char* name;
        Edit edit;
        bool wide;
    } const rows[] = {
        {"Untouched", [](ReceiveText&, std::u16string&) {}, false},
        {"LatinOneStaysNarrow",
         [](ReceiveText& t, std::u16string& m) {
             t.Append(u"\u00ff[\u00e9]");
             t.AppendAscii("\xe9\xff");
             m += u"\u00ff[\u00e9]\u00e9\u00ff";
         },
         false},
        {"U0100TurnsWide",
         [](ReceiveText& t, std::u16string& m) {
             t.Append(u"\u0100");
             m += u"\u0100";
         },
         true},
        {"WideAppended",
         [](ReceiveText& t, std::u16string& m) {
             t.Append(u"\u4e2d[1]\u6587[");
             t.AppendAscii("  ff]\xe9");
             m += u"\u4e2d[1]\u6587[  ff]\u00e9";
         },
         true},
        {"WideReplacedAcrossAChunkEnd",
         [](ReceiveText& t, std::u16string& m) {
             t.Replace(kChunk - 3, 7, u"\u4e2d[\u6587");
             m.replace(kChunk - 3, 7, u"\u4e2d[\u6587");
             t.Replace(150001, 0, u"]\u00e9");
             m.replace(150001, 0, u"]\u00e9");
             t.AppendAscii("  7f[");
             m += u"  7f[";
         },
         true},
        {"ReplacedWholeTurnsNarrow",
         [&stamped](ReceiveText& t, std::u16string& m) {
             t.Append(u"\u4e2d");
             t.Replace(0, t.Size(), stamped);
             m = stamped;
         },
         false},
        {"EmptiedTurnsNarrow",
         [&stamped](ReceiveText& t, std::u16string& m) {
             t.Clear();
             t.Append(u"[\u4e2d]");
             t.RemoveStamps();
             t.Append(stamped);
             m = stamped;
         },
         false},
    };
    for (const Row& row : rows) {
        ReceiveText text;
        text.Append(stamped);
        std::u16string model = stamped;
        row.edit(text, model);
        ASSERT_EQ(text.ToU16String(), model) << row.name;
        for (size_t pos = 0; pos < model.size(); pos += 997)
            ASSERT_EQ(text.At(pos), model[pos]) << row.name << " at " << pos;
        EXPECT_EQ(text.At(model.size() - 1), model.back()) << row.name;
        for (const auto& [pos, count] : {std::pair<size_t, size_t>{kChunk - 300, 1000},
                                         {12345, 70000},
                                         {model.size() - 5, 100}}) {
            std::u16string spans;
            text.ForEachSpan(pos, count,
                             [&spans](const char16_t* data, size_t n) { spans.append(data, n); });
            EXPECT_EQ(spans, model.substr(pos, count)) << row.name << " from " << pos;
        }
        int visits = 0;
        text.ForEachSpan(0, model.size(), [&visits](const char16_t*, size_t) {
            ++visits;
            return false;
        });
        EXPECT_EQ(visits, 1) << row.name;
        const double perUnit = static_cast<double>(text.MemoryBytes()) / model.size();
        if (row.wide)
            EXPECT_GE(perUnit, 2.0) << row.name;
        else
            EXPECT_LT(perUnit, 1.2) << row.name;
        const std::u16string kept = WithoutStamps(model);
        EXPECT_EQ(text.RemoveStamps(), model.size() - kept.size()) << row.name;
        EXPECT_EQ(text.ToU16String(), kept) << row.name;
        EXPECT_EQ(text.Size(), kept.size()) << row.name;
    }
}

// The selection conversions with what they show and what the dialog gets.
TEST(SelectionConversion, Conversions) {
    const std::string letters = "您选择的数据[%s]有字母";
    const std::string length = "您选择的有效数据[%s], 选择的数据必须是4/8/16个数据";
    auto with = [](std::string format, const std::string& quoted) {
        return format.replace(format.find("%s"), 2, quoted);
    };
    struct Row {
        const char* name;
        bool modbus;
        std::string selected;
        std::string message;
        bool open;
        std::string hexText;
    } const rows[] = {
        {"AsciiOfZeroOneZeroThree", true, "  30  31  30  33", "", true, "01 03 "},
        {"AsciiSixteenDigits", true, "  30  31  30  33  30  30  30  31", "", true, "01 03 00 01 "},
        {"AsciiLettersOfAColon", true, "  3a  30  31  30  33 ", with(letters, "3a30313033"), false,
         ""},
        {"AsciiSixDigits", true, "  30  31  30", with(length, "303130"), false, ""},
        {"AsciiTwelveDigitsPass", true, "303132333435", "", true, "01 23 45 "},
        {"AsciiLettersAtoF", true, "41424346", "", true, "AB CF "},
        {"AsciiWithAStamp", true, "  30[   0]  31", with(letters, "30[0]31"), false, ""},
        {"AsciiLineBreakIsALetter", true, "30\n31", with(letters, "30\n31"), false, ""},
        {"HexTwoBytes", false, "   1   3 ", "", true, "1   3"},
        {"HexThreeBytes", false, "   1   3  ff", "选择的十六进制数据必须是1/2/4个", true,
         "1   3  ff"},
        {"HexOneByte", false, "  ff", "", true, "ff"},
        {"HexFourBytes", false, "1 2 3 4", "", true, "1 2 3 4"},
        {"HexSixBytesNoMessage", false, "1 2 3 4 5 6", "", true, "1 2 3 4 5 6"},
        {"HexWithAStampPassesUnchanged", false, "  ff[  12]", "", true, "ff[  12]"},
    };
    for (const Row& row : rows) {
        const SelectionConversion got = row.modbus ? ConvertModbusAsciiSelection(row.selected)
                                                   : ConvertHexSelection(row.selected);
        EXPECT_EQ(got.message, row.message) << row.name;
        EXPECT_EQ(got.openDialog, row.open) << row.name;
        EXPECT_EQ(got.hexText, row.hexText) << row.name;
    }
}

// A selection of megabytes is quoted by its start, cut where a whole
// character ends.
TEST(SelectionConversion, LongSelectionsAreQuotedShort) {
    const std::string dump(4 << 20, 'f');
    const SelectionConversion got = ConvertModbusAsciiSelection(dump);
    EXPECT_EQ(got.message, "您选择的数据[" + std::string(64, 'f') + "...]有字母");
    const std::string chinese =
        "a" + Utf8ToGbk("中文中文中文中文中文中文中文中文中文中文中文中文中文中文中文中文中文中文");
    const std::string quoted = QuoteSelection(chinese);
    EXPECT_EQ(quoted.size(), 63u + 3u);  // "a" and 31 double-byte characters
    EXPECT_EQ(GbkToUtf8(quoted).find('?'), std::string::npos);
}

}  // namespace
