// Brings a line back by itself after its device went away (an adapter
// pulled, a hub browning out, a simulator ended): it waits for the same
// device where it would appear and opens the line again as it was. The
// waiting is woken by the file system; only a device that is back but
// refuses to open is tried again, once a second.
#pragma once

#include <QElapsedTimer>
#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>
#include <functional>
#include <string>
#include <string_view>

#include "serial/ComNames.h"
#include "serial/DeviceIdentity.h"

class ReconnectWatcher : public QObject {
    Q_OBJECT
public:
    static constexpr std::string_view WaitingText = "已断开，等待设备";
    // Beside WaitingText when the device is back but cannot be opened.
    static constexpr std::string_view NoPermissionText = "无权限";
    static constexpr std::string_view BusyText = "被占用";
    static constexpr std::string_view CannotOpenText = "无法打开";
    // Beside WaitingText when the number leads to another device now: what
    // is awaited, then OtherDeviceText.
    static constexpr std::string_view SerialNumberText = "序列号 %1";
    static constexpr std::string_view BusPlaceText = "USB 位置 %1";
    static constexpr std::string_view OtherDeviceText = "此端口号现为另一设备";
    static constexpr int retryMs = 1000;
    // File system changes come in bursts (the node, its by-id link, udev's
    // permissions): looked at once they have settled a little.
    static constexpr int settleMs = 150;

    // Opens the line again with the settings it had; true when it is open.
    using Reopen = std::function<bool()>;

    ReconnectWatcher(ComNames names, Reopen reopen, QObject* parent = nullptr);

    // The user opened `portNumber`: what it leads to now is what a loss of
    // the line waits for. Ends a wait.
    void Opened(int portNumber);
    // Nothing to wait for any more: the user chose in the settings dialog,
    // the window closes. Ends a wait.
    void Forget();
    // The engine reported the line's device gone, in a box showing `report`,
    // open until ReportClosed. False when there is no line to wait for.
    bool Lost(const std::string& report);
    void ReportClosed();

    bool Waiting() const { return waiting; }

signals:
    // Waiting starts or the reason changes: WaitingText, then after "：" why
    // the device that is back does not open.
    void waitingChanged(const QString& text);

private:
    void Check();
    // False, with the caption saying what is awaited, unless `now` is the
    // device the line had.
    bool IsBack(const DeviceIdentity& now);
    void Show(const QString& text);
    void Watch();
    void Stop();

    ComNames names;
    Reopen reopen;
    int portNumber = 0;
    bool known = false;
    DeviceIdentity identity;
    bool waiting = false;
    bool reportOpen = false;
    // The device was seen away since the loss: what is there now came back.
    bool seenGone = false;
    std::string reportText;
    QString shownText;
    QFileSystemWatcher watcher;
    QTimer settle;
    QTimer retry;
    QElapsedTimer lastAttempt;
};
