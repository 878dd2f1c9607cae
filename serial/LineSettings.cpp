#include "serial/LineSettings.h"

#include <cctype>
#include <cerrno>
#include <iterator>
#include <string_view>

#include "tools/AsciiChars.h"

namespace {

struct SpeedRow {
    uint32_t baudRate;
    speed_t speed;
};

constexpr SpeedRow kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

struct SizeRow {
    uint8_t byteSize;
    tcflag_t flag;
};

constexpr SizeRow kSizes[] = {{5, CS5}, {6, CS6}, {7, CS7}, {8, CS8}};

// Mark and space are "stick" parity: CMSPAR with PARODD sends a 1, without a 0.
constexpr tcflag_t kParityFlags[] = {
    0,                         // NOPARITY
    PARENB | PARODD,           // ODDPARITY
    PARENB,                    // EVENPARITY
    PARENB | CMSPAR | PARODD,  // MARKPARITY
    PARENB | CMSPAR,           // SPACEPARITY
};

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

bool ParseUnsigned(std::string_view text, uint32_t& value) {
    if (text.empty() || text.size() > 10) return false;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    if (v > UINT32_MAX) return false;
    value = static_cast<uint32_t>(v);
    return true;
}

bool ParseParity(std::string_view text, uint8_t& parity) {
    static constexpr char kLetters[] = "NOEMS";  // in the order of the parity codes
    if (text.size() != 1) return false;
    char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    for (uint8_t code = 0; code < 5; ++code)
        if (kLetters[code] == letter) {
            parity = code;
            return true;
        }
    return false;
}

bool ParseStopBits(std::string_view text, uint8_t& stopBits) {
    if (text == "1")
        stopBits = ONESTOPBIT;
    else if (text == "1.5")
        stopBits = ONE5STOPBITS;
    else if (text == "2")
        stopBits = TWOSTOPBITS;
    else
        return false;
    return true;
}

bool ApplyField(std::string_view key, std::string_view value, DCB& dcb) {
    uint32_t number = 0;
    if (EqualsIgnoringCase(key, "baud")) {
        if (!ParseUnsigned(value, number) || number == 0) return false;
        dcb.baudRate = number;
        return true;
    }
    if (EqualsIgnoringCase(key, "data")) {
        if (!ParseUnsigned(value, number) || number < 5 || number > 8) return false;
        dcb.byteSize = static_cast<uint8_t>(number);
        return true;
    }
    if (EqualsIgnoringCase(key, "parity")) return ParseParity(value, dcb.parity);
    if (EqualsIgnoringCase(key, "stop")) return ParseStopBits(value, dcb.stopBits);
    return false;
}

}  // namespace

int LineSettings::ApplyDataBits(termios& t, uint8_t byteSize) {
    for (const SizeRow& row : kSizes)
        if (row.byteSize == byteSize) {
            t.c_cflag = (t.c_cflag & ~CSIZE) | row.flag;
            return 0;
        }
    return EINVAL;
}

int LineSettings::ApplyParity(termios& t, uint8_t parity) {
    if (parity >= std::size(kParityFlags)) return EINVAL;
    t.c_cflag = (t.c_cflag & ~(PARENB | PARODD | CMSPAR)) | kParityFlags[parity];
    return 0;
}

int LineSettings::ApplyStopBits(termios& t, uint8_t stopBits) {
    // With CS5 a UART sends CSTOPB as one and a half stop bits; that is the
    // only way to ask for 1.5, so it shares the flag with 2.
    switch (stopBits) {
        case ONESTOPBIT:
            t.c_cflag &= ~CSTOPB;
            return 0;
        case ONE5STOPBITS:
        case TWOSTOPBITS:
            t.c_cflag |= CSTOPB;
            return 0;
        default:
            return EINVAL;
    }
}

void LineSettings::ApplyRawMode(termios& t) {
    cfmakeraw(&t);
    t.c_iflag &= ~(IXON | IXOFF | IXANY | PARMRK | INPCK | IGNPAR);
    t.c_cflag &= ~CRTSCTS;
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
}

bool LineSettings::StandardSpeed(uint32_t baudRate, speed_t& speed) {
    for (const SpeedRow& row : kSpeeds)
        if (row.baudRate == baudRate) {
            speed = row.speed;
            return true;
        }
    return false;
}

int LineSettings::ToTermios(const DCB& dcb, termios& t) {
    if (dcb.baudRate == 0) return EINVAL;
    termios next = t;
    ApplyRawMode(next);
    if (int error = ApplyDataBits(next, dcb.byteSize)) return error;
    if (int error = ApplyParity(next, dcb.parity)) return error;
    if (int error = ApplyStopBits(next, dcb.stopBits)) return error;
    speed_t speed = 0;
    if (StandardSpeed(dcb.baudRate, speed)) {
        if (cfsetspeed(&next, speed) != 0) return EINVAL;
        // glibc leaves the input speed code as the device reported it; after a
        // custom rate that keeps the input at the old rate. Unset, the input
        // follows the output.
        next.c_cflag &= ~CIBAUD;
    }
    t = next;
    return 0;
}

void LineSettings::FromTermios(const termios& t, DCB& dcb) {
    for (const SizeRow& row : kSizes)
        if ((t.c_cflag & CSIZE) == row.flag) dcb.byteSize = row.byteSize;
    dcb.parity = NOPARITY;
    const tcflag_t parityBits = t.c_cflag & (PARENB | PARODD | CMSPAR);
    if (parityBits & PARENB)
        for (size_t code = 1; code < std::size(kParityFlags); ++code)
            if (kParityFlags[code] == parityBits) dcb.parity = static_cast<uint8_t>(code);
    if (!(t.c_cflag & CSTOPB))
        dcb.stopBits = ONESTOPBIT;
    else
        dcb.stopBits = (t.c_cflag & CSIZE) == CS5 ? ONE5STOPBITS : TWOSTOPBITS;
}

int LineSettings::ParseLineText(const std::string& text, DCB& dcb) {
    DCB next = dcb;
    std::string_view rest(text);
    while (true) {
        while (!rest.empty() && IsSpaceOrTab(rest.front())) rest.remove_prefix(1);
        if (rest.empty()) break;
        size_t end = 0;
        while (end < rest.size() && !IsSpaceOrTab(rest[end])) ++end;
        std::string_view field = rest.substr(0, end);
        rest.remove_prefix(end);
        size_t equals = field.find('=');
        if (equals == std::string_view::npos ||
            !ApplyField(field.substr(0, equals), field.substr(equals + 1), next))
            return EINVAL;
    }
    dcb = next;
    return 0;
}
