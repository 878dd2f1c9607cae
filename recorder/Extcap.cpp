#include "recorder/Extcap.h"

#include <initializer_list>
#include <string>
#include <string_view>

#include "recorder/PortListing.h"
#include "trace/PcapRecords.h"

namespace {

// The options Wireshark shows for an interface, with the values offered.
struct Choice {
    const char* value;
    const char* display;
};
struct Setting {
    const char* call;
    const char* display;
    const char* tooltip;
    const char* byDefault;
    std::initializer_list<Choice> choices;
};
const Setting kSettings[] = {
    {"--baud",
     "Baud rate",
     "The line's speed",
     "9600",
     {{"1200", "1200"},
      {"2400", "2400"},
      {"4800", "4800"},
      {"9600", "9600"},
      {"14400", "14400"},
      {"19200", "19200"},
      {"38400", "38400"},
      {"57600", "57600"},
      {"115200", "115200"}}},
    {"--parity",
     "Parity",
     "The parity bit of each character",
     "N",
     {{"N", "none"}, {"E", "even"}, {"O", "odd"}, {"M", "mark"}, {"S", "space"}}},
    {"--data-bits",
     "Data bits",
     "Data bits per character",
     "8",
     {{"8", "8"}, {"7", "7"}, {"6", "6"}, {"5", "5"}}},
    {"--stop-bits", "Stop bits", "Stop bits per character", "1", {{"1", "1"}, {"2", "2"}}},
};

}  // namespace

std::string ExtcapValue(const std::string& text) {
    std::string value = text;
    for (char& c : value) {
        if (c == '{' || c == '}') c = c == '{' ? '(' : ')';
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    }
    return value;
}

bool PrintExtcap(const CaptureOptions& options, const ComNames& names, std::FILE* out,
                 std::string& error) {
    using Mode = CaptureOptions::Mode;
    if (options.mode != Mode::ExtcapInterfaces &&
        names.PathForPort(ComNames::PortNumber(options.line)).empty()) {
        error = "No such interface: " + options.extcapInterface;
        return false;
    }
    if (options.mode == Mode::ExtcapInterfaces) {
        std::fprintf(out, "extcap {version=%s}{display=Talvenor: Modbus frames of a serial line}\n",
                     TALVENOR_VERSION);
        for (const PortEntry& port : ListPorts(names))
            std::fprintf(out, "interface {value=%s}{display=Modbus on %s}\n",
                         ExtcapInterfaceName(port.number).c_str(),
                         ExtcapValue(PortTitle(port)).c_str());
    } else if (options.mode == Mode::ExtcapDlts) {
        std::fprintf(out,
                     "dlt {number=%u}{name=RTAC_SERIAL}{display=RTAC serial (Modbus frames)}\n",
                     PcapRecords::kLinkType);
    } else if (options.mode == Mode::ExtcapConfig) {
        int number = 0;
        for (const Setting& setting : kSettings) {
            std::fprintf(out,
                         "arg {number=%d}{call=%s}{display=%s}{tooltip=%s}{type=selector}"
                         "{default=%s}\n",
                         number, setting.call, setting.display, setting.tooltip, setting.byDefault);
            for (const Choice& choice : setting.choices)
                std::fprintf(
                    out, "value {arg=%d}{value=%s}{display=%s}{default=%s}\n", number, choice.value,
                    choice.display,
                    std::string_view(choice.value) == setting.byDefault ? "true" : "false");
            ++number;
        }
    }
    std::fflush(out);
    return true;
}
