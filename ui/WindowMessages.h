// The window messages the hook chain and the menu hooks pass around, with
// their platform numbers, and the parts of a message. A hooked widget's Qt
// events reach its hooks as these messages.
#pragma once

#include <cstdint>

class QWidget;

using UINT = unsigned int;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;

// A window procedure: what a widget's messages are handed to.
using WindowProc = LRESULT (*)(QWidget* window, UINT message, WPARAM wParam, LPARAM lParam);

namespace WindowMessages {
inline constexpr UINT WM_CONTEXTMENU = 123;  // lParam: screen x and y, -1 and -1 from the keyboard
inline constexpr UINT WM_NCDESTROY = 130;    // the window's last message
inline constexpr UINT WM_COMMAND = 273;      // low word of wParam: the command number
inline constexpr UINT WM_INITMENUPOPUP = 279;  // wParam: the QMenu; lParam: index, system-menu flag
}  // namespace WindowMessages

inline LPARAM MakeLParam(int low, int high) {
    return static_cast<LPARAM>(static_cast<uint32_t>(static_cast<uint16_t>(low)) |
                               (static_cast<uint32_t>(static_cast<uint16_t>(high)) << 16));
}
// The low and high 16 bits as signed values, as screen coordinates are read.
inline int SignedLowWord(LPARAM value) { return static_cast<int16_t>(value & 0xFFFF); }
inline int SignedHighWord(LPARAM value) { return static_cast<int16_t>((value >> 16) & 0xFFFF); }
inline unsigned LowWord(uintptr_t value) { return static_cast<unsigned>(value & 0xFFFF); }
inline unsigned HighWord(uintptr_t value) { return static_cast<unsigned>((value >> 16) & 0xFFFF); }
