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

// procDirectory is injectable for tests.
DeviceAccess ProbeDeviceAccess(const std::string& path, const std::string& procDirectory = "/proc");
