// The synchronous handoff between the serial worker and the owner's thread.
// The worker posts one letter (a notification, a run of received bytes or an
// error box), wakes the owner and waits until the owner's thread has handled
// it, so received bytes reach the owner strictly in order and error boxes are
// shown by the thread that owns the windows. A run is handed to the owner one
// notification per byte; a break (a write request, a stop) ends it between
// two bytes, and the rest counts as input never read. Both sides spin briefly
// before they sleep, while letters come back to back: at high line rates the
// next letter usually follows within microseconds; on a slow line it is a
// long way off.
#pragma once

#include "serial/SerialPortOwner.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

class NotificationMailbox {
public:
    struct Letter {
        enum class Kind { Notification, Run, Error };
        Kind kind = Kind::Notification;
        uint32_t message = 0;
        uint32_t wParam = 0;
        int32_t lParam = 0;
        std::vector<uint8_t> bytes;  // a run: `message` once per byte, the byte as wParam
        std::string text;
        std::string caption;
        // The worker has the next letter at hand (more bytes are queued):
        // the owner waits for it briefly instead of going back to its loop.
        bool moreFollows = false;
    };

    // Owner's thread, while no worker runs.
    void SetOwner(SerialPortOwner* newOwner) { owner = newOwner; }
    // Owner's thread, while no worker runs: asked after each byte of a run;
    // true drops the rest of the run.
    void SetRunBreak(std::function<bool()> ask) { runBreak = std::move(ask); }
    SerialPortOwner* Owner() const { return owner; }

    // Worker: hands the letter over and returns once it was handled. Without
    // an owner the letter is dropped.
    void Send(Letter letter);

    // Worker: hands the letter over (once the one before was handled) and
    // returns at once. The worker must call AwaitHandled before it acts on
    // anything the owner may do in the handler; until then it may only look
    // at the device or wait for events. Spares a sleep of the worker per
    // letter when the owner takes long to wake.
    void Post(Letter letter);
    // Worker: returns once the letter posted last was handled.
    void AwaitHandled();
    // Worker: the same, but gives up after `bound`; true when it was handled.
    bool AwaitHandledFor(std::chrono::microseconds bound);
    // Worker: true when no letter waits for the owner.
    bool Settled() const;

    // Owner's thread: handles the waiting letter, then keeps handling the
    // letters that follow closely, for at most `budget` in all (a run that
    // outlasts it goes on at the next call). Returns at once when no letter
    // waits, or when called from inside a handler whose letter the worker is
    // still waiting for.
    void Dispatch(std::chrono::microseconds budget);

    // Owner's thread: handles letters until `done` holds, sleeping between
    // them. A letter whose handler is still running further up this thread's
    // stack is released first, so a worker stopped from inside a handler
    // can finish.
    void DispatchUntil(const std::function<bool()>& done);

    // Any thread: makes a sleeping DispatchUntil look at its condition again.
    void Poke();

private:
    enum State : int { Empty, Posted, Taken, Handled };

    enum class Outcome { Idle, Done, Unfinished };
    Outcome HandleOne(std::chrono::steady_clock::time_point deadline);
    void HandleRun(std::chrono::steady_clock::time_point deadline, bool& unfinished);
    void WakeWorker();
    void WakeOwnerOnce();

    using Clock = std::chrono::steady_clock;

    SerialPortOwner* owner = nullptr;
    std::function<bool()> runBreak;
    Letter slot;                   // written by the worker only while Empty
    Clock::time_point slotPosted;  // likewise
    Clock::time_point lastPosted;  // owner's thread: of the letter it handled last
    Clock::time_point lastHandled;
    bool lastMoreFollows = false;
    // Owner's thread: the letter being handled, how far its run got, whether
    // it waits for the next Dispatch, and how often DispatchUntil let the
    // worker go (a handler that did so must not touch the letter again).
    Letter current;
    size_t runNext = 0;
    bool resuming = false;
    unsigned releases = 0;
    std::atomic<int> state{Empty};
    std::atomic<bool> wakePending{false};
    std::atomic<bool> ownerDispatching{false};
    std::atomic<bool> ownerSleeping{false};
    std::atomic<bool> workerSleeping{false};
    std::mutex lock;
    std::condition_variable changed;
};
