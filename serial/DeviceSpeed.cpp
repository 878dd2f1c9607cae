#include "serial/DeviceSpeed.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>
#include <cerrno>

namespace {

int Ioctl(int fd, unsigned long request, termios2* t) {
    int r;
    do r = ioctl(fd, request, t);
    while (r < 0 && errno == EINTR);
    return r < 0 ? errno : 0;
}

}  // namespace

int DeviceSpeed::SetCustom(int fd, uint32_t baudRate) {
    termios2 t{};
    if (int error = Ioctl(fd, TCGETS2, &t)) return error;
    t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    t.c_ispeed = baudRate;
    t.c_ospeed = baudRate;
    return Ioctl(fd, TCSETS2, &t);
}

int DeviceSpeed::Read(int fd, uint32_t& baudRate) {
    termios2 t{};
    if (int error = Ioctl(fd, TCGETS2, &t)) return error;
    baudRate = t.c_ospeed;
    return 0;
}
