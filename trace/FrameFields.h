// The fields of a frame as the list, the statistics and the saved file show
// them, each taken in one place.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "trace/LineFrame.h"

// A frame's station, function and data: its bytes without the check, RTU or
// ASCII by its first byte.
FrameKind FramingOf(const std::vector<uint8_t>& bytes);
// Empty when the bytes are too short or not an ASCII frame.
std::vector<uint8_t> FrameAdu(const std::vector<uint8_t>& bytes, FrameKind kind);
inline std::vector<uint8_t> FrameAdu(const std::vector<uint8_t>& bytes) {
    return FrameAdu(bytes, FramingOf(bytes));
}

// Local time HH:MM:SS.mmm, and the same after the date as ISO 8601 has it,
// YYYY-MM-DDTHH:MM:SS.mmm.
std::string TimeOfDay(int64_t wallUs);
std::string DateAndTime(int64_t wallUs);

// Bytes as hexadecimal pairs between spaces; at most `limit` of them, the
// rest said as their count.
std::string HexBytes(const std::vector<uint8_t>& bytes, size_t limit = SIZE_MAX);
