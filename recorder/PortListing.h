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
    std::string rs485;     // "rs485 on", "rs485 off"; empty where not known
};

// Every number that resolves now; no device is opened unless `askRs485`:
// then each ready port that is not a USB adapter (those switch direction
// themselves) is opened for a moment to read its RS-485 mode.
std::vector<PortEntry> ListPorts(const ComNames& names, bool askRs485 = false);
// "COM3 (/dev/ttyUSB0, 0403:6001 A50285BI FTDI FT232R USB UART)"
std::string PortTitle(const PortEntry& port);
