// The incremental wrap must give the rows a full layout gives: after appends
// of received bytes and stamps, and after edits anywhere in the text.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "tools/ReceiveText.h"
#include "ui/TextRows.h"

namespace {

std::vector<size_t> Starts(const TextRows& rows) {
    std::vector<size_t> starts;
    for (size_t r = 0; r < rows.RowCount(); ++r) starts.push_back(rows.RowStart(r));
    return starts;
}

std::vector<size_t> Full(const ReceiveText& text, int columns) {
    TextRows rows;
    rows.Rewrap(text, columns);
    return Starts(rows);
}

TEST(TextRows, WrapsAtBlanks) {
    struct Row {
        const char* name;
        std::u16string text;
        int columns;
        std::vector<size_t> starts;
    } const rows[] = {
        {"DumpBreaksAfterBlanks", u"   1   3  ff", 6, {0, 7}},
        {"BlanksPastTheEdgeHang", u"ab    cd", 3, {0, 6}},
        {"DumpEndingAtTheLastColumnStays", u"   1  ff", 8, {0}},
        {"WordLongerThanARowIsCut", u"abcdefgh", 3, {0, 3, 6}},
        {"LineBreakEndsARow", u"ab\ncd", 10, {0, 3}},
        {"ChineseTakesTwoColumns", u"中文中文", 5, {0, 2}},
        {"TabRunsToEight", u"a\tb", 8, {0, 2}},
    };
    for (const Row& row : rows) {
        ReceiveText text;
        text.Append(row.text);
        EXPECT_EQ(Full(text, row.columns), row.starts) << row.name;
    }
}

TEST(TextRows, IncrementalMatchesFull) {
    std::mt19937 random(11);
    const std::u16string pieces[] = {u"   1", u"  ff", u"[   0]", u"[12345]",
                                     u" ",    u"\n",   u"中文",   u"abcdefghijklmnopqrstuvwxyz",
                                     u"\t"};
    for (int columns : {1, 7, 45, 90}) {
        ReceiveText text;
        TextRows rows;
        rows.Rewrap(text, columns);
        for (int round = 0; round < 1500; ++round) {
            const std::u16string& piece = pieces[random() % std::size(pieces)];
            if (round % 5 != 0) {
                const size_t old = text.Size();
                text.Append(piece);
                rows.Appended(text, old);
            } else if (round % 25 == 0) {  // the pane's trim, at a row start
                const size_t cut = rows.RowStart(random() % rows.RowCount());
                text.DropFront(cut);
                rows.DroppedFront(text, cut);
            } else {
                const size_t pos = random() % (text.Size() + 1);
                const size_t removed = std::min<size_t>(random() % 12, text.Size() - pos);
                const std::u16string insert = piece.substr(0, random() % (piece.size() + 1));
                text.Replace(pos, removed, insert);
                rows.Edited(text, pos, removed, insert.size());
            }
            ASSERT_EQ(Starts(rows), Full(text, columns))
                << "columns " << columns << " round " << round;
        }
    }
}

}  // namespace
