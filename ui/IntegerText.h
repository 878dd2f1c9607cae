// The one reader of the decimal numbers typed into digit fields.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// Blanks (space, tab) around the number are allowed. A signed number may
// carry one '+' or '-'; an unsigned one carries no sign at all. Empty text,
// anything after the digits and values outside 32 bits give nothing.
std::optional<int32_t> ParseIntText(std::string_view text);
std::optional<uint32_t> ParseUnsignedText(std::string_view text);
