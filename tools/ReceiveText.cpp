#include "tools/ReceiveText.h"

#include <algorithm>
#include <cstdio>

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
    const size_t c = ChunkOf(pos, offset);
    return chunks[c].units[offset];
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
    while (offset >= chunks[c].units.size() && c + 1 < chunks.size()) {
        offset -= chunks[c].units.size();
        ++c;
    }
    return c;
}

void ReceiveText::RebuildStarts(size_t fromChunk) {
    starts.resize(chunks.size());
    for (size_t c = fromChunk; c < chunks.size(); ++c)
        starts[c] = c == 0 ? 0 : starts[c - 1] + chunks[c - 1].units.size();
}

void ReceiveText::AppendToChunks(const char16_t* data, size_t count) {
    while (count > 0) {
        if (chunks.empty() || chunks.back().units.size() >= ChunkUnits) {
            chunks.emplace_back();
            chunks.back().units.reserve(ChunkUnits);
            starts.push_back(size);
        }
        std::u16string& last = chunks.back().units;
        const size_t take = std::min(count, ChunkUnits - std::min(ChunkUnits, last.size()));
        const size_t n = take == 0 ? count : take;  // an oversized chunk just grows
        last.append(data, n);
        size += n;
        data += n;
        count -= n;
    }
}

void ReceiveText::Append(std::u16string_view text) { AppendToChunks(text.data(), text.size()); }

void ReceiveText::AppendAscii(std::string_view ascii) {
    char16_t units[64];
    while (!ascii.empty()) {
        const size_t n = std::min(ascii.size(), sizeof units / sizeof units[0]);
        for (size_t i = 0; i < n; ++i) units[i] = static_cast<unsigned char>(ascii[i]);
        AppendToChunks(units, n);
        ascii.remove_prefix(n);
    }
}

void ReceiveText::Replace(size_t pos, size_t count, std::u16string_view text) {
    pos = std::min(pos, size);
    count = std::min(count, size - pos);
    if (pos == size) {
        Append(text);
        return;
    }
    size_t offset = 0;
    size_t c = ChunkOf(pos, offset);
    const size_t firstChunk = c;
    // Remove the range chunk by chunk, then insert into the chunk of pos.
    size_t left = count;
    size_t eraseOffset = offset;
    size_t e = c;
    while (left > 0) {
        std::u16string& units = chunks[e].units;
        const size_t take = std::min(left, units.size() - eraseOffset);
        units.erase(eraseOffset, take);
        left -= take;
        ++e;
        eraseOffset = 0;
    }
    chunks[c].units.insert(offset, text.data(), text.size());
    size = size - count + text.size();
    // Drop emptied chunks (keeping one), split one grown past twice the size.
    chunks.erase(std::remove_if(chunks.begin() + static_cast<std::ptrdiff_t>(c), chunks.end(),
                                [](const Chunk& chunk) { return chunk.units.empty(); }),
                 chunks.end());
    if (chunks.empty()) chunks.emplace_back();
    c = std::min(c, chunks.size() - 1);
    while (chunks[c].units.size() > 2 * ChunkUnits) {
        Chunk tail;
        tail.units.assign(chunks[c].units, ChunkUnits);
        chunks[c].units.resize(ChunkUnits);
        chunks[c].units.shrink_to_fit();
        chunks.insert(chunks.begin() + static_cast<std::ptrdiff_t>(c) + 1, std::move(tail));
        ++c;
    }
    RebuildStarts(firstChunk > 0 ? firstChunk - 1 : 0);
}

void ReceiveText::Clear() {
    chunks.clear();
    starts.clear();
    size = 0;
}

std::u16string ReceiveText::Slice(size_t pos, size_t count) const {
    std::u16string out;
    if (pos >= size) return out;
    out.reserve(std::min(count, size - pos));
    ForEachSpan(pos, count, [&out](const char16_t* data, size_t n) { out.append(data, n); });
    return out;
}

// Compacts in place: what is kept is written over what has been read, each
// chunk refilled to the size it had, so nothing is allocated.
size_t ReceiveText::RemoveStamps() {
    size_t writeChunk = 0;
    size_t writeOffset = 0;
    auto put = [this, &writeChunk, &writeOffset](const char16_t* data, size_t n) {
        while (n > 0) {
            while (writeOffset == chunks[writeChunk].units.size() &&
                   writeChunk + 1 < chunks.size()) {
                ++writeChunk;
                writeOffset = 0;
            }
            std::u16string& target = chunks[writeChunk].units;
            const size_t take = std::min(n, target.size() - writeOffset);
            if (take == 0) break;
            // The reader is never behind the writer, so a forward copy is safe.
            std::copy(data, data + take, target.begin() + static_cast<std::ptrdiff_t>(writeOffset));
            writeOffset += take;
            data += take;
            n -= take;
        }
    };
    bool inStamp = false;
    size_t stampStart = 0;  // position of the open "["
    size_t pos = 0;
    for (Chunk& chunk : chunks) {
        const char16_t* data = chunk.units.data();
        const size_t n = chunk.units.size();
        size_t i = 0;
        while (i < n) {
            const char16_t wanted = inStamp ? u']' : u'[';
            const char16_t* found = std::char_traits<char16_t>::find(data + i, n - i, wanted);
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
    if (inStamp) ForEachSpan(stampStart, size - stampStart, put);
    const size_t kept = starts.empty() ? 0 : starts[writeChunk] + writeOffset;
    const size_t removed = size - kept;
    if (!chunks.empty()) {
        chunks[writeChunk].units.resize(writeOffset);
        chunks.resize(writeChunk + 1);
        if (chunks.back().units.empty() && chunks.size() > 1) chunks.pop_back();
        RebuildStarts(0);
    }
    size = kept;
    return removed;
}

size_t ReceiveText::MemoryBytes() const {
    size_t bytes = chunks.capacity() * sizeof(Chunk) + starts.capacity() * sizeof(size_t);
    for (const Chunk& chunk : chunks) bytes += (chunk.units.capacity() + 1) * sizeof(char16_t);
    return bytes;
}
