// The serial engine's owner on the Qt event loop. The worker's wake-up
// becomes a queued call of DispatchNotifications on the user-interface
// thread; the letters it dispatches reach the window's handler there, and
// error boxes are shown there while the worker waits. No locks: the mailbox
// does the handing over.
#pragma once

#include <QObject>
#include <cstdint>
#include <functional>
#include <string>

#include "serial/SerialPortOwner.h"

class SerialPort;

class SerialOwnerBridge final : public QObject, public SerialPortOwner {
    Q_OBJECT
public:
    using NotificationHandler =
        std::function<void(uint32_t message, uint32_t wParam, int32_t lParam)>;

    explicit SerialOwnerBridge(NotificationHandler handler, QObject* parent = nullptr);

    // The engine whose notifications the queued calls dispatch; nullptr
    // while it goes away.
    void SetPort(SerialPort* port) { serialPort = port; }

    void OnNotification(uint32_t message, uint32_t wParam, int32_t lParam) override;
    // The engine's "Application Error" box, with the error icon.
    void OnError(const std::string& text, const std::string& caption) override;
    // Worker thread: posts the call and returns at once.
    void WakeOwner() override;

signals:
    // The engine reports that its device is gone; `report` is the text of the
    // box shown next, which is open until lossReportClosed.
    void deviceLost(const std::string& report);
    void lossReportClosed();

private:
    NotificationHandler handler;
    SerialPort* serialPort = nullptr;
};
