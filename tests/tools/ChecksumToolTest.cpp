#include "tools/ChecksumTool.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
    std::vector<uint8_t> out;
    for (int v : values) out.push_back(static_cast<uint8_t>(v));
    return out;
}

TEST(Crc16, PublishedVectors) {
    EXPECT_EQ(ChecksumTool::Crc16(nullptr, 0), 0xFFFF);
    const auto request = Bytes({0x01, 0x03, 0x00, 0x00, 0x00, 0x01});
    EXPECT_EQ(ChecksumTool::Crc16(request.data(), 6), 0x0A84);
    const std::string digits = "123456789";
    EXPECT_EQ(ChecksumTool::Crc16(reinterpret_cast<const uint8_t*>(digits.data()), 9), 0x4B37);
}

}  // namespace
