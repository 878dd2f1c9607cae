// The receive pane under a line monitor's load: 4 MB of received bytes
// appended to the real pane in the main window's place, one append per byte
// and one per stamp, as the main window writes them, with the pane shown and
// painting. Prints the cost per byte at the start and at the end, the worst
// lateness of a 10 ms timer while appending, the time of the stamp removal
// and the memory per byte shown. Figures only; nothing is asserted.
#include <unistd.h>
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "app/ReceiveEdit.h"
#include "resources/ResourceIds.h"
#include "tools/ReceiveText.h"
#include "ui/Dialog.h"

namespace {

constexpr size_t kTotalBytes = 4u << 20;
// Bytes measured at the start and at the end of a run.
constexpr size_t kWindowBytes = 256u << 10;
// Bytes per turn of the event loop: a burst as the line delivers it.
constexpr size_t kBurst = 512;

size_t ResidentBytes() {
    std::ifstream statm("/proc/self/statm");
    size_t pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

// Times each event delivered, to name the slowest one.
class TimingApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        QElapsedTimer timer;
        timer.start();
        const int type = event->type();
        const QString name = receiver->metaObject()->className();
        const bool result = QApplication::notify(receiver, event);
        const double ms = timer.nsecsElapsed() / 1e6;
        if (ms > slowestMs) {
            slowestMs = ms;
            slowest = QStringLiteral("%1 to %2").arg(type).arg(name);
        }
        return result;
    }
    double slowestMs = 0;
    QString slowest;
};

struct RunFigures {
    double startNsPerByte = 0;
    double endNsPerByte = 0;
    double worstTimerLateMs = 0;
    double worstBurstMs = 0;  // the longest burst of appends, the pane's own stall
    double worstFrameMs = 0;  // the longest turn of the event loop between bursts
    double paneBytesPerByte = 0;
    double residentBytesPerByte = 0;
    double totalSeconds = 0;
};

// Appends kTotalBytes to pane in bursts from the event loop, the way the
// serial engine's notifications arrive, with a 10 ms timer running beside.
RunFigures Append(ReceiveEdit& pane, bool stamps) {
    RunFigures figures;
    const size_t residentBefore = ResidentBytes();
    QElapsedTimer clock;
    QElapsedTimer window;
    qint64 lastTick = -1;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(10);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (lastTick >= 0)
            figures.worstTimerLateMs =
                std::max(figures.worstTimerLateMs, (now - lastTick) / 1e6 - 10.0);
        lastTick = now;
    });
    size_t sent = 0;
    qint64 lastBurstEnd = -1;
    QEventLoop loop;
    QTimer feeder;
    feeder.setInterval(0);
    QObject::connect(&feeder, &QTimer::timeout, [&] {
        if (sent == 0) window.start();
        QElapsedTimer burst;
        burst.start();
        if (lastBurstEnd >= 0)
            figures.worstFrameMs =
                std::max(figures.worstFrameMs, (clock.nsecsElapsed() - lastBurstEnd) / 1e6);
        for (size_t i = 0; i < kBurst && sent < kTotalBytes; ++i, ++sent) {
            pane.AppendText(FormatReceivedByte(static_cast<uint8_t>(sent * 131 + 7)));
            if (stamps) pane.AppendText(FormatReceiveStamp(static_cast<uint32_t>(sent * 7 % 1500)));
        }
        figures.worstBurstMs = std::max(figures.worstBurstMs, burst.nsecsElapsed() / 1e6);
        lastBurstEnd = clock.nsecsElapsed();
        // Each window counts everything between its first and last byte:
        // the appends, the frames painted meanwhile, the event loop.
        if (sent == kWindowBytes)
            figures.startNsPerByte = window.nsecsElapsed() / double(kWindowBytes);
        if (sent == kTotalBytes - kWindowBytes) window.restart();
        if (sent == kTotalBytes) {
            figures.endNsPerByte = window.nsecsElapsed() / double(kWindowBytes);
            feeder.stop();
            loop.quit();
        }
    });
    clock.start();
    probe.start();
    feeder.start();
    loop.exec();
    probe.stop();
    pane.UpdateNow();
    QCoreApplication::processEvents();
    figures.totalSeconds = clock.nsecsElapsed() / 1e9;
    figures.paneBytesPerByte = pane.MemoryBytes() / double(kTotalBytes);
    figures.residentBytesPerByte = (ResidentBytes() - residentBefore) / double(kTotalBytes);
    return figures;
}

void Print(const char* name, const RunFigures& f) {
    std::printf("%s:\n", name);
    std::printf("  cost per byte, first %zu KiB: %.0f ns\n", kWindowBytes >> 10, f.startNsPerByte);
    std::printf("  cost per byte, last %zu KiB:  %.0f ns (%.2f x the start)\n", kWindowBytes >> 10,
                f.endNsPerByte, f.endNsPerByte / f.startNsPerByte);
    std::printf("  worst lateness of a 10 ms timer: %.1f ms\n", f.worstTimerLateMs);
    std::printf(
        "  longest burst of %zu bytes: %.2f ms; longest gap between bursts (frames, timers): %.2f "
        "ms\n",
        kBurst, f.worstBurstMs, f.worstFrameMs);
    std::printf("  memory per byte shown: %.1f bytes in the pane, %.1f bytes resident growth\n",
                f.paneBytesPerByte, f.residentBytesPerByte);
    std::printf("  4 MiB appended in %.2f s\n", f.totalSeconds);
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    TimingApplication app(argc, argv);
    std::printf("receive pane, %zu MiB of received bytes, bursts of %zu bytes, platform %s\n",
                kTotalBytes >> 20, kBurst, qPrintable(QGuiApplication::platformName()));
    for (bool stamps : {false, true}) {
        Dialog main(IDD_MAIN);
        auto* pane = new ReceiveEdit;
        main.SubclassControl(MainIds::IDC_RECEIVE, pane);
        main.show();
        QCoreApplication::processEvents();
        const RunFigures figures = Append(*pane, stamps);
        Print(stamps ? "stamps on" : "stamps off", figures);
        std::printf("  slowest event: %.2f ms, %s\n", app.slowestMs, qPrintable(app.slowest));
        app.slowestMs = 0;
        if (stamps) {
            const size_t before = pane->TextLength();
            QElapsedTimer removal;
            removal.start();
            pane->RemoveStamps();
            pane->UpdateNow();
            QCoreApplication::processEvents();
            std::printf("stamp removal over %zu characters (%zu MiB of bytes): %.0f ms, %d left\n",
                        before, kTotalBytes >> 20, removal.nsecsElapsed() / 1e6,
                        pane->TextLength());
        }
    }
    return 0;
}
