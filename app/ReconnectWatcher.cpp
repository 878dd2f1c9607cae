#include "app/ReconnectWatcher.h"

#include <QDir>
#include <QFileInfo>
#include <utility>

#include "serial/DeviceAccess.h"
#include "tools/MessageBox.h"
#include "ui/GbkText.h"

namespace {

// `directory`, or the nearest one above it that exists: /dev/serial/by-id
// goes away with the last adapter, and comes back inside /dev.
QString NearestDirectory(QString directory) {
    while (!QFileInfo(directory).isDir() && directory != QDir::rootPath())
        directory = QFileInfo(directory).absolutePath();
    return directory;
}

QString Local(const std::string& path) { return QString::fromLocal8Bit(path.c_str()); }

std::string_view RefusedText(DeviceAccess access) {
    switch (access) {
        case DeviceAccess::NoPermission:
            return ReconnectWatcher::NoPermissionText;
        case DeviceAccess::Busy:
            return ReconnectWatcher::BusyText;
        default:
            return ReconnectWatcher::CannotOpenText;
    }
}

}  // namespace

ReconnectWatcher::ReconnectWatcher(ComNames comNames, Reopen reopenLine, QObject* parent)
    : QObject(parent), names(std::move(comNames)), reopen(std::move(reopenLine)) {
    settle.setSingleShot(true);
    settle.setInterval(settleMs);
    retry.setSingleShot(true);
    connect(&settle, &QTimer::timeout, this, &ReconnectWatcher::Check);
    connect(&retry, &QTimer::timeout, this, &ReconnectWatcher::Check);
    connect(&watcher, &QFileSystemWatcher::directoryChanged, &settle, qOverload<>(&QTimer::start));
}

void ReconnectWatcher::Opened(int number) {
    Stop();
    portNumber = number;
    identity = IdentifyPort(names, number);
    known = identity.present;
}

void ReconnectWatcher::Forget() {
    Stop();
    known = false;
}

bool ReconnectWatcher::Lost(const std::string& report) {
    if (!known) return false;
    reportText = report;
    reportOpen = true;
    if (waiting) return true;
    waiting = true;
    seenGone = !IsSameDevice(identity, IdentifyPort(names, portNumber));
    shownText = FromUtf8(WaitingText);
    emit waitingChanged(shownText);
    Watch();
    return true;
}

void ReconnectWatcher::ReportClosed() {
    reportOpen = false;
    // Queued: the engine's report is still being handed over, and the line
    // is opened again only once that is done.
    if (waiting) QTimer::singleShot(0, this, &ReconnectWatcher::Check);
}

void ReconnectWatcher::Stop() {
    waiting = false;
    reportOpen = false;
    settle.stop();
    retry.stop();
    const QStringList watched = watcher.directories();
    if (!watched.isEmpty()) watcher.removePaths(watched);
}

void ReconnectWatcher::Watch() {
    const ComNames::Places& places = names.GetPlaces();
    QStringList wanted;
    // The number's link, the devices present, and where the device was.
    for (const std::string& directory : {places.portDirectory, places.deviceDirectory})
        if (!directory.empty()) wanted << NearestDirectory(Local(directory));
    if (!identity.path.empty())
        wanted << NearestDirectory(QFileInfo(Local(identity.path)).absolutePath());
    wanted.removeDuplicates();
    const QStringList watched = watcher.directories();
    for (const QString& directory : wanted)
        if (!watched.contains(directory)) watcher.addPath(directory);
}

void ReconnectWatcher::Check() {
    if (!waiting) return;
    // A directory that went away is no longer watched; the one above it is.
    Watch();
    const DeviceIdentity now = IdentifyPort(names, portNumber);
    if (!IsSameDevice(identity, now)) {
        seenGone = true;
        retry.stop();
        return;
    }
    // The device is back: the engine's box about the loss is over, and the
    // line opens once it has closed (ReportClosed). A device that never went
    // away but fails is tried once the user has read the box.
    if (reportOpen) {
        if (seenGone && !reportText.empty()) CloseMessageBox(std::exchange(reportText, {}));
        return;
    }
    // Opening raises DTR and RTS, and a device that refuses is only tried
    // again after a second, however often the file system wakes us.
    if (lastAttempt.isValid() && lastAttempt.elapsed() < retryMs) {
        retry.start(static_cast<int>(retryMs - lastAttempt.elapsed()));
        return;
    }
    lastAttempt.start();
    if (reopen()) {
        Stop();
        identity = now;
        return;
    }
    const QString text =
        FromUtf8(WaitingText) + FromUtf8("：") +
        FromUtf8(RefusedText(ProbeDeviceAccess(now.path, names.GetPlaces().procDirectory)));
    if (text != shownText) {
        shownText = text;
        emit waitingChanged(shownText);
    }
    retry.start(retryMs);
}
