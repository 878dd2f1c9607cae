#include "ui/IntegerText.h"

#include <limits>

#include "tools/AsciiChars.h"

namespace {

// Digits of at most `limit` in magnitude, the sign already taken.
std::optional<uint64_t> ReadMagnitude(std::string_view text, bool allowSign, bool& negative,
                                      uint64_t positiveLimit, uint64_t negativeLimit) {
    size_t i = 0;
    while (i < text.size() && IsSpaceOrTab(text[i])) ++i;
    negative = false;
    if (allowSign && i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    const size_t firstDigit = i;
    uint64_t value = 0;
    const uint64_t limit = negative ? negativeLimit : positiveLimit;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + static_cast<uint64_t>(text[i] - '0');
        if (value > limit) return std::nullopt;
    }
    if (i == firstDigit) return std::nullopt;
    while (i < text.size() && IsSpaceOrTab(text[i])) ++i;
    if (i != text.size()) return std::nullopt;
    return value;
}

}  // namespace

std::optional<int32_t> ParseIntText(std::string_view text) {
    bool negative = false;
    const auto magnitude =
        ReadMagnitude(text, true, negative, std::numeric_limits<int32_t>::max(), uint64_t{1} << 31);
    if (!magnitude) return std::nullopt;
    const int64_t value =
        negative ? -static_cast<int64_t>(*magnitude) : static_cast<int64_t>(*magnitude);
    return static_cast<int32_t>(value);
}

std::optional<uint32_t> ParseUnsignedText(std::string_view text) {
    bool negative = false;
    const auto magnitude =
        ReadMagnitude(text, false, negative, std::numeric_limits<uint32_t>::max(), 0);
    if (!magnitude) return std::nullopt;
    return static_cast<uint32_t>(*magnitude);
}
