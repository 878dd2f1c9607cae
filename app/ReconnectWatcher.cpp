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

// What the wait is for, as the caption names it.
QString Awaited(const DeviceIdentity& identity) {
    if (!identity.serialNumber.empty())
        return FromUtf8(ReconnectWatcher::SerialNumberText).arg(Local(identity.serialNumber));
    if (!identity.busPlace.empty())
        return FromUtf8(ReconnectWatcher::BusPlaceText).arg(Local(identity.busPlace));
    return Local(identity.path);
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
    seenGone = false;
    shownText.clear();
    if (IsBack(IdentifyPort(names, portNumber))) {
        Show(FromUtf8(WaitingText));
        // Back before its loss was told: nothing more will change in the
        // file system to wake the wait.
        if (seenGone) settle.start();
    }
    Watch();
    return true;
}

bool ReconnectWatcher::IsBack(const DeviceIdentity& now) {
    if (IsSameDevice(identity, now)) {
        // Under another path it went away and came back: a slave started
        // again on a linked number leads it to its new pseudo-terminal.
        if (now.path != identity.path) seenGone = true;
        return true;
    }
    seenGone = true;
    // Another device under the number (the order of devices gave it on) is
    // never opened: the caption says what the wait is for.
    QString text = FromUtf8(WaitingText);
    if (now.present)
        text += FromUtf8("：") + Awaited(identity) + FromUtf8("；") + FromUtf8(OtherDeviceText);
    Show(text);
    return false;
}

void ReconnectWatcher::Show(const QString& text) {
    if (text == shownText) return;
    shownText = text;
    emit waitingChanged(shownText);
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
    // udev links an adapter's place on the bus a moment after its node.
    if (!identity.busPlace.empty())
        wanted << NearestDirectory(Local(places.deviceDirectory + "/serial/by-path"));
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
    if (!IsBack(now)) {
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
    Show(FromUtf8(WaitingText) + FromUtf8("：") +
         FromUtf8(RefusedText(ProbeDeviceAccess(now.path, names.GetPlaces().procDirectory))));
    retry.start(retryMs);
}
