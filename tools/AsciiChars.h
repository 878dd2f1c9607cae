// Byte rules for ASCII characters inside code page 936 text. Each looks at one
// byte, and no byte of a double-byte character (0x81 and up) ever matches.
#pragma once

// White space as the C library's isspace sees it in the "C" locale.
inline bool IsAsciiSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The blanks between the fields of a line parameter text or around a number
// typed into a field: space and tab only.
inline bool IsSpaceOrTab(char c) { return c == ' ' || c == '\t'; }

// 0 to 15 for 0-9, A-F and a-f; -1 for any other byte.
inline int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// 0 to 15 for 0-9 and A-F, the digits of a Modbus ASCII frame; -1 otherwise.
inline int UpperHexDigitValue(char c) { return c >= 'a' ? -1 : HexDigitValue(c); }
