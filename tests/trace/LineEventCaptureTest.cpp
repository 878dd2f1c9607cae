// What the driver tells of the line besides its bytes reaches the capture
// file as it happens, on a pseudo-terminal that answers as a UART does (the
// FakeUart aid, preloaded), and Debian's tshark shows each event.
#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <cstdio>
#include <functional>
#include <mutex>

#include "../serial/SerialPortPtyFixture.h"
#include "FakeUart.h"
#include "PtyPair.h"
#include "trace/LineCapture.h"
#include "trace/LineRecord.h"

namespace {

const bool preloaded = FakeUart::Preload(TALVENOR_FAKE_UART);

struct Kinds : FrameSink {
    void Take(std::span<const LineFrame> frames) override {
        std::lock_guard guard(lock);
        for (const LineFrame& frame : frames) seen.push_back(frame.kind);
    }
    bool Saw(FrameKind kind) {
        std::lock_guard guard(lock);
        return std::find(seen.begin(), seen.end(), kind) != seen.end();
    }
    std::mutex lock;
    std::vector<FrameKind> seen;
};

TEST(LineEventCapture, ModemLinesAndLineErrorsAreRecordsTsharkShows) {
    setenv("FAKE_UART", "1", 1);
    ASSERT_TRUE(preloaded && FakeUart().Loaded());
    FakeUart uart;
    PtyPair pty;
    const char* const slave = pty.SlavePath().c_str();
    uart.forget(slave);
    PrivatePortDirectory ports;
    ports.Link(1, pty.SlavePath());
    const std::string path = "/tmp/talvenor-events-" + std::to_string(getpid()) + ".pcap";
    int error = 0;
    auto capture = LineCapture::Create(path, error);
    ASSERT_TRUE(capture) << error;
    Kinds kinds;
    SerialPortTestOwner owner;
    // What the far end does, as the driver sees it: a damaged byte is still
    // handed over (a break as a NUL), and counted.
    struct Row {
        FrameKind kind;
        std::function<void(int)> act;
        const char* shown;
    } rows[] = {
        {FrameKind::ModemChange,
         [&](int n) { uart.setInputs(slave, n % 2 ? TIOCM_CTS | TIOCM_CD : 0); },
         "STATUS_CHANGE         ( CTS, DCD, /DSR"},
        {FrameKind::FramingError,
         [&](int) { uart.countErrors(slave, 1, 0, 0, 0), pty.WriteMaster("x"); }, "FRAMING_ERROR"},
        {FrameKind::ParityError,
         [&](int) { uart.countErrors(slave, 0, 1, 0, 0), pty.WriteMaster("y"); }, "PARITY_ERROR"},
        {FrameKind::LineBreak,
         [&](int) {
             uart.countErrors(slave, 0, 0, 0, 1), pty.WriteMaster(std::vector<uint8_t>{0});
         },
         "SERIAL_BREAK_EVENT"},
    };
    {
        LineRecord record(ports.Comm());
        record.Record({capture.get(), &kinds});
        ASSERT_TRUE(record.Open(&owner, 1, 9600, 'N', 8, 1, EV_RXCHAR, 512));
        // The engine may pass over what comes before its first wait: the far
        // end goes on until it is seen.
        for (const Row& row : rows) {
            for (int n = 1; n < 40 && !kinds.Saw(row.kind); ++n) {
                row.act(n);
                owner.PumpUntil(
                    record.Port(), [&] { return kinds.Saw(row.kind); },
                    std::chrono::milliseconds(100));
            }
            EXPECT_TRUE(kinds.Saw(row.kind)) << row.shown;
        }
    }
    ASSERT_TRUE(capture->Finish().Whole());
    std::string shown;
    if (FILE* tshark = popen(("tshark -r " + path + " 2>/dev/null").c_str(), "r")) {
        char line[512];
        while (fgets(line, sizeof line, tshark)) shown += line;
        pclose(tshark);
    }
    std::remove(path.c_str());
    for (const Row& row : rows) EXPECT_NE(shown.find(row.shown), std::string::npos) << shown;
}

}  // namespace
