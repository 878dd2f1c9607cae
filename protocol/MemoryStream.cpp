#include "protocol/MemoryStream.h"

#include <algorithm>
#include <cstring>

size_t MemoryStream::Read(void* buffer, size_t count) {
    size_t n = std::min(count, bytes.size() - readPosition);
    if (n > 0) std::memcpy(buffer, bytes.data() + readPosition, n);
    readPosition += n;
    return n;
}

size_t MemoryStream::Write(const void* buffer, size_t count) {
    const auto* from = static_cast<const uint8_t*>(buffer);
    bytes.insert(bytes.end(), from, from + count);
    return count;
}
