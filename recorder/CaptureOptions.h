// talvenor-capture's command line, read into one record: the line and its
// settings, where the capture goes, dumpcap's stop conditions and ring files,
// and the calls Wireshark makes of a capture interface (extcap).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct CaptureOptions {
    enum class Mode { Record, ListPorts, Help, ExtcapInterfaces, ExtcapDlts, ExtcapConfig };
    Mode mode = Mode::Record;
    std::string line;  // COM<n> or a device path
    uint32_t baudRate = 9600;
    char parity = 'N';  // N, E, O, M or S
    uint32_t dataBits = 8;
    uint32_t stopBits = 1;
    // --rts, --dtr: a level the listener sets; unset: lowered at the open.
    std::optional<bool> rts, dtr;
    std::string output;  // -w: a file, or "-" for standard output
    bool quiet = false;
    // Stop conditions (-a); 0: none. A kilobyte is 1000 bytes, as dumpcap counts.
    int64_t stopSeconds = 0;
    uint64_t stopFileBytes = 0;
    uint64_t stopPackets = 0;
    // Ring files (-b); 0: none.
    uint64_t fileBytes = 0;
    int64_t fileSeconds = 0;
    unsigned files = 0;
    // Wireshark's calls: --capture writes to this FIFO.
    std::string fifo;
    std::string extcapInterface;

    bool Ring() const { return fileBytes > 0 || fileSeconds > 0; }
};

// The interface Wireshark lists for "COM<n>", and back; "" for a name that is not one.
std::string ExtcapInterfaceName(int comNumber);
std::string LineOfExtcapInterface(const std::string& interfaceName);

extern const char kCaptureUsage[];

// The options, or nullopt with `error` set to a one-line message.
std::optional<CaptureOptions> ParseCaptureOptions(const std::vector<std::string>& args,
                                                  std::string& error);
