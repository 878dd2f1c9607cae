// A comm layer without a device, for driving the serial engine through every
// path: any call can fail once or always with a chosen error number, received
// bytes and line events are raised by hand, event waits, reads and writes
// complete at once or go pending, writes and purges are recorded, and a
// thread can be held on entry to a chosen call so that races play out in a
// fixed order.
#pragma once

#include "serial/CommLayer.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

class FakeComm : public CommLayer {
public:
    enum class Call {
        OpenDevice,
        CloseDevice,
        SetCommTimeouts,
        SetCommMask,
        GetCommState,
        BuildCommDCB,
        SetCommState,
        PurgeComm,
        WaitCommEvent,
        TakeCommEvents,
        ClearCommError,
        GetModemLines,
        SetLowLatency,
        GetRs485,
        SetRs485,
        SetControlLine,
        SetBreak,
        GetLineCounters,
        ReadByte,
        WaitReadResult,
        Write,
        WaitWriteResult,
        CreateEvent,
        CloseEvent,
        SetEvent,
        ResetEvent,
        WaitForAny,
        StartThread,
    };
    // Never: a write the line does not take (a far end that reads nothing);
    // its completion wait ends only when aborted.
    enum class Completion { AtOnce, Pending, Never };

    FakeComm();
    ~FakeComm() override;

    // --- Set-up and injection (any thread) ---
    void FailOnce(Call call, int error);
    void FailAlways(Call call, int error);
    void Heal(Call call);
    // WaitCommEvent, ReadByte and Write may complete at once or go pending;
    // a write may also never complete.
    void SetCompletion(Call call, Completion completion);
    // Names OpenDevice refuses with ENOENT; every other "COM<n>" exists.
    void RemoveDevice(const std::string& name);
    // The state a freshly opened device reports.
    void SetInitialState(const DCB& dcb);
    // The control lines GetModemLines answers; -1 (the default): it fails
    // with ENOTTY, as on a pseudo-terminal.
    void SetModemLines(int lines);
    // The RS-485 mode and counts the device answers; until set, ENOTTY as on a USB adapter.
    void SetRs485(const Rs485Settings& settings);
    void SetLineCounters(const LineCounters& counters);
    // The system text ErrorText answers for `error`.
    void SetErrorText(int error, const std::string& text);
    // Called on entry to every call, before the fake locks anything.
    void SetCallHook(std::function<void(Call)> hook);

    // --- The line (any thread) ---
    // Appends received bytes to every open device's input and raises EV_RXCHAR.
    void QueueInput(const std::vector<uint8_t>& bytes);
    // Raises line events on every open device (those outside its mask are
    // dropped, as a device would).
    void RaiseEvents(uint32_t eventWord);

    // --- Holding a thread at a call ---
    // The next thread to enter `call` stops there until Release(), or, for a
    // held WaitForAny, until the event at `releaseIndex` of its table is set.
    // May be armed again while a thread is held; WaitUntilHeld then waits for
    // the new hold. Release() without a held thread disarms the hold.
    void HoldAt(Call call, int releaseIndex = -1);
    bool WaitUntilHeld(std::chrono::milliseconds timeout);
    void Release();

    // --- What happened ---
    std::vector<std::vector<uint8_t>> Writes() const;
    std::vector<uint32_t> Purges() const;
    std::vector<std::string> BuildTexts() const;
    std::vector<std::string> OpenedNames() const;
    int CallCount(Call call) const;
    DCB DeviceState() const;  // of the last device opened
    CommTimeouts DeviceTimeouts() const;
    uint32_t DeviceMask() const;
    size_t InputQueued() const;
    int OpenDeviceCount() const;
    // Whether the last device opened hands bytes over at once (it starts
    // at its own pace), and whether it is still open.
    bool LowLatency() const;
    int OpenEventCount() const;
    // All lines now (-1 without lines); an open raises RTS and DTR as the kernel does.
    int ModemLines() const;
    Rs485Settings Rs485() const;
    int RtsWhileRs485() const;  // attempts to move RTS while the RS-485 mode was on
    // Waits with a bound until `done` holds for the fake's state.
    bool WaitFor(const std::function<bool(const FakeComm&)>& done,
                 std::chrono::milliseconds timeout) const;

    // --- CommLayer ---
    CommHandle OpenDevice(const std::string& name) override;
    void CloseDevice(CommHandle device) override;
    bool SetCommTimeouts(CommHandle device, const CommTimeouts& timeouts) override;
    bool SetCommMask(CommHandle device, uint32_t eventMask) override;
    bool GetCommState(CommHandle device, DCB& dcb) override;
    bool BuildCommDCB(const std::string& text, DCB& dcb) override;
    bool SetCommState(CommHandle device, const DCB& dcb) override;
    bool PurgeComm(CommHandle device, uint32_t actions) override;
    IoResult WaitCommEvent(CommHandle device, EventHandle completion, uint32_t& eventWord) override;
    uint32_t TakeCommEvents(CommHandle device) override;
    bool ClearCommError(CommHandle device, CommStatus& status) override;
    bool GetModemLines(CommHandle device, uint8_t& lines) override;
    bool SetLowLatency(CommHandle device, bool on, bool& wasOn) override;
    bool GetRs485(CommHandle device, Rs485Settings& settings) override;
    bool SetRs485(CommHandle device, Rs485Settings& settings) override;
    bool SetControlLine(CommHandle device, uint8_t line, bool on) override;
    bool SetBreak(CommHandle device, bool on) override;
    bool GetLineCounters(CommHandle device, LineCounters& counters) override;
    IoResult ReadByte(CommHandle device, uint8_t& byte) override;
    bool WaitReadResult(CommHandle device, uint8_t& byte) override;
    IoResult Write(CommHandle device, const uint8_t* bytes, uint32_t length,
                   uint32_t& written) override;
    bool WaitWriteResult(CommHandle device, uint32_t& written, EventHandle abort) override;
    int LastError() override;
    std::string ErrorText(int error) override;
    EventHandle CreateEvent() override;
    void CloseEvent(EventHandle event) override;
    bool SetEvent(EventHandle event) override;
    bool ResetEvent(EventHandle event) override;
    int WaitForAny(const EventHandle* events, int count) override;
    std::unique_ptr<std::thread> StartThread(std::function<void()> body) override;

private:
    struct Device {
        std::string name;
        DCB dcb;
        CommTimeouts timeouts;
        uint32_t mask = 0;
        std::deque<uint8_t> input;
        uint32_t events = 0;  // raised, not yet taken
        bool waitPending = false;
        EventHandle waitCompletion = kNoEvent;
        bool readPending = false;
        uint8_t pendingByte = 0;
        bool writePending = false;
        uint32_t pendingLength = 0;
    };
    bool lowLatency = false;  // of the last device opened
    struct Failure {
        int error = 0;
        bool always = false;
    };

    class Scope;
    // Logs the call, holds the thread if asked, and answers whether the call
    // is to fail (the last error is then set). The lock is held on return.
    bool Enter(std::unique_lock<std::recursive_mutex>& guard, Call call,
               const EventHandle* table = nullptr, int count = 0);
    Device* Find(CommHandle device);                 // lock held
    bool Fail(int error);                            // lock held
    void Raise(Device& device, uint32_t eventWord);  // lock held
    bool Signal(EventHandle event);                  // lock held

    // Recursive so that a WaitFor condition can use the accessors.
    mutable std::recursive_mutex lock;
    mutable std::condition_variable_any changed;
    std::function<void(Call)> hook;

    std::map<Call, Failure> failures;
    std::map<Call, Completion> completions;
    std::set<std::string> missing;
    std::map<int, std::string> errorTexts;
    DCB initialState;
    int modemLines = -1;
    bool hasRs485 = false;
    Rs485Settings rs485;
    int rtsWhileRs485 = 0;
    bool hasCounters = false;
    LineCounters counters;

    std::map<CommHandle, Device> devices;
    CommHandle nextDevice = 100;
    DCB lastState;
    CommTimeouts lastTimeouts;
    uint32_t lastMask = 0;
    std::map<EventHandle, bool> eventStates;
    EventHandle nextEvent = 1;

    bool holdArmed = false;
    Call holdCall = Call::OpenDevice;
    int holdReleaseIndex = -1;
    bool held = false;
    bool released = false;

    std::map<Call, int> callCounts;
    std::vector<std::vector<uint8_t>> writes;
    std::vector<uint32_t> purges;
    std::vector<std::string> buildTexts;
    std::vector<std::string> openedNames;
};
