#include "serial/SerialPort.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <utility>

namespace {

constexpr uint32_t kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
constexpr uint32_t kTimeoutMs = 1000;
constexpr const char* kErrorCaption = "Application Error";

// How long one DispatchNotifications keeps the owner's thread before it goes
// back to its event loop.
constexpr auto kDispatchBudget = std::chrono::microseconds(2000);

// The most bytes handed over as one run.
constexpr uint32_t kRunLimit = 4096;

// While the owner takes a run, the worker looks at the device this often, so
// that what comes meanwhile is stamped no later than this.
constexpr auto kLookEvery = std::chrono::microseconds(200);

// Reading the control lines may be a request to a USB adapter, so they are
// not read for each record: a record carries the last reading, which is
// renewed once it is this old, or after the device reported a change.
constexpr auto kModemLinesAge = std::chrono::milliseconds(100);
constexpr uint32_t kModemLineEvents = EV_CTS | EV_DSR | EV_RLSD | EV_RING;
// What a tapped line waits for besides the owner's events: the tap is told
// of each as it comes; the owner only of those in its own mask.
constexpr uint32_t kTappedEvents = kModemLineEvents | EV_BREAK | EV_ERR;

// The write buffer grows to fit each request; what an open sets aside up
// front stays bounded even when the size given is absurd (a typed -1).
constexpr uint32_t kInitialBufferLimit = 64 * 1024;

// The line events that become notifications, in the order they are sent.
// EV_RXCHAR comes after them all and runs the read routine instead.
struct EventNotification {
    uint32_t eventBit;
    uint32_t message;
};
constexpr EventNotification kEventTable[] = {
    {EV_CTS, SPN_CTS},        {EV_RXFLAG, SPN_RXFLAG}, {EV_BREAK, SPN_BREAK},
    {EV_ERR, SPN_LINE_ERROR}, {EV_RING, SPN_RING},
};

}  // namespace

SerialPort::SerialPort(std::unique_ptr<CommLayer> commLayer) : comm(std::move(commLayer)) {
    // A write waiting or a stop ends a run between two bytes: the write goes
    // out before the next byte is handed over.
    mailbox.SetRunBreak([this] { return stopping.load() || WritePending(); });
}

SerialPort::~SerialPort() {
    StopWorker();
    std::lock_guard<std::recursive_mutex> guard(portLock);
    CloseDevice();
    CloseEvents(events);
}

std::string SerialPort::LineParameterText(uint32_t baudRate, char parityLetter, uint32_t dataBits,
                                          uint32_t stopBits) {
    char text[64];
    std::snprintf(text, sizeof text, "baud=%u parity=%c data=%u stop=%u", baudRate, parityLetter,
                  dataBits, stopBits);
    return text;
}

std::string SerialPort::ErrorMessage(const std::string& operation, int error) const {
    // Composed without a length limit: a long system text is shown whole.
    return "WARNING:  " + operation + " Failed with the following error: \n" +
           comm->ErrorText(error) + "\nPort: " + std::to_string(settings.portNumber) + "\n";
}

void SerialPort::ReportError(const char* operation, int error, bool onWorker) {
    std::string text = ErrorMessage(operation, error);
    if (onWorker) {
        NotificationMailbox::Letter letter;
        letter.kind = NotificationMailbox::Letter::Kind::Error;
        letter.text = std::move(text);
        letter.caption = kErrorCaption;
        mailbox.Send(std::move(letter));
    } else if (SerialPortOwner* owner = mailbox.Owner()) {
        owner->OnError(text, kErrorCaption);
    }
}

void SerialPort::CloseEvents(EventHandle (&table)[3]) {
    for (EventHandle& event : table) {
        if (event != kNoEvent) comm->CloseEvent(event);
        event = kNoEvent;
    }
}

bool SerialPort::Open(SerialPortOwner* owner, int32_t portNumber, uint32_t baudRate,
                      char parityLetter, uint32_t dataBits, uint32_t stopBits, uint32_t eventMask,
                      uint32_t writeBufferSize) {
    StopWorker();

    // The old events are closed only after the old device: until then a
    // pending wait on the device may still signal its completion event.
    EventHandle oldEvents[3] = {events[kShutdown], events[kComm], events[kWrite]};
    events[kComm] = comm->CreateEvent();
    events[kWrite] = comm->CreateEvent();
    events[kShutdown] = comm->CreateEvent();

    // Opened again with new settings, the line stays this session's: what
    // comes between the close and the purge below crossed it. A line opened
    // afresh may hold what its previous user left; the purge takes that.
    const bool sameLine = device != kNoDevice && settings.portNumber == portNumber;

    mailbox.SetOwner(owner);
    {
        std::lock_guard<std::mutex> guard(requestLock);
        std::vector<uint8_t>().swap(request);
        request.reserve(std::min(writeBufferSize, kInitialBufferLimit));
        requestPending.store(false);
        bufferAllocated = true;
    }
    settings.portNumber = portNumber;
    settings.writeBufferSize = writeBufferSize;
    settings.eventMask = eventMask;

    const std::string name = "COM" + std::to_string(portNumber);
    const std::string lineText = LineParameterText(baudRate, parityLetter, dataBits, stopBits);

    std::lock_guard<std::recursive_mutex> guard(portLock);
    LineTap* const lineTap = tap.load();
    CloseDevice();
    CloseEvents(oldEvents);
    deviceLost.store(false);

    for (EventHandle event : events) {
        if (event == kNoEvent) {
            ReportError("CreateEvent()", comm->LastError(), false);
            return false;
        }
    }

    device = comm->OpenDevice(name);
    if (device == kNoDevice) return false;
    modemLinesKnown = false;
    SetUpLines();
    // Bytes handed over at once keep their times close to the wire's; a
    // device without the mode opens all the same.
    bool wasOn = false;
    lowLatencySet = comm->SetLowLatency(device, true, wasOn) && !wasOn;

    timeouts.readIntervalTimeout = kTimeoutMs;
    timeouts.readTotalTimeoutMultiplier = kTimeoutMs;
    timeouts.readTotalTimeoutConstant = kTimeoutMs;
    timeouts.writeTotalTimeoutMultiplier = kTimeoutMs;
    timeouts.writeTotalTimeoutConstant = kTimeoutMs;

    // The record keeps what the device was asked for, step by step, so a
    // failure leaves in it what had been settled up to that call.
    const char* failed = nullptr;
    if (!comm->SetCommTimeouts(device, timeouts)) {
        failed = "SetCommTimeouts()";
    } else if (!comm->SetCommMask(device, eventMask | (lineTap ? kTappedEvents : 0))) {
        failed = "SetCommMask()";
    } else {
        DCB state = settings.dcb;
        if (!comm->GetCommState(device, state)) {
            failed = "GetCommState()";
        } else {
            // RTS stays as SetUpLines left it where the driver's RS-485 mode
            // or the listener's rule holds it; else the line holds it on.
            const bool rtsHeld =
                rs485State.settings.enabled || (userLines & LINE_RTS) || listenOnly.load();
            if (!rtsHeld) state.rtsControl = RTS_CONTROL_ENABLE;
            settings.dcb = state;
            if (!comm->BuildCommDCB(lineText, state)) {
                failed = "BuildCommDCB()";
            } else {
                settings.dcb = state;
                if (!comm->SetCommState(device, settings.dcb)) failed = "SetCommState()";
            }
        }
    }
    if (failed != nullptr) ReportError(failed, comm->LastError(), false);

    if (lineTap && sameLine) TapUnread(*lineTap);
    comm->PurgeComm(device, kPurgeAll);
    if (lineTap) lineTap->LineOpened(settings.dcb);
    return true;
}

void SerialPort::SetTap(LineTap* lineTap) {
    if (lineTap && device != kNoDevice) {
        std::lock_guard<std::recursive_mutex> guard(portLock);
        comm->SetCommMask(device, settings.eventMask | kTappedEvents);
        lineTap->LineOpened(settings.dcb);
    }
    tap.store(lineTap);
}

bool SerialPort::StartWorker() {
    if (worker || device == kNoDevice) return false;
    stopping.store(false);
    // Set here as well as by the worker, so that a stop right after the start
    // waits for the worker instead of finding the flag not yet set.
    running.store(true);
    worker = comm->StartThread([this] { WorkerLoop(); });
    if (!worker) {
        running.store(false);
        return false;
    }
    return true;
}

void SerialPort::StopWorker() {
    if (!worker) return;
    stopping.store(true);
    comm->SetEvent(events[kShutdown]);
    // The worker may be waiting for this thread to handle a notification:
    // keep handling them until it has left its loop.
    mailbox.DispatchUntil([this] { return !running.load(); });
    if (worker->joinable()) worker->join();
    worker.reset();
    stopping.store(false);
}

bool SerialPort::RequestWrite(const uint8_t* bytes, uint32_t length) {
    // Nothing would ever write a request without an open device, or to a
    // device that stopped answering: refused, so that nothing is lost unseen.
    // A listener never drives the line.
    if ((bytes == nullptr && length > 0) || device == kNoDevice || deviceLost.load() ||
        listenOnly.load())
        return false;
    {
        std::lock_guard<std::mutex> guard(requestLock);
        if (!bufferAllocated) return false;
        request.assign(bytes, bytes + length);
        requestPending.store(true);
    }
    comm->SetEvent(events[kWrite]);
    return true;
}

void SerialPort::DispatchNotifications() { mailbox.Dispatch(kDispatchBudget); }

void SerialPort::Notify(uint32_t message, uint32_t wParam) {
    NotificationMailbox::Letter letter;
    letter.message = message;
    letter.wParam = wParam;
    letter.lParam = settings.portNumber;
    mailbox.Send(std::move(letter));
}

void SerialPort::PostRun(std::vector<uint8_t> bytes, bool moreFollows) {
    NotificationMailbox::Letter letter;
    letter.kind = NotificationMailbox::Letter::Kind::Run;
    letter.message = SPN_RXCHAR;
    letter.lParam = settings.portNumber;
    letter.bytes = std::move(bytes);
    letter.moreFollows = moreFollows;
    mailbox.Post(std::move(letter));
}

bool SerialPort::QueryInput(uint32_t& inQueue) {
    int error = 0;
    if (QueryQuietly(inQueue, error)) return true;
    ReportLoss(error);
    return false;
}

bool SerialPort::QueryQuietly(uint32_t& inQueue, int& error) {
    CommStatus status;
    std::lock_guard<std::recursive_mutex> guard(portLock);
    const bool ok = comm->ClearCommError(device, status);
    if (!ok) error = comm->LastError();
    inQueue = ok ? status.inQueue : 0;
    return ok;
}

void SerialPort::ReportLoss(int error) {
    // A device that no longer answers would fail every later call too:
    // report once and leave it alone until it is opened again. It is closed
    // before the report: the kernel keeps a USB adapter's name while the
    // port is open, so one that comes back meanwhile would come back under
    // another name. The settings stay for the next open.
    deviceLost.store(true);
    {
        std::lock_guard<std::recursive_mutex> guard(portLock);
        comm->CloseDevice(device);
    }
    ReportError("ClearCommError()", error, true);
}

void SerialPort::CloseDevice() {
    if (device == kNoDevice) return;
    // A lost device was closed when its loss was reported.
    if (!deviceLost.load()) {
        if (LineTap* lineTap = tap.load()) TapUnread(*lineTap);
        // The modes the device had before go back with it.
        bool wasOn = false;
        if (lowLatencySet) comm->SetLowLatency(device, false, wasOn);
        if (rs485Changed) comm->SetRs485(device, rs485Original);
        comm->CloseDevice(device);
    }
    lowLatencySet = false;
    rs485Changed = false;
    device = kNoDevice;
}

void SerialPort::SetUpLines() {
    rs485State = Rs485State{};
    rs485State.known = comm->GetRs485(device, rs485State.settings);
    if (!rs485State.known) rs485State.error = comm->LastError();
    rs485Original = rs485State.settings;
    int error = 0;
    if (rs485State.known && rs485Wanted) SetRs485(rs485Wish, error);
    // The kernel raised RTS and DTR at the open (with a non-zero speed); a
    // listener takes them down before anything else happens on the line.
    for (const uint8_t line : {LINE_RTS, LINE_DTR}) {
        if (line == LINE_RTS && rs485State.settings.enabled) continue;
        if (userLines & line)
            comm->SetControlLine(device, line, (userLinesOn & line) != 0);
        else if (listenOnly.load())
            comm->SetControlLine(device, line, false);
    }
    countersAtOpen = LineCounters{};
    comm->GetLineCounters(device, countersAtOpen);
    countersTapped = countersAtOpen;
}

void SerialPort::SetListenOnly(bool on) {
    listenOnly.store(on);
    std::lock_guard<std::recursive_mutex> guard(portLock);
    if (!on || device == kNoDevice || deviceLost.load()) return;
    {
        // A request taken before the switch is not written after it.
        std::lock_guard<std::mutex> requestGuard(requestLock);
        requestPending.store(false);
    }
    for (const uint8_t line : {LINE_RTS, LINE_DTR}) {
        if ((userLines & line) || (line == LINE_RTS && rs485State.settings.enabled)) continue;
        comm->SetControlLine(device, line, false);
        if (line == LINE_RTS) settings.dcb.rtsControl = RTS_CONTROL_DISABLE;
    }
    modemLinesKnown = false;
}

bool SerialPort::GetModemLines(uint8_t& lines, int& error) {
    std::lock_guard<std::recursive_mutex> guard(portLock);
    if (device == kNoDevice || deviceLost.load()) return (error = EBADF), false;
    if (comm->GetModemLines(device, lines)) return true;
    error = comm->LastError();
    return false;
}

bool SerialPort::SetControlLine(uint8_t line, bool on, int& error) {
    if (line != LINE_RTS && line != LINE_DTR) return (error = EINVAL), false;
    std::lock_guard<std::recursive_mutex> guard(portLock);
    if (line == LINE_RTS && rs485State.settings.enabled) return (error = EBUSY), false;
    userLines |= line;
    userLinesOn = on ? userLinesOn | line : userLinesOn & ~line;
    if (device == kNoDevice || deviceLost.load()) return (error = EBADF), false;
    if (!comm->SetControlLine(device, line, on)) {
        error = comm->LastError();
        return false;
    }
    if (line == LINE_RTS) settings.dcb.rtsControl = on ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
    modemLinesKnown = false;
    return true;
}

bool SerialPort::SetBreak(bool on, int& error) {
    std::lock_guard<std::recursive_mutex> guard(portLock);
    if (device == kNoDevice || deviceLost.load()) return (error = EBADF), false;
    if (comm->SetBreak(device, on)) return true;
    error = comm->LastError();
    return false;
}

bool SerialPort::GetLineCounters(LineCounters& counters, int& error) {
    std::lock_guard<std::recursive_mutex> guard(portLock);
    if (device == kNoDevice || deviceLost.load()) return (error = EBADF), false;
    LineCounters now;
    if (!comm->GetLineCounters(device, now)) {
        error = comm->LastError();
        return false;
    }
    counters = LineCounters::Between(countersAtOpen, now);
    return true;
}

bool SerialPort::SetRs485(const Rs485Settings& wanted, int& error) {
    std::lock_guard<std::recursive_mutex> guard(portLock);
    rs485Wanted = true;
    rs485Wish = wanted;
    if (device == kNoDevice || deviceLost.load()) return (error = EBADF), false;
    Rs485Settings applied = wanted;
    const bool set = comm->SetRs485(device, applied);
    if (!set) error = comm->LastError();
    rs485Changed = rs485Changed || set;
    // What the driver holds now, whatever became of the request.
    Rs485Settings now;
    if (comm->GetRs485(device, now)) {
        rs485State.known = true;
        rs485State.error = 0;
        rs485State.settings = now;
    } else if (set) {
        rs485State.settings = applied;
    }
    return set;
}

void SerialPort::WorkerLoop() {
    running.store(true);
    RefreshModemLines();
    if (device != kNoDevice) {
        std::lock_guard<std::recursive_mutex> guard(portLock);
        // What arrived since the open's purge came with the line set up.
        if (LineTap* lineTap = tap.load()) TapUnread(*lineTap);
        comm->PurgeComm(device, kPurgeAll);
    }

    // An event wait that went pending stays outstanding until the comm event
    // fires, also across writes; issuing another meanwhile is what the
    // platform answers with "invalid parameter", which is passed over.
    bool waitOutstanding = false;
    for (;;) {
        // Where the worker is about to wait anyway, off the path from a
        // wake-up's stamp to its bytes.
        RefreshModemLines();
        uint32_t eventWord = 0;
        bool completedAtOnce = false;
        while (!waitOutstanding && !deviceLost && !stopping.load()) {
            IoResult result;
            int error = 0;
            {
                std::lock_guard<std::recursive_mutex> guard(portLock);
                result = comm->WaitCommEvent(device, events[kComm], eventWord);
                if (result == IoResult::Failed) error = comm->LastError();
            }
            if (result == IoResult::Done) {
                uint32_t inQueue = 0;
                const bool answered = QueryInput(inQueue);
                if (answered && inQueue == 0) {
                    LineTap* const lineTap = tap.load();
                    if (lineTap && (eventWord & kTappedEvents))
                        TapLineEvents(*lineTap, lineTap->Now());
                    continue;
                }
                completedAtOnce = answered;
            } else if (result == IoResult::Pending) {
                waitOutstanding = true;
            } else if (error != EINVAL) {
                ReportError("WaitCommEvent()", error, true);
            }
            break;
        }

        const int signalled = comm->WaitForAny(events, 3);
        // Bytes found now came at about this time, however long the owner
        // takes with the run before them.
        LineTap* const lineTap = tap.load();
        const LineStamp woken = lineTap ? lineTap->Now() : LineStamp{};
        // For the tap they are taken now, and what comes while the owner
        // takes the run before is taken as it comes: no stamp waits for the
        // owner. They reach the owner in order all the same.
        std::vector<uint8_t> early;
        const bool taking =
            signalled == kComm && lineTap && !deviceLost && (settings.eventMask & EV_RXCHAR) != 0;
        if (taking) TakeInput(early, *lineTap, woken);
        // Whatever woke the worker, the byte it handed over last is handled
        // first: the owner's handler may request a write or stop the worker.
        if (taking)
            AwaitOwnerTaking(early, *lineTap);
        else
            mailbox.AwaitHandled();
        switch (signalled) {
            case kShutdown:
                workerExitCode.store(kWorkerExitCode);
                running.store(false);
                mailbox.Poke();
                return;
            case kComm: {
                // The next event wait resets the event too, but it is not issued
                // for a lost device: left signalled, it would spin this loop.
                comm->ResetEvent(events[kComm]);
                if (!completedAtOnce) {
                    eventWord = waitOutstanding ? comm->TakeCommEvents(device) : 0;
                    waitOutstanding = false;
                }
                if (eventWord & kModemLineEvents) modemLinesKnown = false;
                if (lineTap && !deviceLost && (eventWord & kTappedEvents))
                    TapLineEvents(*lineTap, woken);
                const bool writeWaiting = WritePending();
                if (!deviceLost) DispatchEvents(eventWord, woken, early);
                // The comm event wins every wait while bytes keep coming: a
                // request that was waiting, or that the read routine gave way
                // to, goes out now, or it could wait for a pause in the line
                // that never comes. One made while the last byte is still
                // with the owner waits for the next wake-up.
                if (!stopping.load() && (writeWaiting || mailbox.Settled()) && WritePending()) {
                    mailbox.AwaitHandled();
                    WriteRoutine();
                }
                break;
            }
            case kWrite:
                WriteRoutine();
                break;
            default:
                break;
        }
    }
}

void SerialPort::DispatchEvents(uint32_t eventWord, const LineStamp& woken,
                                std::vector<uint8_t>& early) {
    for (const EventNotification& entry : kEventTable) {
        if (eventWord & entry.eventBit & settings.eventMask) Notify(entry.message, 0);
    }
    if ((eventWord & EV_RXCHAR) || !early.empty()) ReadRoutine(woken, early);
}

void SerialPort::TakeInput(std::vector<uint8_t>& bytes, LineTap& lineTap, const LineStamp& found) {
    // A failure is left to the read routine, which reports it in order.
    const size_t before = bytes.size();
    uint32_t inQueue = 0;
    int error = 0;
    while (bytes.size() < kRunLimit && QueryQuietly(inQueue, error) && inQueue > 0) {
        uint8_t byte = 0;
        {
            std::lock_guard<std::recursive_mutex> guard(portLock);
            const IoResult result = comm->ReadByte(device, byte);
            if (result == IoResult::Failed ||
                (result == IoResult::Pending && !comm->WaitReadResult(device, byte)))
                break;
        }
        bytes.push_back(byte);
    }
    if (bytes.size() > before)
        lineTap.Received(found, lineTap.Now(), modemLines,
                         std::span<const uint8_t>(bytes).subspan(before), false);
}

void SerialPort::AwaitOwnerTaking(std::vector<uint8_t>& early, LineTap& lineTap) {
    while (!mailbox.AwaitHandledFor(kLookEvery)) {
        // What comes once a write or a stop is asked for is the purge's or
        // the close's, which tap it themselves.
        // The comm layer may answer a first look from its last read of the
        // device: an empty answer is asked once more.
        uint32_t inQueue = 0;
        int error = 0;
        if (stopping.load() || WritePending() || early.size() >= kRunLimit ||
            !QueryQuietly(inQueue, error) || (inQueue == 0 && !QueryQuietly(inQueue, error))) {
            mailbox.AwaitHandled();
            return;
        }
        if (inQueue > 0) TakeInput(early, lineTap, lineTap.Now());
    }
}

void SerialPort::TapLineEvents(LineTap& lineTap, const LineStamp& at) {
    LineCounters now;
    if (device == kNoDevice || deviceLost || !comm->GetLineCounters(device, now)) return;
    const LineCounters moved = LineCounters::Between(countersTapped, now);
    countersTapped = now;
    modemLinesKnown = false;
    RefreshModemLines();
    const struct {
        LineEvent event;
        uint32_t count;
    } counted[] = {
        {LineEvent::ModemLines, moved.cts + moved.dsr + moved.dcd + moved.rng},
        {LineEvent::Framing, moved.frame},
        {LineEvent::Parity, moved.parity},
        {LineEvent::Break, moved.brk},
    };
    for (const auto& entry : counted)
        if (entry.count > 0) lineTap.LineChanged(at, entry.event, modemLines, entry.count);
}

void SerialPort::RefreshModemLines() {
    if (!tap.load() || device == kNoDevice || deviceLost) return;
    const auto now = std::chrono::steady_clock::now();
    if (modemLinesKnown && now - modemLinesRead < kModemLinesAge) return;
    uint8_t lines = 0;
    modemLines = comm->GetModemLines(device, lines) ? lines : 0;
    modemLinesKnown = true;
    modemLinesRead = now;
}

void SerialPort::ReadRoutine(const LineStamp& woken, std::vector<uint8_t>& early) {
    LineTap* const lineTap = tap.load();
    uint32_t inQueue = 0;
    int queryError = 0;
    bool answered = QueryQuietly(inQueue, queryError);
    // Bytes taken early were told to the tap; what came after them was
    // found just now.
    LineStamp first = early.empty() ? woken : lineTap ? lineTap->Now() : LineStamp{};
    if (early.empty() && (!answered || inQueue == 0)) {
        if (!answered) ReportLoss(queryError);
        return;
    }
    // The runs after the first were waiting while the owner handled the one
    // before: together they are one stretch of the line.
    bool continues = false;
    for (;;) {
        // What the device holds is taken as one run, so that the owner's
        // thread is not woken once per byte; it still gets the bytes one
        // notification each and may break in between (see SetRunBreak).
        std::vector<uint8_t> run;
        run.swap(early);
        const size_t told = run.size();
        run.reserve(std::min<size_t>(told + inQueue, kRunLimit));
        const char* failed = nullptr;
        int error = 0;
        while (answered && inQueue > 0 && run.size() < kRunLimit) {
            // Input left with the device when a write or a stop comes is
            // not the owner's: the tap reads it before the purge or the close.
            if (!run.empty() && (stopping.load() || WritePending())) break;
            uint8_t byte = 0;
            {
                std::lock_guard<std::recursive_mutex> guard(portLock);
                const IoResult result = comm->ReadByte(device, byte);
                if (result == IoResult::Pending) {
                    if (!comm->WaitReadResult(device, byte))
                        failed = "GetOverlappedResults() in ReadFile()";
                } else if (result == IoResult::Failed) {
                    failed = "ReadFile()";
                }
                if (failed != nullptr) error = comm->LastError();
            }
            // A failed read received nothing, so there is no byte to hand on.
            if (failed != nullptr) break;
            run.push_back(byte);
            answered = QueryQuietly(inQueue, queryError);
        }
        // The status is looked at before the run goes out, so that the owner
        // knows whether to wait for more, but a failure is reported after it,
        // in the order things happened. The worker waits for the handling
        // only before the next run, or once it wakes again.
        if (lineTap && run.size() > told)
            lineTap->Received(first, lineTap->Now(), modemLines,
                              std::span<const uint8_t>(run).subspan(told), continues);
        continues = true;
        if (!run.empty()) PostRun(std::move(run), failed == nullptr && answered && inQueue > 0);
        if (failed != nullptr) {
            ReportError(failed, error, true);
            if (!QueryInput(inQueue) || inQueue == 0) return;
            answered = true;
        } else {
            if (!answered) ReportLoss(queryError);
            if (!answered || inQueue == 0) return;
        }
        // Found waiting now, before the owner's hand-over: stamped now.
        first = lineTap ? lineTap->Now() : LineStamp{};
        // While the owner takes the run, before the next one is read.
        RefreshModemLines();
        mailbox.AwaitHandled();
        // A stop ends the drain; the close or the next open takes the rest.
        // A write request ends it too: the write's purge discards the rest.
        if (stopping.load() || WritePending()) return;
    }
}

// A purge or a close discards what arrived and was not read (a reply cut
// short by a send, late bytes); it crossed the line, so the tap reads it
// first. The owner is not told: the purge would have taken it.
void SerialPort::TapUnread(LineTap& lineTap) {
    CommStatus status;
    if (!comm->ClearCommError(device, status) || status.inQueue == 0) return;
    const LineStamp first = lineTap.Now();
    std::vector<uint8_t> unread;
    unread.reserve(status.inQueue);
    uint8_t byte = 0;
    while (unread.size() < status.inQueue && comm->ReadByte(device, byte) == IoResult::Done)
        unread.push_back(byte);
    if (!unread.empty()) lineTap.Received(first, lineTap.Now(), modemLines, unread, false);
}

bool SerialPort::WritePending() { return requestPending.load(); }

void SerialPort::WriteRoutine() {
    comm->ResetEvent(events[kWrite]);
    {
        std::lock_guard<std::mutex> guard(requestLock);
        // A request signalled twice before the worker woke is written once.
        if (!requestPending.load()) return;
        requestPending.store(false);
        outgoing.swap(request);
    }
    if (deviceLost) return;

    const char* failed = nullptr;
    int error = 0;
    {
        std::lock_guard<std::recursive_mutex> guard(portLock);
        LineTap* const lineTap = tap.load();
        if (lineTap) TapUnread(*lineTap);
        comm->PurgeComm(device, kPurgeAll);
        const LineStamp started = lineTap ? lineTap->Now() : LineStamp{};
        uint32_t written = 0;
        const IoResult result =
            comm->Write(device, outgoing.data(), static_cast<uint32_t>(outgoing.size()), written);
        // Recorded whole once the write has started, also when its completion
        // fails later: what the line took of it cannot be told apart.
        if (lineTap && result != IoResult::Failed) lineTap->Sent(started, modemLines, outgoing);
        if (result == IoResult::Pending) {
            // A stop must not wait for a line that takes no bytes (a stalled
            // far end, flow control): it cuts the write short.
            if (!comm->WaitWriteResult(device, written, events[kShutdown])) {
                error = comm->LastError();
                if (error == ECANCELED) {
                    // Dropped whole, so that closing the device does not
                    // wait for the driver to drain it; nothing to report.
                    comm->PurgeComm(device, PURGE_TXABORT | PURGE_TXCLEAR);
                } else {
                    failed = "GetOverlappedResults() in WriteFile()";
                }
            }
        } else if (result == IoResult::Failed) {
            failed = "WriteFile()";
            error = comm->LastError();
        }
    }
    if (failed != nullptr) ReportError(failed, error, true);
}
