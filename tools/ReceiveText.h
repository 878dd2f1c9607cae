// The receive pane's text: a chunked UTF-16 buffer that appends in constant
// time whatever its length, the formats of a received byte and of its receive
// stamp, and the stamp removal. No toolkit here; the pane's widget lays this
// text out and paints it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// "%4x": lower-case hexadecimal, right-aligned in four columns.
std::string FormatReceivedByte(uint8_t byte);
// "[%4d]": the elapsed milliseconds as unsigned decimal, at least four
// columns, never cut.
std::string FormatReceiveStamp(uint32_t elapsedMs);

// Positions count UTF-16 units, as the toolkit's strings do.
class ReceiveText {
public:
    ReceiveText() = default;
    ReceiveText(ReceiveText&&) noexcept = default;
    ReceiveText& operator=(ReceiveText&&) noexcept = default;

    size_t Size() const { return size; }
    bool Empty() const { return size == 0; }
    char16_t At(size_t pos) const;

    // Constant time per unit appended: the text lives in fixed-size chunks,
    // so a growing text is never copied.
    void Append(std::u16string_view text);
    // ASCII only (the received bytes' formats): one unit per byte.
    void AppendAscii(std::string_view ascii);
    // Replaces count units at pos (both clamped to the text) with text.
    void Replace(size_t pos, size_t count, std::u16string_view text);
    void Clear();

    // count units from pos, clamped to the text.
    std::u16string Slice(size_t pos, size_t count) const;
    std::u16string ToU16String() const { return Slice(0, size); }

    // Calls visit(const char16_t*, size_t) for each contiguous piece of the
    // units from pos to pos + count, in order.
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
    struct Chunk {
        std::u16string units;
    };
    // The chunk holding pos (pos == size: the last chunk) and pos's offset in it.
    size_t ChunkOf(size_t pos, size_t& offset) const;
    void RebuildStarts(size_t fromChunk);
    void AppendToChunks(const char16_t* data, size_t count);

    std::vector<Chunk> chunks;
    std::vector<size_t> starts;  // starts[i]: position of chunk i's first unit
    size_t size = 0;
};

template <class Visit>
void ReceiveText::ForEachSpan(size_t pos, size_t count, Visit&& visit) const {
    if (pos >= size) return;
    if (count > size - pos) count = size - pos;
    size_t offset = 0;
    for (size_t c = ChunkOf(pos, offset); count > 0 && c < chunks.size(); ++c, offset = 0) {
        const std::u16string& units = chunks[c].units;
        const size_t take = std::min(count, units.size() - offset);
        if (take > 0) visit(units.data() + offset, take);
        count -= take;
    }
}
