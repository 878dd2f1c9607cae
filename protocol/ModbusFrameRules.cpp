#include "protocol/ModbusFrameRules.h"

#include <algorithm>
#include <array>

#include "tools/ChecksumTool.h"

namespace ModbusFrameRules {
namespace {

// A frame's length as a layout gives it: fixed, or a byte count at `at` plus
// the bytes around it.
// What a byte count must agree with: the bytes it counts are registers, or
// the coils or registers of the quantity just before it.
enum class Count : uint8_t { Any, Registers, CoilsOfQuantity, RegistersOfQuantity };

struct Form {
    uint8_t fixed = 0;
    uint8_t countAt = 0;  // 0: no byte count
    uint8_t around = 0;
    Count count = Count::Any;
};
constexpr Form Fixed(uint8_t length) { return {length, 0, 0, Count::Any}; }
constexpr Form CountAt(uint8_t at, uint8_t around, Count count = Count::Any) {
    return {0, at, around, count};
}

struct Layout {
    uint8_t function;
    Form request;
    Form reply;
};

// The serial-line functions of the Modbus application protocol, RTU lengths
// with the CRC. Function 24 (its count takes two bytes) and 43 (its objects
// carry lengths of their own) are left to the check and the silence.
constexpr Layout kLayouts[] = {
    {1, Fixed(8), CountAt(2, 5)},
    {2, Fixed(8), CountAt(2, 5)},
    {3, Fixed(8), CountAt(2, 5, Count::Registers)},
    {4, Fixed(8), CountAt(2, 5, Count::Registers)},
    {5, Fixed(8), Fixed(8)},            {6, Fixed(8), Fixed(8)},
    {7, Fixed(4), Fixed(5)},            {8, Fixed(8), Fixed(8)},
    {11, Fixed(4), Fixed(8)},           {12, Fixed(4), CountAt(2, 5)},
    {15, CountAt(6, 9, Count::CoilsOfQuantity), Fixed(8)},
    {16, CountAt(6, 9, Count::RegistersOfQuantity), Fixed(8)},
    {17, Fixed(4), CountAt(2, 5)},      {20, CountAt(2, 5), CountAt(2, 5)},
    {21, CountAt(2, 5), CountAt(2, 5)}, {22, Fixed(10), Fixed(10)},
    {23, CountAt(10, 13), CountAt(2, 5)},
};
constexpr uint8_t kExceptionBit = 0x80;
constexpr size_t kExceptionLength = 5;

constexpr std::array<const Layout*, 128> IndexLayouts() {
    std::array<const Layout*, 128> index{};
    for (const Layout& layout : kLayouts) index[layout.function] = &layout;
    return index;
}
constexpr std::array<const Layout*, 128> kByFunction = IndexLayouts();

uint16_t Word(std::span<const uint8_t> bytes, size_t at) {
    return static_cast<uint16_t>(bytes[at] << 8 | bytes[at + 1]);
}

// The length `form` gives, or how many more bytes it needs to tell.
size_t FormLength(const Form& form, std::span<const uint8_t> header, size_t& need) {
    if (form.fixed != 0) return form.fixed;
    if (form.countAt == 0) return 0;
    if (header.size() <= form.countAt) {
        need = std::max(need, form.countAt + 1 - header.size());
        return 0;
    }
    const size_t count = header[form.countAt];
    const size_t quantity = form.countAt >= 5 ? Word(header, form.countAt - 2) : 0;
    const bool agrees = form.count == Count::Registers             ? count > 0 && count % 2 == 0
                        : form.count == Count::CoilsOfQuantity     ? count == (quantity + 7) / 8
                        : form.count == Count::RegistersOfQuantity ? count == 2 * quantity
                                                                   : count > 0;
    const size_t length = form.around + count;
    return agrees && length <= kLargestRtuFrame ? length : 0;
}

int HexDigit(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

bool MayStartRtuFrame(uint8_t station, uint8_t function) {
    return station <= kLastStation && kByFunction[function & ~kExceptionBit] != nullptr;
}

RtuLengths RtuFrameLengths(std::span<const uint8_t> header) {
    RtuLengths lengths;
    if (header.size() < 2) {
        lengths.need = 2 - header.size();
        return lengths;
    }
    if (header[0] > kLastStation) return lengths;
    const uint8_t function = header[1];
    const Layout* layout = kByFunction[function & ~kExceptionBit];
    if (layout == nullptr) return lengths;
    if (function & kExceptionBit) {
        lengths.reply = kExceptionLength;
        return lengths;
    }
    size_t need = 0;
    lengths.request = FormLength(layout->request, header, need);
    lengths.reply = FormLength(layout->reply, header, need);
    lengths.need = need;
    return lengths;
}

size_t RtuReplyLength(std::span<const uint8_t> request) {
    const RtuLengths lengths = RtuFrameLengths(request);
    if (!lengths.Known() || lengths.request != request.size()) return 0;
    const uint8_t function = request[1];
    if (function >= 1 && function <= 4) {
        // The byte count of a read reply follows from the quantity asked.
        const size_t quantity = Word(request, 4);
        const size_t count = function <= 2 ? (quantity + 7) / 8 : 2 * quantity;
        return count <= 250 ? 5 + count : 0;
    }
    const Form& reply = kByFunction[function]->reply;
    return reply.fixed;
}

bool RtuCheckGood(std::span<const uint8_t> frame) {
    if (frame.size() < 3) return false;
    const uint16_t crc = ChecksumTool::Crc16(frame.data(), static_cast<uint32_t>(frame.size() - 2));
    return frame[frame.size() - 2] == (crc & 0xff) && frame[frame.size() - 1] == (crc >> 8);
}

bool ReadAsciiFrame(std::span<const uint8_t> chars, std::vector<uint8_t>& bytes) {
    bytes.clear();
    if (chars.size() < 9 || chars.front() != ':' || chars[chars.size() - 2] != '\r' ||
        chars.back() != '\n' || chars.size() % 2 == 0)
        return false;
    for (size_t at = 1; at + 2 < chars.size(); at += 2) {
        const int high = HexDigit(chars[at]), low = HexDigit(chars[at + 1]);
        if (high < 0 || low < 0) return false;
        bytes.push_back(static_cast<uint8_t>(high << 4 | low));
    }
    return true;
}

bool AsciiCheckGood(std::span<const uint8_t> bytes) {
    uint8_t sum = 0;
    for (uint8_t byte : bytes) sum = static_cast<uint8_t>(sum + byte);
    return !bytes.empty() && sum == 0;
}

}  // namespace ModbusFrameRules
