// How a run of Talvenor ends. Closing the main window ends it, and so do
// SIGINT, SIGTERM and SIGHUP, the same way, whatever menu, dialog or box is
// open over it: the window goes (its serial worker stops, the trace ends its
// open frames into the capture), then the capture writes out what it holds,
// waiting a bounded time for its file.
#pragma once

#include <QSocketNotifier>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <memory>

class LineCapture;
class MainWindow;

class SessionRun {
public:
    // From here on those signals end the run instead of the process; one
    // that comes before Run ends it as soon as the window runs. Needs the
    // application object.
    SessionRun();
    ~SessionRun();
    SessionRun(const SessionRun&) = delete;
    SessionRun& operator=(const SessionRun&) = delete;

    // Runs `window` modally until it closes or a signal comes, then ends it
    // and then `capture`, which may be null. Answers the exit status: 0, or
    // 1 after one line on `errors` when the capture failed at any time or
    // could not write out everything.
    int Run(std::unique_ptr<MainWindow> window, std::unique_ptr<LineCapture> capture,
            std::FILE* errors = stderr);

private:
    void End();

    static constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
    struct sigaction previous[std::size(kSignals)] {};
    int readEnd = -1, writeEnd = -1;
    std::unique_ptr<QSocketNotifier> notifier;
    MainWindow* running = nullptr;
    QTimer endAgain;
};
