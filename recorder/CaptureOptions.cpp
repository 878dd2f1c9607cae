#include "recorder/CaptureOptions.h"

#include <cctype>
#include <climits>
#include <string_view>

#include "serial/ComNames.h"

const char kCaptureUsage[] =
    "Usage: talvenor-capture -i LINE -w FILE [options]\n"
    "Records the Modbus frames of a serial line into a pcap file (link type 250,\n"
    "RTAC serial) without a display. It only listens: nothing is written to the line.\n"
    "\n"
    "  -i LINE            COM<n> (as Talvenor numbers the ports) or a device path\n"
    "  --baud N           baud rate (9600)\n"
    "  --parity P         N, E, O, M or S (N)\n"
    "  --data-bits N      5 to 8 (8)\n"
    "  --stop-bits N      1 or 2 (1)\n"
    "  --rts on|off       RTS level (off: lowered as soon as the port is open)\n"
    "  --dtr on|off       DTR level (off), for converters powered by the port\n"
    "  -w FILE            the capture file; - for standard output\n"
    "  -a duration:SEC    stop after SEC seconds (fractions allowed)\n"
    "  -a filesize:KB     stop before the file grows past KB kilobytes (1000 bytes);\n"
    "                     with -b, switch to the next file there instead\n"
    "  -a packets:N       stop after N frames; also -c N\n"
    "  -a files:N         stop after N files\n"
    "  -b filesize:KB     switch to the next file before one grows past KB kilobytes\n"
    "  -b duration:SEC    switch to the next file every SEC seconds (fractions allowed)\n"
    "  -b interval:SEC    switch to the next file on each multiple of SEC seconds of\n"
    "                     the clock (3600: on the hour)\n"
    "  -b packets:N       switch to the next file after N frames\n"
    "  -b files:N         keep the newest N files (ring), removing the oldest\n"
    "  -q                 no live count of frames; only the count at the end\n"
    "  -D                 list the serial ports and end; a UART port is opened for a\n"
    "                     moment to tell whether the kernel's RS-485 mode is on\n"
    "  -h, --help         show this text\n"
    "\n"
    "Ring files are named as dumpcap names them: PREFIX_NNNNN_YYYYMMDDHHMMSS.EXT\n"
    "after FILE. As a Wireshark capture interface (extcap) it takes\n"
    "--extcap-interfaces, --extcap-dlts, --extcap-config and --capture --fifo PATH\n"
    "with --extcap-interface NAME.\n"
    "\n"
    "SIGINT, SIGTERM and SIGHUP end the recording: the open frames are written and\n"
    "the file synced. Exit status: 0; 1 when the capture failed or lost bytes of\n"
    "the line; 2 on a wrong use or a line that cannot be opened.\n";

namespace {

constexpr std::string_view kInterfacePrefix = "talvenor-";

// A decimal number from 1 to `most`, nothing else.
bool ReadNumber(std::string_view text, uint64_t most, uint64_t& value) {
    if (text.empty() || text.size() > 19) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return value >= 1 && value <= most;
}

// Seconds with an optional fraction ("0.5", "90", "1.25"), more than 0 and at
// most `most` seconds, in microseconds; digits past the sixth decimal count
// for nothing.
bool ReadSeconds(std::string_view text, uint64_t most, uint64_t& us) {
    const size_t dot = text.find('.');
    const std::string_view whole = text.substr(0, dot);
    const std::string_view fraction = dot == text.npos ? "" : text.substr(dot + 1);
    if ((whole.empty() && fraction.empty()) || whole.size() > 12 ||
        (dot != text.npos && fraction.empty()))
        return false;
    us = 0;
    for (char c : whole) {
        if (c < '0' || c > '9') return false;
        us = us * 10 + static_cast<uint64_t>(c - '0');
    }
    us *= 1000000;
    uint64_t scale = 100000;
    for (char c : fraction) {
        if (c < '0' || c > '9') return false;
        us += static_cast<uint64_t>(c - '0') * scale;
        scale /= 10;
    }
    return us > 0 && us <= most * 1000000;
}

// dumpcap's "test:value" conditions of -a and -b: how the value reads, and
// where it goes. -a filesize and -b filesize are one value, as in dumpcap.
struct Condition {
    char option;
    std::string_view test;
    bool seconds;  // a duration with a fraction, else a whole number
    uint64_t most;
    void (*set)(CaptureOptions& o, uint64_t value);
};
constexpr uint64_t kMostSeconds = INT32_MAX;
constexpr Condition kConditions[] = {
    {'a', "duration", true, kMostSeconds,
     [](CaptureOptions& o, uint64_t us) { o.stopUs = static_cast<int64_t>(us); }},
    {'a', "filesize", false, UINT32_MAX,
     [](CaptureOptions& o, uint64_t kb) { o.fileBytes = kb * 1000; }},
    {'a', "packets", false, UINT32_MAX, [](CaptureOptions& o, uint64_t n) { o.stopPackets = n; }},
    {'a', "files", false, 100000,
     [](CaptureOptions& o, uint64_t n) { o.stopFiles = static_cast<unsigned>(n); }},
    {'b', "duration", true, kMostSeconds,
     [](CaptureOptions& o, uint64_t us) { o.fileUs = static_cast<int64_t>(us); }},
    {'b', "filesize", false, UINT32_MAX,
     [](CaptureOptions& o, uint64_t kb) { o.fileBytes = kb * 1000; }},
    {'b', "interval", false, kMostSeconds,
     [](CaptureOptions& o, uint64_t s) { o.intervalSeconds = static_cast<int64_t>(s); }},
    {'b', "packets", false, UINT32_MAX, [](CaptureOptions& o, uint64_t n) { o.filePackets = n; }},
    {'b', "files", false, 99999,
     [](CaptureOptions& o, uint64_t n) { o.files = static_cast<unsigned>(n); }},
};

bool SetCondition(CaptureOptions& o, char option, std::string_view text, std::string& error) {
    const size_t colon = text.find(':');
    const std::string_view test = text.substr(0, colon);
    for (const Condition& c : kConditions) {
        if (c.option != option || c.test != test) continue;
        const std::string_view number = colon == text.npos ? "" : text.substr(colon + 1);
        uint64_t value = 0;
        if (c.seconds ? !ReadSeconds(number, c.most, value) : !ReadNumber(number, c.most, value)) {
            error =
                "-" + std::string(1, option) + " " + std::string(test) + " needs " +
                (c.seconds ? "seconds, more than 0 and at most " : "a whole number from 1 to ") +
                std::to_string(c.most);
            return false;
        }
        c.set(o, value);
        if (option == 'b') o.multipleFiles = true;
        return true;
    }
    error = "unknown condition -" + std::string(1, option) + " " + std::string(text);
    return false;
}

char UpperLetter(std::string_view text) {
    return text.size() == 1 ? static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])))
                            : '\0';
}

// The command line as a table: each option, whether it takes a value, and
// what it does; false, with `error` set, for a value it does not take.
struct Parse {
    CaptureOptions options;
    std::string interfaceName;
};
using Apply = bool (*)(Parse& p, std::string_view value, std::string& error);
struct Option {
    std::string_view name;
    bool takesValue;
    Apply apply;
};
bool Wrong(std::string_view name, std::string_view value, std::string& error) {
    error = std::string(name) + " does not take " + std::string(value);
    return false;
}
const Option kOptions[] = {
    {"-D", false,
     [](Parse& p, std::string_view, std::string&) {
         p.options.mode = CaptureOptions::Mode::ListPorts;
         return true;
     }},
    {"-q", false, [](Parse& p, std::string_view, std::string&) { return p.options.quiet = true; }},
    {"-i", true,
     [](Parse& p, std::string_view v, std::string&) { return p.options.line = v, true; }},
    {"--interface", true,
     [](Parse& p, std::string_view v, std::string&) { return p.options.line = v, true; }},
    {"-w", true,
     [](Parse& p, std::string_view v, std::string&) { return p.options.output = v, true; }},
    {"-a", true,
     [](Parse& p, std::string_view v, std::string& e) {
         return SetCondition(p.options, 'a', v, e);
     }},
    {"-b", true,
     [](Parse& p, std::string_view v, std::string& e) {
         return SetCondition(p.options, 'b', v, e);
     }},
    {"-c", true,
     [](Parse& p, std::string_view v, std::string& e) {
         return SetCondition(p.options, 'a', "packets:" + std::string(v), e);
     }},
    {"--baud", true,
     [](Parse& p, std::string_view v, std::string& e) {
         uint64_t value = 0;
         if (!ReadNumber(v, 4000000, value)) return Wrong("--baud", v, e);
         p.options.baudRate = static_cast<uint32_t>(value);
         return true;
     }},
    {"--parity", true,
     [](Parse& p, std::string_view v, std::string& e) {
         const char letter = UpperLetter(v);
         if (!letter || std::string_view("NEOMS").find(letter) == std::string_view::npos)
             return Wrong("--parity", v, e);
         p.options.parity = letter;
         return true;
     }},
    {"--data-bits", true,
     [](Parse& p, std::string_view v, std::string& e) {
         uint64_t value = 0;
         if (!ReadNumber(v, 8, value) || value < 5) return Wrong("--data-bits", v, e);
         p.options.dataBits = static_cast<uint32_t>(value);
         return true;
     }},
    {"--stop-bits", true,
     [](Parse& p, std::string_view v, std::string& e) {
         uint64_t value = 0;
         if (!ReadNumber(v, 2, value)) return Wrong("--stop-bits", v, e);
         p.options.stopBits = static_cast<uint32_t>(value);
         return true;
     }},
    {"--rts", true,
     [](Parse& p, std::string_view v, std::string& e) {
         if (v != "on" && v != "off") return Wrong("--rts", v, e);
         p.options.rts = v == "on";
         return true;
     }},
    {"--dtr", true,
     [](Parse& p, std::string_view v, std::string& e) {
         if (v != "on" && v != "off") return Wrong("--dtr", v, e);
         p.options.dtr = v == "on";
         return true;
     }},
    {"--extcap-interfaces", false,
     [](Parse& p, std::string_view, std::string&) {
         p.options.mode = CaptureOptions::Mode::ExtcapInterfaces;
         return true;
     }},
    {"--extcap-dlts", false,
     [](Parse& p, std::string_view, std::string&) {
         p.options.mode = CaptureOptions::Mode::ExtcapDlts;
         return true;
     }},
    {"--extcap-config", false,
     [](Parse& p, std::string_view, std::string&) {
         p.options.mode = CaptureOptions::Mode::ExtcapConfig;
         return true;
     }},
    {"--extcap-interface", true,
     [](Parse& p, std::string_view v, std::string&) { return p.interfaceName = v, true; }},
    {"--capture", false,
     [](Parse& p, std::string_view, std::string&) { return p.options.extcapCapture = true; }},
    {"--fifo", true,
     [](Parse& p, std::string_view v, std::string&) { return p.options.fifo = v, true; }},
    {"--extcap-capture-filter", true,
     [](Parse&, std::string_view v, std::string& e) {
         if (!v.empty()) e = "capture filters are not supported; use a display filter";
         return v.empty();
     }},
};

// What the options given together must make sense as.
bool Check(const CaptureOptions& o, std::string& error) {
    if (o.mode != CaptureOptions::Mode::Record) {
        const bool needsInterface = o.mode == CaptureOptions::Mode::ExtcapDlts ||
                                    o.mode == CaptureOptions::Mode::ExtcapConfig;
        if (needsInterface && o.line.empty()) error = "--extcap-interface names no serial port";
        return error.empty();
    }
    if (o.extcapCapture) {
        if (o.fifo.empty()) error = "--capture needs --fifo PATH";
        if (o.line.empty()) error = "--capture needs --extcap-interface talvenor-COM<n>";
        return error.empty();
    }
    if (o.line.empty())
        error = "no line given (-i COM<n> or -i /dev/...)";
    else if (o.output.empty())
        error = "no capture file given (-w FILE, or -w - for standard output)";
    else if (o.multipleFiles && !o.Ring())
        error = "-b files needs -b filesize, duration, interval or packets, or -a filesize";
    else if (o.Ring() && o.output == "-")
        error = "ring files cannot go to standard output";
    return error.empty();
}

}  // namespace

std::string ExtcapInterfaceName(int comNumber) {
    return std::string(kInterfacePrefix) + "COM" + std::to_string(comNumber);
}

std::string LineOfExtcapInterface(const std::string& interfaceName) {
    if (!interfaceName.starts_with(kInterfacePrefix)) return {};
    const std::string line = interfaceName.substr(kInterfacePrefix.size());
    return ComNames::PortNumber(line) > 0 ? line : std::string();
}

std::optional<CaptureOptions> ParseCaptureOptions(const std::vector<std::string>& args,
                                                  std::string& error) {
    Parse p;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string_view name = args[i];
        if (name == "-h" || name == "--help") {
            p.options.mode = CaptureOptions::Mode::Help;
            return p.options;
        }
        // --name=value as well as --name value.
        std::optional<std::string> joined;
        if (const size_t equals = name.find('='); name.starts_with("--") && equals != name.npos) {
            joined = std::string(name.substr(equals + 1));
            name = name.substr(0, equals);
        }
        if (name == "--extcap-version") {
            // Wireshark tells its version; nothing here depends on it.
            if (!joined && i + 1 < args.size() && !args[i + 1].starts_with("-")) ++i;
            continue;
        }
        const Option* option = nullptr;
        for (const Option& row : kOptions)
            if (row.name == name) option = &row;
        if (!option) {
            error = (name.starts_with("-") ? "unknown option " : "unexpected argument ") +
                    std::string(name);
            return std::nullopt;
        }
        std::string value;
        if (option->takesValue) {
            if (!joined && i + 1 == args.size()) {
                error = std::string(name) + " needs a value";
                return std::nullopt;
            }
            value = joined ? *joined : args[++i];
        }
        if (!option->apply(p, value, error)) return std::nullopt;
    }
    CaptureOptions& o = p.options;
    o.extcapInterface = p.interfaceName;
    if (!p.interfaceName.empty()) o.line = LineOfExtcapInterface(p.interfaceName);
    if (!Check(o, error)) return std::nullopt;
    return o;
}
