// Random texts against the hex text parser and the LRC: no write past the
// capacity, the capacity rule holds for every cut, and nothing else matters
// about the input. A fixed seed keeps failures reproducible.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "RecordingMessageBoxSink.h"
#include "tools/ChecksumTool.h"
#include "tools/TextCodec.h"

namespace {

constexpr int Rounds = 20000;
constexpr size_t Guard = 64;
constexpr uint8_t GuardByte = 0xA5;

// Mostly characters that steer the parser (spaces, blanks, prefixes, digits),
// with arbitrary bytes mixed in, double-byte lead bytes among them.
std::string RandomText(std::mt19937& random, size_t maxLength) {
    static const std::string steering = "0xX 0123456789abcdefABCDEFG \t\r\n+-";
    std::uniform_int_distribution<size_t> length(0, maxLength);
    std::uniform_int_distribution<int> kind(0, 3);
    std::uniform_int_distribution<size_t> pick(0, steering.size() - 1);
    std::uniform_int_distribution<int> anyByte(0, 255);
    std::string text(length(random), '\0');
    for (char& c : text)
        c = kind(random) == 0 ? static_cast<char>(anyByte(random)) : steering[pick(random)];
    return text;
}

TEST(HexTextRobustness, ParseHexTextStaysWithinCapacity) {
    std::mt19937 random(20261207);
    std::uniform_int_distribution<int32_t> capacities(0, 600);
    std::vector<uint8_t> reference(4096);
    for (int round = 0; round < Rounds; ++round) {
        const std::string text = RandomText(random, 1500);
        const int32_t capacity = capacities(random);
        std::vector<uint8_t> out(static_cast<size_t>(capacity) + Guard, GuardByte);
        const int32_t result = ChecksumTool::ParseHexText(text, out.data(), capacity);

        // A text of n characters holds at most n tokens.
        const int32_t all = ChecksumTool::ParseHexText(text, reference.data(),
                                                       static_cast<int32_t>(reference.size()));
        ASSERT_GE(all, 0) << "round " << round;
        const int32_t written = std::min(all, capacity);
        ASSERT_EQ(result, all <= capacity ? all : -1)
            << "round " << round << " capacity " << capacity;
        ASSERT_TRUE(std::equal(out.begin(), out.begin() + written, reference.begin()))
            << "round " << round;
        ASSERT_TRUE(std::all_of(out.begin() + capacity, out.end(),
                                [](uint8_t b) { return b == GuardByte; }))
            << "round " << round << ": written past capacity " << capacity;
    }
}

TEST(HexTextRobustness, FormattedBytesReadBack) {
    std::mt19937 random(936);
    std::uniform_int_distribution<size_t> lengths(0, 600);
    std::uniform_int_distribution<int> anyByte(0, 255);
    for (int round = 0; round < Rounds / 10; ++round) {
        std::vector<uint8_t> bytes(lengths(random));
        for (uint8_t& b : bytes) b = static_cast<uint8_t>(anyByte(random));
        const std::string text = ChecksumTool::FormatHexBytes(bytes.data(), bytes.size());
        std::vector<uint8_t> back(600);
        ASSERT_EQ(ChecksumTool::ParseHexText(text, back.data(), 600),
                  static_cast<int32_t>(bytes.size()));
        ASSERT_TRUE(std::equal(bytes.begin(), bytes.end(), back.begin())) << "round " << round;
    }
}

TEST(HexTextRobustness, LrcOfRandomTextSpeaksOnlyAboutOddCounts) {
    std::mt19937 random(4258);
    RecordingMessageBoxSink boxes;
    for (int round = 0; round < Rounds; ++round) {
        const std::string text = RandomText(random, 300);
        boxes.Clear();
        const uint8_t lrc = ChecksumTool::Lrc(text);
        const auto length = static_cast<uint32_t>(text.size());
        if (length % 2 != 0) {
            ASSERT_EQ(lrc, 0);
            ASSERT_EQ(boxes.Texts(),
                      std::vector<std::string>{"字符数量只有" + std::to_string(length)});
            ASSERT_EQ(ChecksumTool::FrameLrc(text.data(), length), 0);
        } else {
            ASSERT_TRUE(boxes.Texts().empty()) << "round " << round;
            // Upper-casing changes no digit's value, so the framing entry
            // point agrees on the raw text.
            ASSERT_EQ(ChecksumTool::FrameLrc(text.data(), length), lrc) << "round " << round;
        }
    }
}

}  // namespace
