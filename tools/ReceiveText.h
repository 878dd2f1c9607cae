// The receive pane's text: a chunked buffer that appends in constant time
// whatever its length, the formats of a received byte and of its receive
// stamp, and the stamp removal. No toolkit here; the pane's widget lays this
// text out and paints it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

// "%4x": lower-case hexadecimal, right-aligned in four columns.
std::string FormatReceivedByte(uint8_t byte);
// "[%4d]": the elapsed milliseconds as unsigned decimal, at least four
// columns, never cut.
std::string FormatReceiveStamp(uint32_t elapsedMs);

// Positions count UTF-16 units, as the toolkit's strings do. While every unit
// is below 256 (the received bytes' formats, Latin-1 typing) the text keeps
// one byte per unit; the first unit above that turns the whole text into two
// bytes per unit, and it stays so until it is cleared or emptied.
class ReceiveText {
public:
    static constexpr size_t npos = static_cast<size_t>(-1);

    ReceiveText() = default;
    ReceiveText(ReceiveText&&) noexcept = default;
    ReceiveText& operator=(ReceiveText&&) noexcept = default;

    size_t Size() const { return size; }
    bool Empty() const { return size == 0; }
    bool Wide() const { return wide; }
    char16_t At(size_t pos) const;

    // Constant time per unit appended: the text lives in fixed-size chunks,
    // so a growing text is never copied.
    void Append(std::u16string_view text);
    // One unit per byte, each byte its own unit (0 to 255): the received
    // bytes' formats, appended as they are while the text is narrow.
    void AppendAscii(std::string_view ascii);
    // Replaces count units at pos (both clamped to the text) with text.
    void Replace(size_t pos, size_t count, std::u16string_view text);
    void Clear();
    // Removes the first count units. The chunks before the new start are
    // freed whole; only the first chunk kept moves its units.
    void DropFront(size_t count);
    // Where the text can be cut at or just before pos so that what stays
    // starts a line or a received byte's text: pos after a line break, or the
    // start of the blanks before pos unless they follow a stamp's "[". Looks
    // no further back than floor; npos when there is no such place.
    size_t CutBefore(size_t pos, size_t floor) const;

    // count units from pos, clamped to the text.
    std::u16string Slice(size_t pos, size_t count) const;
    std::u16string ToU16String() const { return Slice(0, size); }

    // Calls visit(const char16_t*, size_t) for contiguous pieces of the units
    // from pos to pos + count, in order; a narrow text is handed over in
    // short widened pieces. A visit that answers a bool stops the walk by
    // answering false.
    template <class Visit>
    void ForEachSpan(size_t pos, size_t count, Visit&& visit) const;

    // Removes every receive stamp: from a "[" up to and including the next
    // "]". A "[" with no "]" after it stops the removal; it and the rest of
    // the text stay as they are. One pass; answers the units removed.
    size_t RemoveStamps();

    // Bytes held for the text, chunk slack included.
    size_t MemoryBytes() const;

private:
    // Appends land in the last chunk until it holds ChunkUnits; an insertion
    // elsewhere grows its chunk, which is split once it is twice that size.
    static constexpr size_t ChunkUnits = 1u << 15;
    // Units widened at a time for ForEachSpan over a narrow text.
    static constexpr size_t WidenedPiece = 256;
    // Only one of the two holds units: narrow (a char per unit, read as
    // unsigned) unless the text is wide.
    struct Chunk {
        std::string narrow;
        std::u16string wide;
    };
    template <class Unit>
    static std::basic_string<Unit>& UnitsOf(Chunk& chunk);
    template <class Unit>
    static const std::basic_string<Unit>& UnitsOf(const Chunk& chunk);
    size_t ChunkSize(size_t c) const {
        return wide ? chunks[c].wide.size() : chunks[c].narrow.size();
    }

    // The chunk holding pos (pos == size: the last chunk) and pos's offset in it.
    size_t ChunkOf(size_t pos, size_t& offset) const;
    void RebuildStarts(size_t fromChunk);
    // Turns a narrow text into a wide one, a chunk at a time.
    void Widen();
    // visit(const Unit*, size_t) -> bool for the stored units from pos to
    // pos + count (clamped by the caller); false stops the walk.
    template <class Unit, class Visit>
    void ForEachRun(size_t pos, size_t count, Visit&& visit) const;
    template <class Unit, class Source>
    void AppendUnits(const Source* data, size_t count);
    template <class Unit>
    void ReplaceUnits(size_t pos, size_t count, std::u16string_view text);
    template <class Unit>
    size_t RemoveStampsIn();

    std::vector<Chunk> chunks;
    std::vector<size_t> starts;  // starts[i]: position of chunk i's first unit
    size_t size = 0;
    bool wide = false;  // never true for an empty text
};

template <class Unit>
std::basic_string<Unit>& ReceiveText::UnitsOf(Chunk& chunk) {
    if constexpr (std::is_same_v<Unit, char>)
        return chunk.narrow;
    else
        return chunk.wide;
}

template <class Unit>
const std::basic_string<Unit>& ReceiveText::UnitsOf(const Chunk& chunk) {
    if constexpr (std::is_same_v<Unit, char>)
        return chunk.narrow;
    else
        return chunk.wide;
}

template <class Unit, class Visit>
void ReceiveText::ForEachRun(size_t pos, size_t count, Visit&& visit) const {
    size_t offset = 0;
    for (size_t c = ChunkOf(pos, offset); count > 0 && c < chunks.size(); ++c, offset = 0) {
        const std::basic_string<Unit>& units = UnitsOf<Unit>(chunks[c]);
        const size_t take = std::min(count, units.size() - offset);
        if (take > 0 && !visit(units.data() + offset, take)) return;
        count -= take;
    }
}

template <class Visit>
void ReceiveText::ForEachSpan(size_t pos, size_t count, Visit&& visit) const {
    if (pos >= size) return;
    if (count > size - pos) count = size - pos;
    auto call = [&visit](const char16_t* data, size_t n) {
        if constexpr (std::is_same_v<std::invoke_result_t<Visit&, const char16_t*, size_t>, bool>)
            return static_cast<bool>(visit(data, n));
        else {
            visit(data, n);
            return true;
        }
    };
    if (wide) {
        ForEachRun<char16_t>(pos, count, call);
        return;
    }
    ForEachRun<char>(pos, count, [&call](const char* data, size_t n) {
        char16_t piece[WidenedPiece];
        while (n > 0) {
            const size_t take = std::min(n, std::size(piece));
            // Blocks of a fixed length, which the compiler widens with vector
            // instructions.
            const auto* bytes = reinterpret_cast<const unsigned char*>(data);
            size_t i = 0;
            for (; i + 16 <= take; i += 16)
                for (size_t k = 0; k < 16; ++k) piece[i + k] = bytes[i + k];
            for (; i < take; ++i) piece[i] = bytes[i];
            if (!call(piece, take)) return false;
            data += take;
            n -= take;
        }
        return true;
    });
}
