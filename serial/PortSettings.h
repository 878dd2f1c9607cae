// The line settings the serial engine keeps and reports. Baud rate, data
// bits, parity and stop bits live in the device-control record, which the
// engine keeps whole and hands out as a copy.
#pragma once

#include "serial/CommLayer.h"

#include <cstdint>

// What every open asks the device to report: received characters and CTS
// changes. Also what the engine reports before its first open, so that the
// settings dialog shows the same boxes ticked before and after.
constexpr uint32_t kDefaultEventMask = EV_RXCHAR | EV_CTS;

struct PortSettings {
    int32_t portNumber = 1;
    DCB dcb;  // baudRate 9600, byteSize 8, parity 0, stopBits 0
    uint32_t eventMask = kDefaultEventMask;
    uint32_t writeBufferSize = 512;
};
