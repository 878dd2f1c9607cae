#include "ui/TextRows.h"

#include <algorithm>

namespace {

// Characters drawn two columns wide: the East Asian wide and full-width blocks.
bool IsWide(char16_t u) {
    return (u >= 0x1100 && u <= 0x115F) || (u >= 0x2E80 && u <= 0x303E) ||
           (u >= 0x3041 && u <= 0xA4CF) || (u >= 0xAC00 && u <= 0xD7A3) ||
           (u >= 0xF900 && u <= 0xFAFF) || (u >= 0xFE30 && u <= 0xFE4F) ||
           (u >= 0xFF00 && u <= 0xFF60) || (u >= 0xFFE0 && u <= 0xFFE6);
}

}  // namespace

int TextRows::UnitColumns(char16_t unit, int column) {
    if (unit < 0x1100) {
        if (unit == u'\n') return 0;
        return unit == u'\t' ? 8 - column % 8 : 1;
    }
    if (unit >= 0xDC00 && unit <= 0xDFFF) return 0;  // the second half of a pair
    if (unit >= 0xD800 && unit <= 0xDBFF) return 2;
    return IsWide(unit) ? 2 : 1;
}

size_t TextRows::RowOf(size_t pos) const {
    const auto it = std::upper_bound(starts.begin(), starts.end(), pos);
    return static_cast<size_t>(it - starts.begin()) - 1;
}

void TextRows::Step(char16_t unit, size_t pos, State& s) {
    if (unit == u'\n') {
        starts.push_back(pos + 1);
        s = State{};
        return;
    }
    if (s.hanging) {
        if (IsBlank(unit)) return;
        starts.push_back(pos);
        s = State{};
    }
    const int width = UnitColumns(unit, s.column);
    if (IsBlank(unit)) {
        if (s.column + width > columns && s.column > 0) {
            s.hanging = true;
            return;
        }
        s.column += width;
        s.lastBreak = pos + 1;
        s.columnAtBreak = s.column;
        return;
    }
    if (s.column + width > columns && s.column > 0 && width > 0) {
        if (s.lastBreak != 0 && s.lastBreak > starts.back()) {
            // The word since the last blank moves down whole.
            starts.push_back(s.lastBreak);
            s.column -= s.columnAtBreak;
            s.lastBreak = 0;
            s.columnAtBreak = 0;
        }
        if (s.column + width > columns && s.column > 0) {
            starts.push_back(pos);
            s = State{};
        }
    }
    s.column += width;
}

size_t TextRows::Layout(const ReceiveText& text, size_t from, State& state,
                        const std::vector<size_t>* meet, size_t after) {
    size_t pos = from;
    size_t meetIndex = 0;
    bool met = false;
    const size_t total = text.Size();
    // A meeting found inside a span ends the walk there: the rest of the text
    // is not looked at.
    text.ForEachSpan(from, total - from, [&](const char16_t* data, size_t n) {
        for (size_t i = 0; i < n; ++i, ++pos) {
            const size_t before = starts.size();
            Step(data[i], pos, state);
            if (!meet) continue;
            for (size_t k = before; k < starts.size(); ++k) {
                if (starts[k] <= after) continue;
                while (meetIndex < meet->size() && (*meet)[meetIndex] < starts[k]) ++meetIndex;
                if (meetIndex < meet->size() && (*meet)[meetIndex] == starts[k]) {
                    starts.resize(k);  // the old row list continues from here
                    met = true;
                    return false;
                }
            }
        }
        return true;
    });
    return met ? meetIndex : (meet ? meet->size() : 0);
}

void TextRows::Rewrap(const ReceiveText& text, int newColumns) {
    columns = std::max(1, newColumns);
    starts.assign(1, 0);
    end = State{};
    Layout(text, 0, end, nullptr, 0);
}

void TextRows::Appended(const ReceiveText& text, size_t oldSize) {
    Layout(text, oldSize, end, nullptr, 0);
}

void TextRows::Edited(const ReceiveText& text, size_t pos, size_t removed, size_t inserted) {
    // A shorter row before pos may now take some of what follows it.
    size_t row = RowOf(pos);
    if (row > 0) --row;
    const size_t from = starts[row];
    // The old starts after the edit, moved by the change in length.
    std::vector<size_t> tail;
    for (size_t r = row + 1; r < starts.size(); ++r)
        if (starts[r] > pos + removed) tail.push_back(starts[r] - removed + inserted);
    starts.resize(row + 1);
    State state;
    const size_t met = Layout(text, from, state, &tail, pos + inserted);
    if (met < tail.size()) {
        starts.insert(starts.end(), tail.begin() + static_cast<std::ptrdiff_t>(met), tail.end());
        // The last row is the old one, moved along with the rest.
        if (end.lastBreak != 0) end.lastBreak = end.lastBreak - removed + inserted;
        return;
    }
    end = state;
}

size_t TextRows::DroppedFront(const ReceiveText& text, size_t cut) {
    const size_t row = RowOf(cut);
    const bool ownRow = starts[row] != cut;
    if (ownRow && row + 1 == starts.size()) {
        // What is left of the last row is laid out anew; the end state
        // belonged to all of it.
        Rewrap(text, columns);
        return row;
    }
    // In place and in one pass: a trim drops a large part of a long text.
    size_t to = 0;
    if (ownRow) starts[to++] = 0;
    for (size_t r = row + (ownRow ? 1 : 0); r < starts.size(); ++r) starts[to++] = starts[r] - cut;
    starts.resize(to);
    if (end.lastBreak != 0) end.lastBreak -= cut;
    return row;
}
