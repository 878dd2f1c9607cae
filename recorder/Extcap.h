// What talvenor-capture answers Wireshark as a capture interface (extcap):
// one interface per serial port, link type 250, the line settings as options.
#pragma once

#include <cstdio>

#include "recorder/CaptureOptions.h"
#include "serial/ComNames.h"

#include <string>

// The answer to --extcap-interfaces, --extcap-dlts or --extcap-config; false,
// with nothing printed and `error` set, for an interface that names no port.
bool PrintExtcap(const CaptureOptions& options, const ComNames& names, std::FILE* out,
                 std::string& error);

// `text` as a value between extcap's braces. Wireshark's reader has no
// escape: a value ends at a '}' before '{', a blank or the line's end, and a
// line ends the sentence. So braces become parentheses and control
// characters '?'.
std::string ExtcapValue(const std::string& text);
