// What talvenor-capture answers Wireshark as a capture interface (extcap):
// one interface per serial port, link type 250, the line settings as options.
#pragma once

#include <cstdio>

#include "recorder/CaptureOptions.h"
#include "serial/ComNames.h"

// The answer to --extcap-interfaces, --extcap-dlts or --extcap-config.
void PrintExtcap(const CaptureOptions& options, const ComNames& names, std::FILE* out);
