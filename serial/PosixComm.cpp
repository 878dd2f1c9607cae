#include "serial/PosixComm.h"

#include <fcntl.h>
#include <linux/major.h>
#include <linux/serial.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <deque>
#include <system_error>
#include <vector>

#include "serial/DeviceSpeed.h"
#include "serial/LineCounters.h"
#include "serial/LineSettings.h"
#include "serial/SystemError.h"

using Clock = std::chrono::steady_clock;

namespace {

thread_local int lastError = 0;

// Bytes read ahead of the engine. Beyond this the device is left to buffer,
// so a line nobody reads cannot grow the queue without end.
constexpr size_t kInputLimit = 16384;

// Any signal without SA_RESTART interrupts TIOCMIWAIT; this one is ours.
const int kWakeSignal = SIGUSR2;

template <typename T>
T Fail(int error, T answer) {
    lastError = error;
    errno = error;
    return answer;
}

int IoctlRetry(int fd, unsigned long request, void* argument) {
    int r;
    do r = ioctl(fd, request, argument);
    while (r < 0 && errno == EINTR);
    return r;
}

int PollRetry(pollfd* fds, nfds_t count, int timeoutMs) {
    int r;
    do r = poll(fds, count, timeoutMs);
    while (r < 0 && errno == EINTR && timeoutMs < 0);
    return r;
}

bool ReadCounters(int fd, LineCounters& counters) {
    serial_icounter_struct icount{};
    if (IoctlRetry(fd, TIOCGICOUNT, &icount) != 0) return false;
    counters.cts = static_cast<uint32_t>(icount.cts);
    counters.dsr = static_cast<uint32_t>(icount.dsr);
    counters.rng = static_cast<uint32_t>(icount.rng);
    counters.dcd = static_cast<uint32_t>(icount.dcd);
    counters.frame = static_cast<uint32_t>(icount.frame);
    counters.overrun = static_cast<uint32_t>(icount.overrun);
    counters.parity = static_cast<uint32_t>(icount.parity);
    counters.brk = static_cast<uint32_t>(icount.brk);
    counters.bufOverrun = static_cast<uint32_t>(icount.buf_overrun);
    return true;
}

// A pty master is a terminal too, but no line: opening /dev/ptmx makes a new
// pseudo-terminal nobody is on. Only masters answer TIOCGPTN; the legacy
// BSD masters have a major number of their own.
bool IsPtyMaster(int fd) {
    unsigned int number = 0;
    if (ioctl(fd, TIOCGPTN, &number) == 0) return true;
    struct stat st {};
    return fstat(fd, &st) == 0 && major(st.st_rdev) == PTY_MASTER_MAJOR;
}

void InstallWakeHandler() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction action {};
        action.sa_handler = [](int) {};
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0;  // no SA_RESTART: the blocked ioctl must return EINTR
        sigaction(kWakeSignal, &action, nullptr);
    });
}

}  // namespace

// One open device. `lock` guards everything but the watcher's own flags.
struct PosixComm::Device {
    std::mutex lock;
    int fd = -1;
    termios original{};
    uint32_t originalBaud = 0;
    uint32_t baudRate = 9600;
    uint8_t rtsControl = RTS_CONTROL_DISABLE;
    bool modemLines = false;
    // The driver's RS-485 mode was on when last read or set: RTS is the
    // driver's then, and the engine's hold on it is skipped.
    bool rs485On = false;
    bool lineStatus = true;   // the driver answers TIOCSERGETLSR
    bool outputIdle = false;  // nothing written since the output queue was found empty
    bool hasCounters = false;
    LineCounters eventCounters;  // as last compared for events
    LineCounters errorCounters;  // as last reported by the status query
    CommTimeouts timeouts;
    uint32_t mask = 0;
    int deadError = 0;            // set once the device has hung up; it stays dead until reopened
    bool deathSignalled = false;  // an event wait has been completed for the hang-up

    std::deque<uint8_t> input;
    // The last read from the driver took all it had: the next status query
    // trusts that once instead of asking again right away.
    bool drained = false;

    bool waitPending = false;
    EventHandle waitCompletion = kNoEvent;
    PosixComm::EventState waitCompletionState;
    // Set by WaitForAny while it services the device and waits on the
    // completion itself: the completion is then signalled in user space.
    bool completeHere = false;
    uint32_t word = 0;  // events that occurred and were not yet handed over

    bool writePending = false;
    std::vector<uint8_t> unsent;
    uint32_t writeLength = 0;
    uint32_t lastWritten = 0;
    Clock::time_point writeDeadline;

    std::thread watcher;
    std::atomic<bool> stopWatcher{false};
    std::mutex watcherLock;
    std::condition_variable watcherEnded;
    bool watcherDone = false;
};

namespace {

using Device = PosixComm::Device;

void Complete(Device& device, uint32_t events, bool wake);

// Completes one event wait for the hang-up, however it was found: a wait is
// no longer polled once its device is dead, so without this a hang-up seen by
// a read, a write or a status query would leave the engine waiting on a line
// it never learns is gone.
void SignalDeath(Device& device) {
    if (device.deathSignalled || !device.waitPending) return;
    device.deathSignalled = true;
    Complete(device, (EV_ERR | EV_RXCHAR) & device.mask, true);
}

void MarkDead(Device& device, int error) {
    if (device.deadError) return;
    device.deadError = error ? error : EIO;
    SignalDeath(device);
}

// Moves what the driver holds into the queue. False when the device has
// hung up (read answers EOF or an error other than EAGAIN).
bool ReadAvailable(Device& device) {
    uint8_t chunk[4096];
    while (device.input.size() < kInputLimit) {
        const size_t room = std::min(sizeof chunk, kInputLimit - device.input.size());
        ssize_t n = read(device.fd, chunk, room);
        if (n > 0) {
            device.input.insert(device.input.end(), chunk, chunk + n);
            // A short read took all there was: asking again would only
            // answer EAGAIN, a system call per received byte on a slow line.
            if (static_cast<size_t>(n) < room) {
                device.drained = true;
                return true;
            }
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            device.drained = true;
            return true;
        }
        MarkDead(device, n == 0 ? EIO : errno);
        return false;
    }
    return true;
}

// Hands `events` to the pending wait, or keeps them for the next one.
void Complete(Device& device, uint32_t events, bool wake) {
    device.word |= events;
    if (device.waitPending && (device.word || wake)) {
        device.waitPending = false;
        using Known = PosixComm::EventKnown;
        auto clear = Known::Clear;
        if (device.completeHere && device.waitCompletionState &&
            device.waitCompletionState->compare_exchange_strong(clear, Known::SignalledHere))
            return;
        uint64_t one = 1;
        ssize_t ignored = write(device.waitCompletion, &one, sizeof one);
        (void)ignored;
        // Marked after the write: a Reset in between reads the count away.
        if (device.waitCompletionState) device.waitCompletionState->store(Known::Maybe);
    }
}

// What poll saw on a device with a pending wait.
bool Service(Device& device, short revents) {
    if (device.fd < 0 || device.deadError) return false;
    uint32_t events = 0;
    const size_t queued = device.input.size();
    if (revents & POLLNVAL)
        MarkDead(device, EBADF);
    else if (revents & (POLLIN | POLLHUP | POLLERR))
        ReadAvailable(device);
    if (!device.deadError && (revents & (POLLHUP | POLLERR))) MarkDead(device, EIO);
    if (device.input.size() > queued) events |= EV_RXCHAR;
    if (device.hasCounters && !device.deadError) {
        LineCounters now;
        if (ReadCounters(device.fd, now)) {
            events |= LineCounters::EventsBetween(device.eventCounters, now, EV_BREAK | EV_ERR);
            device.eventCounters.brk = now.brk;
            device.eventCounters.frame = now.frame;
            device.eventCounters.overrun = now.overrun;
            device.eventCounters.parity = now.parity;
            device.eventCounters.bufOverrun = now.bufOverrun;
        }
    }
    // A hang-up ends the wait once, as an error with input to look at: the
    // status query then fails, and the engine reports the loss once. The dead
    // device is not polled again.
    const bool died = device.deadError != 0;
    if (died) events |= EV_ERR | EV_RXCHAR;
    const bool waited = device.waitPending;
    Complete(device, events & device.mask, died);
    return waited && !device.waitPending;
}

// The modem line watcher: TIOCMIWAIT blocks until a line changes, and only a
// signal gets it out; CloseDevice sends kWakeSignal until the thread is done.
void Watch(Device& device, int fd) {
    constexpr int kLines = TIOCM_CTS | TIOCM_DSR | TIOCM_CD | TIOCM_RNG;
    // TIOCMIWAIT waits for a change after it is entered: one between the
    // open's reading of the counters and the first wait (or between two
    // waits) is found by comparing the counters before each wait.
    for (bool waited = false; !device.stopWatcher.load(); waited = true) {
        if (waited && ioctl(fd, TIOCMIWAIT, kLines) != 0 && errno != EINTR) break;
        std::lock_guard guard(device.lock);
        LineCounters now;
        if (device.fd < 0 || device.deadError || !ReadCounters(fd, now)) continue;
        uint32_t events = LineCounters::EventsBetween(device.eventCounters, now,
                                                      EV_CTS | EV_DSR | EV_RLSD | EV_RING);
        device.eventCounters.cts = now.cts;
        device.eventCounters.dsr = now.dsr;
        device.eventCounters.dcd = now.dcd;
        device.eventCounters.rng = now.rng;
        Complete(device, events & device.mask, false);
    }
    std::lock_guard guard(device.watcherLock);
    device.watcherDone = true;
    device.watcherEnded.notify_all();
}

void StopWatcher(Device& device) {
    if (!device.watcher.joinable()) return;
    device.stopWatcher.store(true);
    std::unique_lock guard(device.watcherLock);
    // The signal may arrive just before the thread enters the ioctl; repeat it.
    while (!device.watcherDone) {
        pthread_kill(device.watcher.native_handle(), kWakeSignal);
        device.watcherEnded.wait_for(guard, std::chrono::milliseconds(10));
    }
    guard.unlock();
    device.watcher.join();
}

// Bytes still on their way out: the driver's output queue, plus one while
// the UART's transmitter still shifts out what the queue handed it. 0 where
// the driver cannot say (a pty hands written bytes straight to the other side).
uint32_t OutputQueue(Device& device) {
    // Nothing written since the queue was last found empty: still empty.
    if (device.outputIdle) return 0;
    int queued = 0;
    if (IoctlRetry(device.fd, TIOCOUTQ, &queued) != 0 || queued < 0) queued = 0;
    unsigned int lineStatus = 0;
    if (queued == 0 && device.lineStatus) {
        if (IoctlRetry(device.fd, TIOCSERGETLSR, &lineStatus) != 0) {
            // A driver without a UART (a pty, some USB adapters) refuses it
            // every time: not asked again.
            if (errno == ENOTTY || errno == EINVAL) device.lineStatus = false;
        } else if (!(lineStatus & TIOCSER_TEMT)) {
            queued = 1;
        }
    }
    device.outputIdle = queued == 0;
    return static_cast<uint32_t>(queued);
}

// Writes as much as the driver takes now; false on a hard error.
bool WriteSome(Device& device, const uint8_t* bytes, size_t length, size_t& done) {
    done = 0;
    while (done < length) {
        ssize_t n = write(device.fd, bytes + done, length - done);
        if (n > 0) {
            device.outputIdle = false;
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
        const int error = n == 0 ? EIO : errno;
        if (error == EIO || error == ENODEV || error == ENXIO) MarkDead(device, error);
        lastError = errno = error;
        return false;
    }
    return true;
}

void HoldRts(Device& device, uint8_t rtsControl) {
    if (!device.modemLines || device.rs485On) return;
    int rts = TIOCM_RTS;
    IoctlRetry(device.fd, rtsControl == RTS_CONTROL_DISABLE ? TIOCMBIC : TIOCMBIS, &rts);
}

void Restore(Device& device) {
    // A saved speed of 0 would hang up the line when applied: such settings
    // are not put back.
    if (!device.deadError && device.originalBaud != 0) {
        tcsetattr(device.fd, TCSANOW, &device.original);
        speed_t speed = 0;
        if (!LineSettings::StandardSpeed(device.originalBaud, speed))
            DeviceSpeed::SetCustom(device.fd, device.originalBaud);
    }
    ioctl(device.fd, TIOCNXCL);
}

}  // namespace

PosixComm::PosixComm() = default;

PosixComm::PosixComm(ComNames names) : names(std::move(names)) {}

PosixComm::~PosixComm() {
    std::vector<CommHandle> open;
    {
        std::lock_guard guard(devicesLock);
        for (const auto& entry : devices) open.push_back(entry.first);
    }
    for (CommHandle handle : open) CloseDevice(handle);
}

std::shared_ptr<PosixComm::Device> PosixComm::Find(CommHandle device) {
    std::lock_guard guard(devicesLock);
    auto found = devices.find(device);
    if (found == devices.end()) return Fail(EBADF, nullptr);
    return found->second;
}

CommHandle PosixComm::OpenDevice(const std::string& name) {
    const std::string path = names.PathForPort(ComNames::PortNumber(name));
    if (path.empty()) return Fail(ENOENT, kNoDevice);

    auto device = std::make_shared<Device>();
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return Fail(errno, kNoDevice);
    auto refuse = [fd](int error) {
        close(fd);
        return Fail(error, kNoDevice);
    };
    if (!isatty(fd) || IsPtyMaster(fd)) return refuse(ENOTTY);
    // TIOCEXCL keeps other users out but not root; the lock keeps out every
    // open through this layer, root included.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) return refuse(errno == EWOULDBLOCK ? EBUSY : errno);
    if (IoctlRetry(fd, TIOCEXCL, nullptr) != 0) return refuse(errno);
    if (tcgetattr(fd, &device->original) != 0 || DeviceSpeed::Read(fd, device->originalBaud) != 0) {
        int error = errno;
        ioctl(fd, TIOCNXCL);
        return refuse(error);
    }

    // Raw from the start, keeping the character format and speed the device
    // had until the engine sets its own.
    termios raw = device->original;
    LineSettings::ApplyRawMode(raw);
    constexpr tcflag_t kFormat = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;
    raw.c_cflag = (raw.c_cflag & ~kFormat) | (device->original.c_cflag & kFormat);
    if (tcsetattr(fd, TCSANOW, &raw) != 0) {
        int error = errno;
        ioctl(fd, TIOCNXCL);
        return refuse(error);
    }

    device->fd = fd;
    device->baudRate = device->originalBaud;
    int lines = 0;
    device->modemLines = IoctlRetry(fd, TIOCMGET, &lines) == 0;
    device->hasCounters = ReadCounters(fd, device->eventCounters);
    device->errorCounters = device->eventCounters;
    // The kernel raised RTS and DTR at the open; the engine's settings say
    // what happens to them next (a listener lowers them at once).
    device->rtsControl = lines & TIOCM_RTS ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
    serial_rs485 rs485{};
    device->rs485On =
        IoctlRetry(fd, TIOCGRS485, &rs485) == 0 && (rs485.flags & SER_RS485_ENABLED) != 0;
    if (device->modemLines && device->hasCounters) {
        InstallWakeHandler();
        try {
            Device* watched = device.get();
            device->watcher = std::thread([watched, fd] { Watch(*watched, fd); });
        } catch (const std::system_error&) {
            // Without the watcher only modem line events are lost; the line works.
        }
    }

    std::lock_guard guard(devicesLock);
    CommHandle handle = nextHandle++;
    devices[handle] = std::move(device);
    return handle;
}

void PosixComm::CloseDevice(CommHandle handle) {
    std::shared_ptr<Device> device;
    {
        std::lock_guard guard(devicesLock);
        auto found = devices.find(handle);
        if (found == devices.end()) return;
        device = std::move(found->second);
        devices.erase(found);
    }
    StopWatcher(*device);
    std::lock_guard guard(device->lock);
    if (device->fd < 0) return;
    Restore(*device);
    close(device->fd);  // also drops the flock
    device->fd = -1;
}

bool PosixComm::SetLowLatency(CommHandle handle, bool on, bool& wasOn) {
    auto device = Find(handle);
    if (!device) return Fail(EBADF, false);
    std::lock_guard guard(device->lock);
    serial_struct serial{};
    // A pseudo-terminal, a plain UART driver without the call: ENOTTY.
    if (IoctlRetry(device->fd, TIOCGSERIAL, &serial) != 0) return Fail(errno, false);
    wasOn = (serial.flags & ASYNC_LOW_LATENCY) != 0;
    if (wasOn == on) return true;
    serial.flags = on ? serial.flags | ASYNC_LOW_LATENCY : serial.flags & ~ASYNC_LOW_LATENCY;
    if (IoctlRetry(device->fd, TIOCSSERIAL, &serial) != 0) return Fail(errno, false);
    return true;
}

Rs485Settings PosixComm::Rs485Of(uint32_t flags, uint32_t delayBefore, uint32_t delayAfter) {
    Rs485Settings settings;
    settings.enabled = (flags & SER_RS485_ENABLED) != 0;
    settings.rtsOnSend = (flags & SER_RS485_RTS_ON_SEND) != 0;
    settings.rtsAfterSend = (flags & SER_RS485_RTS_AFTER_SEND) != 0;
    settings.receiveDuringSend = (flags & SER_RS485_RX_DURING_TX) != 0;
    settings.delayBeforeSendMs = delayBefore;
    settings.delayAfterSendMs = delayAfter;
    return settings;
}

uint32_t PosixComm::Rs485Flags(const Rs485Settings& settings) {
    return (settings.enabled ? SER_RS485_ENABLED : 0u) |
           (settings.rtsOnSend ? SER_RS485_RTS_ON_SEND : 0u) |
           (settings.rtsAfterSend ? SER_RS485_RTS_AFTER_SEND : 0u) |
           (settings.receiveDuringSend ? SER_RS485_RX_DURING_TX : 0u);
}

int PosixComm::ReadRs485(const std::string& path, Rs485Settings& settings) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno;
    serial_rs485 rs485{};
    int error = 0;
    if (!isatty(fd) || IsPtyMaster(fd))
        error = ENOTTY;
    else if (IoctlRetry(fd, TIOCGRS485, &rs485) != 0)
        error = errno;
    else
        settings = Rs485Of(rs485.flags, rs485.delay_rts_before_send, rs485.delay_rts_after_send);
    close(fd);
    return error;
}

bool PosixComm::GetRs485(CommHandle handle, Rs485Settings& settings) {
    auto device = Find(handle);
    if (!device) return false;
    std::lock_guard guard(device->lock);
    if (device->deadError) return Fail(device->deadError, false);
    serial_rs485 rs485{};
    if (IoctlRetry(device->fd, TIOCGRS485, &rs485) != 0) return Fail(errno, false);
    settings = Rs485Of(rs485.flags, rs485.delay_rts_before_send, rs485.delay_rts_after_send);
    device->rs485On = settings.enabled;
    return true;
}

bool PosixComm::SetRs485(CommHandle handle, Rs485Settings& settings) {
    auto device = Find(handle);
    if (!device) return false;
    std::lock_guard guard(device->lock);
    if (device->deadError) return Fail(device->deadError, false);
    serial_rs485 rs485{};
    // Read first: the flags this layer does not know (termination, addressing)
    // stay as the port had them.
    if (IoctlRetry(device->fd, TIOCGRS485, &rs485) != 0) return Fail(errno, false);
    constexpr uint32_t kKnown = SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND |
                                SER_RS485_RTS_AFTER_SEND | SER_RS485_RX_DURING_TX;
    rs485.flags = (rs485.flags & ~kKnown) | Rs485Flags(settings);
    rs485.delay_rts_before_send = settings.delayBeforeSendMs;
    rs485.delay_rts_after_send = settings.delayAfterSendMs;
    if (IoctlRetry(device->fd, TIOCSRS485, &rs485) != 0) return Fail(errno, false);
    // The kernel writes back what the driver accepted.
    settings = Rs485Of(rs485.flags, rs485.delay_rts_before_send, rs485.delay_rts_after_send);
    device->rs485On = settings.enabled;
    // Back from the driver, RTS is the engine's again.
    if (!settings.enabled) HoldRts(*device, device->rtsControl);
    return true;
}

bool PosixComm::SetControlLine(CommHandle handle, uint8_t line, bool on) {
    auto device = Find(handle);
    if (!device) return false;
    if (line != LINE_RTS && line != LINE_DTR) return Fail(EINVAL, false);
    std::lock_guard guard(device->lock);
    if (device->deadError) return Fail(device->deadError, false);
    // While the driver's RS-485 mode is on, RTS switches the transceiver.
    if (line == LINE_RTS && device->rs485On) return Fail(EBUSY, false);
    int bit = line == LINE_RTS ? TIOCM_RTS : TIOCM_DTR;
    if (IoctlRetry(device->fd, on ? TIOCMBIS : TIOCMBIC, &bit) != 0) return Fail(errno, false);
    if (line == LINE_RTS) device->rtsControl = on ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
    return true;
}

bool PosixComm::SetBreak(CommHandle handle, bool on) {
    auto device = Find(handle);
    if (!device) return false;
    std::lock_guard guard(device->lock);
    if (device->deadError) return Fail(device->deadError, false);
    if (IoctlRetry(device->fd, on ? TIOCSBRK : TIOCCBRK, nullptr) != 0) return Fail(errno, false);
    return true;
}

bool PosixComm::GetLineCounters(CommHandle handle, LineCounters& counters) {
    auto device = Find(handle);
    if (!device) return false;
    std::lock_guard guard(device->lock);
    if (device->deadError) return Fail(device->deadError, false);
    if (!ReadCounters(device->fd, counters)) return Fail(errno, false);
    return true;
}

bool PosixComm::SetCommTimeouts(CommHandle handle, const CommTimeouts& timeouts) {
    auto device = Find(handle);
    if (!device) return false;
    std::lock_guard guard(device->lock);
    device->timeouts = timeouts;
    return true;
}

bool PosixComm::SetCommMask(CommHandle handle, uint32_t eventMask) {
    auto device = Find(handle);
    if (!device) return false;
    std::lock_guard guard(device->lock);
    device->mask = eventMask;
    device->word &= eventMask;
    return true;
}

bool PosixComm::GetCommState(CommHandle handle, DCB& dcb) {
    auto device = Find(handle);
    if (!device) return false;
    std::lock_guard guard(device->lock);
    if (device->deadError) return Fail(device->deadError, false);
    termios t{};
    uint32_t baudRate = 0;
    if (tcgetattr(device->fd, &t) != 0) return Fail(errno, false);
    if (int error = DeviceSpeed::Read(device->fd, baudRate)) return Fail(error, false);
    dcb.baudRate = baudRate;
    LineSettings::FromTermios(t, dcb);
    dcb.rtsControl = device->rtsControl;
    return true;
}

bool PosixComm::BuildCommDCB(const std::string& text, DCB& dcb) {
    if (int error = LineSettings::ParseLineText(text, dcb)) return Fail(error, false);
    return true;
}

bool PosixComm::SetCommState(CommHandle handle, const DCB& dcb) {
    auto device = Find(handle);
    if (!device) return false;
    std::lock_guard guard(device->lock);
    if (device->deadError) return Fail(device->deadError, false);
    termios t{};
    if (tcgetattr(device->fd, &t) != 0) return Fail(errno, false);
    if (int error = LineSettings::ToTermios(dcb, t)) return Fail(error, false);
    if (tcsetattr(device->fd, TCSANOW, &t) != 0) return Fail(errno, false);
    speed_t standard = 0;
    if (!LineSettings::StandardSpeed(dcb.baudRate, standard)) {
        if (int error = DeviceSpeed::SetCustom(device->fd, dcb.baudRate)) return Fail(error, false);
    }
    // A driver that cannot run a rate may keep another without an error; a
    // line at the wrong speed must not pass for a configured one.
    uint32_t actual = 0;
    if (int error = DeviceSpeed::Read(device->fd, actual)) return Fail(error, false);
    const uint64_t off = actual > dcb.baudRate ? actual - dcb.baudRate : dcb.baudRate - actual;
    if (off * 100 > uint64_t{dcb.baudRate} * 3) return Fail(EINVAL, false);
    device->baudRate = actual;
    device->rtsControl = dcb.rtsControl;
    HoldRts(*device, dcb.rtsControl);
    return true;
}

bool PosixComm::PurgeComm(CommHandle handle, uint32_t actions) {
    auto device = Find(handle);
    if (!device) return false;
    std::lock_guard guard(device->lock);
    if (device->deadError) return Fail(device->deadError, false);
    if (actions & PURGE_TXABORT) {
        device->writePending = false;
        device->unsent.clear();
    }
    if ((actions & PURGE_TXCLEAR) && tcflush(device->fd, TCOFLUSH) != 0) return Fail(errno, false);
    if (actions & PURGE_RXCLEAR) {
        device->input.clear();
        if (tcflush(device->fd, TCIFLUSH) != 0) return Fail(errno, false);
    }
    return true;
}

IoResult PosixComm::WaitCommEvent(CommHandle handle, EventHandle completion, uint32_t& eventWord) {
    eventWord = 0;
    if (!ResetEvent(completion)) return IoResult::Failed;
    auto device = Find(handle);
    if (!device) return IoResult::Failed;
    std::lock_guard guard(device->lock);
    device->waitPending = false;
    if (device->waitCompletion != completion || !device->waitCompletionState)
        device->waitCompletionState = StateOf(completion);
    device->waitCompletion = completion;
    // Bytes still with the driver are left to the poll of WaitForAny, which
    // completes this wait at once: reading here would cost a system call per
    // received byte on a slow line, where the driver is empty by now.
    uint32_t events = device->word & device->mask;
    if (!events && (device->mask & EV_RXCHAR) && !device->input.empty()) events = EV_RXCHAR;
    if (events) {
        device->word = 0;
        eventWord = events;
        SetEvent(completion);
        return IoResult::Done;
    }
    // A dead device is not polled any more: the first wait after the hang-up
    // completes at once, every later one never does.
    device->waitPending = true;
    if (device->deadError) SignalDeath(*device);
    return IoResult::Pending;
}

uint32_t PosixComm::TakeCommEvents(CommHandle handle) {
    auto device = Find(handle);
    if (!device) return 0;
    std::lock_guard guard(device->lock);
    uint32_t events = device->word;
    device->word = 0;
    return events;
}

bool PosixComm::ClearCommError(CommHandle handle, CommStatus& status) {
    auto device = Find(handle);
    if (!device) return false;
    std::lock_guard guard(device->lock);
    status = CommStatus{};
    if (!device->input.empty()) {
        // Bytes already taken from the driver answer the query by themselves:
        // the engine asks once per byte, and two ioctls a byte would bound the
        // receive rate. The driver's queues and counters are read again once
        // these bytes are handed out.
        status.inQueue = static_cast<uint32_t>(device->input.size());
        return true;
    }
    // Taking what the driver holds costs one read, as asking how much it
    // holds would, and spares the event wait that follows a read of its own.
    // Right after a read that emptied the driver, that read answers: a byte
    // come since is found by the next event wait.
    if (device->drained)
        device->drained = false;
    else if (!device->deadError)
        ReadAvailable(*device);
    // What was read before a hang-up is still handed out; then the status
    // query fails for good.
    if (device->deadError && device->input.empty()) return Fail(device->deadError, false);
    status.inQueue = static_cast<uint32_t>(device->input.size());
    if (!device->deadError) {
        status.outQueue = OutputQueue(*device);
        LineCounters now;
        if (device->hasCounters && ReadCounters(device->fd, now)) {
            status.errors = LineCounters::ErrorsBetween(device->errorCounters, now);
            device->errorCounters = now;
        }
    }
    return true;
}

bool PosixComm::GetModemLines(CommHandle handle, uint8_t& lines) {
    lines = 0;
    auto device = Find(handle);
    if (!device) return false;
    std::lock_guard guard(device->lock);
    if (device->deadError) return Fail(device->deadError, false);
    // Asked once at the open: a device without modem lines is not asked again.
    if (!device->modemLines) return Fail(ENOTTY, false);
    int bits = 0;
    if (IoctlRetry(device->fd, TIOCMGET, &bits) != 0) return Fail(errno, false);
    lines = LinesOf(bits);
    return true;
}

uint8_t PosixComm::LinesOf(int modemBits) {
    constexpr struct {
        int modemBit;
        uint8_t line;
    } kLines[] = {{TIOCM_CTS, LINE_CTS}, {TIOCM_CD, LINE_DCD},  {TIOCM_DSR, LINE_DSR},
                  {TIOCM_RTS, LINE_RTS}, {TIOCM_DTR, LINE_DTR}, {TIOCM_RNG, LINE_RING}};
    uint8_t lines = 0;
    for (const auto& entry : kLines)
        if (modemBits & entry.modemBit) lines |= entry.line;
    return lines;
}

IoResult PosixComm::ReadByte(CommHandle handle, uint8_t& byte) {
    auto device = Find(handle);
    if (!device) return IoResult::Failed;
    std::lock_guard guard(device->lock);
    if (device->input.empty() && !device->deadError) ReadAvailable(*device);
    if (!device->input.empty()) {
        byte = device->input.front();
        device->input.pop_front();
        return IoResult::Done;
    }
    if (device->deadError) return Fail(device->deadError, IoResult::Failed);
    return IoResult::Pending;
}

bool PosixComm::WaitReadResult(CommHandle handle, uint8_t& byte) {
    auto device = Find(handle);
    if (!device) return false;
    std::unique_lock guard(device->lock);
    const uint64_t totalMs = uint64_t{device->timeouts.readTotalTimeoutConstant} +
                             device->timeouts.readTotalTimeoutMultiplier;
    const auto deadline = Clock::now() + std::chrono::milliseconds(totalMs);
    for (;;) {
        if (device->input.empty() && !device->deadError) ReadAvailable(*device);
        if (!device->input.empty()) {
            byte = device->input.front();
            device->input.pop_front();
            return true;
        }
        if (device->deadError) return Fail(device->deadError, false);
        int timeoutMs = -1;  // no total timeout: wait for the byte, as the platform does
        if (totalMs) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                    .count();
            if (left <= 0) return Fail(ETIMEDOUT, false);
            timeoutMs = static_cast<int>(std::min<int64_t>(left, INT32_MAX));
        }
        pollfd p{device->fd, POLLIN, 0};
        guard.unlock();
        const int r = PollRetry(&p, 1, timeoutMs);
        const int error = errno;
        guard.lock();
        if (device->fd < 0) return Fail(EBADF, false);
        if (r < 0 && error != EINTR) return Fail(error, false);
    }
}

IoResult PosixComm::Write(CommHandle handle, const uint8_t* bytes, uint32_t length,
                          uint32_t& written) {
    written = 0;
    auto device = Find(handle);
    if (!device) return IoResult::Failed;
    std::lock_guard guard(device->lock);
    device->writePending = false;
    device->unsent.clear();
    if (device->deadError) return Fail(device->deadError, IoResult::Failed);
    size_t done = 0;
    if (!WriteSome(*device, bytes, length, done)) return IoResult::Failed;
    written = static_cast<uint32_t>(done);
    device->lastWritten = written;
    if (done == length && OutputQueue(*device) == 0) return IoResult::Done;
    device->unsent.assign(bytes + done, bytes + length);
    device->writeLength = length;
    const uint64_t limitMs = uint64_t{device->timeouts.writeTotalTimeoutConstant} +
                             uint64_t{device->timeouts.writeTotalTimeoutMultiplier} * length;
    device->writeDeadline = Clock::now() + std::chrono::milliseconds(limitMs);
    device->writePending = true;
    return IoResult::Pending;
}

bool PosixComm::WaitWriteResult(CommHandle handle, uint32_t& written, EventHandle abort) {
    auto device = Find(handle);
    if (!device) return false;
    std::unique_lock guard(device->lock);
    if (!device->writePending) {
        written = device->lastWritten;
        return true;
    }
    for (;;) {
        if (device->deadError) {
            device->writePending = false;
            written = device->writeLength - static_cast<uint32_t>(device->unsent.size());
            return Fail(device->deadError, false);
        }
        size_t done = 0;
        if (!device->unsent.empty()) {
            if (!WriteSome(*device, device->unsent.data(), device->unsent.size(), done)) {
                device->writePending = false;
                return false;
            }
            device->unsent.erase(device->unsent.begin(),
                                 device->unsent.begin() + static_cast<ptrdiff_t>(done));
        }
        const uint32_t queued = OutputQueue(*device);
        if (device->unsent.empty() && queued == 0) {
            device->writePending = false;
            written = device->lastWritten = device->writeLength;
            return true;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(device->writeDeadline -
                                                                          Clock::now())
                        .count();
        if (left <= 0) {
            device->writePending = false;
            const uint32_t handedOver =
                device->writeLength - static_cast<uint32_t>(device->unsent.size());
            written = device->lastWritten = handedOver > queued ? handedOver - queued : 0;
            return Fail(ETIMEDOUT, false);
        }
        pollfd p[2] = {{device->fd, POLLOUT, 0}, {abort, POLLIN, 0}};
        int waitMs = static_cast<int>(std::min<int64_t>(left, INT32_MAX));
        if (device->unsent.empty()) {
            // Draining: nothing to poll for, so look again after about the
            // time the queued characters take on the line (ten bits each).
            const uint64_t drainMs =
                uint64_t{queued} * 10000 / std::max<uint32_t>(device->baudRate, 1);
            waitMs = std::min<int>(waitMs, static_cast<int>(std::clamp<uint64_t>(drainMs, 1, 20)));
            p[0].fd = -1;
        }
        guard.unlock();
        PollRetry(p, 2, waitMs);
        guard.lock();
        if (device->fd < 0) {
            device->writePending = false;
            return Fail(EBADF, false);
        }
        if (p[1].revents & POLLIN) {
            device->writePending = false;
            const uint32_t handedOver =
                device->writeLength - static_cast<uint32_t>(device->unsent.size());
            device->unsent.clear();
            written = device->lastWritten = handedOver > queued ? handedOver - queued : 0;
            return Fail(ECANCELED, false);
        }
        if (p[0].revents & (POLLHUP | POLLERR | POLLNVAL)) MarkDead(*device, EIO);
    }
}

int PosixComm::LastError() { return lastError; }

std::string PosixComm::ErrorText(int error) { return SystemErrorText(error); }

EventHandle PosixComm::CreateEvent() {
    int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0) return Fail(errno, kNoEvent);
    std::lock_guard guard(eventsLock);
    eventStates[fd] = std::make_shared<std::atomic<EventKnown>>(EventKnown::Clear);
    return fd;
}

PosixComm::EventState PosixComm::StateOf(EventHandle event) {
    std::lock_guard guard(eventsLock);
    const auto found = eventStates.find(event);
    return found == eventStates.end() ? nullptr : found->second;
}

void PosixComm::CloseEvent(EventHandle event) {
    if (event < 0) return;
    // A wait must never signal a descriptor number that may since belong to
    // something else: forget the event wherever a wait still holds it.
    {
        std::lock_guard guard(devicesLock);
        for (const auto& entry : devices) {
            std::lock_guard deviceGuard(entry.second->lock);
            if (entry.second->waitCompletion == event) {
                entry.second->waitPending = false;
                entry.second->waitCompletion = kNoEvent;
                entry.second->waitCompletionState.reset();
            }
        }
    }
    {
        std::lock_guard guard(eventsLock);
        eventStates.erase(event);
    }
    close(event);
}

bool PosixComm::SetEvent(EventHandle event) {
    const uint64_t one = 1;
    const EventState state = StateOf(event);
    for (;;) {
        const ssize_t n = write(event, &one, sizeof one);
        // The counter saturated is signalled anyway. Marked after the write:
        // a Reset in between reads the count away, as if it came first.
        if (n == static_cast<ssize_t>(sizeof one) || errno == EAGAIN) {
            if (state) state->store(EventKnown::Maybe);
            return true;
        }
        if (errno != EINTR) return Fail(errno, false);
    }
}

bool PosixComm::ResetEvent(EventHandle event) {
    // Marked clear before the read, so that a Set after it is never lost.
    if (const EventState state = StateOf(event)) {
        if (state->exchange(EventKnown::Clear) != EventKnown::Maybe) return true;
    }
    uint64_t count = 0;
    for (;;) {
        if (read(event, &count, sizeof count) == static_cast<ssize_t>(sizeof count) ||
            errno == EAGAIN)
            return true;
        if (errno != EINTR) return Fail(errno, false);
    }
}

int PosixComm::WaitForAny(const EventHandle* events, int count) {
    if (!events || count <= 0) return Fail(EINVAL, -1);
    std::vector<pollfd> fds;
    std::vector<std::shared_ptr<Device>> watched;
    std::vector<EventHandle> completions;
    std::vector<EventState> states;
    states.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) states.push_back(StateOf(events[i]));
    auto signalledHere = [&states](int i) {
        const EventState& state = states[static_cast<size_t>(i)];
        return state && state->load() == EventKnown::SignalledHere;
    };
    for (;;) {
        fds.clear();
        watched.clear();
        for (int i = 0; i < count; ++i) fds.push_back({events[i], POLLIN, 0});
        {
            std::lock_guard guard(devicesLock);
            for (const auto& entry : devices) {
                std::lock_guard deviceGuard(entry.second->lock);
                const Device& device = *entry.second;
                if (device.fd < 0 || device.deadError || !device.waitPending) continue;
                // A full queue leaves the input with the driver; hang-ups are
                // reported whatever the events asked for.
                fds.push_back({device.fd,
                               static_cast<short>(device.input.size() < kInputLimit ? POLLIN : 0),
                               0});
                watched.push_back(entry.second);
            }
        }
        // An event signalled here needs no wait, only a look whether one
        // before it in the table is signalled as well.
        bool ready = false;
        for (int i = 0; i < count && !ready; ++i) ready = signalledHere(i);
        if (poll(fds.data(), fds.size(), ready ? 0 : -1) < 0) {
            if (errno == EINTR) continue;
            return Fail(errno, -1);
        }
        completions.clear();
        for (size_t j = 0; j < watched.size(); ++j) {
            const short revents = fds[static_cast<size_t>(count) + j].revents;
            if (!revents) continue;
            Device& device = *watched[j];
            std::lock_guard guard(device.lock);
            device.completeHere =
                std::find(events, events + count, device.waitCompletion) != events + count;
            const bool completed = Service(device, revents);
            device.completeHere = false;
            if (completed) completions.push_back(device.waitCompletion);
        }
        // A completion just signalled answers for itself, unless an event
        // before it in the table was signalled as well; one signalled outside
        // the table takes another look.
        for (int i = 0; i < count; ++i) {
            if (fds[static_cast<size_t>(i)].revents & POLLNVAL) return Fail(EBADF, -1);
            if (fds[static_cast<size_t>(i)].revents & POLLIN || signalledHere(i)) return i;
            if (std::find(completions.begin(), completions.end(), events[i]) != completions.end())
                return i;
        }
    }
}

std::unique_ptr<std::thread> PosixComm::StartThread(std::function<void()> body) {
    try {
        return std::make_unique<std::thread>(std::move(body));
    } catch (const std::system_error& error) {
        return Fail(error.code().value() ? error.code().value() : EAGAIN, nullptr);
    }
}
