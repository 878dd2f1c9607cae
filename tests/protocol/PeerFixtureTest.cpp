// The shared fixtures themselves: each peer answers a request written by hand.
#include "ModbusRtuSlave.h"
#include "PtyLink.h"
#include "PtyPair.h"
#include "PymodbusAsciiSlave.h"
#include "SlaveMap.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

bool EndsWithCrLf(const std::vector<uint8_t>& b) {
    return b.size() >= 2 && b[b.size() - 2] == '\r' && b.back() == '\n';
}

}  // namespace

TEST(PeerFixture, RtuSlaveAnswersAHandWrittenRead) {
    PtyPair pty;
    ModbusRtuSlave slave(pty.SlavePath());
    ASSERT_TRUE(
        pty.WriteMaster(std::vector<uint8_t>{0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A}));
    EXPECT_EQ(pty.ReadMaster(7, 2s),
              (std::vector<uint8_t>{0x01, 0x03, 0x02, 0x00, 0x7B, 0xF8, 0x67}));
    EXPECT_TRUE(slave.WaitForRequests(1, 2s));
    EXPECT_EQ(slave.LastRequest(), (std::vector<uint8_t>{0x01, 0x03, 0x00, 0x00, 0x00, 0x01}));
}

TEST(PeerFixture, AsciiSlaveAnswersAHandWrittenRead) {
    PtyPair pty;
    PymodbusAsciiSlave slave(pty.SlavePath());
    ASSERT_TRUE(pty.WriteMaster(std::string(":01030000000AF2\r\n")));
    auto reply = pty.ReadMasterUntil(EndsWithCrLf, 5s);
    std::string text(reply.begin(), reply.end());
    // Ten registers of 123 upwards: 007B to 0084.
    EXPECT_EQ(text, ":010314007B007C007D007E007F00800081008200830084ED\r\n");
}

TEST(PeerFixture, LinkCarriesBothWaysToAnRtuSlave) {
    PtyLink link;
    ModbusRtuSlave slave(link.PathB());
    int fd = ::open(link.PathA().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    const uint8_t request[] = {0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A};
    ASSERT_TRUE(PtyPair::WriteAll(fd, request, sizeof request));
    auto reply = PtyPair::ReadUntil(
        fd, [](const std::vector<uint8_t>& b) { return b.size() >= 7; }, 2s);
    ::close(fd);
    EXPECT_EQ(reply, (std::vector<uint8_t>{0x01, 0x03, 0x02, 0x00, 0x7B, 0xF8, 0x67}));
}
