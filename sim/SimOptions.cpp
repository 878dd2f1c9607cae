#include "sim/SimOptions.h"

#include <charconv>

const char* const kSimUsage =
    R"(Usage: talvenor-sim [options]

A Modbus slave on a pseudo-terminal, for trying Talvenor without hardware.
It links COM<n> in Talvenor's port directory to the terminal, prints the
number and the device path, and answers requests in RTU and in ASCII framing
(each reply in the framing of its request) until Ctrl-C, which removes the
link. Holding registers, input registers, coils and discrete inputs change
over time.

Options:
  --com N           the COM number to link (1 to 30; default: the first free)
  --stations LIST   station numbers to answer, comma separated (default 1)
  --size N          registers, coils and inputs of each kind (1 to 10000, default 100)
  --period MS       change the values every MS milliseconds (0: never; default 1000)
  --exception CODE  answer every request with this exception code (1 to 255)
  --delay MS        wait MS milliseconds before each reply (0 to 60000)
  --bad-check       spoil the CRC or LRC of every reply
  --silent          answer nothing
  --deliver HOW     hand each reply to the reader as real hardware does:
                    fifo, like a 16550A UART (8 bytes at a time, the rest 4
                    character times after the last); usb, like a USB adapter
                    (what has arrived, every 16 ms, at most 62 bytes a
                    packet); write (default), in one piece
  --echo            echo what the master sends, as a half-duplex RS-485
                    adapter does: each request's bytes come back as they
                    cross, before the reply; with --bus, every request
                    shows twice, its echo right after it, then the reply
  --bus             play a bus instead: a master polling stations 1 to 5 and
                    their replies, one fixed cycle of exchanges printed at
                    the start, for a Talvenor that only listens; --deliver
                    hands every frame over at its time on the wire
  --rough           bus: a rougher cycle instead, what the field does: a
                    retry within 1 s, a reply after the master's timeout, a
                    short reply (good CRC, fewer registers than asked),
                    function 0x42 and its exception, a write with a wrong
                    byte count and its exception, a reply from the wrong
                    station
  --turnaround MS   bus: from a request's last bit to its reply's first
                    (0 to 1000, decimals allowed; default 4.0)
  --interval MS     bus: from an exchange's end to the next request
                    (0 to 60000, default 50)
  --cycles N        bus: stop playing after N cycles (0: never, the default)
  --port-dir DIR    link in DIR instead of the port directory (for tests and
                    for a Talvenor started with another one)
  --help            show this text
)";

namespace {

bool ReadInt(const std::string& text, int low, int high, int& value) {
    const char* end = text.data() + text.size();
    auto [rest, problem] = std::from_chars(text.data(), end, value);
    return problem == std::errc() && rest == end && value >= low && value <= high;
}

struct RangedOption {
    const char* name;
    int SimOptions::*field;
    int low, high;
};

constexpr RangedOption kRanged[] = {
    {"--com", &SimOptions::comNumber, 1, 30},
    {"--size", &SimOptions::mapSize, 1, 10000},
    {"--period", &SimOptions::periodMs, 0, 3600000},
    {"--exception", &SimOptions::exceptionCode, 1, 255},
    {"--delay", &SimOptions::delayMs, 0, 60000},
    {"--interval", &SimOptions::intervalMs, 0, 60000},
    {"--cycles", &SimOptions::cycles, 0, 1000000},
};

bool ReadStations(const std::string& text, std::vector<int>& stations) {
    stations.clear();
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        if (comma == std::string::npos) comma = text.size();
        int station = 0;
        if (!ReadInt(text.substr(start, comma - start), 1, 247, station)) return false;
        stations.push_back(station);
        start = comma + 1;
    }
    return !stations.empty();
}

}  // namespace

std::optional<SimOptions> ParseSimOptions(const std::vector<std::string>& args,
                                          std::string& error) {
    SimOptions options;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            options.help = true;
            continue;
        }
        if (arg == "--bad-check") {
            options.brokenCheck = true;
            continue;
        }
        if (arg == "--bus") {
            options.bus = true;
            continue;
        }
        if (arg == "--echo" || arg == "--rough") {
            (arg == "--echo" ? options.echo : options.rough) = true;
            continue;
        }
        if (arg == "--silent") {
            options.silent = true;
            continue;
        }
        const bool takesValue = arg == "--stations" || arg == "--port-dir" || arg == "--deliver" ||
                                arg == "--turnaround" || [&] {
                                    for (const RangedOption& o : kRanged)
                                        if (arg == o.name) return true;
                                    return false;
                                }();
        if (!takesValue) {
            error = "unknown option " + arg + " (see --help)";
            return std::nullopt;
        }
        if (i + 1 == args.size()) {
            error = arg + " needs a value (see --help)";
            return std::nullopt;
        }
        const std::string& value = args[++i];
        if (arg == "--port-dir") {
            if (value.empty()) {
                error = "--port-dir needs a directory (see --help)";
                return std::nullopt;
            }
            options.portDirectory = value;
            continue;
        }
        if (arg == "--deliver") {
            if (value == "write") {
                options.delivery = Delivery::Write;
            } else if (value == "fifo") {
                options.delivery = Delivery::Fifo;
            } else if (value == "usb") {
                options.delivery = Delivery::Usb;
            } else {
                error = "--deliver wants write, fifo or usb, not " + value;
                return std::nullopt;
            }
            continue;
        }
        if (arg == "--turnaround") {
            double& ms = options.turnaroundMs;
            const char* end = value.data() + value.size();
            auto [rest, problem] = std::from_chars(value.data(), end, ms);
            if (problem != std::errc() || rest != end || !(ms >= 0 && ms <= 1000)) {
                error = "--turnaround wants milliseconds from 0 to 1000, not " + value;
                return std::nullopt;
            }
            continue;
        }
        if (arg == "--stations") {
            if (!ReadStations(value, options.stations)) {
                error = "--stations wants numbers from 1 to 247 separated by commas, not " + value;
                return std::nullopt;
            }
            continue;
        }
        for (const RangedOption& o : kRanged) {
            if (arg != o.name) continue;
            if (!ReadInt(value, o.low, o.high, options.*o.field)) {
                error = arg + " wants a whole number from " + std::to_string(o.low) + " to " +
                        std::to_string(o.high) + ", not " + value;
                return std::nullopt;
            }
        }
    }
    if (options.rough && !options.bus) {
        error = "--rough is a cycle of the bus: give --bus too";
        return std::nullopt;
    }
    return options;
}
