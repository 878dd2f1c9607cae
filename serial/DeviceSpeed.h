// Line speeds through termios2, the interface that takes any rate and reads
// back the rate the driver actually runs. Kept in a file of its own because
// <asm/termbits.h> and glibc's <termios.h> cannot be included together.
#pragma once

#include <cstdint>

class DeviceSpeed {
public:
    // Sets input and output speed to `baudRate` (BOTHER); 0 or the driver's errno.
    static int SetCustom(int fd, uint32_t baudRate);
    // The output speed the driver keeps; 0 or the driver's errno.
    static int Read(int fd, uint32_t& baudRate);
};
