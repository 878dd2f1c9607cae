// Where the rows of a wrapped text begin: the text is cut into rows no wider
// than a number of columns, at blanks where it can be, and the row starts are
// kept up to date as the text grows or is edited, without laying it all out
// again. A Latin character takes one column, a Chinese one two.
#pragma once

#include <cstddef>
#include <vector>

#include "tools/ReceiveText.h"

class TextRows {
public:
    // Columns a unit takes at column `column` of its row (a tab runs to the
    // next multiple of 8; a line break and a low surrogate take none).
    static int UnitColumns(char16_t unit, int column);
    static bool IsBlank(char16_t unit) { return unit == u' ' || unit == u'\t'; }

    // Lays the whole text out again at this width (at least one column).
    void Rewrap(const ReceiveText& text, int columns);
    // The text grew at its end from oldSize: only the new units are looked at.
    void Appended(const ReceiveText& text, size_t oldSize);
    // removed units at pos were replaced by inserted ones: the rows from the
    // one before pos are laid out again until they meet the old rows.
    void Edited(const ReceiveText& text, size_t pos, size_t removed, size_t inserted);
    // The text lost its first cut units. The rows before the cut go; the
    // rest keep their layout, and units from the cut to the next row start
    // make a short row of their own. Answers how many rows the kept ones
    // moved up.
    size_t DroppedFront(const ReceiveText& text, size_t cut);

    int Columns() const { return columns; }
    size_t RowCount() const { return starts.size(); }
    size_t RowStart(size_t row) const { return starts[row]; }
    // The end of a row: the next row's start, or the text's end for the last.
    size_t RowEnd(size_t row, size_t textSize) const {
        return row + 1 < starts.size() ? starts[row + 1] : textSize;
    }
    // The row that shows the caret at pos: a pos where a row begins belongs to it.
    size_t RowOf(size_t pos) const;

    size_t MemoryBytes() const { return starts.capacity() * sizeof(size_t); }

private:
    // The layout state at the end of what has been laid out.
    struct State {
        int column = 0;
        size_t lastBreak = 0;  // position after the row's last blank; 0 for none
        int columnAtBreak = 0;
        bool hanging = false;  // blanks past the edge stay on their row
    };
    // Lays out from `from` (a row start, with `state`) to the text's end.
    // When `meet` is given, stops as soon as a new row start past `after`
    // equals one of the sorted positions in `meet`; answers its index there,
    // or meet->size() when it ran to the end.
    size_t Layout(const ReceiveText& text, size_t from, State& state,
                  const std::vector<size_t>* meet, size_t after);
    void Step(char16_t unit, size_t pos, State& state);

    std::vector<size_t> starts{0};
    State end;
    int columns = 80;
};
