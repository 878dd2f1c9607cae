// Random input for the parser, the formatter and the stream loader: under the
// address and undefined-behaviour sanitizers nothing may read or write out of
// bounds. Fixed seeds keep every run the same.
#include <gtest/gtest.h>

#include <random>

#include "FrameBytes.h"
#include "protocol/MemoryStream.h"
#include "protocol/ModbusProtocol.h"
#include "protocol/ModbusRequest.h"
#include "protocol/ProtocolError.h"

namespace {

constexpr int rounds = 20000;

const int functionCodes[] = {1, 2, 3, 4, 5, 6, 7, 15, 16, 0, 255};

// Valid replies to start from, for each framing.
std::vector<Bytes> RtuReplies() {
    return {HexBytes("01 03 02 00 7B F8 67"),       WithCrc(HexBytes("01 03 04 00 01 00 02")),
            WithCrc(HexBytes("01 01 01 05")),       WithCrc(HexBytes("01 06 00 01 00 03")),
            WithCrc(HexBytes("01 10 00 01 00 02")), HexBytes("01 83 02 C0 F1")};
}

std::vector<Bytes> AsciiReplies() {
    std::vector<Bytes> replies;
    for (const char* digits :
         {"010302007B", "01030400010002", "0101010500", "010600010003", "018302"}) {
        const std::string frame = AsciiFrame(digits);
        replies.emplace_back(frame.begin(), frame.end());
    }
    return replies;
}

// Truncates, flips bytes, inserts or drops one, or replaces the reply by noise.
Bytes Perturb(Bytes reply, std::mt19937& random) {
    std::uniform_int_distribution<int> byte(0, 255);
    switch (random() % 5) {
        case 0:
            reply.resize(random() % (reply.size() + 1));
            break;
        case 1:
            reply[random() % reply.size()] = static_cast<uint8_t>(byte(random));
            break;
        case 2:
            reply.insert(reply.begin() + static_cast<long>(random() % reply.size()),
                         static_cast<uint8_t>(byte(random)));
            break;
        case 3:
            reply.erase(reply.begin() + static_cast<long>(random() % reply.size()));
            break;
        default:
            reply.resize(random() % 600);
            for (auto& b : reply) b = static_cast<uint8_t>(byte(random));
    }
    return reply;
}

void FuzzReceive(int asciiMode, const std::vector<Bytes>& replies, uint32_t seed) {
    std::mt19937 random(seed);
    int completed = 0;
    for (int round = 0; round < rounds; ++round) {
        ModbusRequest r;
        r.station = 1;
        r.functionCode = functionCodes[random() % std::size(functionCodes)];
        r.quantity = static_cast<int>(random() % 4);
        r.valueText = "1";
        r.dataType = static_cast<int>(random() % 32);
        r.decimals = static_cast<int>(random() % 12) - 2;
        ModbusProtocol p;
        p.SetAsciiMode(asciiMode);
        try {
            p.BuildRequest(&r);
        } catch (const ProtocolError&) {
        }
        const Bytes input = Perturb(replies[random() % replies.size()], random);
        // Several replies back to back, the way a line delivers them.
        for (int copy = 0; copy < 3; ++copy) {
            for (uint8_t b : input) {
                try {
                    const int status = p.ReceiveByte(&b);
                    ASSERT_GE(status, 0);
                    ASSERT_LE(status, 4);
                    completed += status == 1;
                } catch (const ProtocolError&) {
                }
                ASSERT_LE(p.rxCount, ModbusProtocol::rxCapacity);
            }
        }
    }
    EXPECT_GT(completed, 0);  // the perturbations leave some replies whole
}

TEST(ModbusFuzz, RtuReceiveStaysInBounds) { FuzzReceive(0, RtuReplies(), 1234); }

TEST(ModbusFuzz, AsciiReceiveStaysInBounds) { FuzzReceive(1, AsciiReplies(), 5678); }

TEST(ModbusFuzz, FormatValueStaysInBounds) {
    std::mt19937 random(42);
    std::uniform_int_distribution<int> byte(0, 255);
    const int decimals[] = {0,   1,   2,  3,  4,    9,   31,         32,
                            100, 101, -1, -9, -400, 400, 2147483647, -2147483647 - 1};
    for (int round = 0; round < rounds; ++round) {
        // Exactly len bytes on the heap, so a read past them is caught.
        const int len = static_cast<int>(random() % 501);
        auto data = std::make_unique<uint8_t[]>(static_cast<size_t>(len) + 1);
        for (int i = 0; i < len; ++i) data[i] = static_cast<uint8_t>(byte(random));
        ModbusRequest r;
        r.dataType = static_cast<int>(random() % 40) - 4;
        r.decimals = random() % 2 ? decimals[random() % std::size(decimals)]
                                  : static_cast<int>(random() % 8192) - 4096;
        r.FormatValue(len ? data.get() : nullptr, len);
        ASSERT_EQ(r.valueText, r.resultText);
        ASSERT_LE(r.valueText.size(), 1024u);
    }
}

TEST(ModbusFuzz, LoadDataStaysInBounds) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> byte(0, 255);
    int loaded = 0;
    for (int round = 0; round < rounds; ++round) {
        Bytes stream(random() % 520);
        for (auto& b : stream) b = static_cast<uint8_t>(byte(random));
        // Counts that fit the buffer, sometimes with the data cut short.
        if (stream.size() >= 4 && random() % 2) {
            const uint32_t count = static_cast<uint32_t>(random() % (stream.size() - 3));
            for (int i = 0; i < 4; ++i)
                stream[static_cast<size_t>(i)] = static_cast<uint8_t>(count >> (8 * i));
        }
        ModbusRequest r;
        MemoryStream in(stream);
        const bool ok = r.LoadData(&in);
        loaded += ok;
        ASSERT_GE(r.dataLength, 0);
        ASSERT_LE(r.dataLength, ModbusRequest::dataCapacity);
        if (ok) {
            MemoryStream out;
            ASSERT_TRUE(r.SaveData(&out));
            ASSERT_EQ(out.Bytes(), Bytes(stream.begin(), stream.begin() + 4 + r.dataLength));
        }
    }
    EXPECT_GT(loaded, 0);
}

}  // namespace
