// What a request record saves its data to and loads it from.
#pragma once

#include <cstddef>

class ByteStream {
public:
    virtual ~ByteStream() = default;
    // Each answers the number of bytes actually moved; fewer than asked means
    // the stream ended (Read) or is full (Write).
    virtual size_t Read(void* buffer, size_t count) = 0;
    virtual size_t Write(const void* buffer, size_t count) = 0;
};
