// The POSIX comm layer on real pseudo-terminals: the port opens the slave end
// through a COM link, the test plays the other end of the wire on the master.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "OpenDescriptors.h"
#include "PtyPair.h"
#include "serial/DeviceSpeed.h"
#include "serial/PosixComm.h"

namespace {

using namespace std::chrono_literals;

// A private port directory with COM links, and an empty device listing so
// that the machine's own serial ports never get a number.
class PortDirectory {
public:
    PortDirectory() {
        char pattern[] = "/tmp/posixcomm-XXXXXX";
        root = mkdtemp(pattern);
        std::filesystem::create_directory(root + "/ports");
        std::filesystem::permissions(root + "/ports", std::filesystem::perms::owner_all);
        std::filesystem::create_directory(root + "/dev");
    }
    ~PortDirectory() { std::filesystem::remove_all(root); }

    void Link(int number, const std::string& target) const {
        std::filesystem::create_symlink(target, root + "/ports/COM" + std::to_string(number));
    }
    std::string File(const std::string& name) const {
        std::string path = root + "/" + name;
        FILE* f = fopen(path.c_str(), "w");
        fclose(f);
        return path;
    }
    ComNames Names() const { return ComNames({root + "/ports", root + "/dev", root + "/sys"}); }

private:
    std::string root;
};

// Sets `event` after `limit` unless cancelled, so that a wait that never
// ends fails the test instead of hanging it.
class Watchdog {
public:
    Watchdog(PosixComm& comm, EventHandle event, std::chrono::milliseconds limit)
        : thread([&comm, event, limit, this] {
              std::unique_lock guard(lock);
              if (!changed.wait_for(guard, limit, [this] { return cancelled; }))
                  comm.SetEvent(event);
          }) {}
    ~Watchdog() {
        {
            std::lock_guard guard(lock);
            cancelled = true;
        }
        changed.notify_all();
        thread.join();
    }

private:
    std::mutex lock;
    std::condition_variable changed;
    bool cancelled = false;
    std::thread thread;
};

class PosixCommPty : public ::testing::Test {
protected:
    static constexpr int kPort = 5;

    void SetUp() override {
        ports.Link(kPort, pair.SlavePath());
        device = comm.OpenDevice("COM5");
        ASSERT_NE(device, kNoDevice) << comm.ErrorText(comm.LastError());
        CommTimeouts timeouts;
        timeouts.writeTotalTimeoutConstant = 1000;
        timeouts.writeTotalTimeoutMultiplier = 1000;
        timeouts.readTotalTimeoutConstant = 1000;
        ASSERT_TRUE(comm.SetCommTimeouts(device, timeouts));
        ASSERT_TRUE(comm.SetCommMask(device, EV_RXCHAR | EV_CTS));
        for (EventHandle& event : events) {
            event = comm.CreateEvent();
            ASSERT_NE(event, kNoEvent);
        }
    }
    void TearDown() override {
        comm.CloseDevice(device);
        for (EventHandle event : events) comm.CloseEvent(event);
    }

    // The engine's wait table plus a watchdog event: index 3 means the
    // bounded wait ran out.
    int WaitBounded(std::chrono::milliseconds limit = 5s) {
        comm.ResetEvent(events[3]);
        Watchdog watchdog(comm, events[3], limit);
        return comm.WaitForAny(events, 4);
    }

    // Waits until the port's end of the pty has `count` bytes to read.
    void WaitForInput(uint32_t count) {
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        CommStatus status;
        while (comm.ClearCommError(device, status) && status.inQueue < count &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        ASSERT_GE(status.inQueue, count);
    }

    PtyPair pair;
    PortDirectory ports;
    PosixComm comm{ports.Names()};
    CommHandle device = kNoDevice;
    EventHandle events[4] = {kNoEvent, kNoEvent, kNoEvent,
                             kNoEvent};  // shutdown, comm, write, watchdog
    static constexpr int kComm = 1;
};

}  // namespace

TEST_F(PosixCommPty, SpeedAndStopBitsReadBackFromTheDevice) {
    struct Row {
        uint32_t baudRate;
        uint8_t stopBits;
    };
    std::vector<Row> rows = {
        {9600, ONESTOPBIT},   {19200, TWOSTOPBITS}, {115200, ONESTOPBIT}, {3000000, TWOSTOPBITS},
        {250000, ONESTOPBIT}, {9600, ONESTOPBIT}};  // a standard rate after a custom one
    // Every rate termios names, each read back: a rate mapped to its
    // neighbour's code would run the line at the wrong speed.
    for (uint32_t rate :
         {50u,      75u,      110u,     134u,     150u,     200u,    300u,     600u,
          1200u,    1800u,    2400u,    4800u,    9600u,    19200u,  38400u,   57600u,
          115200u,  230400u,  460800u,  500000u,  576000u,  921600u, 1000000u, 1152000u,
          1500000u, 2000000u, 2500000u, 3000000u, 3500000u, 4000000u})
        rows.push_back({rate, ONESTOPBIT});
    for (const Row& row : rows) {
        SCOPED_TRACE(row.baudRate);
        DCB dcb;
        ASSERT_TRUE(comm.GetCommState(device, dcb));
        dcb.baudRate = row.baudRate;
        dcb.stopBits = row.stopBits;
        dcb.rtsControl = RTS_CONTROL_ENABLE;
        EXPECT_TRUE(comm.SetCommState(device, dcb)) << comm.ErrorText(comm.LastError());
        DCB back;
        EXPECT_TRUE(comm.GetCommState(device, back));
        EXPECT_EQ(back.baudRate, row.baudRate);
        EXPECT_EQ(back.stopBits, row.stopBits);
        EXPECT_EQ(back.byteSize, 8);  // a pty keeps no other size
        EXPECT_EQ(back.rtsControl, RTS_CONTROL_ENABLE);
        uint32_t seen = 0;  // the test's own descriptor on the same terminal
        EXPECT_EQ(DeviceSpeed::Read(pair.SlaveFd(), seen), 0);
        EXPECT_EQ(seen, row.baudRate);
        // The input speed is the output speed: its own code is unset or the same.
        termios t{};
        ASSERT_EQ(tcgetattr(pair.SlaveFd(), &t), 0);
        const tcflag_t input = (t.c_cflag & CIBAUD) >> 16;
        EXPECT_TRUE(input == 0 || input == (t.c_cflag & CBAUD)) << std::oct << t.c_cflag;
    }
}

TEST_F(PosixCommPty, BaudZeroIsNeverApplied) {
    DCB dcb;
    ASSERT_TRUE(comm.GetCommState(device, dcb));
    dcb.baudRate = 19200;
    ASSERT_TRUE(comm.SetCommState(device, dcb));
    dcb.baudRate = 0;
    EXPECT_FALSE(comm.SetCommState(device, dcb));
    EXPECT_EQ(comm.LastError(), EINVAL);
    ASSERT_TRUE(comm.GetCommState(device, dcb));
    EXPECT_EQ(dcb.baudRate, 19200u);
}

TEST_F(PosixCommPty, OpenRefusesWhatIsNotAnOpenableTerminal) {
    ports.Link(6, ports.File("plain"));
    ports.Link(7, "/dev/null");
    ports.Link(8, "/nonexistent/ttyUSB9");
    ports.Link(10, "/dev/ptmx");  // a terminal, but opening it makes a new pty master
    struct Row {
        const char* name;
        int error;
    };
    // COM5 is open here already: the flock refuses it.
    const Row rows[] = {
        {"COM6", ENOTTY}, {"COM7", ENOTTY}, {"COM8", ENOENT},  {"COM9", ENOENT},
        {"COM0", ENOENT}, {"LPT1", ENOENT}, {"COM10", ENOTTY}, {"COM5", EBUSY},
    };
    const size_t before = OpenDescriptors();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(comm.OpenDevice(row.name), kNoDevice);
        EXPECT_EQ(comm.LastError(), row.error);
    }
    EXPECT_EQ(OpenDescriptors(), before);
    PosixComm other{ports.Names()};
    EXPECT_EQ(other.OpenDevice("COM5"), kNoDevice);
    EXPECT_EQ(other.LastError(), EBUSY);

    comm.CloseDevice(device);
    device = other.OpenDevice("COM5");
    EXPECT_NE(device, kNoDevice);
    other.CloseDevice(device);
    device = comm.OpenDevice("COM5");
    EXPECT_NE(device, kNoDevice);
}

TEST_F(PosixCommPty, PendingEventWaitCompletesWhenTheOtherEndWrites) {
    uint32_t word = 99;
    ASSERT_EQ(comm.WaitCommEvent(device, events[kComm], word), IoResult::Pending);
    EXPECT_EQ(word, 0u);
    ASSERT_TRUE(pair.WriteMaster(std::vector<uint8_t>{0x01, 0xff, 0x7e}));
    ASSERT_EQ(WaitBounded(), kComm);
    EXPECT_EQ(comm.TakeCommEvents(device), EV_RXCHAR);
    EXPECT_EQ(comm.TakeCommEvents(device), 0u);

    WaitForInput(3);
    std::vector<uint8_t> got;
    uint8_t byte = 0;
    while (got.size() < 3 && comm.ReadByte(device, byte) == IoResult::Done) got.push_back(byte);
    EXPECT_EQ(got, (std::vector<uint8_t>{0x01, 0xff, 0x7e}));
    CommStatus status;
    ASSERT_TRUE(comm.ClearCommError(device, status));
    EXPECT_EQ(status.inQueue, 0u);
}

TEST_F(PosixCommPty, EventWaitCompletesAtOnceOnlyForQueuedInputItWasAskedFor) {
    ASSERT_TRUE(pair.WriteMaster(std::string("ab")));
    WaitForInput(2);
    uint32_t word = 0;
    ASSERT_TRUE(comm.SetCommMask(device, EV_CTS));
    EXPECT_EQ(comm.WaitCommEvent(device, events[kComm], word), IoResult::Pending);

    ASSERT_TRUE(comm.SetCommMask(device, EV_RXCHAR | EV_CTS));
    ASSERT_TRUE(comm.SetEvent(events[kComm]));  // a stale signal is reset by the wait
    EXPECT_EQ(comm.WaitCommEvent(device, events[kComm], word), IoResult::Done);
    EXPECT_EQ(word, EV_RXCHAR);
    EXPECT_EQ(WaitBounded(), kComm);
}

TEST_F(PosixCommPty, WaitForAnyAnswersTheLowestSignalledEvent) {
    struct Row {
        const char* name;
        std::vector<int> signalled;
        int answer;
    };
    const std::vector<Row> rows = {
        {"WriteOnly", {2}, 2},
        {"CommAndWrite", {1, 2}, 1},
        {"AllThree", {2, 0, 1}, 0},
        {"SetTwiceStillOne", {1, 1}, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        for (int i = 0; i < 3; ++i) ASSERT_TRUE(comm.ResetEvent(events[i]));
        for (int i : row.signalled) ASSERT_TRUE(comm.SetEvent(events[i]));
        EXPECT_EQ(WaitBounded(), row.answer);
        EXPECT_EQ(WaitBounded(), row.answer);  // manual reset: still signalled
    }
    for (int i = 0; i < 3; ++i) comm.ResetEvent(events[i]);
    EXPECT_EQ(WaitBounded(50ms), 3);
}

TEST_F(PosixCommPty, PurgeDropsQueuedInput) {
    ASSERT_TRUE(pair.WriteMaster(std::string("stale")));
    WaitForInput(5);
    uint8_t byte = 0;
    ASSERT_EQ(comm.ReadByte(device, byte),
              IoResult::Done);  // the rest now sits in the layer's queue
    ASSERT_TRUE(
        comm.PurgeComm(device, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR));
    CommStatus status;
    ASSERT_TRUE(comm.ClearCommError(device, status));
    EXPECT_EQ(status.inQueue, 0u);

    ASSERT_TRUE(pair.WriteMaster(std::string("N")));
    WaitForInput(1);
    ASSERT_EQ(comm.ReadByte(device, byte), IoResult::Done);
    EXPECT_EQ(byte, 'N');
}

TEST_F(PosixCommPty, WrittenBytesArriveAtTheOtherEnd) {
    struct Row {
        const char* name;
        size_t length;
    };
    // The pty buffers about 16 KiB: the long write completes only as the
    // other end reads.
    const Row rows[] = {{"Frame", 8}, {"FullBuffer", 500}, {"LongerThanThePty", 100000}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<uint8_t> bytes(row.length);
        for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7);
        std::vector<uint8_t> received;
        std::thread reader([&] { received = pair.ReadMaster(bytes.size(), 10s); });
        uint32_t written = 0;
        IoResult result =
            comm.Write(device, bytes.data(), static_cast<uint32_t>(bytes.size()), written);
        EXPECT_NE(result, IoResult::Failed) << comm.ErrorText(comm.LastError());
        if (result == IoResult::Pending) {
            EXPECT_TRUE(comm.WaitWriteResult(device, written, kNoEvent))
                << comm.ErrorText(comm.LastError());
        }
        EXPECT_EQ(written, bytes.size());
        reader.join();
        EXPECT_EQ(received, bytes);
    }
}

TEST_F(PosixCommPty, WriteNobodyReadsFailsAtTheWriteTimeout) {
    CommTimeouts timeouts;
    timeouts.writeTotalTimeoutConstant = 50;
    ASSERT_TRUE(comm.SetCommTimeouts(device, timeouts));
    std::vector<uint8_t> bytes(100000, 0x55);
    uint32_t written = 0;
    ASSERT_EQ(comm.Write(device, bytes.data(), static_cast<uint32_t>(bytes.size()), written),
              IoResult::Pending);
    EXPECT_FALSE(comm.WaitWriteResult(device, written, kNoEvent));
    EXPECT_EQ(comm.LastError(), ETIMEDOUT);
    EXPECT_LT(written, bytes.size());
    EXPECT_TRUE(comm.PurgeComm(device, PURGE_TXABORT | PURGE_TXCLEAR));
}

TEST_F(PosixCommPty, HangUpIsReportedOnceWithoutABusyLoop) {
    uint32_t word = 0;
    ASSERT_EQ(comm.WaitCommEvent(device, events[kComm], word), IoResult::Pending);
    // Close the master end in place; the pair later closes /dev/null instead.
    int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    ASSERT_GE(null, 0);
    ASSERT_EQ(dup2(null, pair.MasterFd()), pair.MasterFd());
    close(null);

    ASSERT_EQ(WaitBounded(), kComm);
    EXPECT_EQ(comm.TakeCommEvents(device), EV_RXCHAR);  // EV_ERR too, but it is not in the mask
    CommStatus status;
    EXPECT_FALSE(comm.ClearCommError(device, status));
    EXPECT_EQ(comm.LastError(), EIO);

    // The engine's loop from here on: a new wait, then the table. The dead
    // device must not wake it again.
    int wakes = 0;
    for (int round = 0; round < 3; ++round) {
        comm.WaitCommEvent(device, events[kComm], word);
        if (WaitBounded(100ms) != 3) ++wakes;
    }
    EXPECT_EQ(wakes, 0);

    uint8_t byte = 0;
    EXPECT_EQ(comm.ReadByte(device, byte), IoResult::Failed);
    uint32_t written = 0;
    EXPECT_EQ(comm.Write(device, &byte, 1, written), IoResult::Failed);
    EXPECT_EQ(comm.LastError(), EIO);
}

TEST_F(PosixCommPty, HangUpFoundOutsideTheEventWaitEndsOneWait) {
    // A write finds the hang-up first, while a wait is out or before the
    // next one is issued; either way one wait completes for it, none after.
    struct Row {
        const char* name;
        bool waitOutFirst;
    };
    const Row rows[] = {{"WhileAWaitIsOut", true}, {"BeforeTheNextWait", false}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        PtyPair line;
        ports.Link(row.waitOutFirst ? 6 : 7, line.SlavePath());
        const CommHandle handle = comm.OpenDevice(row.waitOutFirst ? "COM6" : "COM7");
        ASSERT_NE(handle, kNoDevice);
        ASSERT_TRUE(comm.SetCommMask(handle, EV_RXCHAR | EV_CTS));
        CommHandle kept = device;
        device = handle;  // WaitBounded watches the waits of every device

        uint32_t word = 0;
        comm.ResetEvent(events[kComm]);
        if (row.waitOutFirst) {
            ASSERT_EQ(comm.WaitCommEvent(device, events[kComm], word), IoResult::Pending);
        }
        int null = open("/dev/null", O_RDWR | O_CLOEXEC);
        ASSERT_GE(null, 0);
        ASSERT_EQ(dup2(null, line.MasterFd()), line.MasterFd());
        close(null);
        uint8_t byte = 0x11;
        uint32_t written = 0;
        EXPECT_EQ(comm.Write(device, &byte, 1, written), IoResult::Failed);
        EXPECT_EQ(comm.LastError(), EIO);
        if (!row.waitOutFirst) comm.WaitCommEvent(device, events[kComm], word);

        ASSERT_EQ(WaitBounded(), kComm);
        EXPECT_EQ(comm.TakeCommEvents(device) | word, EV_RXCHAR);
        CommStatus status;
        EXPECT_FALSE(comm.ClearCommError(device, status));
        for (int round = 0; round < 2; ++round) {
            comm.WaitCommEvent(device, events[kComm], word);
            EXPECT_EQ(WaitBounded(100ms), 3);
        }
        comm.CloseDevice(device);
        device = kept;
    }
}

TEST(PosixCommCycles, ThousandOpensLeaveNoDescriptorBehind) {
    PtyPair pair;
    PortDirectory ports;
    ports.Link(3, pair.SlavePath());
    PosixComm comm{ports.Names()};
    const size_t before = OpenDescriptors();
    for (int i = 0; i < 1000; ++i) {
        CommHandle device = comm.OpenDevice("COM3");
        ASSERT_NE(device, kNoDevice) << i;
        EventHandle event = comm.CreateEvent();
        uint32_t word = 0;
        comm.SetCommMask(device, EV_RXCHAR);
        comm.WaitCommEvent(device, event, word);
        comm.CloseDevice(device);
        comm.CloseEvent(event);
    }
    EXPECT_EQ(OpenDescriptors(), before);
}

TEST(PosixCommCycles, CloseRestoresTheTerminalSettings) {
    PtyPair pair;
    PortDirectory ports;
    ports.Link(3, pair.SlavePath());
    termios before{};
    ASSERT_EQ(tcgetattr(pair.SlaveFd(), &before), 0);
    before.c_lflag |= ECHO;  // something raw mode clears
    ASSERT_EQ(tcsetattr(pair.SlaveFd(), TCSANOW, &before), 0);
    PosixComm comm{ports.Names()};
    CommHandle device = comm.OpenDevice("COM3");
    ASSERT_NE(device, kNoDevice);
    DCB dcb;
    dcb.baudRate = 250000;
    ASSERT_TRUE(comm.SetCommState(device, dcb));
    comm.CloseDevice(device);
    termios after{};
    ASSERT_EQ(tcgetattr(pair.SlaveFd(), &after), 0);
    EXPECT_TRUE(after.c_lflag & ECHO);
    uint32_t baudRate = 0;
    ASSERT_EQ(DeviceSpeed::Read(pair.SlaveFd(), baudRate), 0);
    EXPECT_EQ(baudRate, 9600u);
}
