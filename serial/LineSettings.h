// The mapping between the device-control record and termios, and the line
// parameter text. Pure functions: a pty forces 8 data bits and no parity, so
// the mapping is checked here rather than on a device.
#pragma once

#include <termios.h>
#include <cstdint>
#include <string>

#include "serial/CommLayer.h"

class LineSettings {
public:
    // Each answers 0 or EINVAL for a value no line can carry.
    static int ApplyDataBits(termios& t, uint8_t byteSize);
    static int ApplyParity(termios& t, uint8_t parity);
    static int ApplyStopBits(termios& t, uint8_t stopBits);

    // Raw eight-bit line without flow control: no echo, no line editing, no
    // XON/XOFF or RTS/CTS handshake, receiver on, modem status ignored for
    // opening, and no PARMRK (it would double every 0xFF).
    static void ApplyRawMode(termios& t);

    // The speed_t of a standard rate, or false when the rate has none and
    // must go through termios2.
    static bool StandardSpeed(uint32_t baudRate, speed_t& speed);

    // Raw mode plus data bits, parity, stop bits and, for standard rates, the
    // speed. 0, or EINVAL for an impossible record (a baud rate of 0 among
    // them: applied, it would hang up the line).
    static int ToTermios(const DCB& dcb, termios& t);
    // Data bits, parity and stop bits as the device keeps them.
    static void FromTermios(const termios& t, DCB& dcb);

    // Applies "baud=%d parity=%c data=%d stop=%d" (keys in any order and
    // case, each optional) to `dcb`. 0, or EINVAL for anything else; `dcb`
    // is left untouched then.
    static int ParseLineText(const std::string& text, DCB& dcb);
};
