// What the port settings dialog's texts mean for SerialPort::Open: a pure
// function, so the rules (the stop-bit count, the parity letter, the fixed
// event mask) are read and tested in one place.
#pragma once

#include <cstdint>
#include <string>

struct PortTexts {
    std::string port;
    std::string baud;
    std::string parity;
    std::string dataBits;
    std::string stopBits;
    std::string sendBuffer;
};

struct OpenArguments {
    int32_t portNumber = 1;
    uint32_t baudRate = 0;
    char parityLetter = 'N';
    uint32_t dataBits = 0;
    uint32_t stopBits = 1;
    uint32_t eventMask = 0;
    uint32_t writeBufferSize = 0;
};

// Numbers are read as decimal values, leading digits only ("9600" is 9600,
// an empty text 0). "1" and "1.5" give one stop bit, "2" two, anything else
// one. The event mask is always character received plus CTS changed: the
// dialog's event flags are shown, not used. A send-buffer text that is not a
// positive number opens with the default buffer of 512 bytes.
OpenArguments OpenArgumentsFromTexts(const PortTexts& texts);
