// What waiting for a lost line's device costs the real main window,
// offscreen: the CPU share of the process over 10 s with the line open and
// idle, then over 10 s waiting after the pty behind COM3 went away, and how
// long the line takes to open again once a new pty is linked to COM3.
//
//   reconnect_bench [seconds per phase, default 10]
#include <pty.h>
#include <unistd.h>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/MainWindow.h"
#include "app/PortSettingsDialog.h"
#include "serial/PosixComm.h"
#include "tools/MessageBox.h"

#include "bench/ProcessFigures.h"
#include "bench/WindowBench.h"

namespace {

// The engine's box about the loss, closed at once as a user would.
class QuietSink final : public MessageBoxSink {
public:
    void Show(std::string_view, std::string_view, MessageIcon) override { ++shown; }
    int shown = 0;
};

// The share of one core the process used while the event loop ran `seconds`.
double CpuShare(int seconds) {
    const double before = CpuSeconds();
    QElapsedTimer clock;
    clock.start();
    // Looking four times a second, so that the looking is not what is measured.
    RunUntil([] { return false; }, seconds * 1000, 250);
    return (CpuSeconds() - before) / (static_cast<double>(clock.nsecsElapsed()) / 1e9);
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication application(argc, argv);
    QuietSink sink;
    InstallMessageBoxSink(&sink);

    int master = -1, slave = -1;
    char slavePath[256] = {};
    if (openpty(&master, &slave, slavePath, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return 1;
    }
    close(slave);
    QTemporaryDir root;
    const std::string ports = (root.path() + "/ports").toStdString();
    std::filesystem::create_directory(ports);
    std::filesystem::create_symlink(slavePath, ports + "/COM3");
    // The real /dev and sysfs: the waiting watches what it would watch in use.
    const ComNames names(ComNames::Places{ports});
    auto window = std::make_unique<MainWindow>(std::make_unique<PosixComm>(names), names);
    window->show();
    OpenThroughSettings(*window, 3);
    const QString open = window->windowTitle();
    std::printf("main window, offscreen, COM3 on a pty: %s\n", qPrintable(open));

    std::printf("line open, idle:        %.3f %% of a core over %d s\n", 100 * CpuShare(seconds),
                seconds);

    close(master);
    std::filesystem::remove(ports + "/COM3");
    if (!RunUntil([&] { return window->windowTitle() != open; }, 10'000, 250)) {
        std::printf("the loss was not seen\n");
        return 1;
    }
    std::printf("waiting for the device: %.3f %% of a core over %d s (%s, %d box)\n",
                100 * CpuShare(seconds), seconds, qPrintable(window->windowTitle()), sink.shown);

    if (openpty(&master, &slave, slavePath, nullptr, nullptr) != 0) return 1;
    close(slave);
    QElapsedTimer back;
    back.start();
    std::filesystem::create_symlink(slavePath, ports + "/COM3");
    const bool reopened = RunUntil([&] { return window->windowTitle() == open; }, 10'000, 250);
    std::printf("linked again: %s after %lld ms\n", reopened ? "open" : "NOT OPEN",
                static_cast<long long>(back.elapsed()));
    window.reset();
    close(master);
    InstallMessageBoxSink(nullptr);
    return reopened ? 0 : 1;
}
