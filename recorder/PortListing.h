// The serial ports as the port dialog tells them, in text: the COM number,
// the device it leads to, whether this user can open it, and a USB
// adapter's identity. For -D and for Wireshark's list of interfaces.
#pragma once

#include <string>
#include <vector>

#include "serial/ComNames.h"

struct PortEntry {
    int number = 0;
    std::string path;
    std::string state;     // ready, missing, no permission, busy
    std::string identity;  // "0403:6001 A50285BI FTDI FT232R USB UART"; empty for others
};

// Every number that resolves now; no device is opened.
std::vector<PortEntry> ListPorts(const ComNames& names);
// "COM3 (/dev/ttyUSB0, 0403:6001 A50285BI FTDI FT232R USB UART)"
std::string PortTitle(const PortEntry& port);
