// What the driver tells of the line besides its bytes reaches the capture
// file as it happens, on a pty that answers as a UART does (the FakeUart aid,
// preloaded), and Debian's tshark shows each event.
#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include "../serial/SerialPortPtyFixture.h"
#include "FakeUart.h"
#include "PtyPair.h"
#include "trace/LineCapture.h"
#include "trace/LineRecord.h"

const bool preloaded = FakeUart::Preload(TALVENOR_FAKE_UART);

TEST(LineEventCapture, ModemLinesAndLineErrorsAreRecordsTsharkShows) {
    setenv("FAKE_UART", "1", 1);
    FakeUart uart;
    ASSERT_TRUE(preloaded && uart.Loaded());
    PtyPair pty;
    const char* const slave = pty.SlavePath().c_str();
    uart.forget(slave);
    PrivatePortDirectory ports;
    ports.Link(1, pty.SlavePath());
    const std::string path = "/tmp/talvenor-events-" + std::to_string(getpid()) + ".pcap";
    int error = 0;
    auto capture = LineCapture::Create(path, error);
    ASSERT_TRUE(capture) << error;
    // The far end raises lines; a damaged byte is still handed over (a break
    // as a NUL) and counted, as a UART's driver does.
    const struct {
        int inputs, frame, parity, breaks;
        const char* shown;
    } rows[] = {{TIOCM_CTS | TIOCM_CD, 0, 0, 0, "STATUS_CHANGE         ( CTS, DCD, /DSR"},
                {0, 1, 0, 0, "FRAMING_ERROR"},
                {0, 0, 1, 0, "PARITY_ERROR"},
                {0, 0, 0, 1, "SERIAL_BREAK_EVENT"}};
    SerialPortTestOwner owner;
    {
        LineRecord record(ports.Comm());
        record.Record({capture.get()});
        ASSERT_TRUE(record.Open(&owner, 1, 9600, 'N', 8, 1, EV_RXCHAR, 512));
        for (const auto& row : rows) {
            if (row.inputs) uart.setInputs(slave, row.inputs);
            if (!row.inputs && uart.countErrors(slave, row.frame, row.parity, 0, row.breaks) == 0)
                pty.WriteMaster(std::vector<uint8_t>{0});
            owner.PumpUntil(
                record.Port(), [] { return false; }, std::chrono::milliseconds(100));
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
