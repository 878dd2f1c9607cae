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
    "  -a duration:SEC    stop after SEC seconds\n"
    "  -a filesize:KB     stop before the file grows past KB kilobytes (1000 bytes)\n"
    "  -a packets:N       stop after N frames\n"
    "  -b filesize:KB     switch to the next file before one grows past KB kilobytes\n"
    "  -b duration:SEC    switch to the next file every SEC seconds\n"
    "  -b files:N         keep the newest N files (ring), removing the oldest\n"
    "  -q                 no live count of frames on standard error\n"
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

// "test:value" for -a and -b: where the value goes, and its bounds.
struct Condition {
    char option;
    std::string_view test;
    uint64_t most;
    uint64_t scale;
};
constexpr Condition kConditions[] = {
    {'a', "duration", INT32_MAX, 1},     {'a', "filesize", UINT32_MAX, 1000},
    {'a', "packets", UINT32_MAX, 1},     {'b', "duration", INT32_MAX, 1},
    {'b', "filesize", UINT32_MAX, 1000}, {'b', "files", 100000, 1},
};

bool SetCondition(CaptureOptions& o, char option, std::string_view text, std::string& error) {
    const size_t colon = text.find(':');
    const std::string_view test = text.substr(0, colon);
    for (const Condition& c : kConditions) {
        if (c.option != option || c.test != test) continue;
        uint64_t value = 0;
        if (colon == std::string_view::npos || !ReadNumber(text.substr(colon + 1), c.most, value)) {
            error = "-" + std::string(1, option) + " " + std::string(test) +
                    " needs a whole number from 1 to " + std::to_string(c.most);
            return false;
        }
        value *= c.scale;
        if (option == 'a') {
            if (test == "duration") o.stopSeconds = static_cast<int64_t>(value);
            if (test == "filesize") o.stopFileBytes = value;
            if (test == "packets") o.stopPackets = value;
        } else {
            if (test == "duration") o.fileSeconds = static_cast<int64_t>(value);
            if (test == "filesize") o.fileBytes = value;
            if (test == "files") o.files = static_cast<unsigned>(value);
        }
        return true;
    }
    error = "unknown condition -" + std::string(1, option) + " " + std::string(text);
    return false;
}

bool SetLineSetting(CaptureOptions& o, std::string_view name, std::string_view text,
                    std::string& error) {
    uint64_t value = 0;
    if (name == "--baud" && ReadNumber(text, 4000000, value)) {
        o.baudRate = static_cast<uint32_t>(value);
    } else if (name == "--parity" && text.size() == 1 &&
               std::string_view("NEOMS").find(static_cast<char>(
                   std::toupper(static_cast<unsigned char>(text[0])))) != std::string_view::npos) {
        o.parity = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    } else if (name == "--data-bits" && ReadNumber(text, 8, value) && value >= 5) {
        o.dataBits = static_cast<uint32_t>(value);
    } else if (name == "--stop-bits" && ReadNumber(text, 2, value)) {
        o.stopBits = static_cast<uint32_t>(value);
    } else if ((name == "--rts" || name == "--dtr") && (text == "on" || text == "off")) {
        (name == "--rts" ? o.rts : o.dtr) = text == "on";
    } else {
        error = std::string(name) + " does not take " + std::string(text);
        return false;
    }
    return true;
}

// What the options given together must make sense as.
bool Check(const CaptureOptions& o, bool capture, std::string& error) {
    if (o.mode != CaptureOptions::Mode::Record) {
        const bool needsInterface = o.mode == CaptureOptions::Mode::ExtcapDlts ||
                                    o.mode == CaptureOptions::Mode::ExtcapConfig;
        if (needsInterface && o.line.empty()) error = "--extcap-interface names no serial port";
        return error.empty();
    }
    if (capture) {
        if (o.fifo.empty()) error = "--capture needs --fifo PATH";
        if (o.line.empty()) error = "--capture needs --extcap-interface talvenor-COM<n>";
        return error.empty();
    }
    if (o.line.empty())
        error = "no line given (-i COM<n> or -i /dev/...)";
    else if (o.output.empty())
        error = "no capture file given (-w FILE, or -w - for standard output)";
    else if (o.files > 0 && !o.Ring())
        error = "-b files needs -b filesize or -b duration";
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
    using Mode = CaptureOptions::Mode;
    CaptureOptions o;
    bool capture = false;
    std::string interfaceName;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string_view name = args[i];
        std::string joined;
        bool hasJoined = false;
        // --name=value as well as --name value.
        if (const size_t equals = name.find('='); name.starts_with("--") && equals != name.npos) {
            joined = std::string(name.substr(equals + 1));
            name = name.substr(0, equals);
            hasJoined = true;
        }
        const auto value = [&](std::string& out) {
            if (hasJoined) {
                out = joined;
                return true;
            }
            if (i + 1 == args.size()) {
                error = std::string(name) + " needs a value";
                return false;
            }
            out = args[++i];
            return true;
        };
        std::string text;
        if (name == "-h" || name == "--help") {
            o.mode = Mode::Help;
            return o;
        } else if (name == "-D") {
            o.mode = Mode::ListPorts;
        } else if (name == "-q") {
            o.quiet = true;
        } else if (name == "--extcap-interfaces") {
            o.mode = Mode::ExtcapInterfaces;
        } else if (name == "--extcap-dlts") {
            o.mode = Mode::ExtcapDlts;
        } else if (name == "--extcap-config") {
            o.mode = Mode::ExtcapConfig;
        } else if (name == "--capture") {
            capture = true;
        } else if (name == "--extcap-version") {
            // Wireshark tells its version; nothing here depends on it.
            if (!hasJoined && i + 1 < args.size() && !args[i + 1].starts_with("-")) ++i;
        } else if (name == "--extcap-capture-filter") {
            if (!value(text)) return std::nullopt;
            if (!text.empty()) {
                error = "capture filters are not supported; use a display filter";
                return std::nullopt;
            }
        } else if (name == "-i" || name == "--interface" || name == "--extcap-interface" ||
                   name == "-w" || name == "--fifo") {
            if (!value(text)) return std::nullopt;
            if (name == "-w")
                o.output = text;
            else if (name == "--fifo")
                o.fifo = text;
            else if (name == "--extcap-interface")
                interfaceName = text;
            else
                o.line = text;
        } else if (name == "-a" || name == "-b") {
            if (!value(text) || !SetCondition(o, name[1], text, error)) return std::nullopt;
        } else if (name == "--baud" || name == "--parity" || name == "--data-bits" ||
                   name == "--stop-bits" || name == "--rts" || name == "--dtr") {
            if (!value(text) || !SetLineSetting(o, name, text, error)) return std::nullopt;
        } else {
            error = (name.starts_with("-") ? "unknown option " : "unexpected argument ") +
                    std::string(name);
            return std::nullopt;
        }
    }
    if (!interfaceName.empty()) {
        o.line = LineOfExtcapInterface(interfaceName);
        if (o.line.empty()) {
            error = "no such interface " + interfaceName;
            return std::nullopt;
        }
    }
    if (capture) o.quiet = true;  // Wireshark shows standard error only when it fails
    if (!Check(o, capture, error)) return std::nullopt;
    return o;
}
