// Text is held as code page 936 (GBK) bytes wherever it is measured, parsed or
// sent; the toolkit's strings are Unicode. These are the only conversions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// UTF-8 to code page 936. A character that the code page cannot hold, or a
// malformed UTF-8 sequence, becomes one '?'; nothing else is dropped.
std::string Utf8ToGbk(std::string_view utf8);

// Code page 936 to UTF-8. A byte sequence that is not a code page 936
// character becomes one '?'.
std::string GbkToUtf8(std::string_view gbk);

// True for a byte that starts a double-byte character in code page 936.
inline bool IsGbkLeadByte(uint8_t b) { return b >= 0x81 && b <= 0xFE; }

// Upper-cases the ASCII letters a to z, leaving both bytes of every
// double-byte character alone (a trail byte may look like a letter).
void UpperAscii(std::string& text);
