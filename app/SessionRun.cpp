#include "app/SessionRun.h"

#include <QApplication>
#include <QDialog>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <iterator>
#include <string>

#include "app/MainWindow.h"
#include "serial/SystemError.h"
#include "trace/LineCapture.h"

namespace {

// While a signal's end is under way, what opens over the window meanwhile
// (a box shown by the code a cancelled dialog returned to) is closed too.
constexpr int kEndAgainMs = 20;

volatile sig_atomic_t signalPipe = -1;

// All a handler may safely do: a byte into the pipe, which a notifier on the
// UI thread reads. A full pipe has a wake-up waiting already.
void OnSignal(int) {
    const int saved = errno;
    const char byte = 0;
    if (write(signalPipe, &byte, 1) < 0) {
    }
    errno = saved;
}

}  // namespace

SessionRun::SessionRun() {
    endAgain.setInterval(kEndAgainMs);
    QObject::connect(&endAgain, &QTimer::timeout, [this] { End(); });
    int ends[2];
    // Without a pipe the signals end the process at once, as they would.
    if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return;
    readEnd = ends[0];
    writeEnd = ends[1];
    signalPipe = writeEnd;
    notifier = std::make_unique<QSocketNotifier>(readEnd, QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, [this] {
        char bytes[16];
        while (read(readEnd, bytes, sizeof bytes) > 0) {
        }
        End();
        endAgain.start();
    });
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < std::size(kSignals); ++i) {
        sigaction(kSignals[i], nullptr, &previous[i]);
        // Ignored when we started (nohup ignores SIGHUP): stays ignored.
        if (previous[i].sa_handler != SIG_IGN) sigaction(kSignals[i], &action, nullptr);
    }
}

SessionRun::~SessionRun() {
    if (readEnd < 0) return;
    for (size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &previous[i], nullptr);
    signalPipe = -1;
    notifier.reset();
    close(readEnd);
    close(writeEnd);
}

// Cancels what runs over the window, the innermost first (a nested run
// returns to its caller only once those above it have): open menus, which
// run loops of their own (QMenu::exec returns nothing chosen), then modal
// dialogs and boxes. Then closes the window as its close box does.
void SessionRun::End() {
    if (!running) return;
    while (QWidget* popup = QApplication::activePopupWidget()) {
        popup->close();
        if (QApplication::activePopupWidget() == popup) break;
    }
    while (QWidget* modal = QApplication::activeModalWidget()) {
        auto* dialog = qobject_cast<QDialog*>(modal);
        if (modal == running || !dialog) break;
        dialog->done(QDialog::Rejected);
        if (QApplication::activeModalWidget() == modal) break;
    }
    running->close();
}

int SessionRun::Run(std::unique_ptr<MainWindow> window, std::unique_ptr<LineCapture> capture,
                    std::FILE* errors) {
    running = window.get();
    window->DoModal();
    // The window's end may serve events (its worker's last notifications);
    // a signal then finds nothing to close. The handlers stay while the
    // capture finishes: a second Ctrl+C cannot cut that short.
    running = nullptr;
    endAgain.stop();
    window.reset();
    if (!capture) return 0;

    const LineCapture::Outcome outcome = capture->Finish();
    if (outcome.Whole()) return 0;
    const std::string reason =
        outcome.error != 0
            ? SystemErrorText(outcome.error)
            : "it took nothing for " +
                  std::to_string(LineCapture::kFinishBound.count() / 1000) + " s";
    if (outcome.lostBytes > 0)
        std::fprintf(errors, "talvenor: the capture %s lost %llu bytes of the line: %s\n",
                     capture->Path().c_str(), static_cast<unsigned long long>(outcome.lostBytes),
                     reason.c_str());
    else
        std::fprintf(errors, "talvenor: the capture %s failed: %s\n", capture->Path().c_str(),
                     reason.c_str());
    std::fflush(errors);
    return 1;
}
