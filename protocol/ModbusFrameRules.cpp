#include "protocol/ModbusFrameRules.h"

#include <algorithm>
#include <array>

#include "tools/ChecksumTool.h"

namespace ModbusFrameRules {
namespace {

// A frame's length as a layout gives it: fixed, or a count of the bytes that
// follow plus the bytes around them, or (read device identification) the
// sum of its objects.
enum class Kind : uint8_t { None, Fixed, CountByte, CountWord, DeviceIdRequest, DeviceIdReply };
// What a byte count must agree with: the bytes it counts are registers, or
// the coils or registers of the quantity just before it.
enum class Count : uint8_t { Any, Registers, CoilsOfQuantity, RegistersOfQuantity };

struct Form {
    Kind kind = Kind::None;
    uint8_t fixed = 0;    // Fixed: the length
    uint8_t countAt = 0;  // CountByte, CountWord: where the count stands
    uint8_t around = 0;   // the bytes the count does not count, the CRC's included
    Count count = Count::Any;
};
constexpr Form Fixed(uint8_t length) { return {Kind::Fixed, length, 0, 0, Count::Any}; }
constexpr Form CountAt(uint8_t at, uint8_t around, Count count = Count::Any) {
    return {Kind::CountByte, 0, at, around, count};
}
constexpr Form WordCountAt(uint8_t at, uint8_t around) {
    return {Kind::CountWord, 0, at, around, Count::Any};
}
constexpr Form Of(Kind kind) { return {kind, 0, 0, 0, Count::Any}; }

struct Layout {
    uint8_t function;
    Form request;
    Form reply;
};

// The serial-line functions of the Modbus application protocol, RTU lengths
// with the CRC.
constexpr Layout kLayouts[] = {
    {1, Fixed(8), CountAt(2, 5)},
    {2, Fixed(8), CountAt(2, 5)},
    {3, Fixed(8), CountAt(2, 5, Count::Registers)},
    {4, Fixed(8), CountAt(2, 5, Count::Registers)},
    {5, Fixed(8), Fixed(8)},
    {6, Fixed(8), Fixed(8)},
    {7, Fixed(4), Fixed(5)},
    {8, Fixed(8), Fixed(8)},
    {11, Fixed(4), Fixed(8)},
    {12, Fixed(4), CountAt(2, 5)},
    {15, CountAt(6, 9, Count::CoilsOfQuantity), Fixed(8)},
    {16, CountAt(6, 9, Count::RegistersOfQuantity), Fixed(8)},
    {17, Fixed(4), CountAt(2, 5)},
    {20, CountAt(2, 5), CountAt(2, 5)},
    {21, CountAt(2, 5), CountAt(2, 5)},
    {22, Fixed(10), Fixed(10)},
    {23, CountAt(10, 13, Count::RegistersOfQuantity), CountAt(2, 5, Count::Registers)},
    {24, Fixed(6), WordCountAt(2, 6)},
    {43, Of(Kind::DeviceIdRequest), Of(Kind::DeviceIdReply)},
};
constexpr uint8_t kExceptionBit = 0x80;
constexpr size_t kExceptionLength = 5;
// Function 43's MEI type of read device identification.
constexpr uint8_t kDeviceIdentification = 0x0E;
// Its reply: station, function, MEI type, code, conformity, more follows,
// next object, object count; then each object's id, length and value.
constexpr size_t kDeviceIdObjectsAt = 8;

constexpr std::array<const Layout*, 128> IndexLayouts() {
    std::array<const Layout*, 128> index{};
    for (const Layout& layout : kLayouts) index[layout.function] = &layout;
    return index;
}
constexpr std::array<const Layout*, 128> kByFunction = IndexLayouts();

uint16_t Word(std::span<const uint8_t> bytes, size_t at) {
    return static_cast<uint16_t>(bytes[at] << 8 | bytes[at + 1]);
}

// Whether the bytes up to `at` have come; if not, how many more are needed.
bool Have(std::span<const uint8_t> header, size_t at, size_t& need) {
    if (header.size() > at) return true;
    need = at + 1 - header.size();
    return false;
}

size_t DeviceIdReplyLength(std::span<const uint8_t> header, size_t& need) {
    if (!Have(header, 2, need) || header[2] != kDeviceIdentification) return 0;
    if (!Have(header, kDeviceIdObjectsAt - 1, need)) return 0;
    size_t at = kDeviceIdObjectsAt;
    for (size_t object = 0; object < header[kDeviceIdObjectsAt - 1]; ++object) {
        if (!Have(header, at + 1, need)) return 0;
        at += 2 + header[at + 1];
        if (at + 2 > kLargestRtuFrame) return 0;
    }
    return at + 2;
}

// The length `form` gives, or 0 with `need` set to how many more bytes it
// needs to tell; 0 with `need` left 0 when the bytes fit no such frame.
size_t FormLength(const Form& form, std::span<const uint8_t> header, size_t& need) {
    need = 0;
    switch (form.kind) {
        case Kind::None:
            return 0;
        case Kind::Fixed:
            return form.fixed;
        case Kind::DeviceIdRequest:
            if (!Have(header, 2, need)) return 0;
            return header[2] == kDeviceIdentification ? 7 : 0;
        case Kind::DeviceIdReply:
            return DeviceIdReplyLength(header, need);
        case Kind::CountWord:
            if (!Have(header, form.countAt + 1u, need)) return 0;
            return Word(header, form.countAt) + form.around <= kLargestRtuFrame
                       ? Word(header, form.countAt) + form.around
                       : 0;
        case Kind::CountByte:
            break;
    }
    if (!Have(header, form.countAt, need)) return 0;
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
    // An exception of any function, known to this table or not.
    if (function & kExceptionBit) return station <= kLastStation && function != kExceptionBit;
    return station <= kLastStation && kByFunction[function] != nullptr;
}

RtuLengths RtuFrameLengths(std::span<const uint8_t> header) {
    RtuLengths lengths;
    if (header.size() < 2) {
        lengths.need = lengths.requestNeed = lengths.replyNeed = 2 - header.size();
        return lengths;
    }
    if (!MayStartRtuFrame(header[0], header[1])) return lengths;
    if (header[1] & kExceptionBit) {
        lengths.reply = kExceptionLength;
        return lengths;
    }
    const Layout& layout = *kByFunction[header[1]];
    lengths.request = FormLength(layout.request, header, lengths.requestNeed);
    lengths.reply = FormLength(layout.reply, header, lengths.replyNeed);
    lengths.need = std::max(lengths.requestNeed, lengths.replyNeed);
    return lengths;
}

size_t RtuReplyLength(std::span<const uint8_t> request) {
    const RtuLengths lengths = RtuFrameLengths(request);
    if (lengths.request == 0 || lengths.request != request.size()) return 0;
    const uint8_t function = request[1];
    // The byte count of a read reply follows from the quantity asked.
    size_t count = 0;
    if (function >= 1 && function <= 4) {
        const size_t quantity = Word(request, 4);
        count = function <= 2 ? (quantity + 7) / 8 : 2 * quantity;
    } else if (function == 23) {
        count = 2 * size_t{Word(request, 4)};
    } else if (function == 21) {
        return request.size();  // the request again
    } else {
        const Form& reply = kByFunction[function]->reply;
        return reply.kind == Kind::Fixed ? reply.fixed : 0;
    }
    return count > 0 && count <= 250 ? 5 + count : 0;
}

bool ReplyRepeatsRequest(uint8_t function) {
    return function == 5 || function == 6 || function == 8 || function == 21 || function == 22;
}

bool ReplyFits(std::span<const uint8_t> request, std::span<const uint8_t> reply) {
    if (request.size() < 4 || reply.size() < 4 || request[0] != reply[0] ||
        request[1] != (reply[1] & ~kExceptionBit))
        return false;
    if (reply[1] & kExceptionBit) return reply.size() == kExceptionLength;
    const size_t expected = RtuReplyLength(request);
    const RtuLengths lengths = RtuFrameLengths(reply);
    if (reply.size() != (expected != 0 ? expected : lengths.reply)) return false;
    const auto adu = [](std::span<const uint8_t> frame) { return frame.first(frame.size() - 2); };
    if (ReplyRepeatsRequest(request[1]) && request[1] != 8)
        return std::ranges::equal(adu(request), adu(reply));
    // Diagnostics answer with the sub-function asked; writes of many with
    // the address and quantity written.
    const size_t same = request[1] == 8 ? 4 : request[1] == 15 || request[1] == 16 ? 6 : 0;
    return std::equal(request.begin(), request.begin() + static_cast<ptrdiff_t>(same),
                      reply.begin());
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
