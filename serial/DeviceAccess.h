// What can be told about a device path without opening it: opening raises
// DTR and RTS, which resets many boards, so the port dialog only looks.
#pragma once

#include <string>

enum class DeviceAccess {
    Ready,         // there, and this user may read and write it
    Missing,       // no such device (or a link to nothing)
    NoPermission,  // there, but this user may not open it (not in its group)
    Busy,          // another process has it open
};

// procDirectory is injectable for tests. A pseudo-terminal held only by the
// program that created it (it holds the master side too, as a simulator
// does) is not busy: nobody else would fight us for the line.
DeviceAccess ProbeDeviceAccess(const std::string& path, const std::string& procDirectory = "/proc");

// What the kernel publishes about a USB serial adapter, for telling two alike
// adapters apart; every text empty when it is not one (or not known).
struct UsbIdentity {
    std::string manufacturer;
    std::string product;
    std::string vendorId;  // four hexadecimal digits, as sysfs writes them
    std::string productId;
    std::string serialNumber;
    std::string byIdPath;  // the <deviceDirectory>/serial/by-id link to the device
    // The <deviceDirectory>/serial/by-path link: its place on the bus (the
    // same port of the same hub), which stays when it comes back as another
    // ttyUSB and tells two adapters without serial numbers apart.
    std::string byPathPath;
};

// Reads sysfs and the by-id and by-path links only; the device is never
// opened. The directories are injectable for tests.
UsbIdentity DescribeUsbAdapter(const std::string& path, const std::string& deviceDirectory = "/dev",
                               const std::string& ttyClassDirectory = "/sys/class/tty");

// The latency timer of the USB serial adapter at `path` in milliseconds, as
// its driver publishes it (FTDI: how long it holds received bytes before it
// sends a short packet); -1 where the device has none.
int AdapterLatencyMs(const std::string& path,
                     const std::string& ttyClassDirectory = "/sys/class/tty");
