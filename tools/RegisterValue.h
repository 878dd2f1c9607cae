// What a run of Modbus registers (or one coil) means in the formats a watch
// row reads it in, and back: the one conversion behind the watch table, its
// writes and its log. Registers are as on the line, each high byte first;
// the word order says how a value's bytes A (most significant) to D, or A to
// H, lie in them. No toolkit here.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

enum class RegisterFormat : uint8_t {
    Bit,
    U16,
    S16,
    Hex16,
    Binary16,
    U32,
    S32,
    F32,
    U64,
    S64,
    F64,
    Text,
};

// ABCD: the first register holds A B; CDAB: the words swapped; BADC: the
// bytes of each word swapped; DCBA: both. Eight bytes follow the same rule.
enum class WordOrder : uint8_t { ABCD, CDAB, BADC, DCBA };

struct ValueFormat {
    RegisterFormat format = RegisterFormat::U16;
    WordOrder order = WordOrder::ABCD;
    int textRegisters = 1;  // Text: how many registers, two characters each
    double scale = 1.0;     // what is shown: raw × scale + offset
    double offset = 0.0;
};

namespace RegisterValue {

constexpr int kMaxTextRegisters = 60;

// UTF-8 texts for the messages of a refused write.
constexpr std::string_view NotANumberMessage = "不是该格式的数值";
constexpr std::string_view OutOfRangeMessage = "超出该格式的范围";
constexpr std::string_view TextTooLongMessage = "文本超出寄存器长度";

// The formats in the order the table offers them, and their names.
std::span<const RegisterFormat> Formats();
std::string_view FormatName(RegisterFormat format);
std::optional<RegisterFormat> FormatNamed(std::string_view name);
std::span<const WordOrder> Orders();
std::string_view OrderName(WordOrder order);
std::optional<WordOrder> OrderNamed(std::string_view name);
// The format has a byte order to choose (32 and 64 bits).
bool HasOrder(RegisterFormat format);
// The format is a number that scale and offset apply to.
bool IsScaled(RegisterFormat format);

// Registers (or coils, for Bit) the value takes.
int Width(const ValueFormat& format);

// The value's bytes, most significant first, laid into registers in `order`,
// and back; both spans hold an even count, registers.size() * 2 == bytes.size().
void PlaceBytes(std::span<const uint8_t> bytes, WordOrder order, std::span<uint16_t> registers);
void TakeBytes(std::span<const uint16_t> registers, WordOrder order, std::span<uint8_t> bytes);

struct Reading {
    std::string text;              // as the table and the log show it; Text: code page 936
    std::optional<double> number;  // what a plot draws: none for Text
};

// `registers`: Width(format) of them (a coil: 0 or 1).
Reading Read(const ValueFormat& format, std::span<const uint16_t> registers);

// Text typed in the format (scaled values typed scaled) as the registers to
// write; nullopt with `error` (UTF-8) when it is not one.
std::optional<std::vector<uint16_t>> Parse(const ValueFormat& format, std::string_view text,
                                           std::string& error);

}  // namespace RegisterValue
