#include "tools/ReceiveText.h"

#include <algorithm>
#include <cstdio>

namespace {

bool FitsNarrow(std::u16string_view text) {
    return std::all_of(text.begin(), text.end(), [](char16_t unit) { return unit < 256; });
}

// A unit as the other storage keeps it; a narrow unit reads as unsigned.
template <class Unit, class Source>
Unit ConvertUnit(Source unit) {
    if constexpr (std::is_same_v<Source, char>)
        return static_cast<Unit>(static_cast<unsigned char>(unit));
    else
        return static_cast<Unit>(unit);
}

}  // namespace

std::string FormatReceivedByte(uint8_t byte) {
    char text[8];
    std::snprintf(text, sizeof text, "%4x", static_cast<unsigned>(byte));
    return text;
}

std::string FormatReceiveStamp(uint32_t elapsedMs) {
    char text[16];
    std::snprintf(text, sizeof text, "[%4u]", static_cast<unsigned>(elapsedMs));
    return text;
}

char16_t ReceiveText::At(size_t pos) const {
    size_t offset = 0;
    const Chunk& chunk = chunks[ChunkOf(pos, offset)];
    return wide ? chunk.wide[offset] : ConvertUnit<char16_t>(chunk.narrow[offset]);
}

size_t ReceiveText::ChunkOf(size_t pos, size_t& offset) const {
    if (chunks.empty()) {
        offset = 0;
        return 0;
    }
    // The last chunk whose start is at or before pos.
    const auto it = std::upper_bound(starts.begin(), starts.end(), pos);
    size_t c = static_cast<size_t>(it - starts.begin()) - 1;
    offset = pos - starts[c];
    // An empty chunk cannot hold pos; only the last one may be empty.
    while (offset >= ChunkSize(c) && c + 1 < chunks.size()) {
        offset -= ChunkSize(c);
        ++c;
    }
    return c;
}

void ReceiveText::RebuildStarts(size_t fromChunk) {
    starts.resize(chunks.size());
    for (size_t c = fromChunk; c < chunks.size(); ++c)
        starts[c] = c == 0 ? 0 : starts[c - 1] + ChunkSize(c - 1);
}

// Each chunk keeps its capacity, so the last one still takes appends in place.
void ReceiveText::Widen() {
    for (Chunk& chunk : chunks) {
        chunk.wide.reserve(chunk.narrow.capacity());
        chunk.wide.resize(chunk.narrow.size());
        std::transform(chunk.narrow.begin(), chunk.narrow.end(), chunk.wide.begin(),
                       ConvertUnit<char16_t, char>);
        std::string().swap(chunk.narrow);
    }
    wide = true;
}

template <class Unit, class Source>
void ReceiveText::AppendUnits(const Source* data, size_t count) {
    while (count > 0) {
        if (chunks.empty() || UnitsOf<Unit>(chunks.back()).size() >= ChunkUnits) {
            chunks.emplace_back();
            UnitsOf<Unit>(chunks.back()).reserve(ChunkUnits);
            starts.push_back(size);
        }
        std::basic_string<Unit>& last = UnitsOf<Unit>(chunks.back());
        const size_t n = std::min(count, ChunkUnits - last.size());
        if constexpr (std::is_same_v<Unit, Source>) {
            last.append(data, n);
        } else {
            const size_t old = last.size();
            last.resize(old + n);
            std::transform(data, data + n, last.begin() + static_cast<std::ptrdiff_t>(old),
                           ConvertUnit<Unit, Source>);
        }
        size += n;
        data += n;
        count -= n;
    }
}

void ReceiveText::Append(std::u16string_view text) {
    if (!wide && !FitsNarrow(text)) Widen();
    if (wide)
        AppendUnits<char16_t>(text.data(), text.size());
    else
        AppendUnits<char>(text.data(), text.size());
}

void ReceiveText::AppendAscii(std::string_view ascii) {
    if (wide)
        AppendUnits<char16_t>(ascii.data(), ascii.size());
    else
        AppendUnits<char>(ascii.data(), ascii.size());
}

void ReceiveText::Replace(size_t pos, size_t count, std::u16string_view text) {
    pos = std::min(pos, size);
    count = std::min(count, size - pos);
    if (count == size) {
        // Nothing of the old text stays: start again, narrow if the new one can be.
        Clear();
        Append(text);
        return;
    }
    if (pos == size) {
        Append(text);
        return;
    }
    if (!wide && !FitsNarrow(text)) Widen();
    if (wide)
        ReplaceUnits<char16_t>(pos, count, text);
    else
        ReplaceUnits<char>(pos, count, text);
}

template <class Unit>
void ReceiveText::ReplaceUnits(size_t pos, size_t count, std::u16string_view text) {
    size_t offset = 0;
    size_t c = ChunkOf(pos, offset);
    const size_t firstChunk = c;
    // Remove the range chunk by chunk, then insert into the chunk of pos.
    size_t left = count;
    size_t eraseOffset = offset;
    for (size_t e = c; left > 0; ++e, eraseOffset = 0) {
        std::basic_string<Unit>& units = UnitsOf<Unit>(chunks[e]);
        const size_t take = std::min(left, units.size() - eraseOffset);
        units.erase(eraseOffset, take);
        left -= take;
    }
    std::basic_string<Unit>& target = UnitsOf<Unit>(chunks[c]);
    if constexpr (std::is_same_v<Unit, char16_t>) {
        target.insert(offset, text.data(), text.size());
    } else {
        target.insert(offset, text.size(), Unit{});
        std::transform(text.begin(), text.end(),
                       target.begin() + static_cast<std::ptrdiff_t>(offset),
                       ConvertUnit<Unit, char16_t>);
    }
    size = size - count + text.size();
    // Drop emptied chunks (keeping one), split one grown past twice the size.
    chunks.erase(std::remove_if(chunks.begin() + static_cast<std::ptrdiff_t>(c), chunks.end(),
                                [](const Chunk& chunk) { return UnitsOf<Unit>(chunk).empty(); }),
                 chunks.end());
    if (chunks.empty()) chunks.emplace_back();
    c = std::min(c, chunks.size() - 1);
    while (UnitsOf<Unit>(chunks[c]).size() > 2 * ChunkUnits) {
        std::basic_string<Unit>& grown = UnitsOf<Unit>(chunks[c]);
        Chunk tail;
        UnitsOf<Unit>(tail).assign(grown, ChunkUnits);
        grown.resize(ChunkUnits);
        grown.shrink_to_fit();
        chunks.insert(chunks.begin() + static_cast<std::ptrdiff_t>(c) + 1, std::move(tail));
        ++c;
    }
    RebuildStarts(firstChunk > 0 ? firstChunk - 1 : 0);
}

void ReceiveText::Clear() {
    chunks.clear();
    starts.clear();
    size = 0;
    wide = false;
}

void ReceiveText::DropFront(size_t count) {
    if (count >= size) {
        Clear();
        return;
    }
    size_t offset = 0;
    const size_t c = ChunkOf(count, offset);
    chunks.erase(chunks.begin(), chunks.begin() + static_cast<std::ptrdiff_t>(c));
    if (wide)
        chunks.front().wide.erase(0, offset);
    else
        chunks.front().narrow.erase(0, offset);
    size -= count;
    RebuildStarts(0);
}

size_t ReceiveText::CutBefore(size_t pos, size_t floor) const {
    if (pos == 0 || pos > size) return npos;
    if (At(pos - 1) == u'\n') return pos;
    auto blank = [](char16_t unit) { return unit == u' ' || unit == u'\t'; };
    size_t start = pos;
    while (start > floor && blank(At(start - 1))) --start;
    if (start == pos || start == 0) return npos;
    const char16_t before = At(start - 1);
    return before == u'[' || blank(before) ? npos : start;
}

std::u16string ReceiveText::Slice(size_t pos, size_t count) const {
    std::u16string out;
    if (pos >= size) return out;
    out.reserve(std::min(count, size - pos));
    ForEachSpan(pos, count, [&out](const char16_t* data, size_t n) { out.append(data, n); });
    return out;
}

size_t ReceiveText::RemoveStamps() {
    return wide ? RemoveStampsIn<char16_t>() : RemoveStampsIn<char>();
}

// Compacts in place: what is kept is written over what has been read, each
// chunk refilled to the size it had, so nothing is allocated.
template <class Unit>
size_t ReceiveText::RemoveStampsIn() {
    using Traits = std::char_traits<Unit>;
    size_t writeChunk = 0;
    size_t writeOffset = 0;
    auto put = [this, &writeChunk, &writeOffset](const Unit* data, size_t n) {
        while (n > 0) {
            while (writeOffset == UnitsOf<Unit>(chunks[writeChunk]).size() &&
                   writeChunk + 1 < chunks.size()) {
                ++writeChunk;
                writeOffset = 0;
            }
            std::basic_string<Unit>& target = UnitsOf<Unit>(chunks[writeChunk]);
            const size_t take = std::min(n, target.size() - writeOffset);
            if (take == 0) break;
            // The reader is never behind the writer; until the first stamp
            // they are at the same place and nothing needs moving.
            Unit* to = target.data() + writeOffset;
            if (to != data) Traits::move(to, data, take);
            writeOffset += take;
            data += take;
            n -= take;
        }
        return true;
    };
    const Unit open = static_cast<Unit>('[');
    const Unit close = static_cast<Unit>(']');
    bool inStamp = false;
    size_t stampStart = 0;  // position of the open "["
    size_t pos = 0;
    for (const Chunk& chunk : chunks) {
        const std::basic_string<Unit>& units = UnitsOf<Unit>(chunk);
        const Unit* data = units.data();
        const size_t n = units.size();
        size_t i = 0;
        while (i < n) {
            // An inline search: stamps are a few units apart, where a call
            // to memchr per search costs more than the search.
            const Unit* found = std::find(data + i, data + n, inStamp ? close : open);
            if (found == data + n) found = nullptr;
            const size_t end = found ? static_cast<size_t>(found - data) : n;
            if (!inStamp) put(data + i, end - i);
            if (found && !inStamp) stampStart = pos + end;
            if (found) inStamp = !inStamp;
            i = found ? end + 1 : n;
        }
        pos += n;
    }
    // An unclosed "[": it and everything after it stay. Nothing from there on
    // has been overwritten yet.
    if (inStamp) ForEachRun<Unit>(stampStart, size - stampStart, put);
    const size_t kept = starts.empty() ? 0 : starts[writeChunk] + writeOffset;
    const size_t removed = size - kept;
    if (kept == 0) {
        Clear();
        return removed;
    }
    UnitsOf<Unit>(chunks[writeChunk]).resize(writeOffset);
    chunks.resize(writeChunk + 1);
    if (UnitsOf<Unit>(chunks.back()).empty() && chunks.size() > 1) chunks.pop_back();
    RebuildStarts(0);
    size = kept;
    return removed;
}

size_t ReceiveText::MemoryBytes() const {
    size_t bytes = chunks.capacity() * sizeof(Chunk) + starts.capacity() * sizeof(size_t);
    for (const Chunk& chunk : chunks)
        bytes +=
            wide ? (chunk.wide.capacity() + 1) * sizeof(char16_t) : chunk.narrow.capacity() + 1;
    return bytes;
}
