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
    bool quiet = false;  // -q: only the final count
    // As dumpcap reads them; 0: none. A kilobyte is 1000 bytes, as dumpcap
    // counts. dumpcap keeps one file size for -a and -b: with any -b it is
    // where a file is switched, else where the recording stops.
    int64_t stopUs = 0;           // -a duration
    uint64_t stopPackets = 0;     // -a packets, -c
    unsigned stopFiles = 0;       // -a files
    uint64_t fileBytes = 0;       // -a filesize, -b filesize
    int64_t fileUs = 0;           // -b duration
    uint64_t filePackets = 0;     // -b packets
    int64_t intervalSeconds = 0;  // -b interval: on each multiple of the wall clock
    unsigned files = 0;           // -b files: the ring's size
    bool multipleFiles = false;   // any -b
    // Wireshark's calls: --capture writes to this FIFO.
    bool extcapCapture = false;
    std::string fifo;
    std::string extcapInterface;

    // Files are switched by one of the conditions -b allows.
    bool Ring() const {
        return multipleFiles &&
               (fileBytes > 0 || fileUs > 0 || filePackets > 0 || intervalSeconds > 0);
    }
};

// The interface Wireshark lists for "COM<n>", and back; "" for a name that is not one.
std::string ExtcapInterfaceName(int comNumber);
std::string LineOfExtcapInterface(const std::string& interfaceName);

extern const char kCaptureUsage[];

// The options, or nullopt with `error` set to a one-line message.
std::optional<CaptureOptions> ParseCaptureOptions(const std::vector<std::string>& args,
                                                  std::string& error);
