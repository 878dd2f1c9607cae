// The serial port engine: owns one COM device, runs one worker thread that
// waits for line events and write requests, reads received bytes one at a
// time and hands each to the owner as a synchronous notification (those read
// together go over as one run), and writes what the owner requests. All device work goes through a
// CommLayer.
#pragma once

#include "serial/CommLayer.h"
#include "serial/LineTap.h"
#include "serial/NotificationMailbox.h"
#include "serial/PortSettings.h"
#include "serial/SerialPortOwner.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Notifications to the owner (window message numbers WM_USER+101 to +108;
// +103 and +106 are unused). lParam is always the port number.
constexpr uint32_t SPN_BREAK = 1125;
constexpr uint32_t SPN_CTS = 1126;
constexpr uint32_t SPN_LINE_ERROR = 1128;
constexpr uint32_t SPN_RING = 1129;
constexpr uint32_t SPN_RXCHAR = 1131;  // wParam: the byte, 0 to 255
constexpr uint32_t SPN_RXFLAG = 1132;

// The code a worker ends with when it is shut down.
constexpr int kWorkerExitCode = 100;

class SerialPort {
public:
    SerialPort();  // on the operating system's comm layer
    explicit SerialPort(std::unique_ptr<CommLayer> comm);
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Stops a running worker, then opens "COM<portNumber>" and configures it.
    // False when the device cannot be opened (nothing is shown then); a
    // failed configuration step is reported and the open still succeeds.
    bool Open(SerialPortOwner* owner, int32_t portNumber, uint32_t baudRate, char parityLetter,
              uint32_t dataBits, uint32_t stopBits, uint32_t eventMask, uint32_t writeBufferSize);

    // Starts the worker after a successful Open. False when the thread
    // cannot be created, no device is open or a worker already runs.
    bool StartWorker();

    // Hands `length` bytes to the worker and returns at once; a request the
    // worker has not taken yet is replaced. False, and nothing kept, when no
    // device is open (before the first open, after a failed one) or the
    // device was lost.
    bool RequestWrite(const uint8_t* bytes, uint32_t length);

    // A listen-only line never writes: RequestWrite refuses, and RTS and DTR
    // are lowered as soon as the device is open, unless SetControlLine set
    // them. Takes effect at once on an open line.
    void SetListenOnly(bool on);
    bool ListenOnly() const { return listenOnly.load(); }

    // ---- The line itself; owner's thread. Each answers false with the
    // device's error number in `error`; EBADF when no device is open.
    bool GetModemLines(uint8_t& lines, int& error);
    // Raises or lowers RTS or DTR (LINE_RTS, LINE_DTR) and keeps the choice
    // for the next opens. RTS is refused (EBUSY) while the driver's RS-485
    // mode is on: the driver owns it then.
    bool SetControlLine(uint8_t line, bool on, int& error);
    bool SetBreak(bool on, int& error);
    // The driver's counts since this line was opened.
    bool GetLineCounters(LineCounters& counters, int& error);

    // The port's RS-485 mode as read at the open (or after the last change);
    // `rs485Error` is why it could not be read (ENOTTY: the device has none).
    struct Rs485State {
        bool known = false;
        int error = 0;
        Rs485Settings settings;
    };
    Rs485State GetRs485() const { return rs485State; }
    // Applies `wanted` and reads back what the driver made of it, which the
    // state then holds; the port's own settings go back when the line closes.
    // The wish is applied again at each later open.
    bool SetRs485(const Rs485Settings& wanted, int& error);

    // Hands what is written and read, stamped, to `tap` from now on, across
    // opens; told of the line first when it is open. Owner's thread; null
    // (no more) only while no worker runs.
    void SetTap(LineTap* lineTap);

    DCB GetLineSettings() const { return settings.dcb; }
    uint32_t GetEventMask() const { return settings.eventMask; }
    uint32_t GetBufferSize() const { return settings.writeBufferSize; }
    int32_t GetPortNumber() const { return settings.portNumber; }

    // Owner's thread, when WakeOwner asked for it: delivers the worker's
    // notifications and error boxes, for about 2 ms at most per call.
    void DispatchNotifications();

    bool IsWorkerRunning() const { return running.load(); }
    // The device stopped answering (an adapter pulled); true from the report
    // of the loss until the next open. The device is closed from then on.
    bool DeviceLost() const { return deviceLost.load(); }
    // The exit code of the last worker that ended (0 before any ended).
    int WorkerExitCode() const { return workerExitCode.load(); }

    // The text ReportError shows for `operation` failing with `error`.
    std::string ErrorMessage(const std::string& operation, int error) const;

    static std::string LineParameterText(uint32_t baudRate, char parityLetter, uint32_t dataBits,
                                         uint32_t stopBits);

private:
    void StopWorker();
    void CloseEvents(EventHandle (&events)[3]);
    void ReportError(const char* operation, int error, bool onWorker);

    void WorkerLoop();
    bool IssueEventWait(uint32_t& eventWord);
    // `early`: bytes taken from the device before the owner's hand-over and
    // told to the tap already; they start the run.
    void DispatchEvents(uint32_t eventWord, const LineStamp& woken, std::vector<uint8_t>& early);
    void ReadRoutine(const LineStamp& woken, std::vector<uint8_t>& early);
    // Appends what the device holds now to `bytes` and tells the tap it was
    // found at `found`.
    void TakeInput(std::vector<uint8_t>& bytes, LineTap& lineTap, const LineStamp& found);
    // Waits for the owner to handle the last letter, taking what comes
    // meanwhile as it comes.
    void AwaitOwnerTaking(std::vector<uint8_t>& early, LineTap& lineTap);
    void WriteRoutine();
    bool WritePending();
    bool QueryInput(uint32_t& inQueue);
    void Notify(uint32_t message, uint32_t wParam);
    // SPN_RXCHAR for each byte, without waiting: the worker goes on while
    // the owner handles them, up to its next AwaitHandled.
    void PostRun(std::vector<uint8_t> bytes, bool moreFollows);
    bool QueryQuietly(uint32_t& inQueue, int& error);
    void ReportLoss(int error);
    // Port lock held, no worker running.
    void CloseDevice();
    void RefreshModemLines();
    // Tells the tap what the driver counted since it was last told.
    void TapLineEvents(LineTap& lineTap, const LineStamp& at);
    void TapUnread(LineTap& lineTap);

    std::unique_ptr<CommLayer> comm;
    PortSettings settings;
    CommHandle device = kNoDevice;
    CommTimeouts timeouts;

    // The wait table, in the worker's order of priority.
    enum { kShutdown, kComm, kWrite };
    EventHandle events[3] = {kNoEvent, kNoEvent, kNoEvent};

    // Serialises device work between Open and the worker.
    std::recursive_mutex portLock;

    std::unique_ptr<std::thread> worker;
    std::atomic<bool> running{false};
    std::atomic<bool> stopping{false};
    std::atomic<int> workerExitCode{0};
    // Set by the worker when the device stopped answering status queries;
    // the worker then leaves the device alone until the next open.
    std::atomic<bool> deviceLost{false};
    bool lowLatencySet = false;  // by the engine, to be undone at close

    // The line itself, owner's thread. The port's RS-485 settings as found
    // at the open go back at the close when they were changed.
    void SetUpLines();
    std::atomic<bool> listenOnly{false};
    int userLines = 0;    // LINE_RTS, LINE_DTR: set by the user ...
    int userLinesOn = 0;  // ... to these levels
    Rs485State rs485State;
    Rs485Settings rs485Original;
    bool rs485Changed = false;
    bool rs485Wanted = false;
    Rs485Settings rs485Wish;
    LineCounters countersAtOpen;
    LineCounters countersTapped;  // as the tap was last told; the worker's

    // The pending write request, guarded by its own short lock so that a
    // request never waits for the device. The worker swaps it out and writes
    // from its own copy.
    std::mutex requestLock;
    bool bufferAllocated = false;
    // Written under requestLock; the worker looks at it between two bytes
    // without taking the lock.
    std::atomic<bool> requestPending{false};
    std::vector<uint8_t> request;
    std::vector<uint8_t> outgoing;  // worker only

    NotificationMailbox mailbox;
    std::atomic<LineTap*> tap{nullptr};

    // The control lines as last read for the tap, and when; the worker's, or
    // the owner's while no worker runs.
    uint8_t modemLines = 0;
    bool modemLinesKnown = false;
    std::chrono::steady_clock::time_point modemLinesRead;
};
