// A test aid loaded with LD_PRELOAD: the slave side of a pseudo-terminal
// answers the modem-line, counter, RS-485 and serial-info ioctls the way a
// UART driver does, where the kernel's pty answers ENOTTY. Each device keeps
// its state across opens (a UART keeps its flags when closed), the open
// raises RTS and DTR as the kernel does with a non-zero speed, and every call
// is logged, one line each, to $FAKE_UART_LOG.
//
// Environment, read at each call (a device's start state: when first seen):
//   FAKE_UART=1              on; without it every device is left to the kernel
//   FAKE_UART_LOG            file the calls are appended to
//   FAKE_UART_LOW_LATENCY=1  the devices start in low-latency mode
//   FAKE_UART_LATENCY_FILE   a latency_timer file kept as an FTDI driver
//                            keeps it: 1 in low-latency mode, else 16
//   FAKE_UART_RS485=on|off|none  RS-485 mode at start; none: ENOTTY
// In the same process, tests reach the device through the functions at the
// end (found with dlsym; see FakeUart.h).
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

namespace {

constexpr unsigned kPtySlaveFirstMajor = 136, kPtySlaveLastMajor = 143;
constexpr int kInputs = TIOCM_CTS | TIOCM_DSR | TIOCM_CD | TIOCM_RNG;
constexpr int kOutputs = TIOCM_RTS | TIOCM_DTR;
constexpr unsigned kMaxRs485Delay = 100;  // serial_core's limit, in ms

struct Uart {
    int lines = 0;
    serial_icounter_struct counts{};
    serial_rs485 rs485{};
    bool hasRs485 = true;
    serial_struct serial{};
    std::atomic<unsigned> inputChanges{0};
};

std::mutex stateLock;
std::map<dev_t, Uart>* uarts = nullptr;  // never freed: threads may still call at exit

const char* Env(const char* name) {
    const char* value = std::getenv(name);
    return value && *value ? value : nullptr;
}

Uart& UartOf(dev_t device) {
    if (!uarts) uarts = new std::map<dev_t, Uart>;
    auto found = uarts->find(device);
    if (found != uarts->end()) return found->second;
    Uart& uart = (*uarts)[device];
    if (Env("FAKE_UART_LOW_LATENCY")) uart.serial.flags |= ASYNC_LOW_LATENCY;
    const char* rs485 = Env("FAKE_UART_RS485");
    uart.hasRs485 = !rs485 || std::strcmp(rs485, "none") != 0;
    uart.rs485.flags = SER_RS485_RTS_ON_SEND;
    if (rs485 && std::strcmp(rs485, "on") == 0) uart.rs485.flags |= SER_RS485_ENABLED;
    return uart;
}

bool PtySlave(int fd, dev_t& device) {
    if (!Env("FAKE_UART")) return false;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
    const unsigned major = major(st.st_rdev);
    device = st.st_rdev;
    return major >= kPtySlaveFirstMajor && major <= kPtySlaveLastMajor;
}

bool PathDevice(const char* path, dev_t& device) {
    struct stat st {};
    if (stat(path, &st) != 0) return false;
    device = st.st_rdev;
    return true;
}

void Log(const Uart& uart, const char* format, ...) {
    const char* path = Env("FAKE_UART_LOG");
    if (!path) return;
    char text[256];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    n = std::min<int>(n, sizeof text - 1);
    n += std::snprintf(text + n, sizeof text - static_cast<size_t>(n), " rts=%d dtr=%d\n",
                       (uart.lines & TIOCM_RTS) != 0, (uart.lines & TIOCM_DTR) != 0);
    // openat is not caught here: the log's own file is no device.
    const int fd = ::openat(AT_FDCWD, path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return;
    if (write(fd, text, std::min<size_t>(static_cast<size_t>(n), sizeof text - 1)) < 0) {
    }
    close(fd);
}

void WriteLatencyFile(const Uart& uart) {
    const char* path = Env("FAKE_UART_LATENCY_FILE");
    if (!path) return;
    if (std::FILE* file = std::fopen(path, "w")) {
        std::fprintf(file, "%d\n", uart.serial.flags & ASYNC_LOW_LATENCY ? 1 : 16);
        std::fclose(file);
    }
}

const char* LineNames(int bits) {
    switch (bits & kOutputs) {
        case TIOCM_RTS:
            return "RTS";
        case TIOCM_DTR:
            return "DTR";
        case kOutputs:
            return "RTS|DTR";
        default:
            return "-";
    }
}

// Changes the outputs; while the RS-485 mode is on the driver keeps RTS.
void SetOutputs(Uart& uart, int set, int clear, const char* call) {
    const bool owned = uart.rs485.flags & SER_RS485_ENABLED;
    const int touched = (set | clear) & kOutputs;
    if (owned) {
        set &= ~TIOCM_RTS;
        clear &= ~TIOCM_RTS;
    }
    uart.lines = (uart.lines | (set & kOutputs)) & ~(clear & kOutputs);
    Log(uart, "%s %s%s", call, LineNames(touched),
        owned && (touched & TIOCM_RTS) ? " during-rs485" : "");
}

// Blocks like the driver until an input in `mask` changes; a signal ends
// the wait with EINTR, as it does the kernel's.
int WaitForChange(Uart& uart, int mask) {
    if ((mask & kInputs) == 0) return 0;
    const unsigned start = uart.inputChanges.load();
    while (uart.inputChanges.load() == start) {
        const timespec step{0, 5'000'000};
        if (ppoll(nullptr, 0, &step, nullptr) < 0) return -1;
    }
    return 0;
}

int Answer(Uart& uart, unsigned long request, void* argument) {
    switch (request) {
        case TIOCMGET:
            *static_cast<int*>(argument) = uart.lines;
            return 0;
        case TIOCMBIS:
            SetOutputs(uart, *static_cast<int*>(argument), 0, "TIOCMBIS");
            return 0;
        case TIOCMBIC:
            SetOutputs(uart, 0, *static_cast<int*>(argument), "TIOCMBIC");
            return 0;
        case TIOCMSET: {
            const int bits = *static_cast<int*>(argument);
            SetOutputs(uart, bits, ~bits, "TIOCMSET");
            return 0;
        }
        case TIOCGICOUNT:
            *static_cast<serial_icounter_struct*>(argument) = uart.counts;
            return 0;
        case TIOCGSERIAL:
            *static_cast<serial_struct*>(argument) = uart.serial;
            return 0;
        case TIOCSSERIAL: {
            const bool was = uart.serial.flags & ASYNC_LOW_LATENCY;
            uart.serial = *static_cast<serial_struct*>(argument);
            const bool now = uart.serial.flags & ASYNC_LOW_LATENCY;
            Log(uart, "TIOCSSERIAL low_latency=%d", now);
            if (was != now) WriteLatencyFile(uart);
            return 0;
        }
        case TIOCGRS485:
            if (!uart.hasRs485) return errno = ENOTTY, -1;
            *static_cast<serial_rs485*>(argument) = uart.rs485;
            return 0;
        case TIOCSRS485: {
            if (!uart.hasRs485) return errno = ENOTTY, -1;
            serial_rs485 wanted = *static_cast<serial_rs485*>(argument);
            // As serial_core sanitises it: one RTS level while sending.
            const bool onSend = wanted.flags & SER_RS485_RTS_ON_SEND;
            const bool afterSend = wanted.flags & SER_RS485_RTS_AFTER_SEND;
            if (onSend == afterSend) {
                wanted.flags |= SER_RS485_RTS_ON_SEND;
                wanted.flags &= ~SER_RS485_RTS_AFTER_SEND;
            }
            wanted.delay_rts_before_send = std::min(wanted.delay_rts_before_send, kMaxRs485Delay);
            wanted.delay_rts_after_send = std::min(wanted.delay_rts_after_send, kMaxRs485Delay);
            uart.rs485 = wanted;
            *static_cast<serial_rs485*>(argument) = wanted;
            Log(uart, "TIOCSRS485 flags=%u before=%u after=%u", wanted.flags,
                wanted.delay_rts_before_send, wanted.delay_rts_after_send);
            return 0;
        }
        default:
            return 1;  // not ours: the kernel answers
    }
}

using IoctlFunction = int (*)(int, unsigned long, ...);
using OpenFunction = int (*)(const char*, int, ...);

IoctlFunction RealIoctl() {
    static auto real = reinterpret_cast<IoctlFunction>(dlsym(RTLD_NEXT, "ioctl"));
    return real;
}

int AfterOpen(int fd) {
    dev_t device{};
    if (fd < 0 || !PtySlave(fd, device)) return fd;
    std::lock_guard guard(stateLock);
    Uart& uart = UartOf(device);
    uart.lines |= kOutputs;
    Log(uart, "open");
    return fd;
}

int OpenWith(OpenFunction real, const char* path, int flags, va_list args) {
    const mode_t mode = (flags & (O_CREAT | O_TMPFILE)) ? va_arg(args, mode_t) : 0;
    return AfterOpen(real(path, flags, mode));
}

}  // namespace

extern "C" {

int ioctl(int fd, unsigned long request, ...) {
    va_list args;
    va_start(args, request);
    void* argument = va_arg(args, void*);
    va_end(args);
    dev_t device{};
    if (PtySlave(fd, device)) {
        if (request == TIOCMIWAIT) {
            Uart* uart;
            {
                std::lock_guard guard(stateLock);
                uart = &UartOf(device);
            }
            return WaitForChange(*uart, static_cast<int>(reinterpret_cast<intptr_t>(argument)));
        }
        std::lock_guard guard(stateLock);
        const int answer = Answer(UartOf(device), request, argument);
        if (answer <= 0) return answer;
    }
    return RealIoctl()(fd, request, argument);
}

int open(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    static auto real = reinterpret_cast<OpenFunction>(dlsym(RTLD_NEXT, "open"));
    const int fd = OpenWith(real, path, flags, args);
    va_end(args);
    return fd;
}

int open64(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    static auto real = reinterpret_cast<OpenFunction>(dlsym(RTLD_NEXT, "open64"));
    const int fd = OpenWith(real, path, flags, args);
    va_end(args);
    return fd;
}

// The far end of the line: the inputs (TIOCM_CTS, _DSR, _CD, _RNG) change,
// and the driver counts each change.
int FakeUartSetInputs(const char* path, int bits) {
    dev_t device{};
    if (!PathDevice(path, device)) return -1;
    std::lock_guard guard(stateLock);
    Uart& uart = UartOf(device);
    const int changed = (uart.lines ^ bits) & kInputs;
    uart.counts.cts += (changed & TIOCM_CTS) != 0;
    uart.counts.dsr += (changed & TIOCM_DSR) != 0;
    uart.counts.dcd += (changed & TIOCM_CD) != 0;
    uart.counts.rng += (changed & TIOCM_RNG) != 0;
    uart.lines = (uart.lines & ~kInputs) | (bits & kInputs);
    uart.inputChanges.fetch_add(1);
    return 0;
}

// Bytes that arrived damaged: the driver counts them.
int FakeUartCountErrors(const char* path, int frame, int parity, int overrun, int breaks) {
    dev_t device{};
    if (!PathDevice(path, device)) return -1;
    std::lock_guard guard(stateLock);
    Uart& uart = UartOf(device);
    uart.counts.frame += frame;
    uart.counts.parity += parity;
    uart.counts.overrun += overrun;
    uart.counts.brk += breaks;
    return 0;
}

// A new pseudo-terminal that got the number of one gone: a new device.
int FakeUartForget(const char* path) {
    dev_t device{};
    if (!PathDevice(path, device)) return -1;
    std::lock_guard guard(stateLock);
    if (uarts) uarts->erase(device);
    return 0;
}

int FakeUartLowLatency(const char* path) {
    dev_t device{};
    if (!PathDevice(path, device)) return -1;
    std::lock_guard guard(stateLock);
    return (UartOf(device).serial.flags & ASYNC_LOW_LATENCY) != 0;
}

int FakeUartRs485Flags(const char* path) {
    dev_t device{};
    if (!PathDevice(path, device)) return -1;
    std::lock_guard guard(stateLock);
    return static_cast<int>(UartOf(device).rs485.flags);
}

}  // extern "C"
