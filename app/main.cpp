// Talvenor: one main window, run modally; the process ends when it closes
// or is told to end.
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>

#include "app/CommandLine.h"
#include "app/MainWindow.h"
#include "app/SessionRun.h"
#include "serial/ComNames.h"
#include "trace/LineCapture.h"
#include "ui/DialogUnits.h"
#include "ui/QtMessageBoxSink.h"
#include "ui/ResourceLoader.h"

namespace {

// The system's menu and message font: 9 points.
constexpr int kMenuPointSize = 9;

// Qt aborts with a backtrace when it finds no display; say it in one line.
bool HasDisplay() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(name);
        if (value && *value) return true;
    }
    return false;
}

// While the application object starts: a display that is named but cannot be
// reached makes Qt abort with a backtrace; say it in one line instead. Qt's
// warnings on the way there are left out, the one line sums them up.
void DisplayFailure(QtMsgType type, const QMessageLogContext&, const QString&) {
    if (type != QtFatalMsg) return;
    std::string named;
    for (const char* name : {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value && *value) named += std::string(" ") + name + "=" + value;
    }
    std::fprintf(stderr, "talvenor: cannot open the display (%s)\n",
                 named.empty() ? "" : named.c_str() + 1);
    std::_Exit(2);
}

}  // namespace

int main(int argc, char** argv) {
    const CommandLine options(argc, argv);
    if (options.ExitStatus() >= 0) return options.ExitStatus();
    if (!HasDisplay()) {
        std::fprintf(stderr,
                     "talvenor: no display (set DISPLAY or WAYLAND_DISPLAY, or QT_QPA_PLATFORM)\n");
        return 2;
    }
    const QtMessageHandler previous = qInstallMessageHandler(DisplayFailure);
    QApplication application(argc, argv);
    qInstallMessageHandler(previous);
    // From here a signal ends the run as closing the window does.
    SessionRun run;
    // The name, never a display name: Qt appends a display name to every
    // window title (" — Talvenor"), and the titles are the windows' own.
    QApplication::setApplicationName(QStringLiteral("Talvenor"));
    QApplication::setDesktopFileName(QStringLiteral("org.talvenor.Talvenor"));
    // Menus and message boxes in the dialogs' face; the dialogs set theirs.
    QApplication::setFont(DialogUnits::TemplateFont({}, kMenuPointSize));
    QApplication::setWindowIcon(LoadApplicationIcon());
    // A user can link a COM number at once, before any simulator made it.
    const std::string portDirectory = ComNames::DefaultPortDirectory();
    if (!ComNames::EnsurePortDirectory(portDirectory))
        std::fprintf(stderr,
                     "talvenor: %s is not a private directory of yours; its COM links are "
                     "ignored\n",
                     portDirectory.c_str());
    QtMessageBoxSink messageBoxes;
    InstallMessageBoxSink(&messageBoxes);

    // Qt has taken its options: the rest must be ours. The capture outlives
    // the window and its worker.
    std::unique_ptr<LineCapture> capture;
    int status = 2;
    if (options.Finish(argc, argv, capture)) {
        // The window goes, and its serial worker with it, before the
        // application object.
        auto window = std::make_unique<MainWindow>();
        window->SetCapture(capture.get());
        window->SetListenOnly(options.ListenOnly());
        status = run.Run(std::move(window), std::move(capture));
    }
    InstallMessageBoxSink(nullptr);
    return status;
}
