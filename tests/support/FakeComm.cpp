#include "FakeComm.h"

#include "serial/LineSettings.h"

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <thread>

namespace {

thread_local int lastError = 0;

}  // namespace

// Holds the fake's lock for one call and tells waiters that something may
// have changed when the call is done.
class FakeComm::Scope {
public:
    explicit Scope(const FakeComm& fake) : owner(fake), guard(fake.lock) {}
    ~Scope() {
        guard.unlock();
        owner.changed.notify_all();
    }
    std::unique_lock<std::recursive_mutex>& Guard() { return guard; }

private:
    const FakeComm& owner;
    std::unique_lock<std::recursive_mutex> guard;
};

FakeComm::FakeComm() = default;

FakeComm::~FakeComm() = default;

bool FakeComm::Enter(std::unique_lock<std::recursive_mutex>& guard, Call call,
                     const EventHandle* table, int count) {
    if (hook) {
        auto copy = hook;
        guard.unlock();
        copy(call);
        guard.lock();
    }
    ++callCounts[call];
    // A call that blocks below would otherwise hide its entry from WaitFor.
    changed.notify_all();
    if (holdArmed && holdCall == call) {
        holdArmed = false;
        held = true;
        released = false;
        const int releaseIndex = holdReleaseIndex;
        changed.notify_all();
        changed.wait(guard, [&] {
            if (released) return true;
            if (table == nullptr || releaseIndex < 0 || releaseIndex >= count) return false;
            auto state = eventStates.find(table[releaseIndex]);
            return state != eventStates.end() && state->second;
        });
        held = false;
        released = false;
        changed.notify_all();
    }
    auto failure = failures.find(call);
    if (failure == failures.end()) return false;
    const int error = failure->second.error;
    if (!failure->second.always) failures.erase(failure);
    return Fail(error);
}

bool FakeComm::Fail(int error) {
    lastError = error;
    return true;
}

FakeComm::Device* FakeComm::Find(CommHandle device) {
    auto found = devices.find(device);
    if (found == devices.end()) {
        lastError = EBADF;
        return nullptr;
    }
    return &found->second;
}

bool FakeComm::Signal(EventHandle event) {
    auto state = eventStates.find(event);
    if (state == eventStates.end()) {
        lastError = EBADF;
        return false;
    }
    state->second = true;
    return true;
}

void FakeComm::Raise(Device& device, uint32_t eventWord) {
    const uint32_t reported = eventWord & device.mask;
    if (reported == 0) return;
    device.events |= reported;
    if (device.waitPending) Signal(device.waitCompletion);
}

// --- Set-up and injection ---

void FakeComm::FailOnce(Call call, int error) {
    Scope scope(*this);
    failures[call] = Failure{error, false};
}

void FakeComm::FailAlways(Call call, int error) {
    Scope scope(*this);
    failures[call] = Failure{error, true};
}

void FakeComm::Heal(Call call) {
    Scope scope(*this);
    failures.erase(call);
}

void FakeComm::SetCompletion(Call call, Completion completion) {
    Scope scope(*this);
    completions[call] = completion;
}

void FakeComm::RemoveDevice(const std::string& name) {
    Scope scope(*this);
    missing.insert(name);
}

void FakeComm::SetInitialState(const DCB& dcb) {
    Scope scope(*this);
    initialState = dcb;
}

void FakeComm::SetCallHook(std::function<void(Call)> newHook) {
    Scope scope(*this);
    hook = std::move(newHook);
}

void FakeComm::QueueInput(const std::vector<uint8_t>& bytes) {
    Scope scope(*this);
    for (auto& [handle, device] : devices) {
        device.input.insert(device.input.end(), bytes.begin(), bytes.end());
        Raise(device, EV_RXCHAR);
    }
}

void FakeComm::RaiseEvents(uint32_t eventWord) {
    Scope scope(*this);
    for (auto& [handle, device] : devices) Raise(device, eventWord);
}

void FakeComm::HoldAt(Call call, int releaseIndex) {
    Scope scope(*this);
    holdArmed = true;
    holdCall = call;
    holdReleaseIndex = releaseIndex;
}

bool FakeComm::WaitUntilHeld(std::chrono::milliseconds timeout) {
    std::unique_lock<std::recursive_mutex> guard(lock);
    return changed.wait_for(guard, timeout, [this] { return held && !holdArmed; });
}

void FakeComm::Release() {
    Scope scope(*this);
    if (held)
        released = true;
    else
        holdArmed = false;
}

// --- What happened ---

std::vector<std::vector<uint8_t>> FakeComm::Writes() const {
    Scope scope(*this);
    return writes;
}

std::vector<uint32_t> FakeComm::Purges() const {
    Scope scope(*this);
    return purges;
}

std::vector<std::string> FakeComm::BuildTexts() const {
    Scope scope(*this);
    return buildTexts;
}

std::vector<std::string> FakeComm::OpenedNames() const {
    Scope scope(*this);
    return openedNames;
}

int FakeComm::CallCount(Call call) const {
    Scope scope(*this);
    auto found = callCounts.find(call);
    return found == callCounts.end() ? 0 : found->second;
}

DCB FakeComm::DeviceState() const {
    Scope scope(*this);
    return lastState;
}

CommTimeouts FakeComm::DeviceTimeouts() const {
    Scope scope(*this);
    return lastTimeouts;
}

uint32_t FakeComm::DeviceMask() const {
    Scope scope(*this);
    return lastMask;
}

size_t FakeComm::InputQueued() const {
    Scope scope(*this);
    size_t queued = 0;
    for (const auto& [handle, device] : devices) queued += device.input.size();
    return queued;
}

int FakeComm::OpenDeviceCount() const {
    Scope scope(*this);
    return static_cast<int>(devices.size());
}

bool FakeComm::LowLatency() const {
    Scope scope(*this);
    return lowLatency;
}

int FakeComm::OpenEventCount() const {
    Scope scope(*this);
    return static_cast<int>(eventStates.size());
}

bool FakeComm::WaitFor(const std::function<bool(const FakeComm&)>& done,
                       std::chrono::milliseconds timeout) const {
    std::unique_lock<std::recursive_mutex> guard(lock);
    return changed.wait_for(guard, timeout, [&] { return done(*this); });
}

// --- CommLayer ---

CommHandle FakeComm::OpenDevice(const std::string& name) {
    Scope scope(*this);
    if (Enter(scope.Guard(), Call::OpenDevice)) return kNoDevice;
    if (missing.count(name) != 0) {
        lastError = ENOENT;
        return kNoDevice;
    }
    const CommHandle handle = nextDevice++;
    Device& device = devices[handle];
    device.name = name;
    device.dcb = initialState;
    if (modemLines >= 0) modemLines |= LINE_RTS | LINE_DTR;
    lastState = initialState;
    openedNames.push_back(name);
    return handle;
}

void FakeComm::CloseDevice(CommHandle device) {
    Scope scope(*this);
    Enter(scope.Guard(), Call::CloseDevice);
    devices.erase(device);
}

bool FakeComm::SetCommTimeouts(CommHandle handle, const CommTimeouts& timeouts) {
    Scope scope(*this);
    if (Enter(scope.Guard(), Call::SetCommTimeouts)) return false;
    Device* device = Find(handle);
    if (device == nullptr) return false;
    device->timeouts = timeouts;
    lastTimeouts = timeouts;
    return true;
}

bool FakeComm::SetCommMask(CommHandle handle, uint32_t eventMask) {
    Scope scope(*this);
    if (Enter(scope.Guard(), Call::SetCommMask)) return false;
    Device* device = Find(handle);
    if (device == nullptr) return false;
    device->mask = eventMask;
    lastMask = eventMask;
    return true;
}

bool FakeComm::GetCommState(CommHandle handle, DCB& dcb) {
    Scope scope(*this);
    if (Enter(scope.Guard(), Call::GetCommState)) return false;
    Device* device = Find(handle);
    if (device == nullptr) return false;
    dcb = device->dcb;
    return true;
}

bool FakeComm::BuildCommDCB(const std::string& text, DCB& dcb) {
    Scope scope(*this);
    buildTexts.push_back(text);
    if (Enter(scope.Guard(), Call::BuildCommDCB)) return false;
    // The system layer's own parser, so that the fake accepts and refuses
    // the same texts.
    if (int error = LineSettings::ParseLineText(text, dcb)) return !Fail(error);
    return true;
}

bool FakeComm::SetCommState(CommHandle handle, const DCB& dcb) {
    Scope scope(*this);
    if (Enter(scope.Guard(), Call::SetCommState)) return false;
    Device* device = Find(handle);
    if (device == nullptr) return false;
    if (modemLines >= 0 && dcb.rtsControl != device->dcb.rtsControl) {
        if (hasRs485 && rs485.enabled)
            ++rtsWhileRs485;
        else
            modemLines = dcb.rtsControl == RTS_CONTROL_ENABLE ? modemLines | LINE_RTS
                                                              : modemLines & ~LINE_RTS;
    }
    device->dcb = dcb;
    lastState = dcb;
    return true;
}

bool FakeComm::PurgeComm(CommHandle handle, uint32_t actions) {
    Scope scope(*this);
    purges.push_back(actions);
    if (Enter(scope.Guard(), Call::PurgeComm)) return false;
    Device* device = Find(handle);
    if (device == nullptr) return false;
    if (actions & (PURGE_RXCLEAR | PURGE_RXABORT)) {
        device->input.clear();
        device->readPending = false;
    }
    if (actions & (PURGE_TXCLEAR | PURGE_TXABORT)) device->writePending = false;
    return true;
}

IoResult FakeComm::WaitCommEvent(CommHandle handle, EventHandle completion, uint32_t& eventWord) {
    Scope scope(*this);
    if (Enter(scope.Guard(), Call::WaitCommEvent)) return IoResult::Failed;
    Device* device = Find(handle);
    if (device == nullptr) return IoResult::Failed;
    // One wait per device, as the platform has it; the completion of the
    // outstanding one is left alone.
    if (device->waitPending) {
        Fail(EINVAL);
        return IoResult::Failed;
    }
    eventStates[completion] = false;
    if (device->events != 0 && completions[Call::WaitCommEvent] == Completion::AtOnce) {
        eventWord = device->events;
        device->events = 0;
        Signal(completion);
        return IoResult::Done;
    }
    device->waitPending = true;
    device->waitCompletion = completion;
    if (device->events != 0) Signal(completion);
    return IoResult::Pending;
}

uint32_t FakeComm::TakeCommEvents(CommHandle handle) {
    Scope scope(*this);
    Enter(scope.Guard(), Call::TakeCommEvents);
    Device* device = Find(handle);
    if (device == nullptr) return 0;
    const uint32_t word = device->events;
    device->events = 0;
    device->waitPending = false;
    return word;
}

bool FakeComm::ClearCommError(CommHandle handle, CommStatus& status) {
    Scope scope(*this);
    if (Enter(scope.Guard(), Call::ClearCommError)) return false;
    Device* device = Find(handle);
    if (device == nullptr) return false;
    status = CommStatus{};
    status.inQueue = static_cast<uint32_t>(device->input.size());
    return true;
}

void FakeComm::SetModemLines(int lines) {
    std::lock_guard guard(lock);
    modemLines = lines;
}

bool FakeComm::GetModemLines(CommHandle handle, uint8_t& lines) {
    Scope scope(*this);
    lines = 0;
    if (Enter(scope.Guard(), Call::GetModemLines)) return false;
    if (Find(handle) == nullptr) return false;
    if (modemLines < 0) return !Fail(ENOTTY);
    lines = static_cast<uint8_t>(modemLines);
    return true;
}

bool FakeComm::SetLowLatency(CommHandle handle, bool on, bool& wasOn) {
    Scope scope(*this);
    if (Enter(scope.Guard(), Call::SetLowLatency)) return false;
    if (Find(handle) == nullptr) return false;
    wasOn = lowLatency;
    lowLatency = on;
    return true;
}

void FakeComm::SetRs485(const Rs485Settings& settings) {
    std::lock_guard guard(lock);
    hasRs485 = true;
    rs485 = settings;
}

void FakeComm::SetLineCounters(const LineCounters& now) {
    std::lock_guard guard(lock);
    hasCounters = true;
    counters = now;
}

int FakeComm::ModemLines() const {
    Scope scope(*this);
    return modemLines;
}

Rs485Settings FakeComm::Rs485() const {
    Scope scope(*this);
    return rs485;
}

int FakeComm::RtsWhileRs485() const {
    Scope scope(*this);
    return rtsWhileRs485;
}

bool FakeComm::GetRs485(CommHandle handle, Rs485Settings& settings) {
    Scope scope(*this);
    if (Enter(scope.Guard(), Call::GetRs485)) return false;
    if (Find(handle) == nullptr) return false;
    if (!hasRs485) return !Fail(ENOTTY);
    settings = rs485;
    return true;
}

bool FakeComm::SetRs485(CommHandle handle, Rs485Settings& settings) {
    Scope scope(*this);
    if (Enter(scope.Guard(), Call::SetRs485)) return false;
    if (Find(handle) == nullptr) return false;
    if (!hasRs485) return !Fail(ENOTTY);
    // Like most UART drivers: a delay beyond 100 ms is cut to 100 ms.
    settings.delayBeforeSendMs = std::min<uint32_t>(settings.delayBeforeSendMs, 100);
    settings.delayAfterSendMs = std::min<uint32_t>(settings.delayAfterSendMs, 100);
    rs485 = settings;
    return true;
}

bool FakeComm::SetControlLine(CommHandle handle, uint8_t line, bool on) {
    Scope scope(*this);
    if (Enter(scope.Guard(), Call::SetControlLine)) return false;
    if (Find(handle) == nullptr) return false;
    if (modemLines < 0) return !Fail(ENOTTY);
    if (line == LINE_RTS && hasRs485 && rs485.enabled) {
        ++rtsWhileRs485;
        return !Fail(EBUSY);
    }
    modemLines = on ? modemLines | line : modemLines & ~line;
    return true;
}

bool FakeComm::SetBreak(CommHandle handle, bool /*on*/) {
    Scope scope(*this);
    if (Enter(scope.Guard(), Call::SetBreak)) return false;
    return Find(handle) != nullptr;
}

bool FakeComm::GetLineCounters(CommHandle handle, LineCounters& now) {
    Scope scope(*this);
    if (Enter(scope.Guard(), Call::GetLineCounters)) return false;
    if (Find(handle) == nullptr) return false;
    if (!hasCounters) return !Fail(ENOTTY);
    now = counters;
    return true;
}

IoResult FakeComm::ReadByte(CommHandle handle, uint8_t& byte) {
    Scope scope(*this);
    if (Enter(scope.Guard(), Call::ReadByte)) return IoResult::Failed;
    Device* device = Find(handle);
    if (device == nullptr) return IoResult::Failed;
    if (device->input.empty()) {
        device->readPending = false;
        return IoResult::Pending;
    }
    const uint8_t next = device->input.front();
    device->input.pop_front();
    if (completions[Call::ReadByte] == Completion::Pending) {
        device->readPending = true;
        device->pendingByte = next;
        return IoResult::Pending;
    }
    byte = next;
    return IoResult::Done;
}

bool FakeComm::WaitReadResult(CommHandle handle, uint8_t& byte) {
    Scope scope(*this);
    const bool failed = Enter(scope.Guard(), Call::WaitReadResult);
    Device* device = Find(handle);
    if (device == nullptr) return false;
    // A failed completion loses the byte, as a failed transfer would.
    const bool had = device->readPending;
    device->readPending = false;
    if (failed) return false;
    if (!had) return !Fail(ETIMEDOUT);
    byte = device->pendingByte;
    return true;
}

IoResult FakeComm::Write(CommHandle handle, const uint8_t* bytes, uint32_t length,
                         uint32_t& written) {
    Scope scope(*this);
    if (Enter(scope.Guard(), Call::Write)) return IoResult::Failed;
    Device* device = Find(handle);
    if (device == nullptr) return IoResult::Failed;
    writes.emplace_back(bytes, bytes + length);
    if (completions[Call::Write] != Completion::AtOnce) {
        device->writePending = true;
        device->pendingLength = length;
        return IoResult::Pending;
    }
    written = length;
    return IoResult::Done;
}

bool FakeComm::WaitWriteResult(CommHandle handle, uint32_t& written, EventHandle abort) {
    Scope scope(*this);
    if (Enter(scope.Guard(), Call::WaitWriteResult)) return false;
    Device* device = Find(handle);
    if (device == nullptr) return false;
    if (device->writePending && completions[Call::Write] == Completion::Never) {
        changed.wait(scope.Guard(), [&] {
            auto state = eventStates.find(abort);
            return state != eventStates.end() && state->second;
        });
        device->writePending = false;
        written = 0;
        return !Fail(ECANCELED);
    }
    written = device->writePending ? device->pendingLength : 0;
    device->writePending = false;
    return true;
}

int FakeComm::LastError() { return lastError; }

std::string FakeComm::ErrorText(int error) {
    Scope scope(*this);
    auto text = errorTexts.find(error);
    if (text != errorTexts.end()) return text->second;
    return std::generic_category().message(error);
}

void FakeComm::SetErrorText(int error, const std::string& text) {
    Scope scope(*this);
    errorTexts[error] = text;
}

EventHandle FakeComm::CreateEvent() {
    Scope scope(*this);
    if (Enter(scope.Guard(), Call::CreateEvent)) return kNoEvent;
    const EventHandle event = nextEvent++;
    eventStates[event] = false;
    return event;
}

void FakeComm::CloseEvent(EventHandle event) {
    Scope scope(*this);
    Enter(scope.Guard(), Call::CloseEvent);
    eventStates.erase(event);
}

bool FakeComm::SetEvent(EventHandle event) {
    Scope scope(*this);
    if (Enter(scope.Guard(), Call::SetEvent)) return false;
    return Signal(event);
}

bool FakeComm::ResetEvent(EventHandle event) {
    Scope scope(*this);
    if (Enter(scope.Guard(), Call::ResetEvent)) return false;
    auto state = eventStates.find(event);
    if (state == eventStates.end()) return !Fail(EBADF);
    state->second = false;
    return true;
}

int FakeComm::WaitForAny(const EventHandle* table, int count) {
    Scope scope(*this);
    if (Enter(scope.Guard(), Call::WaitForAny, table, count)) return -1;
    int answer = -1;
    changed.wait(scope.Guard(), [&] {
        for (int index = 0; index < count; ++index) {
            auto state = eventStates.find(table[index]);
            if (state == eventStates.end() || state->second) {
                answer = index;
                return true;
            }
        }
        return false;
    });
    if (eventStates.find(table[answer]) == eventStates.end()) {
        lastError = EBADF;
        return -1;
    }
    return answer;
}

std::unique_ptr<std::thread> FakeComm::StartThread(std::function<void()> body) {
    {
        Scope scope(*this);
        if (Enter(scope.Guard(), Call::StartThread)) return nullptr;
    }
    return std::make_unique<std::thread>(std::move(body));
}
