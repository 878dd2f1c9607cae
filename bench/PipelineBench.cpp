// Figures of the line's trace. First the frame assembler alone, on random
// bytes and on Modbus frames back to back (a bus being watched), in MB/s.
// Then the real main window, offscreen, on a pseudo-terminal opened through
// its settings dialog: 4 MiB of back-to-back frames pushed through the pty
// into the pane with the trace off (no capture, no frames window) and on (a
// capture file and the frames window open), alternately five times each;
// the best of each counts, since what else the machine does weighs on both.
//
//   pipeline_bench [assembler MiB, default 64]
#include <fcntl.h>
#include <pty.h>
#include <unistd.h>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/FramesWindow.h"
#include "app/MainWindow.h"
#include "app/PortSettingsDialog.h"
#include "app/ReceiveEdit.h"
#include "serial/PosixComm.h"
#include "tools/ChecksumTool.h"
#include "trace/FrameAssembler.h"
#include "trace/FrameList.h"
#include "trace/LineCapture.h"

#include "bench/WindowBench.h"

namespace {

constexpr size_t kWindowBytes = 4u << 20;
constexpr size_t kRun = 4096;  // what a driver hands over at once, at most

// Replies of 10 registers from stations 1 to 247 in turn, each with its CRC.
std::vector<uint8_t> BackToBackFrames(size_t total) {
    std::vector<uint8_t> bytes;
    bytes.reserve(total + 32);
    for (uint32_t n = 0; bytes.size() < total; ++n) {
        std::vector<uint8_t> frame = {static_cast<uint8_t>(1 + n % 247), 3, 20};
        for (int i = 0; i < 20; ++i) frame.push_back(static_cast<uint8_t>(n + i));
        const uint16_t crc = ChecksumTool::Crc16(frame.data(), static_cast<uint32_t>(frame.size()));
        frame.insert(frame.end(), {static_cast<uint8_t>(crc), static_cast<uint8_t>(crc >> 8)});
        bytes.insert(bytes.end(), frame.begin(), frame.end());
    }
    bytes.resize(total);
    return bytes;
}

void Assembler(const char* name, const std::vector<uint8_t>& bytes) {
    FrameAssembler assembler;
    std::vector<LineFrame> frames;
    size_t count = 0;
    assembler.LineOpened(DCB{115200, 8, NOPARITY, ONESTOPBIT}, frames);
    const auto start = std::chrono::steady_clock::now();
    for (size_t at = 0; at < bytes.size(); at += kRun) {
        const LineStamp stamp{static_cast<int64_t>(at), static_cast<int64_t>(at)};
        const size_t length = std::min(kRun, bytes.size() - at);
        assembler.Received(stamp, stamp, 0, std::span(bytes).subspan(at, length), true, frames);
        count += frames.size();
        frames.clear();
    }
    assembler.Finish(frames);
    count += frames.size();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("assembler, %-22s: %7.1f MB/s (%zu MiB, %zu frames)\n", name,
                static_cast<double>(bytes.size()) / seconds / 1e6, bytes.size() >> 20, count);
}

// One run through a new window; the rate end to end, 0 when it failed.
double Window(const ComNames& names, int master, const std::vector<uint8_t>& line, bool traced,
              const std::string& capturePath) {
    std::unique_ptr<LineCapture> capture;
    int error = 0;
    if (traced && !(capture = LineCapture::Create(capturePath, error))) return 0;
    double rate = 0;
    {
        MainWindow window(std::make_unique<PosixComm>(names), names);
        window.show();
        if (capture) window.SetCapture(capture.get());
        FramesWindow* frames = traced ? &window.ShowFrames() : nullptr;
        OpenThroughSettings(window, 1);
        if (!window.receiving) return 0;
        // The worker purges the line as it starts: one frame through first
        // tells that it has, and the pane is cleared of it.
        WriteAll(master, line.data(), 25);
        RunUntil([&] { return window.ReceivePane().TextLength() >= 100; }, 10'000);
        window.SendCommand(MainIds::IDC_CLEAR);
        QApplication::processEvents();
        const int expected = static_cast<int>(line.size()) * 4;
        QElapsedTimer clock;
        clock.start();
        std::thread writer([&] { WriteAll(master, line.data(), line.size()); });
        const bool complete =
            RunUntil([&] { return window.ReceivePane().TextLength() >= expected; }, 300'000);
        const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
        writer.join();
        rate = complete ? static_cast<double>(line.size()) / seconds : 0;
        std::printf("window, trace %-3s: %.2f MB/s end to end", traced ? "on" : "off", rate / 1e6);
        if (!complete)
            std::printf(" INCOMPLETE: %d of %d characters in %.1f s",
                        window.ReceivePane().TextLength(), expected, seconds);
        if (frames) {
            RunUntil([&] { return false; }, 300);
            std::printf(", %d frames listed", frames->View().model()->rowCount());
        }
        std::printf("\n");
    }
    return rate;
}

}  // namespace

int main(int argc, char** argv) {
    const size_t assemblerBytes = (argc > 1 ? std::max(1L, std::atol(argv[1])) : 64L) << 20;
    std::mt19937 random(7);
    std::vector<uint8_t> noise(assemblerBytes);
    for (uint8_t& byte : noise) byte = static_cast<uint8_t>(random());
    Assembler("random bytes", noise);
    Assembler("frames back to back", BackToBackFrames(assemblerBytes));

    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication application(argc, argv);
    BenchLine bench;
    if (!bench.ok()) return 1;

    const std::vector<uint8_t> line = BackToBackFrames(kWindowBytes);
    double best[2] = {0, 0};
    for (int round = 0; round < 5; ++round)
        for (const bool traced : {false, true})
            best[traced] = std::max(best[traced], Window(bench.names, bench.master, line, traced,
                                                         bench.root.path().toStdString() + "/line.pcap"));
    std::printf(
        "trace on (capture and frames window) keeps %.1f %% of the throughput with it off "
        "(best of five each: %.2f and %.2f MB/s)\n",
        best[0] > 0 ? 100.0 * best[1] / best[0] : 0.0, best[1] / 1e6, best[0] / 1e6);
    return best[0] > 0 && best[1] > 0 ? 0 : 1;
}
