// Reads a capture file back for the tests (the layout itself is checked byte
// for byte by the core test); `wellFormed`: the header is the one written and
// the file ends with a whole record.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

struct CaptureRecord {
    int64_t stampUs = 0;
    uint8_t event = 0;  // 1 sent, 2 received
    uint8_t lines = 0;
    std::vector<uint8_t> bytes;
};

struct CaptureFile {
    bool wellFormed = false;
    std::vector<CaptureRecord> records;

    static CaptureFile Parse(const std::vector<uint8_t>& d) {
        auto le = [&](size_t at) {
            return d[at] | d[at + 1] << 8 | d[at + 2] << 16 | uint32_t{d[at + 3]} << 24;
        };
        CaptureFile file;
        size_t at = 24;
        for (uint32_t n = 0; at + 28 <= d.size() && at + 16 + (n = le(at + 8)) <= d.size();
             at += 16 + n)
            file.records.push_back({int64_t{le(at)} * 1000000 + le(at + 4),
                                    d[at + 24],
                                    d[at + 25],
                                    {d.begin() + static_cast<ptrdiff_t>(at + 28),
                                     d.begin() + static_cast<ptrdiff_t>(at + 16 + n)}});
        file.wellFormed = d.size() >= 24 && le(0) == 0xa1b2c3d4 && le(20) == 250 && at == d.size();
        return file;
    }
    static CaptureFile Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return Parse({std::istreambuf_iterator<char>(in), {}});
    }
};
