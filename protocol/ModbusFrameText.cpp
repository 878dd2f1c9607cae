#include "protocol/ModbusFrameText.h"

#include <optional>
#include <string>

namespace {

// The words of the frames window.
constexpr char addressWord[] = "地址 ";
constexpr char quantityWord[] = " 数量 ";
constexpr char valueWord[] = " 值 ";
constexpr char writtenWord[] = "写入 ";
constexpr char exceptionWord[] = "异常 ";
constexpr char coilOn[] = " ON";
constexpr char coilOff[] = " OFF";

struct ExceptionMeaning {
    uint8_t code;
    const char* meaning;
};

constexpr ExceptionMeaning exceptionMeanings[] = {
    {0x01, "非法功能"},       {0x02, "非法数据地址"},   {0x03, "非法数据值"},
    {0x04, "从站设备故障"},   {0x05, "确认"},           {0x06, "从站设备忙"},
    {0x08, "存储奇偶性差错"}, {0x0A, "网关路径不可用"}, {0x0B, "网关目标设备响应失败"},
};

// How a function's request and normal reply are laid out after the function
// code. Read: request address, quantity; reply byte count, items.
// WriteOne: address and value both ways. WriteMany: request address,
// quantity, byte count, items; reply address, quantity.
enum class Kind { Read, WriteOne, WriteMany };
enum class Item { Bit, Register };

struct Layout {
    uint8_t function;
    Kind kind;
    Item item;
};

constexpr Layout layouts[] = {
    {1, Kind::Read, Item::Bit},       {2, Kind::Read, Item::Bit},
    {3, Kind::Read, Item::Register},  {4, Kind::Read, Item::Register},
    {5, Kind::WriteOne, Item::Bit},   {6, Kind::WriteOne, Item::Register},
    {15, Kind::WriteMany, Item::Bit}, {16, Kind::WriteMany, Item::Register},
};

using Bytes = std::span<const uint8_t>;

// High byte first, as Modbus sends every field but the CRC.
unsigned Get16(Bytes bytes, size_t at) { return unsigned{bytes[at]} << 8 | bytes[at + 1]; }

std::string Hex(unsigned value, int digits, const char* digitSet) {
    std::string text(static_cast<size_t>(digits), '0');
    for (int i = digits - 1; i >= 0; --i, value >>= 4)
        text[static_cast<size_t>(i)] = digitSet[value & 0xF];
    return text;
}

// Lower case, as the receive pane shows bytes.
std::string ByteDump(Bytes bytes) {
    std::string text;
    for (uint8_t b : bytes) {
        if (!text.empty()) text += ' ';
        text += Hex(b, 2, "0123456789abcdef");
    }
    return text;
}

// Data bytes a quantity of items takes.
size_t DataLength(Item item, size_t quantity) {
    return item == Item::Bit ? (quantity + 7) / 8 : 2 * quantity;
}

// `count` items of `data`: coils as 0 or 1, lowest bit of each byte first,
// registers in decimal, unsigned.
std::string Items(Item item, Bytes data, size_t count) {
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        if (i > 0) text += ' ';
        text += item == Item::Bit ? ((data[i / 8] >> (i % 8) & 1) ? "1" : "0")
                                  : std::to_string(Get16(data, 2 * i));
    }
    return text;
}

std::string AddressAndQuantity(Bytes fields) {
    return addressWord + std::to_string(Get16(fields, 0)) + quantityWord +
           std::to_string(Get16(fields, 2));
}

std::string AddressAndValue(Item item, Bytes fields) {
    std::string text = addressWord + std::to_string(Get16(fields, 0));
    const unsigned value = Get16(fields, 2);
    if (item == Item::Register) return text + valueWord + std::to_string(value);
    if (value == 0xFF00) return text + coilOn;
    if (value == 0x0000) return text + coilOff;
    return text + " 0x" + Hex(value, 4, "0123456789abcdef");
}

// A read reply, with the start address in brackets when the request it
// answers is known; the request's quantity also cuts the coils of the last
// byte. A request that the reply's byte count does not fit is left aside.
std::string ReadReply(Item item, Bytes items, Bytes request, uint8_t function) {
    size_t count = item == Item::Bit ? 8 * items.size() : items.size() / 2;
    std::string text;
    if (request.size() == 6 && request[1] == function &&
        DataLength(item, Get16(request, 4)) == items.size()) {
        count = Get16(request, 4);
        text = "[" + std::to_string(Get16(request, 2)) + "]";
        if (count > 0) text += ' ';
    }
    return text + Items(item, items, count);
}

// The line for a frame that fits its function's layout; none otherwise.
std::optional<std::string> ByLayout(const Layout& layout, Bytes data, bool reply, Bytes request) {
    switch (layout.kind) {
        case Kind::Read:
            if (!reply) {
                if (data.size() != 4) return std::nullopt;
                return AddressAndQuantity(data);
            }
            if (data.empty() || data.size() != 1u + data[0] ||
                (layout.item == Item::Register && data[0] % 2 != 0))
                return std::nullopt;
            return ReadReply(layout.item, data.subspan(1), request, layout.function);
        case Kind::WriteOne:
            if (data.size() != 4) return std::nullopt;
            return (reply ? writtenWord : "") + AddressAndValue(layout.item, data);
        case Kind::WriteMany: {
            if (reply) {
                if (data.size() != 4) return std::nullopt;
                return writtenWord + AddressAndQuantity(data);
            }
            if (data.size() < 5 || data.size() != 5u + data[4]) return std::nullopt;
            const size_t quantity = Get16(data, 2);
            if (DataLength(layout.item, quantity) != data[4]) return std::nullopt;
            std::string text = AddressAndQuantity(data);
            if (quantity > 0) text += valueWord + Items(layout.item, data.subspan(5), quantity);
            return text;
        }
    }
    return std::nullopt;
}

std::string Exception(uint8_t code) {
    std::string text = exceptionWord + Hex(code, 2, "0123456789ABCDEF");
    for (const auto& e : exceptionMeanings)
        if (e.code == code) return text + ' ' + e.meaning;
    return text;
}

}  // namespace

ModbusFrameText DescribeModbusFrame(std::span<const uint8_t> adu, bool reply,
                                    std::span<const uint8_t> request) {
    ModbusFrameText text;
    if (adu.size() < 2) {
        if (!adu.empty()) text.station = adu[0];
        text.says = ByteDump(adu);
        return text;
    }
    text.station = adu[0];
    text.function = adu[1];
    const Bytes data = adu.subspan(2);
    // The 0x80 bit alone marks an exception, whichever way the frame went.
    if (adu[1] & 0x80) {
        text.says = data.size() == 1 ? Exception(data[0]) : ByteDump(data);
        return text;
    }
    for (const auto& layout : layouts) {
        if (layout.function != adu[1]) continue;
        if (auto says = ByLayout(layout, data, reply, request)) {
            text.says = *says;
            return text;
        }
    }
    text.says = ByteDump(data);
    return text;
}
