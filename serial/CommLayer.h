// The operations the serial engine needs from the operating system, shaped
// after the overlapped comm calls the engine's logic was written for: an event
// wait or a transfer either completes at once, is pending (its completion is
// waited for afterwards), or fails with an error number. PosixComm maps them
// onto termios, ioctl, poll and eventfd; FakeComm lets tests fail any call and
// raise any event.
//
// Thread use: the owner's thread calls OpenDevice, the configuration calls,
// SetEvent and CloseDevice; the worker thread calls the event wait, the
// transfers, ClearCommError and WaitForAny. Implementations are thread-safe.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "serial/LineCounters.h"

// Comm event bits, with the platform's values.
constexpr uint32_t EV_RXCHAR = 0x0001;
constexpr uint32_t EV_RXFLAG = 0x0002;
constexpr uint32_t EV_TXEMPTY = 0x0004;
constexpr uint32_t EV_CTS = 0x0008;
constexpr uint32_t EV_DSR = 0x0010;
constexpr uint32_t EV_RLSD = 0x0020;
constexpr uint32_t EV_BREAK = 0x0040;
constexpr uint32_t EV_ERR = 0x0080;
constexpr uint32_t EV_RING = 0x0100;

// Purge actions; the engine always passes all four (15).
constexpr uint32_t PURGE_TXABORT = 0x0001;
constexpr uint32_t PURGE_RXABORT = 0x0002;
constexpr uint32_t PURGE_TXCLEAR = 0x0004;
constexpr uint32_t PURGE_RXCLEAR = 0x0008;

// Parity and stop-bit codes of the device-control record.
constexpr uint8_t NOPARITY = 0, ODDPARITY = 1, EVENPARITY = 2, MARKPARITY = 3, SPACEPARITY = 4;
constexpr uint8_t ONESTOPBIT = 0, ONE5STOPBITS = 1, TWOSTOPBITS = 2;
constexpr uint8_t RTS_CONTROL_DISABLE = 0, RTS_CONTROL_ENABLE = 1;

// The control lines GetModemLines reports, with the bit values the capture
// file's records carry them in.
constexpr uint8_t LINE_CTS = 0x01, LINE_DCD = 0x02, LINE_DSR = 0x04, LINE_RTS = 0x08,
                  LINE_DTR = 0x10, LINE_RING = 0x20;

// The device-control record: the line settings asked of the device.
struct DCB {
    uint32_t baudRate = 9600;
    uint8_t byteSize = 8;
    uint8_t parity = NOPARITY;
    uint8_t stopBits = ONESTOPBIT;
    uint8_t rtsControl = RTS_CONTROL_DISABLE;
};

// All in milliseconds; the engine sets every field to 1000.
struct CommTimeouts {
    uint32_t readIntervalTimeout = 0;
    uint32_t readTotalTimeoutMultiplier = 0;
    uint32_t readTotalTimeoutConstant = 0;
    uint32_t writeTotalTimeoutMultiplier = 0;
    uint32_t writeTotalTimeoutConstant = 0;
};

// What the status query reports.
struct CommStatus {
    uint32_t errors = 0;    // line errors since the last query (framing, overrun, parity, break)
    uint32_t inQueue = 0;   // received bytes not yet read
    uint32_t outQueue = 0;  // bytes not yet sent
};

// The kernel's RS-485 mode of a UART whose transceiver follows RTS: while it
// is on, the driver raises and lowers RTS around each transmission itself.
struct Rs485Settings {
    bool enabled = false;
    bool rtsOnSend = true;  // the RTS level while sending
    bool rtsAfterSend = false;
    bool receiveDuringSend = false;
    uint32_t delayBeforeSendMs = 0;
    uint32_t delayAfterSendMs = 0;
    bool operator==(const Rs485Settings&) const = default;
};

enum class IoResult { Done, Pending, Failed };

using CommHandle = int;
constexpr CommHandle kNoDevice = -1;
using EventHandle = int;
constexpr EventHandle kNoEvent = -1;

// A failure sets the calling thread's last error (an errno value) for
// LastError; the POSIX invalid-parameter error is EINVAL.
class CommLayer {
public:
    virtual ~CommLayer() = default;

    // Opens "COM<n>" (resolved to a device path) for exclusive read/write;
    // kNoDevice on failure.
    virtual CommHandle OpenDevice(const std::string& name) = 0;
    virtual void CloseDevice(CommHandle device) = 0;

    virtual bool SetCommTimeouts(CommHandle device, const CommTimeouts& timeouts) = 0;
    virtual bool SetCommMask(CommHandle device, uint32_t eventMask) = 0;
    virtual bool GetCommState(CommHandle device, DCB& dcb) = 0;
    // Applies a line parameter text "baud=%d parity=%c data=%d stop=%d" to
    // `dcb`; fields the text does not name are kept.
    virtual bool BuildCommDCB(const std::string& text, DCB& dcb) = 0;
    virtual bool SetCommState(CommHandle device, const DCB& dcb) = 0;
    virtual bool PurgeComm(CommHandle device, uint32_t actions) = 0;

    // Starts a wait for the events of the mask; resets `completion` first. Done: `eventWord` holds
    // the events and `completion` is signalled, as an overlapped completion would be. Pending:
    // `completion` is signalled when an event occurs; the word is then taken with TakeCommEvents.
    // At most one wait per device.
    virtual IoResult WaitCommEvent(CommHandle device, EventHandle completion,
                                   uint32_t& eventWord) = 0;
    virtual uint32_t TakeCommEvents(CommHandle device) = 0;

    virtual bool ClearCommError(CommHandle device, CommStatus& status) = 0;
    // The control lines as they are now (LINE_* bits); false where the device
    // does not tell them (a pseudo-terminal has none).
    virtual bool GetModemLines(CommHandle device, uint8_t& lines) = 0;
    // Asks the driver to hand received bytes over at once (on a USB adapter:
    // its latency timer at the least) or to go back to its own pace; `wasOn`
    // says which the device had. False where the device has no such mode or
    // refuses it, which leaves the line as it was.
    virtual bool SetLowLatency(CommHandle device, bool on, bool& wasOn) = 0;

    // The RS-485 mode as the driver holds it. SetRs485 hands back in
    // `settings` what the driver made of the request (it may drop what it
    // cannot do). ENOTTY: the device has no such mode (a pseudo-terminal, a
    // USB adapter that switches direction by itself).
    virtual bool GetRs485(CommHandle device, Rs485Settings& settings) = 0;
    virtual bool SetRs485(CommHandle device, Rs485Settings& settings) = 0;
    // Raises or lowers one output line, LINE_RTS or LINE_DTR.
    virtual bool SetControlLine(CommHandle device, uint8_t line, bool on) = 0;
    // Starts or ends a break (the line held at space); the caller times it.
    virtual bool SetBreak(CommHandle device, bool on) = 0;
    // The driver's event and error counts (they only ever grow while the
    // device is open).
    virtual bool GetLineCounters(CommHandle device, LineCounters& counters) = 0;

    // One-byte read and a write, each with its own completion, so that a
    // finished transfer never signals the event wait's completion.
    virtual IoResult ReadByte(CommHandle device, uint8_t& byte) = 0;
    virtual bool WaitReadResult(CommHandle device, uint8_t& byte) = 0;
    virtual IoResult Write(CommHandle device, const uint8_t* bytes, uint32_t length,
                           uint32_t& written) = 0;
    // Waits until the bytes have left the driver, bounded by the write timeout,
    // or until `abort` (kNoEvent for none) is signalled: the write is then
    // given up, what it had not handed to the driver is dropped, and the call
    // fails with ECANCELED. `abort` is only looked at, never reset.
    virtual bool WaitWriteResult(CommHandle device, uint32_t& written, EventHandle abort) = 0;

    virtual int LastError() = 0;
    // The system's text for an error number (UTF-8, never empty).
    virtual std::string ErrorText(int error) = 0;

    // Manual-reset events, created non-signalled; kNoEvent on failure.
    virtual EventHandle CreateEvent() = 0;
    virtual void CloseEvent(EventHandle event) = 0;
    virtual bool SetEvent(EventHandle event) = 0;
    virtual bool ResetEvent(EventHandle event) = 0;
    // Blocks without a time limit until one of the events is signalled and
    // answers the lowest signalled index, or -1 on failure. A pending event
    // wait on a device completes inside this call when its device reports.
    virtual int WaitForAny(const EventHandle* events, int count) = 0;

    // Starts a thread running `body`; null on failure.
    virtual std::unique_ptr<std::thread> StartThread(std::function<void()> body) = 0;
};
