// The comm layer on a Linux terminal device: termios for the line, poll for
// the event wait, eventfd for the events, and a watcher thread per device
// for the modem lines, which only a blocking ioctl reports.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "serial/ComNames.h"
#include "serial/CommLayer.h"

class PosixComm : public CommLayer {
public:
    PosixComm();
    explicit PosixComm(ComNames names);
    ~PosixComm() override;
    PosixComm(const PosixComm&) = delete;
    PosixComm& operator=(const PosixComm&) = delete;

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

    const ComNames& Names() const { return names; }

    // TIOCMGET's bits as LINE_* bits.
    static uint8_t LinesOf(int modemBits);
    // The RS-485 mode of the terminal at `path`, opened for the moment it
    // takes to ask (the kernel raises DTR and RTS for that moment); 0 or
    // the error number (ENOTTY: the device has no such mode).
    static int ReadRs485(const std::string& path, Rs485Settings& settings);
    // struct serial_rs485's flags and delays, both ways.
    static Rs485Settings Rs485Of(uint32_t flags, uint32_t delayBefore, uint32_t delayAfter);
    static uint32_t Rs485Flags(const Rs485Settings& settings);

    struct Device;

    // What is known of an event without asking the kernel. Set and Reset keep
    // it, so that a Reset of an event known to be clear needs no system call,
    // and a wait completed by the thread that waits on it (a byte found by
    // WaitForAny's own poll) is signalled here instead of through the kernel:
    // on a slow line that spares three system calls per byte.
    enum class EventKnown : uint8_t { Maybe, Clear, SignalledHere };
    using EventState = std::shared_ptr<std::atomic<EventKnown>>;

private:
    std::shared_ptr<Device> Find(CommHandle device);
    EventState StateOf(EventHandle event);

    ComNames names;
    std::mutex devicesLock;
    std::map<CommHandle, std::shared_ptr<Device>> devices;
    CommHandle nextHandle = 1;
    std::mutex eventsLock;
    std::map<EventHandle, EventState> eventStates;
};
