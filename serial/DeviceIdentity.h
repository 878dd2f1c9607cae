// What a port number leads to, told well enough to know the device again
// after it went away: the number's link when the user pinned it, a USB
// adapter's ids with its serial number or else its place on the bus, or
// else the device path itself.
#pragma once

#include <string>

#include "serial/ComNames.h"

struct DeviceIdentity {
    bool pinned = false;   // COM<n> is a link in the port directory
    bool present = false;  // the path leads to an existing file
    std::string path;      // where the number leads now; empty: nowhere
    // A USB adapter's, as sysfs publishes them; empty for other devices.
    std::string vendorId;
    std::string productId;
    std::string serialNumber;
    std::string busPlace;  // the by-path link's name; empty without one
};

// Reads the port directory, /dev and sysfs through `names`' places; the
// device is never opened.
DeviceIdentity IdentifyPort(const ComNames& names, int portNumber);

// Whether `now` is the device `was` was, back and present. A pinned number
// is its link, whatever the link leads to (a simulator started again makes a
// new pseudo-terminal). An adapter is its ids and its serial number, or
// without one its place on the bus, under any ttyUSB number: two alike
// adapters without serial numbers are told apart by the ports they are in.
// Anything else is its path.
bool IsSameDevice(const DeviceIdentity& was, const DeviceIdentity& now);
