// talvenor-capture as users run it: on a pty that carries a bus (requests to
// the built simulator and its replies, as a listener on RS-485 sees them),
// through Wireshark's tshark as a capture interface, in ring files, and ended
// by a signal or by a full disk.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "PcapFile.h"
#include "PtyPair.h"
#include "SimProcess.h"
#include "serial/ComNames.h"

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

extern char** environ;

namespace {

Bytes WithCrc(Bytes frame) {
    uint16_t crc = 0xFFFF;
    for (uint8_t byte : frame) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = crc & 1 ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    frame.insert(frame.end(), {static_cast<uint8_t>(crc), static_cast<uint8_t>(crc >> 8)});
    return frame;
}

// A master asks the simulator; both its requests and the replies go onto the
// bus, where the recorder listens on the slave end.
struct Bus {
    Bus() : sim({"--period", "0"}) {
        simFd = open(sim.DevicePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios t{};
        tcgetattr(simFd, &t);
        cfmakeraw(&t);
        tcsetattr(simFd, TCSANOW, &t);
    }
    ~Bus() { close(simFd); }
    // `count` exchanges; answers false when the simulator did not answer.
    bool Exchange(int count) {
        for (int i = 0; i < count; ++i) {
            const auto address = static_cast<uint8_t>(frames.size() / 2 % 90);
            const Bytes request = WithCrc({1, 3, 0, address, 0, 1});
            if (!PtyPair::WriteAll(simFd, request.data(), request.size())) return false;
            const Bytes reply = PtyPair::ReadUntil(
                simFd, [](const Bytes& b) { return b.size() >= 7; }, 2s);
            if (reply.size() != 7) return false;
            for (const Bytes* frame : {&request, &reply}) {
                line.WriteMaster(*frame);
                frames.push_back(*frame);
                std::this_thread::sleep_for(5ms);
            }
        }
        return true;
    }
    SimProcess sim;
    int simFd = -1;
    PtyPair line;
    std::vector<Bytes> frames;  // what crossed the bus, in order
};

// The recorder or tshark as a child; its standard error (and output) in files.
struct Child {
    Child(std::vector<std::string> args, const fs::path& dir, std::vector<std::string> env = {}) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, (dir / "out").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, (dir / "err").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::vector<char*> argv, envp;
        for (std::string& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        for (char** e = environ; *e; ++e) envp.push_back(*e);
        for (std::string& e : env) envp.insert(envp.begin(), e.data());
        envp.push_back(nullptr);
        posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        errPath = dir / "err";
        outPath = dir / "out";
    }
    ~Child() {
        if (pid > 0) Stop(SIGKILL);
    }
    // Sends `signal` (none: 0) and waits for the end, killing after a bound.
    int Stop(int signal) {
        if (signal && pid > 0) kill(pid, signal);
        for (int i = 0; i < 300 && Running(); ++i) std::this_thread::sleep_for(50ms);
        if (pid > 0) kill(pid, SIGKILL), waitpid(pid, &status, 0), pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    bool Running() {
        if (pid <= 0 || waitpid(pid, &status, WNOHANG) == 0) return pid > 0;
        pid = -1;
        return false;
    }
    static std::string Text(const fs::path& path) {
        std::ifstream in(path);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    pid_t pid = -1;
    int status = 0;
    fs::path errPath, outPath;
};

struct Scratch {
    Scratch() : dir(fs::temp_directory_path() / ("recorder-" + std::to_string(getpid()))) {
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    ~Scratch() { fs::remove_all(dir); }
    fs::path dir;
};

// Waits (bounded) until the records of `files` end with the bus's last frame.
std::vector<CaptureRecord> RecordsOnceWritten(const std::function<std::vector<fs::path>()>& files,
                                              const Bytes& last) {
    std::vector<CaptureRecord> records;
    for (auto deadline = std::chrono::steady_clock::now() + 10s;
         std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(50ms)) {
        records.clear();
        for (const fs::path& file : files()) {
            const CaptureFile capture = CaptureFile::Read(file);
            records.insert(records.end(), capture.records.begin(), capture.records.end());
        }
        if (!records.empty() && records.back().bytes == last) break;
    }
    return records;
}

const std::string kRecorder = TALVENOR_CAPTURE_PATH;

}  // namespace

// Installed into a user's own extcap folder, the recorder is an interface of
// Debian's tshark, which decodes what it captures as Modbus RTU.
TEST(RecorderTest, TsharkCapturesThroughTheInterface) {
    Scratch scratch;
    Bus bus;
    const fs::path extcap = scratch.dir / ".config/wireshark/extcap";
    fs::create_directories(extcap);
    fs::copy_file(kRecorder, extcap / "talvenor-capture");
    // The bus gets a COM number of the user's, as a user pins an adapter.
    const std::string ports = ComNames::DefaultPortDirectory();
    ASSERT_TRUE(ComNames::EnsurePortDirectory(ports));
    const auto taken = ComNames().Ports();
    int number = 60;
    while (taken.count(number)) ++number;
    const fs::path link = fs::path(ports) / ("COM" + std::to_string(number));
    fs::create_symlink(bus.line.SlavePath(), link);
    const std::unique_ptr<const fs::path, void (*)(const fs::path*)> unlinkAtEnd(
        &link, [](const fs::path* path) { fs::remove(*path); });
    const std::string name = "talvenor-COM" + std::to_string(number);
    const std::vector<std::string> env = {"HOME=" + scratch.dir.string(), "XDG_CONFIG_HOME="};

    Child list({"tshark", "-D"}, scratch.dir, env);
    EXPECT_EQ(list.Stop(0), 0);
    EXPECT_NE(Child::Text(list.outPath).find(name + " (Modbus on COM"), std::string::npos)
        << Child::Text(list.outPath);

    Child capture({"tshark", "-i", name, "-a", "duration:3", "-d", "rtacser.data,mbrtu"},
                  scratch.dir, env);
    // The bus runs until tshark has captured its three seconds.
    while (capture.Running()) ASSERT_TRUE(bus.Exchange(5));
    const int status = capture.Stop(0);
    const std::string decoded = Child::Text(capture.outPath);
    EXPECT_EQ(status, 0) << Child::Text(capture.errPath);
    const auto count = [&](const std::string& what) {
        size_t n = 0;
        for (size_t at = decoded.find(what); at != std::string::npos;
             at = decoded.find(what, at + 1))
            ++n;
        return n;
    };
    EXPECT_GT(count("Query: Unit:   1, Func:   3"), 10u) << decoded;
    EXPECT_GE(count("Response: Unit:   1, Func:   3"), count("Query: Unit:   1, Func:   3") - 1)
        << decoded;
    EXPECT_EQ(count("Malformed"), 0u) << decoded;
}

// A ring of three files of 1 kB over a run long enough for six: the three
// newest remain, named as dumpcap names them, each a capture of its own,
// together the last frames of the bus in order.
TEST(RecorderTest, RingKeepsTheNewestFiles) {
    Scratch scratch;
    Bus bus;
    Child recorder({kRecorder, "-q", "-i", bus.line.SlavePath(), "-w", scratch.dir / "bus.pcap",
                    "-b", "filesize:1", "-b", "files:3"},
                   scratch.dir);
    std::this_thread::sleep_for(300ms);  // the recorder opens the line
    ASSERT_TRUE(bus.Exchange(80));
    const auto files = [&] {
        std::vector<fs::path> found;
        for (const auto& entry : fs::directory_iterator(scratch.dir))
            if (entry.path().extension() == ".pcap") found.push_back(entry.path());
        std::sort(found.begin(), found.end());
        return found;
    };
    std::vector<CaptureRecord> records = RecordsOnceWritten(files, bus.frames.back());
    EXPECT_EQ(recorder.Stop(SIGINT), 0) << Child::Text(recorder.errPath);
    records = RecordsOnceWritten(files, bus.frames.back());

    const std::vector<fs::path> kept = files();
    ASSERT_EQ(kept.size(), 3u);
    const std::regex named(R"(bus_(\d{5})_\d{14}\.pcap)");
    std::smatch match;
    const std::string first = kept[0].filename().string();
    ASSERT_TRUE(std::regex_match(first, match, named)) << first;
    EXPECT_GE(std::stoi(match[1]), 4);  // six files or more were made
    for (const fs::path& file : kept) {
        EXPECT_TRUE(CaptureFile::Read(file).wellFormed) << file;
        EXPECT_LE(fs::file_size(file), 1000u);
        Child reader({"tshark", "-r", file.string(), "-d", "rtacser.data,mbrtu"}, scratch.dir);
        EXPECT_EQ(reader.Stop(0), 0) << file;
        EXPECT_EQ(Child::Text(reader.outPath).find("Malformed"), std::string::npos);
    }
    ASSERT_GT(records.size(), 20u);
    ASSERT_LE(records.size(), bus.frames.size());
    for (size_t i = 0; i < records.size(); ++i)
        EXPECT_EQ(records[i].bytes, bus.frames[bus.frames.size() - records.size() + i]) << i;
}

// How a run ends: a signal writes everything out (status 0); a file size
// limit, as a full disk, stops it with one line and status 1, the file whole
// up to its last record.
TEST(RecorderTest, EndsBySignalOrFullDisk) {
    struct Row {
        const char* name;
        std::vector<std::string> prefix;
        int signal, status;
        bool complete;
    };
    const Row rows[] = {
        {"SIGTERM", {}, SIGTERM, 0, true},
        {"file size limit", {"prlimit", "--fsize=600", "--"}, 0, 1, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Scratch scratch;
        Bus bus;
        const fs::path file = scratch.dir / "bus.pcap";
        std::vector<std::string> args = row.prefix;
        args.insert(args.end(), {kRecorder, "-q", "-i", bus.line.SlavePath(), "-w", file});
        Child recorder(args, scratch.dir);
        std::this_thread::sleep_for(300ms);
        ASSERT_TRUE(bus.Exchange(20));
        if (row.complete) RecordsOnceWritten([&] { return std::vector{file}; }, bus.frames.back());
        EXPECT_EQ(recorder.Stop(row.signal), row.status);
        const std::string errors = Child::Text(recorder.errPath);
        EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), row.status == 0 ? 0 : 1)
            << errors;
        const CaptureFile capture = CaptureFile::Read(file);
        EXPECT_TRUE(capture.wellFormed);
        ASSERT_LE(capture.records.size(), bus.frames.size());
        EXPECT_EQ(capture.records.size() == bus.frames.size(), row.complete);
        for (size_t i = 0; i < capture.records.size(); ++i)
            EXPECT_EQ(capture.records[i].bytes, bus.frames[i]) << i;
    }
}

// What a user can get wrong gets one line on standard error and status 2,
// before anything is recorded: options, and lines that cannot be opened.
TEST(RecorderTest, RefusesWhatItCannotDo) {
    Scratch scratch;
    PtyPair line;
    const std::string out = (scratch.dir / "x.pcap").string();
    // A second recorder on a line one already holds.
    fs::create_directory(scratch.dir / "holder");
    Child holder({kRecorder, "-q", "-i", line.SlavePath(), "-w", out + "1"},
                 scratch.dir / "holder");
    std::this_thread::sleep_for(300ms);
    const std::vector<std::vector<std::string>> rows = {
        {"-i", line.SlavePath(), "-w", out, "-x"},
        {"-i", line.SlavePath(), "-w", out, "-a", "duration:0"},
        {"-i", line.SlavePath(), "-w", out, "-b", "files:3"},
        {"-i", line.SlavePath(), "-w", "-", "-b", "filesize:10"},
        {"-i", line.SlavePath(), "-w", (scratch.dir / "none/x.pcap").string()},
        {"-i", line.SlavePath()},
        {"-i", "COM0", "-w", out},
        {"-i", "/dev/nonexistent-tty", "-w", out},
        {"-i", line.SlavePath(), "-w", out, "--parity", "X"},
    };
    for (const auto& row : rows) {
        std::vector<std::string> args = {kRecorder, "-q"};
        args.insert(args.end(), row.begin(), row.end());
        Child refused(args, scratch.dir);
        EXPECT_EQ(refused.Stop(0), 2) << row.back();
        const std::string errors = Child::Text(refused.errPath);
        EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
    }
    Child busy({kRecorder, "-q", "-i", line.SlavePath(), "-w", out}, scratch.dir);
    EXPECT_EQ(busy.Stop(0), 2);
    EXPECT_NE(Child::Text(busy.errPath).find("busy"), std::string::npos);
    EXPECT_EQ(holder.Stop(SIGTERM), 0);
}

// On a port that answers like a UART, the kernel raises RTS and DTR at the
// open; the recorder takes them down at once and never raises them, unless
// asked to: a transceiver enabled by RTS must not drive the bus it records.
TEST(RecorderTest, NeverRaisesRtsOrDtrUnlessAsked) {
    struct Row {
        std::vector<std::string> options;
        const char* lines;
    } const rows[] = {{{}, "rts=0 dtr=0"}, {{"--rts", "on"}, "rts=1 dtr=0"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.lines);
        Scratch scratch;
        PtyPair line;
        const fs::path log = scratch.dir / "uart.log";
        std::vector<std::string> args = {kRecorder,        "-q", "-i",
                                         line.SlavePath(), "-w", scratch.dir / "bus.pcap"};
        args.insert(args.end(), row.options.begin(), row.options.end());
        const char* asan = std::getenv("ASAN_OPTIONS");
        Child recorder(args, scratch.dir,
                       {std::string("LD_PRELOAD=") + TALVENOR_FAKE_UART, "FAKE_UART=1",
                        "FAKE_UART_LOG=" + log.string(),
                        std::string("ASAN_OPTIONS=") + (asan ? asan + std::string(":") : "") +
                            "verify_asan_link_order=0"});
        for (int i = 0; i < 200 && Child::Text(log).find("low_latency=1") == std::string::npos; ++i)
            std::this_thread::sleep_for(20ms);
        EXPECT_EQ(recorder.Stop(SIGTERM), 0) << Child::Text(recorder.errPath);
        const std::string calls = Child::Text(log);
        EXPECT_EQ(calls.find("TIOCMBIS DTR"), std::string::npos) << calls;
        EXPECT_EQ(calls.find("TIOCMBIS RTS") != std::string::npos, !row.options.empty()) << calls;
        const size_t lastLine = calls.rfind('\n', calls.size() - 2);
        EXPECT_NE(calls.find(row.lines, lastLine == std::string::npos ? 0 : lastLine),
                  std::string::npos)
            << calls;
    }
}
