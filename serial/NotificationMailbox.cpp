#include "serial/NotificationMailbox.h"

#include <algorithm>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;

// How long either side spins for the other before it sleeps. Long enough to
// cover the owner handling one byte, short enough to cost nothing visible
// when bytes trickle in at a slow line rate.
constexpr auto kSpin = std::chrono::microseconds(50);

inline void Relax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

// Spins until `ready` holds or kSpin has passed; reads the clock only now and
// then, since reading it costs more than a look at an atomic.
template <typename Ready>
bool SpinFor(Ready ready, Clock::time_point until) {
    for (unsigned round = 0;; ++round) {
        if (ready()) return true;
        if ((round & 63) == 63 && Clock::now() >= until) return false;
        Relax();
    }
}

}  // namespace

void NotificationMailbox::Send(Letter letter) {
    Post(std::move(letter));
    AwaitHandled();
}

bool NotificationMailbox::Settled() const {
    const int now = state.load();
    return now == Empty || now == Handled;
}

void NotificationMailbox::Post(Letter letter) {
    if (owner == nullptr) return;
    AwaitHandled();
    slot = std::move(letter);
    slotPosted = Clock::now();
    state.store(Posted);
    WakeOwnerOnce();
    // An owner that is not asleep sees the letter when it next looks; one
    // that is cannot miss this notify, as it checks the state under the lock.
    if (ownerSleeping.load()) {
        { std::lock_guard<std::mutex> guard(lock); }
        changed.notify_all();
    }
}

void NotificationMailbox::AwaitHandled() {
    if (state.load() == Empty) return;
    // Spinning pays only while the owner's thread is dispatching already;
    // otherwise it first has to be woken through its event loop.
    auto handled = [this] { return state.load() == Handled; };
    if (!(ownerDispatching.load() && SpinFor(handled, Clock::now() + kSpin))) {
        std::unique_lock<std::mutex> guard(lock);
        workerSleeping.store(true);
        changed.wait(guard, handled);
        workerSleeping.store(false);
    }
    state.store(Empty);
}

bool NotificationMailbox::AwaitHandledFor(std::chrono::microseconds bound) {
    if (state.load() == Empty) return true;
    auto handled = [this] { return state.load() == Handled; };
    const auto until = Clock::now() + bound;
    if (!(ownerDispatching.load() && SpinFor(handled, std::min(until, Clock::now() + kSpin)))) {
        std::unique_lock<std::mutex> guard(lock);
        workerSleeping.store(true);
        const bool done = changed.wait_until(guard, until, handled);
        workerSleeping.store(false);
        if (!done) return false;
    }
    state.store(Empty);
    return true;
}

void NotificationMailbox::WakeOwnerOnce() {
    // One queued wake-up covers every letter until the owner's thread starts
    // dispatching: Dispatch clears the flag before it looks for letters.
    if (!wakePending.exchange(true)) owner->WakeOwner();
}

void NotificationMailbox::WakeWorker() {
    if (workerSleeping.load()) {
        { std::lock_guard<std::mutex> guard(lock); }
        changed.notify_all();
    }
}

NotificationMailbox::Outcome NotificationMailbox::HandleOne(Clock::time_point deadline) {
    if (!resuming) {
        int expected = Posted;
        if (!state.compare_exchange_strong(expected, Taken)) return Outcome::Idle;
        current = std::move(slot);
        runNext = 0;
        lastPosted = slotPosted;
        lastMoreFollows = current.moreFollows;
    }
    resuming = false;

    // The worker must get its answer even if a handler throws; and when a
    // nested stop already released this letter, the state belongs to the
    // next one and is left alone. A run cut short by the budget is kept.
    struct Finish {
        NotificationMailbox* box;
        bool unfinished = false;
        ~Finish() {
            if (unfinished) return;
            int taken = Taken;
            if (box->state.compare_exchange_strong(taken, Handled)) box->WakeWorker();
        }
    } finish{this};

    switch (current.kind) {
        case Letter::Kind::Error:
            owner->OnError(current.text, current.caption);
            break;
        case Letter::Kind::Notification:
            owner->OnNotification(current.message, current.wParam, current.lParam);
            break;
        case Letter::Kind::Run:
            HandleRun(deadline, finish.unfinished);
            break;
    }
    return finish.unfinished ? Outcome::Unfinished : Outcome::Done;
}

void NotificationMailbox::HandleRun(Clock::time_point deadline, bool& unfinished) {
    const uint32_t message = current.message;
    const int32_t lParam = current.lParam;
    const unsigned released = releases;
    while (runNext < current.bytes.size()) {
        const uint8_t byte = current.bytes[runNext++];
        owner->OnNotification(message, byte, lParam);
        // A stop from inside the handler let the worker go: the letter is
        // no longer this loop's to touch.
        if (releases != released) return;
        if (runBreak && runBreak()) return;
        // The clock is read now and then only: it costs more than a byte.
        if ((runNext & 15) == 0 && runNext < current.bytes.size() && Clock::now() >= deadline) {
            resuming = unfinished = true;
            return;
        }
    }
}

void NotificationMailbox::Dispatch(std::chrono::microseconds budget) {
    if (owner == nullptr) return;
    wakePending.store(false);
    const auto deadline = Clock::now() + budget;
    auto posted = [this] { return state.load() == Posted; };
    ownerDispatching.store(true);
    while (HandleOne(deadline) == Outcome::Done) {
        const auto now = Clock::now();
        // Spin for the next letter only when the worker has it at hand, or
        // when this one followed the previous at once; otherwise the next is
        // as far off and the spin is wasted.
        const bool backToBack = lastMoreFollows || lastPosted - lastHandled <= kSpin;
        lastHandled = now;
        if (now >= deadline || !backToBack) break;
        if (!SpinFor(posted, std::min(now + kSpin, deadline))) break;
    }
    ownerDispatching.store(false);
    // A letter or the rest of a run left for the next turn needs a wake-up
    // of its own: this call may have used up the one the worker asked for.
    if (resuming || state.load() == Posted) WakeOwnerOnce();
}

void NotificationMailbox::DispatchUntil(const std::function<bool()>& done) {
    // The letter being handled further up this thread's stack, or a run left
    // for the next Dispatch, is let go: the worker is on its way out.
    ++releases;
    resuming = false;
    int taken = Taken;
    if (state.compare_exchange_strong(taken, Handled)) WakeWorker();

    for (;;) {
        while (HandleOne(Clock::time_point::max()) == Outcome::Done) {
        }
        if (done()) return;
        std::unique_lock<std::mutex> guard(lock);
        ownerSleeping.store(true);
        changed.wait(guard, [&] { return state.load() == Posted || done(); });
        ownerSleeping.store(false);
    }
}

void NotificationMailbox::Poke() {
    { std::lock_guard<std::mutex> guard(lock); }
    changed.notify_all();
}
