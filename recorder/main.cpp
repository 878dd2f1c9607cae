// talvenor-capture: records one serial line's Modbus frames into pcap files,
// without Qt or a display, through the same record the window uses
// (LineRecord: the engine, the trace, the capture). Also a Wireshark capture
// interface. It only listens: nothing is ever written to the line.
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "recorder/CaptureOptions.h"
#include "recorder/CaptureRing.h"
#include "recorder/Extcap.h"
#include "recorder/PortListing.h"
#include "serial/ComNames.h"
#include "serial/DeviceIdentity.h"
#include "serial/PosixComm.h"
#include "serial/SystemError.h"
#include "trace/LineRecord.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr uint32_t kWriteBuffer = 512;  // never used: nothing is written
constexpr auto kTick = std::chrono::seconds(1);

volatile sig_atomic_t signalFd = -1;

void OnSignal(int) {
    const int saved = errno;
    const uint64_t one = 1;
    if (write(signalFd, &one, sizeof one) < 0) {
    }
    errno = saved;
}

int Refuse(const std::string& why) {
    std::fprintf(stderr, "talvenor-capture: %s\n", why.c_str());
    return 2;
}

// Wireshark shows what a capture interface says on standard error when it
// fails, in extcap's own form.
int RefuseExtcap(const std::string& why) {
    std::fprintf(stderr, "ERROR: %s\n", why.c_str());
    return 1;
}

// The engine's side of the recorder: the bytes themselves go to the trace, so
// the notifications only need taking; an error box becomes one line. The
// main loop dispatches when woken.
class Owner : public SerialPortOwner {
public:
    explicit Owner(int wakeFd) : fd(wakeFd) {}
    void SetPort(const SerialPort* linePort) { port = linePort; }
    void OnNotification(uint32_t, uint32_t, int32_t) override {}
    void OnError(const std::string& text, const std::string&) override {
        // A lost device is told once by the main loop instead.
        if (port && port->DeviceLost()) return;
        std::string line;
        for (char c : text) line += c == '\n' ? ' ' : c;
        while (!line.empty() && line.back() == ' ') line.pop_back();
        std::fprintf(stderr, "talvenor-capture: %s\n", line.c_str());
    }
    void WakeOwner() override { Wake(fd); }
    static void Wake(int eventFd) {
        const uint64_t one = 1;
        if (write(eventFd, &one, sizeof one) < 0) {
        }
    }

private:
    int fd;
    const SerialPort* port = nullptr;
};

// A device path gets a COM number of its own: a link in a private directory
// made for this run, which the comm layer resolves as it resolves the
// user's own links.
struct PathLink {
    std::string directory;
    ~PathLink() {
        if (directory.empty()) return;
        unlink((directory + "/COM1").c_str());
        rmdir(directory.c_str());
    }
};

struct Line {
    int number = 0;
    std::string path;
    ComNames names;
};

// What the line leads to now, told as the window tells devices apart. A
// device path is not a pinned number, though it goes through a link of its
// own: it is the same device by the adapter's serial number, else its place
// on the bus, else the device file the path leads to.
DeviceIdentity IdentifyLine(const Line& line, bool devicePath) {
    DeviceIdentity identity = IdentifyPort(line.names, line.number);
    if (!devicePath) return identity;
    identity.pinned = false;
    char resolved[PATH_MAX];
    identity.path = realpath(line.path.c_str(), resolved) ? resolved : "";
    identity.present = !identity.path.empty();
    return identity;
}

// Why `now` is not the device the line had: one line for standard error.
std::string AnotherDevice(const DeviceIdentity& was, const DeviceIdentity& now) {
    const auto told = [](const DeviceIdentity& d) {
        if (!d.serialNumber.empty()) return "serial number " + d.serialNumber;
        if (!d.busPlace.empty()) return "USB place " + d.busPlace;
        if (!d.vendorId.empty()) return "USB " + d.vendorId + ":" + d.productId;
        return d.path;
    };
    return told(now) + " in place of " + told(was);
}

bool ResolveLine(const std::string& text, PathLink& link, Line& line, std::string& error) {
    if (const int number = ComNames::PortNumber(text); number > 0) {
        line.number = number;
        line.path = line.names.PathForPort(number);
        if (line.path.empty())
            error = "cannot open the line " + text + ": no device has that number";
        return error.empty();
    }
    if (!text.starts_with("/")) {
        error = "the line " + text + " is neither COM<n> nor a device path";
        return false;
    }
    // A private place for the path's COM link, where temporary files go.
    const char* tmp = std::getenv("TMPDIR");
    std::string directory =
        std::string(tmp && tmp[0] == '/' ? tmp : "/tmp") + "/talvenor-capture-XXXXXX";
    if (!mkdtemp(directory.data()) || symlink(text.c_str(), (directory + "/COM1").c_str())) {
        error = "cannot name the line " + text + ": " + SystemErrorText(errno);
        return false;
    }
    link.directory = directory;
    line = {1, text, ComNames(ComNames::Places{directory})};
    return true;
}

void ListPortsText(const ComNames& names) {
    const std::vector<PortEntry> ports = ListPorts(names, true);
    if (ports.empty()) std::puts("No serial ports.");
    for (const PortEntry& port : ports)
        std::printf("COM%d\t%s\t%s%s%s%s%s\n", port.number, port.path.c_str(), port.state.c_str(),
                    port.identity.empty() ? "" : "\t", port.identity.c_str(),
                    port.rs485.empty() ? "" : "\t", port.rs485.c_str());
}

class Recorder {
public:
    explicit Recorder(const CaptureOptions& o) : options(o) {}
    int Run();

private:
    bool WaitForWork(Clock::time_point until);
    void Count(uint64_t packets, bool last) const;
    void Say(const std::string& text) const;
    void Watch(LineRecord& record, const std::function<bool()>& open);

    const CaptureOptions& options;
    int wakeFd = -1, sigFd = -1;
    bool signalled = false;
    Line line;
    // A lost line: what it was, and what was last told of another device.
    bool waiting = false;
    DeviceIdentity device, toldOf;
};

bool Recorder::WaitForWork(Clock::time_point until) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
    pollfd fds[2] = {{sigFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    const int64_t ms = std::clamp<int64_t>(left.count(), 0, INT_MAX);
    if (poll(fds, 2, static_cast<int>(ms)) <= 0) return false;
    uint64_t count = 0;
    if ((fds[0].revents & POLLIN) && read(sigFd, &count, sizeof count) > 0) signalled = true;
    if ((fds[1].revents & POLLIN) && read(wakeFd, &count, sizeof count) > 0) return true;
    return false;
}

// dumpcap's count: live unless -q, and at the end always; Wireshark, which
// reads a capture interface's standard error as its failure, gets neither.
void Recorder::Count(uint64_t packets, bool last) const {
    if (options.extcapCapture || (options.quiet && !last)) return;
    std::fprintf(stderr, last ? "\rPackets captured: %llu\n" : "\rPackets: %llu ",
                 static_cast<unsigned long long>(packets));
    std::fflush(stderr);
}

void Recorder::Say(const std::string& text) const {
    std::fprintf(stderr, "%stalvenor-capture: %s\n",
                 options.quiet || options.extcapCapture ? "" : "\n", text.c_str());
}

// A device that went away (an adapter pulled) is waited for, and the record
// goes on once the same device is back; another one under the line's name
// is not recorded, and said so once.
void Recorder::Watch(LineRecord& record, const std::function<bool()>& open) {
    const bool devicePath = ComNames::PortNumber(options.line) == 0;
    if (!waiting) {
        if (!record.Port().DeviceLost()) return;
        waiting = true;
        toldOf = device;
        record.Note(FrameKind::LineLost);
        Say("the line's device " + line.path + " went away; waiting for it");
        return;
    }
    const DeviceIdentity now = IdentifyLine(line, devicePath);
    if (!IsSameDevice(device, now)) {
        if (now.present && !IsSameDevice(toldOf, now)) {
            toldOf = now;
            Say("another device is at " + line.path + " (" + AnotherDevice(device, now) +
                "); not recorded, waiting for the line's own");
        }
        return;
    }
    if (!open()) return;
    waiting = false;
    record.Note(FrameKind::LineBack);
    Say("the line's device " + line.path + " is back");
}

int Recorder::Run() {
    const bool extcap = options.extcapCapture;
    const auto refuse = extcap ? RefuseExtcap : Refuse;
    sigFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (sigFd < 0 || wakeFd < 0) return refuse("eventfd: " + SystemErrorText(errno));
    signalFd = sigFd;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : kSignals) {
        struct sigaction previous {};
        sigaction(signal, nullptr, &previous);
        // Ignored when we started (nohup ignores SIGHUP): stays ignored.
        if (previous.sa_handler != SIG_IGN) sigaction(signal, &action, nullptr);
    }

    PathLink link;
    std::string error;
    if (!ResolveLine(options.line, link, line, error)) return refuse(error);
    auto comm = std::make_unique<PosixComm>(line.names);
    PosixComm* const commLayer = comm.get();
    // The owner outlives the record, whose end may still deliver to it.
    Owner owner(wakeFd);
    auto record = std::make_unique<LineRecord>(std::move(comm));
    owner.SetPort(&record->Port());
    // Only listening: nothing is written, and RTS and DTR go down at the open
    // (a transceiver enabled by RTS would drive the bus) unless asked for.
    record->Port().SetListenOnly(true);
    int lineError = 0;
    if (options.rts) record->Port().SetControlLine(LINE_RTS, *options.rts, lineError);
    if (options.dtr) record->Port().SetControlLine(LINE_DTR, *options.dtr, lineError);
    const auto open = [&] {
        return record->Open(&owner, line.number, options.baudRate, options.parity, options.dataBits,
                            options.stopBits, EV_RXCHAR, kWriteBuffer);
    };
    if (!open())
        return refuse("cannot open the line " + options.line + " (" + line.path +
                      "): " + commLayer->ErrorText(commLayer->LastError()));

    // dumpcap's one file size: where a file is switched with -b, else where
    // the recording stops.
    const bool switched = options.Ring();
    CaptureRing ring(options.output,
                     {switched ? options.fileBytes : 0, options.filePackets, options.fileUs,
                      options.intervalSeconds, options.files, options.stopFiles,
                      switched ? 0 : options.fileBytes, options.stopPackets},
                     [fd = wakeFd] { Owner::Wake(fd); });
    if (extcap) {
        // Wireshark opens its end as it starts reading: the open waits for it.
        const int fd = ::open(options.fifo.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd < 0) return refuse("cannot open " + options.fifo + ": " + SystemErrorText(errno));
        ring.Start(fd, options.fifo);
    } else if (options.output == "-") {
        ring.Start(STDOUT_FILENO, "standard output");
    } else if (int failure = 0; !ring.Start(failure)) {
        return refuse("cannot create the capture file " + options.output + ": " +
                      SystemErrorText(failure));
    }
    record->Record({&ring});
    if (!options.quiet && !extcap)
        std::fprintf(stderr, "Capturing on %s (%s)\nFile: %s\n", options.line.c_str(),
                     line.path.c_str(), ring.FirstName().c_str());

    const auto started = Clock::now();
    const auto end = options.stopUs > 0 ? started + std::chrono::microseconds(options.stopUs)
                                        : Clock::time_point::max();
    auto nextTick = started + kTick;
    // What the number led to: a lost line is opened again only on the same device.
    device = IdentifyLine(line, ComNames::PortNumber(options.line) == 0);
    while (!signalled && !ring.Ended() && Clock::now() < end) {
        if (WaitForWork(std::min({nextTick, end, ring.NextTick()})))
            record->Port().DispatchNotifications();
        ring.Tick();
        if (Clock::now() < nextTick) continue;
        nextTick += kTick;
        Count(ring.Packets(), false);
        Watch(*record, open);
    }
    // The engine stops and the trace ends what is open into the files, then
    // they are written out and synced.
    record.reset();
    const CaptureRing::Result result = ring.Finish();
    Count(ring.Packets(), true);
    const LineCapture::Outcome& outcome = result.outcome;
    // Wireshark stopped reading: that is how a capture of its ends.
    if (outcome.Whole() || (extcap && outcome.error == EPIPE)) return 0;
    const std::string reason =
        outcome.error != 0 ? SystemErrorText(outcome.error)
                           : "it took nothing for " +
                                 std::to_string(LineCapture::kFinishBound.count() / 1000) + " s";
    if (outcome.lostBytes > 0)
        Say("the capture " + result.file + " lost " + std::to_string(outcome.lostBytes) +
            " bytes of the line: " + reason);
    else
        Say("the capture " + result.file + " failed: " + reason);
    return 1;
}

// Whether the command line is Wireshark's, which reads errors in its own form.
bool ExtcapCall(const std::vector<std::string>& args) {
    return std::any_of(args.begin(), args.end(), [](const std::string& arg) {
        return arg.starts_with("--extcap-") || arg == "--capture";
    });
}

}  // namespace

int main(int argc, char** argv) {
    // A reader of standard error or output that went away (`2>&1 | head`)
    // fails the write instead of ending the recording; the files see to their
    // own writes.
    std::signal(SIGPIPE, SIG_IGN);
    const std::vector<std::string> args(argv + 1, argv + argc);
    std::string error;
    const std::optional<CaptureOptions> options = ParseCaptureOptions(args, error);
    if (!options) return ExtcapCall(args) ? RefuseExtcap(error) : Refuse(error + " (see --help)");
    using Mode = CaptureOptions::Mode;
    switch (options->mode) {
        case Mode::Help:
            std::fputs(kCaptureUsage, stdout);
            return 0;
        case Mode::ListPorts:
            ListPortsText(ComNames());
            return 0;
        case Mode::ExtcapInterfaces:
        case Mode::ExtcapDlts:
        case Mode::ExtcapConfig:
            return PrintExtcap(*options, ComNames(), stdout, error) ? 0 : RefuseExtcap(error);
        case Mode::Record:
            break;
    }
    return Recorder(*options).Run();
}
