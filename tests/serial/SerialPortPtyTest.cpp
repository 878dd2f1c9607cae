// The serial engine on real pseudo-terminals: received bytes, writes, purges,
// reopening, a vanished device and descriptor use over many opens.
#include "SerialPortPtyFixture.h"

#include "OpenDescriptors.h"
#include "PtyPair.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <thread>

namespace {

using namespace std::chrono_literals;

class SerialPortPty : public ::testing::Test {
protected:
    static constexpr int kPort = 7;

    SerialPortPty() {
        ports.Link(kPort, pty.SlavePath());
        auto owned = ports.Comm();
        comm = owned.get();
        port = std::make_unique<SerialPort>(std::move(owned));
    }

    void OpenAndStart(uint32_t eventMask = EV_RXCHAR | EV_CTS) {
        ASSERT_TRUE(port->Open(&owner, kPort, 9600, 'N', 8, 1, eventMask, 512));
        ASSERT_TRUE(port->StartWorker());
        SyncWithWorker(pty);
    }

    // The worker purges the device when it starts and before each write, so
    // the far end sends only after a probe written by the worker came out.
    void SyncWithWorker(const PtyPair& far) {
        const std::vector<uint8_t> probe = {0x5A};
        ASSERT_TRUE(Write(probe));
        ASSERT_EQ(far.ReadMaster(1, 5s), probe);
    }

    bool Write(const std::vector<uint8_t>& bytes) {
        return port->RequestWrite(bytes.data(), static_cast<uint32_t>(bytes.size()));
    }

    bool Pump(const std::function<bool()>& done) { return owner.PumpUntil(*port, done); }

    PrivatePortDirectory ports;
    PtyPair pty;
    SerialPortTestOwner owner;
    ObservedComm* comm = nullptr;
    std::unique_ptr<SerialPort> port;
};

TEST_F(SerialPortPty, ReceivedBytesArriveOneNotificationEachInOrder) {
    struct Row {
        const char* name;
        std::vector<uint8_t> bytes;
    } rows[] = {
        {"ThreeTogether", {0x11, 0x22, 0x33}},
        {"HighByteIsUnsigned", {0xFF}},
        {"ZeroAndHigh", {0x00, 0x80, 0xFE}},
    };
    OpenAndStart();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        owner.notes.clear();
        ASSERT_TRUE(pty.WriteMaster(row.bytes));
        ASSERT_TRUE(Pump([&] { return owner.notes.size() >= row.bytes.size(); }));
        std::vector<Note> expected;
        for (uint8_t byte : row.bytes) expected.push_back(Note{SPN_RXCHAR, byte, kPort});
        EXPECT_EQ(owner.notes, expected);
    }
    EXPECT_TRUE(owner.errors.empty());
}

TEST_F(SerialPortPty, AnOwnerThatDispatchesOnlyWhenWokenNeverStalls) {
    OpenAndStart();
    // Bursts of 1 to 7 bytes with short gaps between them, so that the owner
    // and the worker fall asleep and wake each other up at every moment.
    std::vector<uint8_t> sent;
    for (int burst = 0; burst < 300; ++burst)
        for (int i = 0; i <= burst % 7; ++i) sent.push_back(static_cast<uint8_t>(sent.size()));
    std::thread farEnd([&] {
        size_t at = 0;
        for (int burst = 0; burst < 300; ++burst) {
            const size_t count = static_cast<size_t>(burst % 7) + 1;
            pty.WriteMaster(std::vector<uint8_t>(sent.begin() + static_cast<long>(at),
                                                 sent.begin() + static_cast<long>(at + count)));
            at += count;
            std::this_thread::sleep_for(std::chrono::microseconds(burst % 5 * 100));
        }
    });
    const bool delivered =
        owner.PumpOnWakeOnly(*port, [&] { return owner.notes.size() >= sent.size(); });
    farEnd.join();
    EXPECT_TRUE(delivered) << owner.notes.size() << " of " << sent.size() << " bytes";
    EXPECT_EQ(owner.ReceivedBytes(), sent);
}

TEST_F(SerialPortPty, RequestedBytesArriveAtTheFarEnd) {
    OpenAndStart();
    const std::vector<uint8_t> frame = {0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A};
    ASSERT_TRUE(Write(frame));
    EXPECT_EQ(pty.ReadMaster(frame.size(), 5s), frame);

    // Longer than the write buffer of 512 bytes: written whole.
    std::vector<uint8_t> text(2000);
    for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<uint8_t>('A' + i % 26);
    ASSERT_TRUE(Write(text));
    EXPECT_EQ(pty.ReadMaster(text.size(), 5s), text);
    port->DispatchNotifications();
    EXPECT_TRUE(owner.errors.empty());
}

TEST_F(SerialPortPty, InputNotYetReadIsPurgedBeforeAWrite) {
    // Without EV_RXCHAR the worker leaves received bytes in the device.
    OpenAndStart(EV_CTS);
    ASSERT_TRUE(pty.WriteMaster(std::vector<uint8_t>{1, 2, 3}));
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (comm->InputQueued() < 3 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    ASSERT_EQ(comm->InputQueued(), 3u);

    ASSERT_TRUE(Write({9}));
    ASSERT_EQ(pty.ReadMaster(1, 5s), std::vector<uint8_t>{9});
    EXPECT_EQ(comm->InputQueued(), 0u);
    port->DispatchNotifications();
    EXPECT_TRUE(owner.notes.empty());
}

TEST_F(SerialPortPty, ReopeningEndsTheRunningWorkerFirst) {
    OpenAndStart();
    PtyPair second;
    ports.Link(8, second.SlavePath());

    ASSERT_TRUE(port->Open(&owner, 8, 19200, 'N', 8, 1, EV_RXCHAR | EV_CTS, 512));
    EXPECT_EQ(port->WorkerExitCode(), kWorkerExitCode);
    EXPECT_FALSE(port->IsWorkerRunning());

    ASSERT_TRUE(port->StartWorker());
    SyncWithWorker(second);
    ASSERT_TRUE(second.WriteMaster(std::vector<uint8_t>{0x42}));
    ASSERT_TRUE(Pump([&] { return !owner.notes.empty(); }));
    EXPECT_EQ(owner.notes, (std::vector<Note>{{SPN_RXCHAR, 0x42, 8}}));
}

TEST_F(SerialPortPty, MissingDeviceAnswersFalseAndShowsNothing) {
    OpenAndStart();
    EXPECT_FALSE(port->Open(&owner, 9, 9600, 'N', 8, 1, EV_RXCHAR | EV_CTS, 512));
    EXPECT_TRUE(owner.errors.empty());
    EXPECT_FALSE(port->IsWorkerRunning());
    // Bytes on the old line reach nobody now.
    ASSERT_TRUE(pty.WriteMaster(std::vector<uint8_t>{1}));
    port->DispatchNotifications();
    EXPECT_TRUE(owner.notes.empty());
}

TEST_F(SerialPortPty, VanishedDeviceIsReportedOnceAndCanBeOpenedAgain) {
    // A pty whose far end this test closes, as a pulled USB adapter would.
    int master = -1, slave = -1;
    char path[64] = {};
    ASSERT_EQ(openpty(&master, &slave, path, nullptr, nullptr), 0);
    close(slave);
    ports.Link(6, path);
    ASSERT_TRUE(port->Open(&owner, 6, 9600, 'N', 8, 1, EV_RXCHAR | EV_CTS, 512));
    ASSERT_TRUE(port->StartWorker());
    ASSERT_TRUE(Write({1}));
    uint8_t probe = 0;
    pollfd far{master, POLLIN, 0};
    ASSERT_EQ(poll(&far, 1, 5000), 1);
    ASSERT_EQ(read(master, &probe, 1), 1);

    close(master);
    ASSERT_TRUE(Pump([&] { return !owner.errors.empty(); }));
    EXPECT_NE(owner.errors[0].text.find("ClearCommError()"), std::string::npos)
        << owner.errors[0].text;
    EXPECT_NE(owner.errors[0].text.find("Port: 6"), std::string::npos);

    // Writes to the dead line are refused; the line opens again.
    EXPECT_FALSE(Write({2}));
    ASSERT_TRUE(port->Open(&owner, kPort, 9600, 'N', 8, 1, EV_RXCHAR | EV_CTS, 512));
    EXPECT_EQ(owner.errors.size(), 1u);
    EXPECT_EQ(owner.NotesOf(SPN_RXCHAR).size(), 0u);

    ASSERT_TRUE(port->StartWorker());
    SyncWithWorker(pty);
    ASSERT_TRUE(pty.WriteMaster(std::vector<uint8_t>{0x33}));
    ASSERT_TRUE(Pump([&] { return !owner.NotesOf(SPN_RXCHAR).empty(); }));
    EXPECT_EQ(owner.NotesOf(SPN_RXCHAR), (std::vector<Note>{{SPN_RXCHAR, 0x33, kPort}}));
}

TEST_F(SerialPortPty, DeviceVanishingDuringAWriteEndsTheRequestsWithOneLossReport) {
    int master = -1, slave = -1;
    char path[64] = {};
    ASSERT_EQ(openpty(&master, &slave, path, nullptr, nullptr), 0);
    close(slave);
    ports.Link(6, path);
    ASSERT_TRUE(port->Open(&owner, 6, 9600, 'N', 8, 1, EV_RXCHAR | EV_CTS, 512));
    ASSERT_TRUE(port->StartWorker());

    // More than the pty holds and nobody reads it: the worker stays inside
    // the write until the far end goes away.
    const std::vector<uint8_t> bulk(100000, 0x55);
    ASSERT_TRUE(Write(bulk));
    uint8_t first = 0;
    pollfd far{master, POLLIN, 0};
    ASSERT_EQ(poll(&far, 1, 5000), 1);
    ASSERT_EQ(read(master, &first, 1), 1);
    close(master);

    ASSERT_TRUE(Pump([&] { return owner.errors.size() >= 2; }))
        << "the failed write is reported, then the lost line; got " << owner.errors.size();
    EXPECT_NE(owner.errors[0].text.find("WriteFile()"), std::string::npos) << owner.errors[0].text;
    EXPECT_NE(owner.errors[1].text.find("ClearCommError()"), std::string::npos)
        << owner.errors[1].text;
    // The lost line takes no more requests, so no box follows each send.
    EXPECT_FALSE(Write({2}));
    port->DispatchNotifications();
    EXPECT_EQ(owner.errors.size(), 2u);
}

// How the owner stops a worker: opening another port, or closing the window.
enum class Stop { OpenOfAnotherPort, Destruction };

class SerialPortPtyStalledWrite : public SerialPortPty,
                                  public ::testing::WithParamInterface<Stop> {};

TEST_P(SerialPortPtyStalledWrite, StopCutsTheWriteShortWithoutABox) {
    OpenAndStart();
    PtyPair second;
    ports.Link(8, second.SlavePath());
    // Far more than the pty holds, and the far end reads nothing: without a
    // stop the worker would wait out the write timeout of 1000 ms + 1000 ms
    // per byte.
    const std::vector<uint8_t> bulk(100000, 0x55);
    ASSERT_TRUE(Write(bulk));
    pollfd far{pty.MasterFd(), POLLIN, 0};
    ASSERT_EQ(poll(&far, 1, 5000), 1);

    const auto start = std::chrono::steady_clock::now();
    if (GetParam() == Stop::Destruction) {
        port.reset();
    } else {
        ASSERT_TRUE(port->Open(&owner, 8, 9600, 'N', 8, 1, EV_RXCHAR | EV_CTS, 512));
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_TRUE(owner.errors.empty()) << owner.errors[0].text;
}

INSTANTIATE_TEST_SUITE_P(Stops, SerialPortPtyStalledWrite,
                         ::testing::Values(Stop::OpenOfAnotherPort, Stop::Destruction),
                         [](const auto& info) {
                             return info.param == Stop::Destruction ? "Destruction"
                                                                    : "OpenOfAnotherPort";
                         });

TEST(SerialPortDescriptors, AThousandOpensKeepTheDescriptorCount) {
    PrivatePortDirectory ports;
    PtyPair pty;
    ports.Link(7, pty.SlavePath());
    SerialPortTestOwner owner;
    const size_t before = OpenDescriptors();
    {
        SerialPort port(ports.Comm());
        ASSERT_TRUE(port.Open(&owner, 7, 9600, 'N', 8, 1, EV_RXCHAR | EV_CTS, 512));
        ASSERT_TRUE(port.StartWorker());
        const size_t open = OpenDescriptors();
        for (int i = 0; i < 1000; ++i) {
            ASSERT_TRUE(port.Open(&owner, 7, 9600, 'N', 8, 1, EV_RXCHAR | EV_CTS, 512));
            ASSERT_TRUE(port.StartWorker());
        }
        EXPECT_EQ(OpenDescriptors(), open);
    }
    EXPECT_EQ(OpenDescriptors(), before) << "destruction closes the device and the events";
    EXPECT_TRUE(owner.errors.empty());
}

}  // namespace
