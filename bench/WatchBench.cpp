// The watch window's cost: 100 rows of mixed formats polled every 100 ms at
// 115200 baud from talvenor-sim (its own process, not counted), the window
// offscreen. CPU of the whole window process (the UI thread, the serial
// worker, the line's trace) against the wall clock: the table alone, then
// with ten of the rows on the trend plot and every poll logged as CSV.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QApplication>
#include <QComboBox>
#include <QTemporaryDir>
#include <cstdio>
#include <filesystem>
#include <string>

#include "ProcessFigures.h"
#include "WindowBench.h"
#include "app/PortSettingsDialog.h"
#include "app/TrendPlot.h"
#include "app/WatchWindow.h"
#include "serial/PosixComm.h"

namespace {

constexpr int kRows = 100;
constexpr int kIntervalMs = 100;
constexpr int kSeconds = 20;

// talvenor-sim linked as COM1 in `ports`; false when it did not come up.
struct Simulator {
    explicit Simulator(const std::string& ports) {
        int out[2];
        if (pipe(out) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        const std::string program = TALVENOR_SIM_PATH;
        std::string args[] = {program, "--com", "1", "--period", "100", "--port-dir", ports};
        char* argv[] = {args[0].data(), args[1].data(), args[2].data(), args[3].data(),
                        args[4].data(), args[5].data(), args[6].data(), nullptr};
        const int rc = posix_spawn(&child, program.c_str(), &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        if (rc != 0) child = -1;
        char c = 0;  // its first line: the link is there
        while (child > 0 && read(out[0], &c, 1) == 1 && c != '\n') {
        }
        close(out[0]);
    }
    ~Simulator() {
        if (child <= 0) return;
        kill(child, SIGINT);
        waitpid(child, nullptr, 0);
    }
    pid_t child = -1;
};

std::vector<WatchRow> Rows() {
    constexpr RegisterFormat formats[] = {RegisterFormat::U16,   RegisterFormat::S16,
                                          RegisterFormat::Hex16, RegisterFormat::F32,
                                          RegisterFormat::S32,   RegisterFormat::Binary16};
    std::vector<WatchRow> rows;
    for (int i = 0; i < kRows; ++i) {
        WatchRow row;
        row.function = i < kRows / 2 ? 3 : 4;  // two reads of about 50 registers each
        row.address = (i % (kRows / 2)) * 2 % 98;
        row.format.format = formats[i % 6];
        row.format.order = static_cast<WordOrder>(i % 4);
        row.format.scale = i % 3 == 0 ? 0.1 : 1.0;
        row.plotted = false;
        rows.push_back(row);
    }
    return rows;
}

// The whole process, and its UI thread alone (the serial worker and the
// line's trace are the rest).
void Measure(WatchWindow& watch, const char* what) {
    const uint64_t before = watch.Poller().Totals().replies;
    const double cpu = CpuSeconds(), ui = CpuSeconds(RUSAGE_THREAD);
    QElapsedTimer clock;
    clock.start();
    RunUntil([] { return false; }, kSeconds * 1000, 100);
    const double seconds = clock.elapsed() / 1000.0, used = CpuSeconds() - cpu;
    const double usedUi = CpuSeconds(RUSAGE_THREAD) - ui;
    std::printf(
        "%-44s: %5.2f %% of one core, UI thread %5.2f %% (%.2f s CPU in %.1f s, %llu replies)\n",
        what, 100.0 * used / seconds, 100.0 * usedUi / seconds, used, seconds,
        static_cast<unsigned long long>(watch.Poller().Totals().replies - before));
}

}  // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication application(argc, argv);
    QTemporaryDir root;
    const std::string ports = root.path().toStdString() + "/ports";
    std::filesystem::create_directory(ports);
    Simulator sim(ports);
    if (sim.child <= 0) {
        std::fprintf(stderr, "talvenor-sim did not start\n");
        return 1;
    }
    const ComNames names({ports, ports, ports});
    MainWindow window(std::make_unique<PosixComm>(names), names);
    window.show();
    QTimer::singleShot(0, &window, [] {
        auto* dialog = qobject_cast<PortSettingsDialog*>(QApplication::activeModalWidget());
        if (!dialog) return;
        dialog->ControlAs<QComboBox>(PortSettingsIds::IDC_PORT)->setCurrentIndex(0);
        auto* baud = dialog->ControlAs<QComboBox>(PortSettingsIds::IDC_BAUD);
        baud->setCurrentIndex(baud->findText(QStringLiteral("115200")));
        dialog->SendCommand(IDOK);
    });
    window.SendCommand(MainIds::IDC_SETTINGS);
    WatchWindow& watch = window.ShowWatch();
    watch.SetRows(Rows());
    watch.StartPolling(kIntervalMs);
    if (!RunUntil([&] { return watch.Poller().Totals().replies >= 4; }, 10000)) {
        std::fprintf(stderr, "no replies from the simulator\n");
        return 1;
    }
    std::printf("%d rows every %d ms at 115200 baud, %zu reads a poll, %d s each:\n", kRows,
                kIntervalMs, PollPlan::PlanReads(watch.Poller().Points()).size(), kSeconds);
    Measure(watch, "table");
    window.SendCommand(MainIds::IDC_PAUSE);
    Measure(watch, "table, main window's receive pane paused");
    window.SendCommand(MainIds::IDC_PAUSE);

    std::vector<WatchRow> rows = watch.Rows();
    for (int i = 0; i < kRows; i += kRows / 10) rows[static_cast<size_t>(i)].plotted = true;
    watch.SetRows(rows);
    watch.Plot().show();
    QString error;
    if (!watch.StartLog(root.filePath("watch.csv"), error)) {
        std::fprintf(stderr, "cannot log: %s\n", qPrintable(error));
        return 1;
    }
    Measure(watch, "table, 10 curves plotted, CSV log");
    watch.StopPolling();
    return 0;
}
