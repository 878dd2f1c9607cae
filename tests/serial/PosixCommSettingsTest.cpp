// The device-independent parts of the POSIX comm layer: the DCB to termios
// mapping, the line parameter text and the driver counters to events.
#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <string>

#include "serial/LineCounters.h"
#include "serial/LineSettings.h"
#include "serial/PosixComm.h"

namespace {

struct FormatRow {
    const char* name;
    uint8_t byteSize, parity, stopBits;
    tcflag_t cflags;  // expected under CSIZE | PARENB | PARODD | CMSPAR | CSTOPB
};

constexpr tcflag_t kFormatBits = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;

const FormatRow kFormats[] = {
    {"EightNoneOne", 8, NOPARITY, ONESTOPBIT, CS8},
    {"SevenEvenTwo", 7, EVENPARITY, TWOSTOPBITS, CS7 | PARENB | CSTOPB},
    {"SevenOddOne", 7, ODDPARITY, ONESTOPBIT, CS7 | PARENB | PARODD},
    {"EightMarkOne", 8, MARKPARITY, ONESTOPBIT, CS8 | PARENB | CMSPAR | PARODD},
    {"EightSpaceOne", 8, SPACEPARITY, ONESTOPBIT, CS8 | PARENB | CMSPAR},
    {"SixNoneOne", 6, NOPARITY, ONESTOPBIT, CS6},
    {"FiveNoneOneAndAHalf", 5, NOPARITY, ONE5STOPBITS, CS5 | CSTOPB},
};

termios Dirty() {
    // Settings a previous user may have left: cooked, with both handshakes.
    termios t{};
    t.c_iflag = ICRNL | IXON | IXOFF | IXANY | PARMRK | INPCK;
    t.c_oflag = OPOST | ONLCR;
    t.c_lflag = ICANON | ECHO | ISIG;
    t.c_cflag = CS7 | PARENB | CRTSCTS | HUPCL;
    cfsetspeed(&t, B38400);
    return t;
}

}  // namespace

TEST(LineSettings, FormatMapsToTermiosAndBack) {
    for (const FormatRow& row : kFormats) {
        SCOPED_TRACE(row.name);
        DCB dcb;
        dcb.byteSize = row.byteSize;
        dcb.parity = row.parity;
        dcb.stopBits = row.stopBits;
        termios t = Dirty();
        ASSERT_EQ(LineSettings::ToTermios(dcb, t), 0);
        EXPECT_EQ(t.c_cflag & kFormatBits, row.cflags);
        DCB back;
        back.byteSize = 0;
        LineSettings::FromTermios(t, back);
        EXPECT_EQ(back.byteSize, row.byteSize);
        EXPECT_EQ(back.parity, row.parity);
        EXPECT_EQ(back.stopBits, row.stopBits);
    }
}

TEST(LineSettings, RawLineWithoutHandshakeOrMarking) {
    termios t = Dirty();
    ASSERT_EQ(LineSettings::ToTermios(DCB{}, t), 0);
    EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), tcflag_t(CLOCAL | CREAD));
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY | PARMRK | ICRNL), 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(cfgetospeed(&t), speed_t(B9600));
}

TEST(LineSettings, ImpossibleRecordIsRefusedAndLeavesTermios) {
    struct Row {
        const char* name;
        DCB dcb;
    };
    const Row rows[] = {
        {"BaudZeroWouldHangUp", DCB{0, 8, NOPARITY, ONESTOPBIT, RTS_CONTROL_ENABLE}},
        {"FourDataBits", DCB{9600, 4, NOPARITY, ONESTOPBIT, RTS_CONTROL_ENABLE}},
        {"NineDataBits", DCB{9600, 9, NOPARITY, ONESTOPBIT, RTS_CONTROL_ENABLE}},
        {"ParityCodeFive", DCB{9600, 8, 5, ONESTOPBIT, RTS_CONTROL_ENABLE}},
        {"StopCodeThree", DCB{9600, 8, NOPARITY, 3, RTS_CONTROL_ENABLE}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        termios t = Dirty();
        EXPECT_EQ(LineSettings::ToTermios(row.dcb, t), EINVAL);
        EXPECT_EQ(t.c_lflag, Dirty().c_lflag);
        EXPECT_EQ(cfgetospeed(&t), speed_t(B38400));
    }
}

TEST(LineSettings, LineParameterText) {
    struct Row {
        const char* name;
        const char* text;
        int error;
        DCB expected;  // when accepted
    };
    const DCB start{4800, 8, NOPARITY, ONESTOPBIT, RTS_CONTROL_ENABLE};
    const Row rows[] = {
        {"EngineFormat",
         "baud=19200 parity=E data=7 stop=2",
         0,
         {19200, 7, EVENPARITY, TWOSTOPBITS, RTS_CONTROL_ENABLE}},
        {"AnyOrderAnyCase",
         "STOP=1 Data=8 PARITY=o Baud=115200",
         0,
         {115200, 8, ODDPARITY, ONESTOPBIT, RTS_CONTROL_ENABLE}},
        {"MarkAndOneAndAHalf",
         "parity=M stop=1.5 data=5",
         0,
         {4800, 5, MARKPARITY, ONE5STOPBITS, RTS_CONTROL_ENABLE}},
        {"SpaceParity", "parity=s", 0, {4800, 8, SPACEPARITY, ONESTOPBIT, RTS_CONTROL_ENABLE}},
        {"UnnamedFieldsKept", "baud=300", 0, {300, 8, NOPARITY, ONESTOPBIT, RTS_CONTROL_ENABLE}},
        {"ExtraBlanks",
         "  baud=1200\tparity=N  ",
         0,
         {1200, 8, NOPARITY, ONESTOPBIT, RTS_CONTROL_ENABLE}},
        {"BaudZero", "baud=0", EINVAL, start},
        {"BaudNegative", "baud=-9600", EINVAL, start},
        {"BaudOverflow", "baud=4294967296", EINVAL, start},
        {"BaudTrailingJunk", "baud=9600x", EINVAL, start},
        {"ParityUnknown", "parity=X", EINVAL, start},
        {"ParityWord", "parity=EVEN", EINVAL, start},
        {"DataFour", "data=4", EINVAL, start},
        {"DataNine", "data=9", EINVAL, start},
        {"StopThree", "stop=3", EINVAL, start},
        {"StopOnePointSix", "stop=1.6", EINVAL, start},
        {"UnknownKey", "baud=9600 xon=on", EINVAL, start},
        {"NoEquals", "baud 9600", EINVAL, start},
        {"EmptyValue", "baud=", EINVAL, start},
        {"Junk", "\x01\xff garbage", EINVAL, start},
        {"JunkAfterGoodFields", "baud=19200 parity=E ,", EINVAL, start},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        DCB dcb = start;
        EXPECT_EQ(LineSettings::ParseLineText(row.text, dcb), row.error);
        EXPECT_EQ(dcb.baudRate, row.expected.baudRate);
        EXPECT_EQ(dcb.byteSize, row.expected.byteSize);
        EXPECT_EQ(dcb.parity, row.expected.parity);
        EXPECT_EQ(dcb.stopBits, row.expected.stopBits);
        EXPECT_EQ(dcb.rtsControl, row.expected.rtsControl);
    }
}

TEST(LineCounters, MovedCountersBecomeMaskedEvents) {
    struct Row {
        const char* name;
        uint32_t LineCounters::*counter;
        uint32_t mask;
        uint32_t events;
        uint32_t errors;
    };
    const Row rows[] = {
        {"CtsChange", &LineCounters::cts, EV_RXCHAR | EV_CTS, EV_CTS, 0},
        {"CtsChangeOutsideMask", &LineCounters::cts, EV_RXCHAR, 0, 0},
        {"DsrChange", &LineCounters::dsr, 0x1ff, EV_DSR, 0},
        {"CarrierChange", &LineCounters::dcd, 0x1ff, EV_RLSD, 0},
        {"Ring", &LineCounters::rng, 0x1ff, EV_RING, 0},
        {"Break", &LineCounters::brk, 0x1ff, EV_BREAK, CE_BREAK},
        {"FramingError", &LineCounters::frame, 0x1ff, EV_ERR, CE_FRAME},
        {"Overrun", &LineCounters::overrun, 0x1ff, EV_ERR, CE_OVERRUN},
        {"ParityError", &LineCounters::parity, 0x1ff, EV_ERR, CE_RXPARITY},
        {"BufferOverrun", &LineCounters::bufOverrun, 0x1ff, EV_ERR, CE_RXOVER},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        LineCounters before;
        before.*row.counter = UINT32_MAX;  // the counters wrap
        LineCounters after = before;
        after.*row.counter += 1;
        EXPECT_EQ(LineCounters::EventsBetween(before, after, row.mask), row.events);
        EXPECT_EQ(LineCounters::ErrorsBetween(before, after), row.errors);
        EXPECT_EQ(LineCounters::EventsBetween(after, after, row.mask), 0u);
    }
}

// The capture file's control-line byte: CTS 0x01, DCD 0x02, DSR 0x04, RTS 0x08, DTR 0x10.
TEST(PosixComm, ModemBitsBecomeTheCaptureFilesLines) {
    EXPECT_EQ(PosixComm::LinesOf(TIOCM_RTS | TIOCM_CTS | TIOCM_RNG), 0x08 | 0x01 | 0x20);
    EXPECT_EQ(PosixComm::LinesOf(TIOCM_DTR | TIOCM_CD | TIOCM_DSR), 0x10 | 0x02 | 0x04);
}
