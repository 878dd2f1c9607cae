// The window side of the serial engine, without any toolkit: the engine hands
// notifications and error boxes to its owner through this interface.
#pragma once

#include <cstdint>
#include <string>

class SerialPortOwner {
public:
    virtual ~SerialPortOwner() = default;

    // Runs on the owner's thread, inside SerialPort::DispatchNotifications
    // (or inside Open and destruction while they stop the worker). The worker
    // waits until it returns; the result of the handling is not needed.
    virtual void OnNotification(uint32_t message, uint32_t wParam, int32_t lParam) = 0;

    // Shows a modal message box with the error icon and an OK button, without
    // an owner window, and returns when it is closed. Runs on the owner's
    // thread, like OnNotification.
    virtual void OnError(const std::string& text, const std::string& caption) = 0;

    // Runs on the worker thread: asks the owner's thread to call
    // SerialPort::DispatchNotifications soon (a queued call). Must not block.
    virtual void WakeOwner() = 0;
};
