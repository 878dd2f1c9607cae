// An owner for the serial engine's tests: records notifications and error
// boxes on the test's thread, which plays the owner's thread, and pumps the
// mailbox when the worker asks for it.
#pragma once

#include "serial/SerialPort.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

struct Note {
    uint32_t message;
    uint32_t wParam;
    int32_t lParam;
    bool operator==(const Note&) const = default;
};

struct ErrorBox {
    std::string text;
    std::string caption;
};

class SerialPortTestOwner : public SerialPortOwner {
public:
    std::vector<Note> notes;
    std::vector<ErrorBox> errors;
    std::function<void(const Note&)> onNote;

    void OnNotification(uint32_t message, uint32_t wParam, int32_t lParam) override {
        notes.push_back(Note{message, wParam, lParam});
        if (onNote) onNote(notes.back());
    }

    void OnError(const std::string& text, const std::string& caption) override {
        errors.push_back(ErrorBox{text, caption});
    }

    void WakeOwner() override {
        {
            std::lock_guard<std::mutex> guard(lock);
            woken = true;
        }
        wake.notify_all();
    }

    // Waits with a bound for the worker's wake-up call, and consumes it.
    bool WaitForWake(std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> guard(lock);
        const bool got = wake.wait_for(guard, timeout, [this] { return woken; });
        woken = false;
        return got;
    }

    // Plays the owner's event loop until `done` holds or `timeout` passes.
    bool PumpUntil(SerialPort& port, const std::function<bool()>& done,
                   std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!done()) {
            if (std::chrono::steady_clock::now() >= deadline) return false;
            WaitForWake(std::chrono::milliseconds(5));
            port.DispatchNotifications();
        }
        return true;
    }

    // Plays an owner that dispatches only when the worker asks, as the window
    // does with its queued call: a wake-up lost between the two sides leaves
    // a letter waiting for ever, and this gives up after `stall` without one.
    bool PumpOnWakeOnly(SerialPort& port, const std::function<bool()>& done,
                        std::chrono::milliseconds stall = std::chrono::seconds(2)) {
        while (!done()) {
            if (!WaitForWake(stall)) return false;
            port.DispatchNotifications();
        }
        return true;
    }

    std::vector<Note> NotesOf(uint32_t message) const {
        std::vector<Note> picked;
        for (const Note& note : notes) {
            if (note.message == message) picked.push_back(note);
        }
        return picked;
    }

    std::vector<uint8_t> ReceivedBytes() const {
        std::vector<uint8_t> bytes;
        for (const Note& note : notes) {
            if (note.message == SPN_RXCHAR) bytes.push_back(static_cast<uint8_t>(note.wParam));
        }
        return bytes;
    }

private:
    std::mutex lock;
    std::condition_variable wake;
    bool woken = false;
};
