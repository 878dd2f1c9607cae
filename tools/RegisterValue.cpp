#include "tools/RegisterValue.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace RegisterValue {

namespace {

enum class Kind : uint8_t { Bit, Unsigned, Signed, Real, Hex, Binary, Text };

struct FormatRow {
    RegisterFormat format;
    std::string_view name;
    int bytes;  // 0: a coil or a text of its own length
    Kind kind;
};

// The table offers them in this order.
constexpr std::array<FormatRow, 12> kFormats{{
    {RegisterFormat::Bit, "bit", 0, Kind::Bit},
    {RegisterFormat::U16, "u16", 2, Kind::Unsigned},
    {RegisterFormat::S16, "s16", 2, Kind::Signed},
    {RegisterFormat::Hex16, "hex", 2, Kind::Hex},
    {RegisterFormat::Binary16, "binary", 2, Kind::Binary},
    {RegisterFormat::U32, "u32", 4, Kind::Unsigned},
    {RegisterFormat::S32, "s32", 4, Kind::Signed},
    {RegisterFormat::F32, "float32", 4, Kind::Real},
    {RegisterFormat::U64, "u64", 8, Kind::Unsigned},
    {RegisterFormat::S64, "s64", 8, Kind::Signed},
    {RegisterFormat::F64, "float64", 8, Kind::Real},
    {RegisterFormat::Text, "text", 0, Kind::Text},
}};

struct OrderRow {
    WordOrder order;
    std::string_view name;
    bool swapWords, swapBytes;
};

constexpr std::array<OrderRow, 4> kOrders{{
    {WordOrder::ABCD, "ABCD", false, false},
    {WordOrder::CDAB, "CDAB", true, false},
    {WordOrder::BADC, "BADC", false, true},
    {WordOrder::DCBA, "DCBA", true, true},
}};

constexpr std::array<RegisterFormat, kFormats.size()> kFormatList = [] {
    std::array<RegisterFormat, kFormats.size()> list{};
    for (size_t i = 0; i < kFormats.size(); ++i) list[i] = kFormats[i].format;
    return list;
}();
constexpr std::array<WordOrder, 4> kOrderList{WordOrder::ABCD, WordOrder::CDAB, WordOrder::BADC,
                                              WordOrder::DCBA};

const FormatRow& RowOf(RegisterFormat format) {
    for (const FormatRow& row : kFormats)
        if (row.format == format) return row;
    return kFormats[1];
}

const OrderRow& RowOf(WordOrder order) {
    for (const OrderRow& row : kOrders)
        if (row.order == order) return row;
    return kOrders[0];
}

bool Unscaled(const ValueFormat& format) { return format.scale == 1.0 && format.offset == 0.0; }

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

// from_chars reads no '+'; a user types one.
std::string_view WithoutPlus(std::string_view text) {
    if (text.size() > 1 && text[0] == '+' && text[1] != '-') text.remove_prefix(1);
    return text;
}

template <typename T>
std::string Shortest(T value) {
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

std::string Scaled(double value) {
    char text[64];
    const int length = std::snprintf(text, sizeof text, "%.10g", value);
    return std::string(text, length > 0 ? static_cast<size_t>(length) : 0);
}

// The value's bytes as one unsigned number, most significant first.
uint64_t Assemble(std::span<const uint8_t> bytes) {
    uint64_t value = 0;
    for (uint8_t byte : bytes) value = value << 8 | byte;
    return value;
}

uint64_t SignExtend(uint64_t value, int bytes) {
    if (bytes >= 8) return value;
    const int shift = 64 - bytes * 8;
    return static_cast<uint64_t>(static_cast<int64_t>(value << shift) >> shift);
}

void Split(uint64_t value, std::span<uint8_t> bytes) {
    for (size_t i = bytes.size(); i-- > 0; value >>= 8) bytes[i] = static_cast<uint8_t>(value);
}

std::vector<uint16_t> Place(uint64_t value, int bytes, WordOrder order) {
    std::array<uint8_t, 8> big{};
    const std::span<uint8_t> used(big.data(), static_cast<size_t>(bytes));
    Split(value, used);
    std::vector<uint16_t> registers(static_cast<size_t>(bytes / 2));
    PlaceBytes(used, order, registers);
    return registers;
}

double Real(uint64_t bits, int bytes) {
    if (bytes == 4) return std::bit_cast<float>(static_cast<uint32_t>(bits));
    return std::bit_cast<double>(bits);
}

std::optional<double> ParseReal(std::string_view text) {
    double value = 0;
    text = WithoutPlus(text);
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return std::nullopt;
    return value;
}

// The raw unsigned bits of an integer or real `text` typed for `format`.
std::optional<uint64_t> ParseNumber(const ValueFormat& format, const FormatRow& row,
                                    std::string_view text, std::string& error) {
    const int bits = row.bytes * 8;
    if (row.kind == Kind::Real && Unscaled(format)) {
        // Read straight into the width, so that a float is rounded once.
        text = WithoutPlus(text);
        const char* end = text.data() + text.size();
        // from_chars leaves the value alone when it is out of range; strtod
        // tells an overflow (an infinity) from an underflow (0 or a denormal).
        const auto outOfRange = [&](double& value) {
            value = std::strtod(std::string(text).c_str(), nullptr);
            if (!std::isinf(value)) return false;
            error = OutOfRangeMessage;
            return true;
        };
        if (row.bytes == 4) {
            float value = 0;
            const auto result = std::from_chars(text.data(), end, value);
            if (result.ptr != end || result.ec == std::errc::invalid_argument) {
                error = NotANumberMessage;
                return std::nullopt;
            }
            if (result.ec != std::errc()) {
                double wide = 0;
                if (outOfRange(wide)) return std::nullopt;
                if (std::fabs(wide) > std::numeric_limits<float>::max()) {
                    error = OutOfRangeMessage;
                    return std::nullopt;
                }
                value = static_cast<float>(wide);
            }
            return std::bit_cast<uint32_t>(value);
        }
        double value = 0;
        const auto result = std::from_chars(text.data(), end, value);
        if (result.ptr != end || result.ec == std::errc::invalid_argument) {
            error = NotANumberMessage;
            return std::nullopt;
        }
        if (result.ec != std::errc() && outOfRange(value)) return std::nullopt;
        return std::bit_cast<uint64_t>(value);
    }
    if (Unscaled(format)) {
        // Integers typed as integers, exactly: 64 bits do not fit a double.
        text = WithoutPlus(text);
        const char* end = text.data() + text.size();
        if (row.kind == Kind::Signed) {
            int64_t value = 0;
            const auto result = std::from_chars(text.data(), end, value);
            const int64_t low = bits == 64 ? INT64_MIN : -(int64_t{1} << (bits - 1));
            const int64_t high = bits == 64 ? INT64_MAX : (int64_t{1} << (bits - 1)) - 1;
            if (result.ptr == end && result.ec == std::errc() && value >= low && value <= high)
                return static_cast<uint64_t>(value) & (bits == 64 ? ~0ULL : (1ULL << bits) - 1);
            error = result.ptr == end && !text.empty() && result.ec != std::errc::invalid_argument
                        ? OutOfRangeMessage
                        : NotANumberMessage;
            return std::nullopt;
        }
        if (text.size() > 1 && text[0] == '-' &&
            text.find_first_not_of('0', 1) != std::string_view::npos) {
            error = OutOfRangeMessage;  // a negative number for an unsigned format
            return std::nullopt;
        }
        if (text.size() > 1 && text[0] == '-') text.remove_prefix(1);  // -0
        uint64_t value = 0;
        const auto result = std::from_chars(text.data(), end, value);
        const uint64_t high = bits == 64 ? UINT64_MAX : (1ULL << bits) - 1;
        if (result.ptr == end && result.ec == std::errc() && value <= high) return value;
        error = result.ptr == end && !text.empty() && result.ec != std::errc::invalid_argument
                    ? OutOfRangeMessage
                    : NotANumberMessage;
        return std::nullopt;
    }
    const std::optional<double> typed = ParseReal(text);
    if (!typed || format.scale == 0.0 || !std::isfinite(format.scale)) {
        error = NotANumberMessage;
        return std::nullopt;
    }
    const double raw = (*typed - format.offset) / format.scale;
    if (row.kind == Kind::Real) {
        if (row.bytes == 8) return std::bit_cast<uint64_t>(raw);
        if (std::isfinite(raw) && std::fabs(raw) > std::numeric_limits<float>::max()) {
            error = OutOfRangeMessage;
            return std::nullopt;
        }
        return std::bit_cast<uint32_t>(static_cast<float>(raw));
    }
    const double rounded = std::nearbyint(raw);
    // 2^bits as a double is exact; the largest value is below it.
    const double span = std::ldexp(1.0, bits);
    const double low = row.kind == Kind::Signed ? -span / 2 : 0.0;
    const double high = row.kind == Kind::Signed ? span / 2 : span;
    if (!(rounded >= low && rounded < high)) {
        error = OutOfRangeMessage;
        return std::nullopt;
    }
    if (row.kind == Kind::Signed)
        return static_cast<uint64_t>(static_cast<int64_t>(rounded)) &
               (bits == 64 ? ~0ULL : (1ULL << bits) - 1);
    return static_cast<uint64_t>(rounded);
}

std::optional<uint64_t> ParseDigits(std::string_view text, int base) {
    if (base == 16 && text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        text.remove_prefix(2);
    uint64_t value = 0;
    int digits = 0;
    for (char c : text) {
        if (base == 2 && (c == ' ' || c == '_')) continue;
        int digit = -1;
        if (c >= '0' && c <= '9') digit = c - '0';
        if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        if (digit < 0 || digit >= base) return std::nullopt;
        value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
        if (value > 0xFFFF) return std::nullopt;
        ++digits;
    }
    if (digits == 0) return std::nullopt;
    return value;
}

}  // namespace

std::span<const RegisterFormat> Formats() { return kFormatList; }
std::string_view FormatName(RegisterFormat format) { return RowOf(format).name; }
std::optional<RegisterFormat> FormatNamed(std::string_view name) {
    for (const FormatRow& row : kFormats)
        if (row.name == name) return row.format;
    return std::nullopt;
}
std::span<const WordOrder> Orders() { return kOrderList; }
std::string_view OrderName(WordOrder order) { return RowOf(order).name; }
std::optional<WordOrder> OrderNamed(std::string_view name) {
    for (const OrderRow& row : kOrders)
        if (row.name == name) return row.order;
    return std::nullopt;
}
bool HasOrder(RegisterFormat format) { return RowOf(format).bytes > 2; }
bool IsScaled(RegisterFormat format) {
    const Kind kind = RowOf(format).kind;
    return kind == Kind::Unsigned || kind == Kind::Signed || kind == Kind::Real;
}

int Width(const ValueFormat& format) {
    const FormatRow& row = RowOf(format.format);
    if (row.kind == Kind::Bit) return 1;
    if (row.kind == Kind::Text) return std::clamp(format.textRegisters, 1, kMaxTextRegisters);
    return row.bytes / 2;
}

void PlaceBytes(std::span<const uint8_t> bytes, WordOrder order, std::span<uint16_t> registers) {
    const OrderRow& row = RowOf(order);
    const size_t words = registers.size();
    for (size_t w = 0; w < words; ++w) {
        const size_t source = row.swapWords ? words - 1 - w : w;
        uint8_t high = bytes[source * 2], low = bytes[source * 2 + 1];
        if (row.swapBytes) std::swap(high, low);
        registers[w] = static_cast<uint16_t>(high << 8 | low);
    }
}

void TakeBytes(std::span<const uint16_t> registers, WordOrder order, std::span<uint8_t> bytes) {
    const OrderRow& row = RowOf(order);
    const size_t words = registers.size();
    for (size_t w = 0; w < words; ++w) {
        const size_t target = row.swapWords ? words - 1 - w : w;
        uint8_t high = static_cast<uint8_t>(registers[w] >> 8);
        uint8_t low = static_cast<uint8_t>(registers[w]);
        if (row.swapBytes) std::swap(high, low);
        bytes[target * 2] = high;
        bytes[target * 2 + 1] = low;
    }
}

Reading Read(const ValueFormat& format, std::span<const uint16_t> registers) {
    const FormatRow& row = RowOf(format.format);
    Reading reading;
    if (registers.size() < static_cast<size_t>(Width(format))) return reading;
    switch (row.kind) {
        case Kind::Bit:
            reading.text = registers[0] ? "1" : "0";
            reading.number = registers[0] ? 1.0 : 0.0;
            return reading;
        case Kind::Hex: {
            char text[8];
            std::snprintf(text, sizeof text, "0x%04X", registers[0]);
            reading.text = text;
            reading.number = registers[0];
            return reading;
        }
        case Kind::Binary:
            for (int bit = 15; bit >= 0; --bit) {
                reading.text += (registers[0] >> bit & 1) ? '1' : '0';
                if (bit % 4 == 0 && bit > 0) reading.text += ' ';
            }
            reading.number = registers[0];
            return reading;
        case Kind::Text:
            for (size_t i = 0; i < static_cast<size_t>(Width(format)); ++i) {
                for (uint8_t byte : {static_cast<uint8_t>(registers[i] >> 8),
                                     static_cast<uint8_t>(registers[i])}) {
                    if (byte == 0) return reading;
                    reading.text += byte < 0x20 || byte == 0x7F ? '.' : static_cast<char>(byte);
                }
            }
            return reading;
        default:
            break;
    }
    std::array<uint8_t, 8> big{};
    const std::span<uint8_t> bytes(big.data(), static_cast<size_t>(row.bytes));
    TakeBytes(registers.first(bytes.size() / 2), row.bytes > 2 ? format.order : WordOrder::ABCD,
              bytes);
    const uint64_t bits = Assemble(bytes);
    double raw = 0;
    if (row.kind == Kind::Real) {
        raw = Real(bits, row.bytes);
        if (Unscaled(format))
            reading.text = row.bytes == 4 ? Shortest(static_cast<float>(raw)) : Shortest(raw);
    } else if (row.kind == Kind::Signed) {
        const auto value = static_cast<int64_t>(SignExtend(bits, row.bytes));
        raw = static_cast<double>(value);
        if (Unscaled(format)) reading.text = std::to_string(value);
    } else {
        raw = static_cast<double>(bits);
        if (Unscaled(format)) reading.text = std::to_string(bits);
    }
    const double shown = raw * format.scale + format.offset;
    if (!Unscaled(format)) reading.text = Scaled(shown);
    reading.number = shown;
    return reading;
}

std::optional<std::vector<uint16_t>> Parse(const ValueFormat& format, std::string_view text,
                                           std::string& error) {
    const FormatRow& row = RowOf(format.format);
    if (row.kind != Kind::Text) text = Trimmed(text);
    switch (row.kind) {
        case Kind::Bit: {
            std::string lower(text);
            for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
            if (lower == "1" || lower == "on") return std::vector<uint16_t>{1};
            if (lower == "0" || lower == "off") return std::vector<uint16_t>{0};
            error = NotANumberMessage;
            return std::nullopt;
        }
        case Kind::Hex:
        case Kind::Binary: {
            const std::optional<uint64_t> value = ParseDigits(text, row.kind == Kind::Hex ? 16 : 2);
            if (!value) {
                error = NotANumberMessage;
                return std::nullopt;
            }
            return std::vector<uint16_t>{static_cast<uint16_t>(*value)};
        }
        case Kind::Text: {
            const size_t width = static_cast<size_t>(Width(format));
            if (text.size() > width * 2) {
                error = TextTooLongMessage;
                return std::nullopt;
            }
            std::vector<uint8_t> bytes(width * 2, 0);
            std::memcpy(bytes.data(), text.data(), text.size());
            std::vector<uint16_t> registers(width);
            PlaceBytes(bytes, WordOrder::ABCD, registers);
            return registers;
        }
        default:
            break;
    }
    const std::optional<uint64_t> bits = ParseNumber(format, row, text, error);
    if (!bits) return std::nullopt;
    return Place(*bits, row.bytes, row.bytes > 2 ? format.order : WordOrder::ABCD);
}

}  // namespace RegisterValue
