// What the window benchmarks share: a pseudo-terminal linked as COM1 in a
// port directory of their own, opening it through the settings dialog, and
// running the event loop until a condition holds.
#pragma once

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>

#include "app/MainWindow.h"
#include "app/PortSettingsDialog.h"
#include "serial/ComNames.h"

inline bool WriteAll(int fd, const uint8_t* bytes, size_t count) {
    while (count > 0) {
        const ssize_t n = write(fd, bytes, count);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            return false;
        }
        bytes += n;
        count -= static_cast<size_t>(n);
    }
    return true;
}

// Runs the event loop until done() holds or the time is up; false on time-out.
// Looks every `everyMs`, so the looking costs the window nothing to speak of.
template <class Done>
bool RunUntil(Done done, int timeoutMs, int everyMs = 10) {
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (done() || clock.elapsed() > timeoutMs) loop.quit();
    });
    check.start(everyMs);
    loop.exec();
    return done();
}

// Opens COM`port` as the user would, through the settings dialog.
inline void OpenThroughSettings(MainWindow& window, int port) {
    QTimer::singleShot(0, &window, [port] {
        auto* dialog = qobject_cast<PortSettingsDialog*>(QApplication::activeModalWidget());
        if (!dialog) return;
        dialog->ControlAs<QComboBox>(PortSettingsIds::IDC_PORT)->setCurrentIndex(port - 1);
        dialog->SendCommand(IDOK);
    });
    window.SendCommand(MainIds::IDC_SETTINGS);
}

// A raw pseudo-terminal: its two ends and the slave side's path.
inline bool OpenRawPty(int& master, int& slave, std::string& slavePath) {
    char path[256] = {};
    if (openpty(&master, &slave, path, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return false;
    }
    termios raw{};
    tcgetattr(master, &raw);
    cfmakeraw(&raw);
    tcsetattr(master, TCSANOW, &raw);
    slavePath = path;
    return true;
}

// A raw pseudo-terminal whose slave side is COM1 of `names`; `master` is the
// far end of the line. Check ok().
struct BenchLine {
    BenchLine() {
        std::string slavePath;
        if (!OpenRawPty(master, slave, slavePath)) return;
        ports = root.path().toStdString() + "/ports";
        std::filesystem::create_directory(ports);
        std::filesystem::create_symlink(slavePath, ports + "/COM1");
        names = ComNames({ports, root.path().toStdString() + "/dev", "/nonexistent"});
    }
    ~BenchLine() {
        if (slave >= 0) close(slave);
        if (master >= 0) close(master);
    }
    BenchLine(const BenchLine&) = delete;
    BenchLine& operator=(const BenchLine&) = delete;
    bool ok() const { return master >= 0; }

    QTemporaryDir root;
    std::string ports;
    ComNames names;
    int master = -1, slave = -1;
};
