// Figures of the real main window, offscreen, on a pseudo-terminal opened
// through its settings dialog: 4 MiB pushed through the pty into the pane
// with receive stamps off and on (bytes per second end to end, the worst
// lateness of a 10 ms timer meanwhile, peak memory per byte shown), the CPU
// share while a 9600-baud line (960 bytes per second) trickles in for 10 s,
// the timed sends at 10 ms in 60 s against the ideal 6000, and the CPU share
// over the 2 s after a line is pulled while bytes stream. Apart, a long run:
// 1 GiB through the pty, with the resident memory and the throughput of each
// 64 MiB, which stay flat once the pane holds all the text it keeps.
//
//   main_window_bench [timed-send seconds, default 60] [phases, default "tcsu":
//                     t throughput (f stamps off only, n stamps on only),
//                     c CPU of the trickle, s timed sends, u pulled line,
//                     l long run with stamps off, m with stamps on]
//                     [long run MiB, default 1024]
#include <fcntl.h>
#include <pty.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "app/MainWindow.h"
#include "app/PortSettingsDialog.h"
#include "app/ReceiveEdit.h"
#include "app/SendScheduler.h"
#include "app/StringPanel.h"
#include "serial/PosixComm.h"
#include "tools/MessageBox.h"
#include "tools/ReceiveText.h"

#include "bench/ProcessFigures.h"
#include "bench/WindowBench.h"

namespace {

constexpr size_t kTotalBytes = 4u << 20;
constexpr int kTrickleRate = 960;
constexpr int kTrickleSeconds = 10;
constexpr int kTimedIntervalMs = 10;

// The worst lateness of a 10 ms timer on the window's thread.
class TimerProbe {
public:
    TimerProbe() {
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            const qint64 now = clock.nsecsElapsed();
            if (last >= 0) worstNs = std::max(worstNs, now - last - 10'000'000);
            last = now;
        });
    }
    void Start() {
        worstNs = 0;
        last = -1;
        clock.start();
        timer.start(10);
    }
    double Stop() {
        timer.stop();
        return static_cast<double>(worstNs) / 1e6;
    }

private:
    QTimer timer;
    QElapsedTimer clock;
    qint64 last = -1;
    qint64 worstNs = 0;
};

void Throughput(MainWindow& window, int master, bool stamps) {
    ReceiveEdit& pane = window.ReceivePane();
    window.SendCommand(MainIds::IDC_CLEAR);
    if (window.monitorReceiveTime != (stamps ? 1 : 0))
        window.ControlAs<QCheckBox>(MainIds::IDC_MONITOR_TIME)->click();
    // Every byte takes "%4x", and with stamps "[%4d]" of less than 10 s.
    const int expected = static_cast<int>(kTotalBytes) * (stamps ? 10 : 4);

    QApplication::processEvents();
    ResetPeak();
    const long baseKiB = ResidentKiB();
    TimerProbe probe;
    probe.Start();
    const double cpuBefore = CpuSeconds(RUSAGE_SELF);
    QElapsedTimer clock;
    clock.start();
    std::thread writer([master] {
        std::vector<uint8_t> chunk(4096);
        for (size_t sent = 0; sent < kTotalBytes; sent += chunk.size()) {
            for (size_t i = 0; i < chunk.size(); ++i)
                chunk[i] = static_cast<uint8_t>((sent + i) % 251);
            if (!WriteAll(master, chunk.data(), chunk.size())) return;
        }
    });
    const bool complete = RunUntil([&] { return pane.TextLength() >= expected; }, 300'000);
    const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    const double worstMs = probe.Stop();
    const double cpu = CpuSeconds(RUSAGE_SELF) - cpuBefore;
    writer.join();
    const long peakKiB = PeakKiB();

    std::printf(
        "stamps %-3s: %s%.2f MB/s end to end (%.2f s for %zu bytes), worst 10 ms timer "
        "delay %.1f ms, CPU %.2f s\n",
        stamps ? "on" : "off", complete ? "" : "INCOMPLETE ",
        static_cast<double>(kTotalBytes) / seconds / 1e6, seconds, kTotalBytes, worstMs, cpu);
    std::printf("            peak memory %.1f bytes per byte shown (pane's own buffers %.1f)\n",
                static_cast<double>(peakKiB - baseKiB) * 1024.0 / kTotalBytes,
                static_cast<double>(pane.MemoryBytes()) / kTotalBytes);
}

void Trickle(MainWindow& window, int master) {
    window.SendCommand(MainIds::IDC_CLEAR);
    if (window.monitorReceiveTime) window.ControlAs<QCheckBox>(MainIds::IDC_MONITOR_TIME)->click();
    QApplication::processEvents();
    std::atomic<double> writerCpu{0};
    const double cpuBefore = CpuSeconds(RUSAGE_SELF);
    std::thread writer([master, &writerCpu] {
        const double start = CpuSeconds(RUSAGE_THREAD);
        timespec next{};
        clock_gettime(CLOCK_MONOTONIC, &next);
        const long stepNs = 1'000'000'000L / kTrickleRate;
        for (int i = 0; i < kTrickleRate * kTrickleSeconds; ++i) {
            next.tv_nsec += stepNs;
            if (next.tv_nsec >= 1'000'000'000L) {
                next.tv_nsec -= 1'000'000'000L;
                ++next.tv_sec;
            }
            clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
            const uint8_t byte = static_cast<uint8_t>(i);
            WriteAll(master, &byte, 1);
        }
        writerCpu = CpuSeconds(RUSAGE_THREAD) - start;
    });
    const int expected = kTrickleRate * kTrickleSeconds * 4;
    RunUntil([&] { return window.ReceivePane().TextLength() >= expected; },
             (kTrickleSeconds + 10) * 1000);
    writer.join();
    const double cpu = CpuSeconds(RUSAGE_SELF) - cpuBefore - writerCpu;
    std::printf(
        "trickle    : %d bytes/s for %d s, %d of %d bytes shown, CPU %.1f %% of a core "
        "(the line's writer thread not counted)\n",
        kTrickleRate, kTrickleSeconds, window.ReceivePane().TextLength() / 4,
        kTrickleRate * kTrickleSeconds, 100.0 * cpu / kTrickleSeconds);
}

void TimedSends(MainWindow& window, int master, int seconds) {
    window.ControlAs<QRadioButton>(MainIds::IDC_STRING_MODE)->click();
    StringPanel& panel = *window.GetStringPanel();
    panel.SetItemText(StringPanelIds::IDC_SEND_TEXT, QStringLiteral("01"));
    window.SetItemText(MainIds::IDC_INTERVAL, QString::number(kTimedIntervalMs));

    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    std::atomic<bool> stop{false};
    std::atomic<long> received{0};
    std::thread reader([&] {
        uint8_t buffer[256];
        while (!stop) {
            const ssize_t n = read(master, buffer, sizeof buffer);
            if (n > 0) received += n;
            if (n <= 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    long ticks = 0;
    QObject::connect(&window.Sender().SendTimer(), &QTimer::timeout, [&] { ++ticks; });
    QElapsedTimer clock;
    window.ControlAs<QCheckBox>(MainIds::IDC_TIMED_SEND)->click();
    clock.start();
    RunUntil([&] { return clock.elapsed() >= seconds * 1000L; }, seconds * 1000 + 5000);
    window.ControlAs<QCheckBox>(MainIds::IDC_TIMED_SEND)->click();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    stop = true;
    reader.join();
    const long ideal = seconds * 1000L / kTimedIntervalMs;
    std::printf(
        "timed sends: %ld ticks, %ld frames on the line in %d s at %d ms; ideal %ld "
        "(%.2f %% off)\n",
        ticks, received.load(), seconds, kTimedIntervalMs, ideal,
        100.0 * static_cast<double>(received.load() - ideal) / static_cast<double>(ideal));
}

// The pane cannot count a long run's bytes (it keeps only the newest), so
// the writer does: a pty holds 16 KiB, and the window reads what the writer
// has written within a few milliseconds.
void LongRun(MainWindow& window, int master, size_t totalBytes, bool stamps) {
    const size_t step = std::min<size_t>(64u << 20, totalBytes / 4);
    ReceiveEdit& pane = window.ReceivePane();
    window.SendCommand(MainIds::IDC_CLEAR);
    if (window.monitorReceiveTime != (stamps ? 1 : 0))
        window.ControlAs<QCheckBox>(MainIds::IDC_MONITOR_TIME)->click();
    QApplication::processEvents();
    std::printf(
        "long run, stamps %s: %zu MiB, the pane keeping %zu MiB of text; "
        "resident before %.1f MB\n",
        stamps ? "on" : "off", totalBytes >> 20, ReceiveEdit::textLimit >> 20,
        ResidentKiB() * 1.024e-3);
    std::printf("  received MiB  resident MB  step MB/s  pane text MB\n");
    std::atomic<size_t> written{0};
    std::thread writer([master, totalBytes, &written] {
        std::vector<uint8_t> chunk(4096);
        for (size_t sent = 0; sent < totalBytes; sent += chunk.size()) {
            for (size_t i = 0; i < chunk.size(); ++i)
                chunk[i] = static_cast<uint8_t>((sent + i) % 251);
            if (!WriteAll(master, chunk.data(), chunk.size())) return;
            written = sent + chunk.size();
        }
    });
    // The last byte's text ends the pane's text, or comes just before its stamp.
    const std::string last = FormatReceivedByte(static_cast<uint8_t>((totalBytes - 1) % 251));
    auto shownLast = [&] {
        const size_t size = pane.Buffer().Size();
        const std::u16string tail = pane.Buffer().Slice(size - std::min<size_t>(size, 32), 32);
        const size_t end = stamps ? tail.rfind(u'[') : tail.size();
        return end != std::u16string::npos && end >= last.size() &&
               std::equal(last.begin(), last.end(), tail.begin() + (end - last.size()));
    };
    std::vector<double> rates;
    size_t nextStep = step;
    QElapsedTimer clock;
    clock.start();
    qint64 stepStart = 0;
    const bool complete = RunUntil(
        [&] {
            for (const size_t done = written; nextStep <= done; nextStep += step) {
                const qint64 now = clock.nsecsElapsed();
                rates.push_back(static_cast<double>(step) * 1e3 /
                                static_cast<double>(now - stepStart));
                stepStart = now;
                std::printf("  %12.0f  %11.1f  %9.2f  %12.1f\n", nextStep / 1048576.0,
                            ResidentKiB() * 1.024e-3, rates.back(), pane.TextLength() / 1e6);
                std::fflush(stdout);
            }
            return written >= totalBytes && shownLast();
        },
        24 * 3600 * 1000);
    writer.join();
    std::printf("  %slast step %.2f MB/s, %.0f %% of the first; peak resident %.1f MB\n",
                complete ? "" : "INCOMPLETE: ", rates.back(), 100.0 * rates.back() / rates.front(),
                PeakKiB() * 1.024e-3);
}

class CountingSink final : public MessageBoxSink {
public:
    void Show(std::string_view, std::string_view, MessageIcon) override { ++count; }
    std::atomic<int> count{0};
};

// A second pty opened as COM2 and its master closed while 32 KiB are on the
// way, as when an adapter is pulled: the engine reports once, then should
// cost nothing while the window waits for the user.
void Pulled(MainWindow& window, const std::string& ports) {
    CountingSink boxes;
    MessageBoxSink* previous = InstallMessageBoxSink(&boxes);
    int master = -1, slave = -1;
    std::string path;
    if (!OpenRawPty(master, slave, path)) return;
    close(slave);
    std::filesystem::create_symlink(path, ports + "/COM2");
    OpenThroughSettings(window, 2);
    std::thread pull([master] {
        std::vector<uint8_t> chunk(32 * 1024, 0x5A);
        WriteAll(master, chunk.data(), chunk.size());
        close(master);
    });
    const bool reported = RunUntil([&] { return boxes.count > 0; }, 10'000);
    pull.join();
    const double cpuBefore = CpuSeconds(RUSAGE_SELF);
    QEventLoop loop;
    QTimer::singleShot(2000, &loop, &QEventLoop::quit);
    loop.exec();
    const double cpu = CpuSeconds(RUSAGE_SELF) - cpuBefore;
    std::printf("pulled line: %s, %d report(s); CPU over the next 2 s %.2f %% of a core\n",
                reported ? "reported" : "NOT REPORTED in 10 s", boxes.count.load(),
                100.0 * cpu / 2.0);
    InstallMessageBoxSink(previous);
}

}  // namespace

int main(int argc, char** argv) {
    const int timedSeconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
    const std::string phases = argc > 2 ? argv[2] : "tcsu";
    const size_t longRunBytes = (argc > 3 ? std::max(1L, std::atol(argv[3])) : 1024L) * (1ul << 20);
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication application(argc, argv);

    BenchLine line;
    if (!line.ok()) return 1;
    const int master = line.master;
    const ComNames& names = line.names;

    auto window = std::make_unique<MainWindow>(std::make_unique<PosixComm>(names), names);
    window->show();
    OpenThroughSettings(*window, 1);
    if (!window->receiving) {
        std::fprintf(stderr, "the window could not open the pty\n");
        return 1;
    }
    std::printf("main window, offscreen, on a pty; %u cores\n",
                std::thread::hardware_concurrency());
    const bool both = phases.find('t') != std::string::npos;
    if (both || phases.find('f') != std::string::npos) Throughput(*window, master, false);
    if (both || phases.find('n') != std::string::npos) Throughput(*window, master, true);
    if (phases.find('l') != std::string::npos) LongRun(*window, master, longRunBytes, false);
    if (phases.find('m') != std::string::npos) LongRun(*window, master, longRunBytes, true);
    if (phases.find('c') != std::string::npos) Trickle(*window, master);
    if (phases.find('s') != std::string::npos) TimedSends(*window, master, timedSeconds);
    if (phases.find('u') != std::string::npos)
        Pulled(*window, line.ports);
    window.reset();
    return 0;
}
