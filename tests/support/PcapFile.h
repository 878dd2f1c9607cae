// Reads a capture file's records back for the tests, checking on the way what
// every record must hold: a pcap stamp equal to the RTAC header's, equal
// lengths, a zero footer. Stops at the first thing out of place.
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
    bool headerOk = false;    // microsecond pcap, version 2.4, snap length 65535, link type 250
    bool wellFormed = false;  // every byte belongs to a whole, consistent record
    std::vector<CaptureRecord> records;

    static CaptureFile Parse(const std::vector<uint8_t>& data) {
        auto little = [&](size_t at) {
            return uint32_t{data[at]} | uint32_t{data[at + 1]} << 8 | uint32_t{data[at + 2]} << 16 |
                   uint32_t{data[at + 3]} << 24;
        };
        auto big = [&](size_t at) {
            return uint32_t{data[at]} << 24 | uint32_t{data[at + 1]} << 16 |
                   uint32_t{data[at + 2]} << 8 | uint32_t{data[at + 3]};
        };
        CaptureFile file;
        if (data.size() < 24) return file;
        file.headerOk = little(0) == 0xa1b2c3d4 && little(4) == 0x00040002 && little(16) == 65535 &&
                        little(20) == 250;
        size_t at = 24;
        while (at + 28 <= data.size()) {
            const uint32_t length = little(at + 8);
            if (length < 12 || length != little(at + 12) || at + 16 + length > data.size() ||
                big(at + 16) != little(at) || big(at + 20) != little(at + 4) ||
                data[at + 26] != 0 || data[at + 27] != 0)
                return file;
            CaptureRecord record;
            record.stampUs = int64_t{little(at)} * 1000000 + little(at + 4);
            record.event = data[at + 24];
            record.lines = data[at + 25];
            record.bytes.assign(data.begin() + static_cast<ptrdiff_t>(at + 28),
                                data.begin() + static_cast<ptrdiff_t>(at + 16 + length));
            file.records.push_back(std::move(record));
            at += 16 + length;
        }
        file.wellFormed = at == data.size();
        return file;
    }

    static CaptureFile Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return Parse(std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {}));
    }
};
