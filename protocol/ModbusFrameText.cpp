#include "protocol/ModbusFrameText.h"

#include <iterator>
#include <optional>
#include <string>
#include <vector>

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

// The functions besides reads and writes, each its own layout. Every one
// checks its lengths: a frame cut short or with bytes left on shows its bytes.
using Describe = std::optional<std::string> (*)(Bytes data, Bytes request);

std::string Hex16(unsigned value) { return "0x" + Hex(value, 4, "0123456789ABCDEF"); }

std::string Registers(Bytes data) {
    std::string text;
    for (size_t at = 0; at + 1 < data.size(); at += 2)
        text += (text.empty() ? "" : " ") + std::to_string(Get16(data, at));
    return text;
}

std::optional<std::string> NoData(Bytes data, const char* says) {
    if (!data.empty()) return std::nullopt;
    return says;
}

std::optional<std::string> ExceptionStatusRequest(Bytes data, Bytes) {
    return NoData(data, "读异常状态");
}
std::optional<std::string> ExceptionStatusReply(Bytes data, Bytes) {
    if (data.size() != 1) return std::nullopt;
    return "异常状态 0x" + Hex(data[0], 2, "0123456789ABCDEF");
}

struct SubFunction {
    uint16_t code;
    const char* meaning;
};
constexpr SubFunction subFunctions[] = {
    {0, "返回询问数据"},          {1, "重启通信"},
    {2, "返回诊断寄存器"},        {3, "更改ASCII输入分隔符"},
    {4, "强制只听模式"},          {10, "清除计数器和诊断寄存器"},
    {11, "返回总线报文计数"},     {12, "返回总线通信错误计数"},
    {13, "返回总线异常错误计数"}, {14, "返回从站报文计数"},
    {15, "返回从站无应答计数"},   {16, "返回从站NAK计数"},
    {17, "返回从站忙计数"},       {18, "返回总线字符超限计数"},
    {20, "清除超限计数和标志"},
};

// Both ways: the sub-function and its two data bytes, the query data as
// bytes, any other as a value.
std::optional<std::string> Diagnostics(Bytes data, Bytes) {
    if (data.size() != 4) return std::nullopt;
    const unsigned code = Get16(data, 0);
    std::string text = "诊断 " + Hex(code, 2, "0123456789ABCDEF");
    for (const auto& sub : subFunctions)
        if (sub.code == code) text += std::string(" ") + sub.meaning;
    return text + (code == 0 ? " 数据 " + ByteDump(data.subspan(2))
                             : valueWord + std::to_string(Get16(data, 2)));
}

std::optional<std::string> EventCounterRequest(Bytes data, Bytes) {
    return NoData(data, "读通信事件计数");
}
std::optional<std::string> EventCounterReply(Bytes data, Bytes) {
    if (data.size() != 4) return std::nullopt;
    return "状态 " + Hex16(Get16(data, 0)) + " 事件计数 " + std::to_string(Get16(data, 2));
}

std::optional<std::string> EventLogRequest(Bytes data, Bytes) {
    return NoData(data, "读通信事件记录");
}
std::optional<std::string> EventLogReply(Bytes data, Bytes) {
    if (data.size() < 7 || data.size() != 1u + data[0]) return std::nullopt;
    std::string text = "状态 " + Hex16(Get16(data, 1)) + " 事件计数 " +
                       std::to_string(Get16(data, 3)) + " 报文计数 " +
                       std::to_string(Get16(data, 5));
    if (data.size() > 7) text += " 事件 " + ByteDump(data.subspan(7));
    return text;
}

std::optional<std::string> ServerIdRequest(Bytes data, Bytes) { return NoData(data, "报告从站ID"); }
std::optional<std::string> ServerIdReply(Bytes data, Bytes) {
    if (data.size() < 2 || data.size() != 1u + data[0]) return std::nullopt;
    return "从站ID " + ByteDump(data.subspan(1));
}

// Read file record: sub-requests of reference type 6, file, record, length.
std::optional<std::string> ReadFileRequest(Bytes data, Bytes) {
    if (data.size() < 8 || data.size() != 1u + data[0] || data[0] % 7 != 0) return std::nullopt;
    std::string text;
    for (size_t at = 1; at < data.size(); at += 7) {
        if (data[at] != 6) return std::nullopt;
        text += (at > 1 ? "; " : "") + std::string("文件 ") + std::to_string(Get16(data, at + 1)) +
                " 记录 " + std::to_string(Get16(data, at + 3)) + " 长度 " +
                std::to_string(Get16(data, at + 5));
    }
    return text;
}
// Its reply: sub-responses of a length, reference type 6 and the registers.
std::optional<std::string> ReadFileReply(Bytes data, Bytes) {
    if (data.size() < 3 || data.size() != 1u + data[0]) return std::nullopt;
    std::string text;
    for (size_t at = 1; at < data.size();) {
        const size_t length = data[at];
        if (length < 1 || length % 2 == 0 || at + 1 + length > data.size() || data[at + 1] != 6)
            return std::nullopt;
        text +=
            (at > 1 ? "; " : "") + std::string("值 ") + Registers(data.subspan(at + 2, length - 1));
        at += 1 + length;
    }
    return text;
}

// Write file record, both ways: sub-requests of reference type 6, file,
// record, length and that many registers.
std::optional<std::string> WriteFile(Bytes data, bool reply) {
    if (data.size() < 10 || data.size() != 1u + data[0]) return std::nullopt;
    std::string text = reply ? writtenWord : "";
    for (size_t at = 1; at < data.size();) {
        if (at + 7 > data.size() || data[at] != 6) return std::nullopt;
        const size_t length = 2 * size_t{Get16(data, at + 5)};
        if (at + 7 + length > data.size()) return std::nullopt;
        text += (at > 1 ? "; " : "") + std::string("文件 ") + std::to_string(Get16(data, at + 1)) +
                " 记录 " + std::to_string(Get16(data, at + 3)) + valueWord +
                Registers(data.subspan(at + 7, length));
        at += 7 + length;
    }
    return text;
}
std::optional<std::string> WriteFileRequest(Bytes data, Bytes) { return WriteFile(data, false); }
std::optional<std::string> WriteFileReply(Bytes data, Bytes) { return WriteFile(data, true); }

std::optional<std::string> MaskWrite(Bytes data, bool reply) {
    if (data.size() != 6) return std::nullopt;
    return (reply ? writtenWord : "") + std::string(addressWord) + std::to_string(Get16(data, 0)) +
           " 与 " + Hex16(Get16(data, 2)) + " 或 " + Hex16(Get16(data, 4));
}
std::optional<std::string> MaskWriteRequest(Bytes data, Bytes) { return MaskWrite(data, false); }
std::optional<std::string> MaskWriteReply(Bytes data, Bytes) { return MaskWrite(data, true); }

// Read/write multiple registers: what it reads, then what it writes.
std::optional<std::string> ReadWriteRequest(Bytes data, Bytes) {
    if (data.size() < 9 || data.size() != 9u + data[8] || data[8] != 2 * Get16(data, 6))
        return std::nullopt;
    return "读 " + AddressAndQuantity(data) + " 写 " + AddressAndQuantity(data.subspan(4)) +
           valueWord + Registers(data.subspan(9));
}
std::optional<std::string> ReadWriteReply(Bytes data, Bytes request) {
    if (data.size() < 3 || data.size() != 1u + data[0] || data[0] % 2 != 0) return std::nullopt;
    // The read half of the request: its address and quantity.
    std::vector<uint8_t> asRead;
    if (request.size() >= 6 && request[1] == 23) {
        asRead.assign(request.begin(), request.begin() + 6);
        asRead[1] = 3;
    }
    return ReadReply(Item::Register, data.subspan(1), asRead, 3);
}

std::optional<std::string> FifoRequest(Bytes data, Bytes) {
    if (data.size() != 2) return std::nullopt;
    return "FIFO " + std::string(addressWord) + std::to_string(Get16(data, 0));
}
std::optional<std::string> FifoReply(Bytes data, Bytes) {
    if (data.size() < 4 || data.size() != 2u + Get16(data, 0) ||
        Get16(data, 0) != 2 + 2 * size_t{Get16(data, 2)})
        return std::nullopt;
    std::string text = "FIFO" + std::string(quantityWord) + std::to_string(Get16(data, 2));
    if (data.size() > 4) text += valueWord + Registers(data.subspan(4));
    return text;
}

constexpr const char* deviceObjects[] = {"厂商",     "产品代码", "版本",    "厂商网址",
                                         "产品名称", "型号",     "应用名称"};
constexpr uint8_t kReadDeviceId = 0x0E;

std::optional<std::string> DeviceIdRequest(Bytes data, Bytes) {
    if (data.size() != 3 || data[0] != kReadDeviceId) return std::nullopt;
    return "读设备标识 类别 " + std::to_string(data[1]) + " 对象 " + std::to_string(data[2]);
}
// Its objects as text: printable ASCII as it stands, anything else as '.'.
std::optional<std::string> DeviceIdReply(Bytes data, Bytes) {
    if (data.size() < 6 || data[0] != kReadDeviceId) return std::nullopt;
    std::string text;
    size_t at = 6;
    for (size_t object = 0; object < data[5]; ++object) {
        if (at + 2 > data.size() || at + 2 + data[at + 1] > data.size()) return std::nullopt;
        const uint8_t id = data[at];
        text += text.empty() ? "" : "; ";
        text += id < std::size(deviceObjects) ? std::string(deviceObjects[id])
                                              : "对象 0x" + Hex(id, 2, "0123456789ABCDEF");
        text += " = ";
        for (uint8_t c : data.subspan(at + 2, data[at + 1]))
            text += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '.';
        at += 2 + data[at + 1];
    }
    if (at != data.size()) return std::nullopt;
    if (data[3] == 0xFF) text += "; 后续 对象 " + std::to_string(data[4]);
    return text;
}

struct Other {
    uint8_t function;
    Describe request, reply;
};
constexpr Other others[] = {
    {7, ExceptionStatusRequest, ExceptionStatusReply},
    {8, Diagnostics, Diagnostics},
    {11, EventCounterRequest, EventCounterReply},
    {12, EventLogRequest, EventLogReply},
    {17, ServerIdRequest, ServerIdReply},
    {20, ReadFileRequest, ReadFileReply},
    {21, WriteFileRequest, WriteFileReply},
    {22, MaskWriteRequest, MaskWriteReply},
    {23, ReadWriteRequest, ReadWriteReply},
    {24, FifoRequest, FifoReply},
    {43, DeviceIdRequest, DeviceIdReply},
};

std::string Exception(uint8_t code) {
    std::string text = exceptionWord + Hex(code, 2, "0123456789ABCDEF");
    for (const auto& e : exceptionMeanings)
        if (e.code == code) return text + ' ' + e.meaning;
    return text;
}

}  // namespace

std::string ModbusExceptionText(uint8_t code) { return Exception(code); }

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
    for (const auto& other : others) {
        if (other.function != adu[1]) continue;
        if (auto says = (reply ? other.reply : other.request)(data, request)) {
            text.says = *says;
            return text;
        }
    }
    text.says = ByteDump(data);
    return text;
}
