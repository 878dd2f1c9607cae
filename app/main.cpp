// Talvenor: one main window, run modally; the process ends when it closes.
#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "app/MainWindow.h"
#include "ui/QtMessageBoxSink.h"
#include "ui/ResourceLoader.h"

namespace {

// Qt aborts with a backtrace when it finds no display; say it in one line.
bool HasDisplay() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(name);
        if (value && *value) return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (!HasDisplay()) {
        std::fprintf(stderr,
                     "talvenor: no display (set DISPLAY or WAYLAND_DISPLAY, or QT_QPA_PLATFORM)\n");
        return 2;
    }
    QApplication application(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("Talvenor"));
    QApplication::setWindowIcon(LoadApplicationIcon());
    QtMessageBoxSink messageBoxes;
    InstallMessageBoxSink(&messageBoxes);

    {
        // The result of the modal run is not needed; the window goes, and its
        // serial worker with it, before the application object.
        MainWindow window;
        window.DoModal();
    }
    InstallMessageBoxSink(nullptr);
    return 0;
}
