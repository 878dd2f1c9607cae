#include "app/SerialOwnerBridge.h"

#include <utility>

#include "serial/SerialPort.h"
#include "tools/MessageBox.h"

SerialOwnerBridge::SerialOwnerBridge(NotificationHandler notificationHandler, QObject* parent)
    : QObject(parent), handler(std::move(notificationHandler)) {}

void SerialOwnerBridge::OnNotification(uint32_t message, uint32_t wParam, int32_t lParam) {
    if (handler) handler(message, wParam, lParam);
}

void SerialOwnerBridge::OnError(const std::string& text, const std::string& caption) {
    // The engine marks the device lost before it reports the loss, once.
    const bool lost = serialPort && serialPort->DeviceLost();
    if (lost) emit deviceLost(text);
    ShowMessageBox(text, caption, MessageIcon::Error);
    if (lost) emit lossReportClosed();
}

void SerialOwnerBridge::WakeOwner() {
    // Queued to this object: a call still queued when it is destroyed is
    // dropped by Qt with it.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (serialPort) serialPort->DispatchNotifications();
        },
        Qt::QueuedConnection);
}
