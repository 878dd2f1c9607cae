// A round trip through the serial engine against an independent Modbus RTU
// slave (libmodbus) at the far end of a null-modem pty link.
#include "SerialPortPtyFixture.h"

#include "ModbusRtuSlave.h"
#include "PtyLink.h"
#include "SlaveMap.h"

#include <gtest/gtest.h>

namespace {

TEST(SerialPortPeer, ReadOneRegisterFromALibmodbusSlave) {
    PrivatePortDirectory ports;
    PtyLink link;
    ports.Link(2, link.PathA());
    ModbusRtuSlave slave(link.PathB(), 9600);
    SerialPortTestOwner owner;
    SerialPort port(ports.Comm());
    ASSERT_TRUE(port.Open(&owner, 2, 9600, 'N', 8, 1, EV_RXCHAR | EV_CTS, 512));
    ASSERT_TRUE(port.StartWorker());

    const std::vector<uint8_t> request = {0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A};
    ASSERT_TRUE(port.RequestWrite(request.data(), static_cast<uint32_t>(request.size())));

    // Holding register 0 holds 123; the CRC goes low byte first on the line.
    static_assert(SlaveMap::HoldingRegister(0) == 0x7B);
    const std::vector<uint8_t> reply = {0x01, 0x03, 0x02, 0x00, 0x7B, 0xF8, 0x67};
    ASSERT_TRUE(
        owner.PumpUntil(port, [&] { return owner.ReceivedBytes().size() >= reply.size(); }));
    EXPECT_EQ(owner.ReceivedBytes(), reply);
    EXPECT_TRUE(slave.WaitForRequests(1, std::chrono::seconds(5)));
    EXPECT_EQ(slave.LastRequest(), std::vector<uint8_t>(request.begin(), request.end() - 2));
    for (const Note& note : owner.notes) EXPECT_EQ(note.lParam, 2);
    EXPECT_TRUE(owner.errors.empty());
}

}  // namespace
