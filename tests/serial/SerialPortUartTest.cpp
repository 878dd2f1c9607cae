// The engine on the system's comm layer, a pty answering as a UART driver (FakeUart, preloaded).
#include "FakeUart.h"
#include "PtyPair.h"
#include "SerialPortPtyFixture.h"

#include <gtest/gtest.h>

#include <sys/ioctl.h>

#include <cstdlib>
#include <fstream>

#include "trace/LineCapture.h"
#include "trace/LineRecord.h"

namespace {

using namespace std::chrono_literals;

const bool preloaded = FakeUart::Preload(TALVENOR_FAKE_UART);

class SerialPortUart : public ::testing::Test {
protected:
    static constexpr int kPort = 9;

    SerialPortUart() {
        setenv("FAKE_UART", "1", 1);
        setenv("FAKE_UART_LOG", log.c_str(), 1);
    }
    ~SerialPortUart() override {
        std::remove(log.c_str());
        unsetenv("FAKE_UART_RS485");
        unsetenv("FAKE_UART_LOW_LATENCY");
    }
    void SetUp() override { ASSERT_TRUE(preloaded && uart.Loaded()); }

    std::unique_ptr<SerialPort> Open(const PtyPair& pty, bool listenOnly = false) {
        ports.Link(kPort, pty.SlavePath());
        auto port = std::make_unique<SerialPort>(ports.Comm());
        port->SetListenOnly(listenOnly);
        EXPECT_TRUE(port->Open(&owner, kPort, 9600, 'N', 8, 1, EV_RXCHAR | EV_CTS, 512));
        EXPECT_TRUE(port->StartWorker());
        return port;
    }
    std::string Log() const {
        std::ifstream file(log);
        return {std::istreambuf_iterator<char>(file), {}};
    }

    FakeUart uart;
    std::string log = "/tmp/fake-uart-" + std::to_string(getpid()) + ".log";
    PrivatePortDirectory ports;
    SerialPortTestOwner owner;
};

// An adapter keeps its low-latency flag when closed: on for the line, then as found.
TEST_F(SerialPortUart, LowLatencyOnForTheLineAndAsFoundAfterIt) {
    for (const bool before : {false, true}) {
        SCOPED_TRACE(before ? "adapter had it on" : "adapter had it off");
        PtyPair pty;
        setenv("FAKE_UART_LOW_LATENCY", before ? "1" : "", 1);
        uart.forget(pty.SlavePath().c_str());
        auto port = Open(pty);
        EXPECT_EQ(uart.lowLatency(pty.SlavePath().c_str()), 1);
        port.reset();
        EXPECT_EQ(uart.lowLatency(pty.SlavePath().c_str()), before ? 1 : 0);
    }
}

// RS-485 mode read at the open, RTS left alone, a change read back as the driver took it,
// and the port's own settings back after the close.
TEST_F(SerialPortUart, Rs485ReadAppliedReadBackAndRestored) {
    setenv("FAKE_UART_RS485", "on", 1);
    PtyPair pty;
    uart.forget(pty.SlavePath().c_str());
    const int original = uart.rs485Flags(pty.SlavePath().c_str());
    auto port = Open(pty);
    ASSERT_TRUE(port->GetRs485().known);
    EXPECT_TRUE(port->GetRs485().settings.enabled);
    int error = 0;
    EXPECT_FALSE(port->SetControlLine(LINE_RTS, true, error));
    EXPECT_EQ(error, EBUSY);

    // 250 ms is beyond what serial_core allows.
    Rs485Settings wanted{
        .enabled = true, .rtsOnSend = false, .rtsAfterSend = true, .delayBeforeSendMs = 250};
    ASSERT_TRUE(port->SetRs485(wanted, error));
    EXPECT_TRUE(port->GetRs485().settings.rtsAfterSend);
    EXPECT_EQ(port->GetRs485().settings.delayBeforeSendMs, 100u);
    port.reset();
    EXPECT_EQ(uart.rs485Flags(pty.SlavePath().c_str()), original);
    EXPECT_EQ(Log().find("during-rs485"), std::string::npos) << Log();
}

// The far end moves CTS and sends damaged bytes: TIOCMIWAIT wakes, counts start at the open.
TEST_F(SerialPortUart, ModemLineChangeAndLineErrorsReachTheOwner) {
    PtyPair pty;
    uart.forget(pty.SlavePath().c_str());
    uart.countErrors(pty.SlavePath().c_str(), 5, 0, 0, 0);  // before the open: not this line's
    auto port = Open(pty);
    // An event before the engine's first wait is passed over: flip CTS until one is told.
    int flips = 0;
    while (owner.NotesOf(SPN_CTS).empty() && flips < 100) {
        uart.setInputs(pty.SlavePath().c_str(), ++flips % 2 ? TIOCM_CTS : 0);
        owner.PumpUntil(
            *port, [&] { return !owner.NotesOf(SPN_CTS).empty(); }, 50ms);
    }
    ASSERT_FALSE(owner.NotesOf(SPN_CTS).empty());
    if (flips % 2 == 0) uart.setInputs(pty.SlavePath().c_str(), TIOCM_CTS), ++flips;
    uint8_t lines = 0;
    int error = 0;
    ASSERT_TRUE(port->GetModemLines(lines, error));
    EXPECT_TRUE(lines & LINE_CTS);
    uart.countErrors(pty.SlavePath().c_str(), 2, 1, 0, 1);
    LineCounters counts;
    ASSERT_TRUE(port->GetLineCounters(counts, error));
    EXPECT_EQ(counts.frame, 2u);
    EXPECT_EQ(counts.parity, 1u);
    EXPECT_EQ(counts.brk, 1u);
    EXPECT_EQ(counts.cts, static_cast<uint32_t>(flips));
}

// The same, recorded: each is an rtacser event of its own in the capture
// file as it happens, and Debian's tshark names it. A damaged byte is still
// handed over (a break as a NUL) and counted, as a UART's driver does.
TEST_F(SerialPortUart, ModemLineChangeAndLineErrorsAreCaptureRecords) {
    PtyPair pty;
    const char* const slave = pty.SlavePath().c_str();
    uart.forget(slave);
    ports.Link(kPort, slave);
    const std::string path = log + ".pcap";
    int error = 0;
    auto capture = LineCapture::Create(path, error);
    ASSERT_TRUE(capture) << error;
    const struct {
        int inputs, frame, parity, breaks;
        const char* shown;
    } rows[] = {{TIOCM_CTS | TIOCM_CD, 0, 0, 0, "STATUS_CHANGE         ( CTS, DCD, /DSR"},
                {0, 1, 0, 0, "FRAMING_ERROR"},
                {0, 0, 1, 0, "PARITY_ERROR"},
                {0, 0, 0, 1, "SERIAL_BREAK_EVENT"}};
    {
        LineRecord record(ports.Comm());
        record.Record({capture.get()});
        ASSERT_TRUE(record.Open(&owner, kPort, 9600, 'N', 8, 1, EV_RXCHAR, 512));
        for (const auto& row : rows) {
            if (row.inputs) uart.setInputs(slave, row.inputs);
            if (!row.inputs && uart.countErrors(slave, row.frame, row.parity, 0, row.breaks) == 0)
                pty.WriteMaster(std::vector<uint8_t>{0});
            owner.PumpUntil(
                record.Port(), [] { return false; }, 100ms);
        }
    }
    ASSERT_TRUE(capture->Finish().Whole());
    std::string shown(4096, '\0');
    FILE* tshark = popen(("tshark -r " + path + " 2>/dev/null").c_str(), "r");
    shown.resize(tshark ? fread(shown.data(), 1, shown.size(), tshark) : 0);
    if (tshark) pclose(tshark);
    std::remove(path.c_str());
    for (const auto& row : rows) EXPECT_NE(shown.find(row.shown), std::string::npos) << shown;
}

}  // namespace
