// A byte stream over memory: writes append, reads take from a read position.
#pragma once

#include <cstdint>
#include <vector>

#include "protocol/ByteStream.h"

class MemoryStream : public ByteStream {
public:
    MemoryStream() = default;
    explicit MemoryStream(std::vector<uint8_t> contents) : bytes(std::move(contents)) {}

    size_t Read(void* buffer, size_t count) override;
    size_t Write(const void* buffer, size_t count) override;

    const std::vector<uint8_t>& Bytes() const { return bytes; }

private:
    std::vector<uint8_t> bytes;
    size_t readPosition = 0;
};
