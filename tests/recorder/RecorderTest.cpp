// talvenor-capture as users run it: on a pty that carries a bus (requests to
// the built simulator and its replies, as a listener on RS-485 sees them),
// through Wireshark's tshark as a capture interface, in ring files, and ended
// by a signal or by a full disk.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "PcapFile.h"
#include "PtyPair.h"
#include "SimProcess.h"
#include "recorder/CaptureRing.h"
#include "recorder/PortListing.h"
#include "serial/ComNames.h"
#include "serial/PosixComm.h"
#include "trace/LineRecord.h"

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
    // `closedErr`: standard error is a pipe whose reader has gone.
    Child(std::vector<std::string> args, const fs::path& dir, std::vector<std::string> env = {},
          bool closedErr = false) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, (dir / "out").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int pipeFds[2] = {-1, -1};
        if (closedErr && pipe2(pipeFds, O_CLOEXEC) == 0) {
            posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
            close(pipeFds[0]);
        } else {
            posix_spawn_file_actions_addopen(&actions, 2, (dir / "err").c_str(),
                                             O_WRONLY | O_CREAT | O_TRUNC, 0644);
        }
        std::vector<char*> argv, envp;
        for (std::string& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        for (char** e = environ; *e; ++e) envp.push_back(*e);
        for (std::string& e : env) envp.insert(envp.begin(), e.data());
        envp.push_back(nullptr);
        posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (pipeFds[1] >= 0) close(pipeFds[1]);
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
    // Through a path with braces, which Wireshark's reader of an interface's
    // description would take for its own.
    const fs::path braced = scratch.dir / "bus}{1} x";
    fs::create_symlink(bus.line.SlavePath(), braced);
    fs::create_symlink(braced, link);
    const std::unique_ptr<const fs::path, void (*)(const fs::path*)> unlinkAtEnd(
        &link, [](const fs::path* path) { fs::remove(*path); });
    const std::string name = "talvenor-COM" + std::to_string(number);
    const std::vector<std::string> env = {"HOME=" + scratch.dir.string(), "XDG_CONFIG_HOME="};

    Child list({"tshark", "-D"}, scratch.dir, env);
    EXPECT_EQ(list.Stop(0), 0);
    EXPECT_NE(Child::Text(list.outPath)
                  .find(name + " (Modbus on COM" + std::to_string(number) + " (" +
                        (scratch.dir / "bus)(1) x").string() + "))\n"),
              std::string::npos)
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

// How a run ends: a signal right after the last reply writes everything out
// (status 0), also with standard error into a pipe whose reader has gone,
// and leaves no link behind; a file size limit, as a full disk, stops it
// with one line and status 1, the file whole up to its last record.
TEST(RecorderTest, EndsBySignalOrFullDisk) {
    struct Row {
        const char* name;
        std::vector<std::string> prefix;
        int signal, status;
        bool complete, closedErr;
    };
    const Row rows[] = {
        {"SIGTERM", {}, SIGTERM, 0, true, false},
        {"SIGHUP", {}, SIGHUP, 0, true, false},
        {"SIGTERM, standard error closed", {}, SIGTERM, 0, true, true},
        {"file size limit", {"prlimit", "--fsize=600", "--"}, 0, 1, false, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Scratch scratch;
        Bus bus;
        // The recorder's own temporary directory, apart from other runs'.
        const fs::path tmp = scratch.dir / "tmp";
        fs::create_directory(tmp);
        const auto links = [&] { return std::distance(fs::directory_iterator(tmp), {}); };
        const fs::path file = scratch.dir / "bus.pcap";
        std::vector<std::string> args = row.prefix;
        // The link of a device path is a private one: none is left behind.
        fs::create_symlink(bus.line.SlavePath(), scratch.dir / "tty");
        args.insert(args.end(), {kRecorder, "-i", scratch.dir / "tty", "-w", file});
        Child recorder(args, scratch.dir, {"TMPDIR=" + tmp.string()}, row.closedErr);
        std::this_thread::sleep_for(300ms);
        ASSERT_TRUE(bus.Exchange(20));
        EXPECT_EQ(recorder.Stop(row.signal), row.status);
        EXPECT_EQ(links(), 0);
        const std::string errors = Child::Text(recorder.errPath);
        EXPECT_TRUE(row.closedErr ||
                    (errors.find("talvenor-capture:") != std::string::npos) == (row.status != 0))
            << errors;
        const CaptureFile capture = CaptureFile::Read(file);
        EXPECT_TRUE(capture.wellFormed);
        ASSERT_LE(capture.records.size(), bus.frames.size());
        EXPECT_EQ(capture.records.size() == bus.frames.size(), row.complete);
        for (size_t i = 0; i < capture.records.size(); ++i)
            EXPECT_EQ(capture.records[i].bytes, bus.frames[i]) << i;
    }
}

// What a user can get wrong gets one line on standard error and status 2 (1
// in extcap's form for Wireshark), before anything is recorded: options, and
// lines that cannot be opened.
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
        {"-i", line.SlavePath(), "-w", out, "-a", "duration:0.0000001"},
        {"-i", line.SlavePath(), "-w", out, "-b", "files:3"},
        {"-i", line.SlavePath(), "-w", "-", "-b", "filesize:10"},
        {"-i", line.SlavePath(), "-w", (scratch.dir / "none/x.pcap").string()},
        {"-i", line.SlavePath()},
        {"-i", "COM0", "-w", out},
        {"-i", "/dev/nonexistent-tty", "-w", out},
        {"-i", line.SlavePath(), "-w", out, "--parity", "X"},
        // Wireshark's calls, for a port that does not exist: extcap's error form.
        {"--extcap-dlts", "--extcap-interface", "talvenor-COM999"},
        {"--extcap-config", "--extcap-interface", "talvenor-COM999"},
        {"--capture", "--extcap-interface", "talvenor-COM999", "--fifo", out},
    };
    for (const auto& row : rows) {
        std::vector<std::string> args = {kRecorder, "-q"};
        args.insert(args.end(), row.begin(), row.end());
        Child refused(args, scratch.dir);
        const bool extcap = row[0].starts_with("--");
        EXPECT_EQ(refused.Stop(0), extcap ? 1 : 2) << row.back();
        const std::string errors = Child::Text(refused.errPath);
        EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
        EXPECT_TRUE(!extcap ||
                    (errors.starts_with("ERROR: ") && Child::Text(refused.outPath).empty()));
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

// dumpcap's options, each row with what dumpcap does, into a directory with a
// dot; -q: only dumpcap's last line. A ring whose directory goes away ends
// with status 1. On a card that takes a second for each sync, the line is
// still read as it comes.
TEST(RecorderTest, FollowsDumpcapsOptions) {
    constexpr size_t kKB = SIZE_MAX;  // files of at most 1000 bytes
    struct Row {
        const char* dumpcap;
        std::vector<std::string> args;
        bool byItself;          // ends without a signal
        size_t files, perFile;  // files (0: more than one), records in each full one (0: any)
        size_t first;           // the bus's first frames held (0: a ring's last ones, or any)
    };
    const Row rows[] = {
        {"-b, -a filesize switch files",
         {"-b", "duration:60", "-a", "filesize:1"},
         false,
         0,
         kKB,
         0},
        {"a ring, -b files -a filesize", {"-b", "files:3", "-a", "filesize:1"}, false, 3, kKB, 0},
        {"-a filesize alone stops", {"-a", "filesize:1"}, true, 1, kKB, 0},
        {"-c N stops after N", {"-c", "10"}, true, 1, 10, 10},
        {"-a files stops after N files", {"-b", "packets:4", "-a", "files:3"}, true, 3, 4, 12},
        {"-a duration takes fractions", {"-a", "duration:1.5"}, true, 1, 0, 0},
        {"-b interval on the clock", {"-b", "interval:2"}, false, 0, 0, 0},
        {"slow card", {"-b", "packets:2", "-a", "files:6"}, true, 6, 2, 12},
        {"ring gone", {"-b", "packets:4"}, true, 0, 4, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.dumpcap);
        const std::string name = row.dumpcap;
        Scratch scratch;
        Bus bus;
        const fs::path dir = scratch.dir / "run.d";  // the file's own name has no extension
        fs::create_directory(dir);
        std::vector<std::string> args = {kRecorder, "-q",       "-i", bus.line.SlavePath(),
                                         "-w",      dir / "bus"};
        args.insert(args.end(), row.args.begin(), row.args.end());
        const std::string slow = name == "slow card" ? TALVENOR_SLOW_SYNC_PATH : "";
        Child recorder(
            args, scratch.dir,
            {"LD_PRELOAD=" + slow, "SLOW_SYNC_MS=1000", "ASAN_OPTIONS=verify_asan_link_order=0"});
        std::this_thread::sleep_for(300ms);
        for (int i = 0; i < (row.byItself ? 400 : 250) && recorder.Running(); ++i) {
            ASSERT_TRUE(bus.Exchange(1));
            if (name == "ring gone" && i == 10) fs::rename(dir, scratch.dir / "gone");
            // The line is read as it comes while files are finished (a sync takes 1 s).
            int queued = name == "slow card" && i < 6;
            for (int t = 0; t < 60 && queued > 0; ++t, std::this_thread::sleep_for(10ms))
                ioctl(bus.line.SlaveFd(), FIONREAD, &queued);
            EXPECT_EQ(queued, 0) << "the line was not read for 600 ms";
        }
        EXPECT_EQ(recorder.Running(), !row.byItself);
        const int status = recorder.Stop(SIGTERM);
        const std::string errors = Child::Text(recorder.errPath);
        EXPECT_EQ(status, name == "ring gone" ? 1 : 0) << errors;
        if (status != 0) continue;
        std::smatch count;
        EXPECT_TRUE(std::regex_match(errors, count, std::regex("\rPackets captured: (\\d+)\n")))
            << errors;
        std::vector<fs::path> files(fs::directory_iterator(dir), {});
        std::sort(files.begin(), files.end());
        EXPECT_TRUE(row.files ? files.size() == row.files : files.size() > 1) << files.size();
        std::vector<CaptureRecord> records;
        for (const fs::path& file : files) {
            const CaptureFile capture = CaptureFile::Read(file);
            ASSERT_TRUE(capture.wellFormed) << file;
            if (capture.records.empty()) continue;  // a clock's interval may pass without a frame
            const size_t n = capture.records.size();
            EXPECT_TRUE(row.perFile == kKB
                            ? fs::file_size(file) <= 1000
                            : !row.perFile || n == row.perFile || file == files.back())
                << file;
            // Named as dumpcap names them, by the local date and time the file began.
            const std::string base = file.filename().string();
            const std::time_t first = capture.records[0].stampUs / 1000000;
            std::tm local{};
            char day[9];
            std::strftime(day, sizeof day, "%Y%m%d", localtime_r(&first, &local));
            EXPECT_TRUE(files.size() == 1 ||
                        (std::regex_match(base, std::regex(R"(bus_\d{5}_\d{14})")) &&
                         base.substr(10, 8) == day))
                << base;
            records.insert(records.end(), capture.records.begin(), capture.records.end());
        }
        const bool ring = name.find("ring") != name.npos;
        EXPECT_TRUE(ring || (count.size() > 1 && std::stoul(count[1]) == records.size()));
        EXPECT_TRUE(row.first == 0 || records.size() == row.first) << records.size();
        ASSERT_GT(records.size(), 5u);
        const size_t from = ring ? bus.frames.size() - records.size() : 0;
        for (size_t i = 0; i < records.size(); ++i) {
            EXPECT_EQ(records[i].bytes, bus.frames[from + i]) << i;
        }
    }
}

// A line named by its device path is that device: after a loss, another
// device found under the path (here a pty in place of the one that went) is
// not recorded, and standard error says why.
TEST(RecorderTest, ADevicePathIsOneDevice) {
    Scratch scratch;
    auto first = std::make_unique<PtyPair>();
    PtyPair second;
    const fs::path tty = scratch.dir / "tty";
    fs::create_symlink(first->SlavePath(), tty);
    Child recorder({kRecorder, "-q", "-i", tty, "-w", scratch.dir / "bus.pcap"}, scratch.dir);
    std::this_thread::sleep_for(300ms);
    const Bytes request = WithCrc({1, 3, 0, 0, 0, 1}), reply = WithCrc({1, 3, 2, 0, 7});
    ASSERT_TRUE(first->WriteMaster(request) && first->WriteMaster(reply));
    std::this_thread::sleep_for(100ms);
    first->CloseMaster();
    fs::remove(tty);
    fs::create_symlink(second.SlavePath(), tty);
    for (int i = 0;
         i < 100 && Child::Text(recorder.errPath).find("another device") == std::string::npos;
         ++i) {
        ASSERT_TRUE(second.WriteMaster(request));
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_EQ(recorder.Stop(SIGTERM), 0);
    const std::string errors = Child::Text(recorder.errPath);
    EXPECT_NE(errors.find("another device is at " + tty.string() + " (" + second.SlavePath() +
                          " in place of " + first->SlavePath() + "); not recorded"),
              std::string::npos)
        << errors;
    const CaptureFile capture = CaptureFile::Read(scratch.dir / "bus.pcap");
    ASSERT_EQ(capture.records.size(), 2u);
    EXPECT_EQ(capture.records[1].bytes, reply);
}

// As Wireshark's capture interface: the options' defaults are marked as the
// line is set without them; a capture Wireshark stops reading ends with
// status 0 and nothing on standard error.
TEST(RecorderTest, AnswersWiresharkAsExtcap) {
    Scratch scratch;
    Bus bus;
    int number = 70;
    for (const auto taken = ComNames().Ports(); taken.count(number);) ++number;
    const std::string com = "COM" + std::to_string(number), name = "talvenor-" + com;
    const fs::path link = fs::path(ComNames::DefaultPortDirectory()) / com;
    ASSERT_TRUE(ComNames::EnsurePortDirectory(link.parent_path()));
    fs::create_symlink(bus.line.SlavePath(), link);
    const std::unique_ptr<const fs::path, void (*)(const fs::path*)> unlinkAtEnd(
        &link, [](const fs::path* path) { fs::remove(*path); });

    Child config({kRecorder, "--extcap-config", "--extcap-interface", name}, scratch.dir);
    EXPECT_EQ(config.Stop(0), 0);
    const std::string sentences = Child::Text(config.outPath);
    std::map<std::string, std::string> defaults, marked;  // by argument number
    const std::regex arg(R"(arg \{number=(\d+)\}.*\{default=([^}]*)\})"),
        value(R"(value \{arg=(\d+)\}\{value=([^}]*)\}.*\{default=true\})");
    for (auto at = std::sregex_iterator(sentences.begin(), sentences.end(), arg);
         at != std::sregex_iterator(); ++at)
        defaults[(*at)[1]] = (*at)[2];
    for (auto at = std::sregex_iterator(sentences.begin(), sentences.end(), value);
         at != std::sregex_iterator(); ++at)
        marked[(*at)[1]] += (*at)[2];
    EXPECT_EQ(marked, defaults) << sentences;
    EXPECT_EQ(defaults["0"], "9600");

    const fs::path fifo = scratch.dir / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    Child capture({kRecorder, "--capture", "--extcap-interface", name, "--fifo", fifo},
                  scratch.dir);
    const int reader = open(fifo.c_str(), O_RDONLY | O_CLOEXEC);
    char header[24];
    EXPECT_EQ(read(reader, header, sizeof header), 24);
    close(reader);  // Wireshark stops
    for (int i = 0; i < 100 && capture.Running(); ++i) ASSERT_TRUE(bus.Exchange(1));
    EXPECT_EQ(capture.Stop(SIGTERM), 0);
    EXPECT_EQ(Child::Text(capture.errPath), "");
}

// A record that cannot keep up with the line (64 KiB arrive at once, its
// trace queues 4 KiB) drops bytes: the ring's file tells it, not whole.
TEST(RecorderTest, BytesTheTraceDropsSpoilTheRun) {
    Scratch scratch;
    PtyPair line;
    fs::create_directory(scratch.dir / "ports");
    fs::permissions(scratch.dir / "ports", fs::perms::owner_all);
    fs::create_symlink(line.SlavePath(), scratch.dir / "ports/COM1");
    CaptureRing ring(scratch.dir / "bus.pcap", {}, [] {});
    int error = 0;
    ASSERT_TRUE(ring.Start(error));
    struct : SerialPortOwner {
        void OnNotification(uint32_t, uint32_t, int32_t) override {}
        void OnError(const std::string&, const std::string&) override {}
        void WakeOwner() override {}
    } owner;
    {
        LineRecord record(std::make_unique<PosixComm>(ComNames({scratch.dir / "ports"})), 4096);
        record.Record({&ring});
        ASSERT_TRUE(record.Open(&owner, 1, 115200, 'N', 8, 1, EV_RXCHAR, 512));
        std::atomic<bool> written{false};
        std::thread flood([&] { written = line.WriteMaster(Bytes(65536, 0x55)); });
        for (int i = 0; i < 2000 && !(written && ring.Ended());
             ++i, std::this_thread::sleep_for(5ms))
            record.Port().DispatchNotifications();
        flood.join();
    }
    EXPECT_GT(ring.Finish().outcome.lostBytes, 0u);
}

// -D and Wireshark's list tell a USB adapter by what sysfs publishes of it.
TEST(RecorderTest, ListsAnAdaptersIdentity) {
    Scratch scratch;
    const fs::path usb = scratch.dir / "sys/devices/usb1/1-1", tty = usb / "1-1:1.0/ttyUSB0";
    fs::create_directories(tty);
    fs::create_directories(scratch.dir / "sys/class/tty/ttyUSB0");
    fs::create_directories(scratch.dir / "dev");
    for (auto [file, text] : {std::pair{"idVendor", "0403"},
                              {"idProduct", "6001"},
                              {"serial", "A50285BI"},
                              {"product", "FT232R USB UART"}})
        std::ofstream(usb / file) << text << "\n";
    fs::create_symlink(tty, scratch.dir / "sys/class/tty/ttyUSB0/device");
    std::ofstream(scratch.dir / "dev/ttyUSB0").put('\n');
    const std::vector<PortEntry> ports = ListPorts(
        ComNames({"", scratch.dir / "dev", scratch.dir / "sys/class/tty", scratch.dir / "proc"}));
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_EQ(PortTitle(ports[0]), "COM1 (" + (scratch.dir / "dev/ttyUSB0").string() +
                                       ", 0403:6001 A50285BI FT232R USB UART)");
}
