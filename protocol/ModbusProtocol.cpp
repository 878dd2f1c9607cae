#include "protocol/ModbusProtocol.h"

#include <algorithm>
#include <string>

#include "protocol/ModbusRequest.h"
#include "protocol/ProtocolError.h"
#include "protocol/TextFormat.h"
#include "tools/AsciiChars.h"
#include "tools/ChecksumTool.h"

namespace {

// Refusals of BuildRequest.
constexpr char stationRefusal[] = "ModBus----站号>256";
constexpr char functionRefusal[] = "ModBus----功能代码错误";
constexpr char coilTextRefusal[] = "ModBus----(写多个线圈)\t线圈值必须是%d个字符,每个字符为0或1";
// The byte count field holds at most 255 data bytes, which also keeps the
// frame inside its 500 bytes.
constexpr char coilFrameRefusal[] = "ModBus----(写多个线圈)\t线圈数量%d太多,数据超过255字节";
constexpr char registerTextRefusal[] =
    "ModBus----(写多个寄存器)\t寄存器值必须是%d个大写十六进制数字(0-9,A-F)";
constexpr char registerFrameRefusal[] =
    "ModBus----(写多个寄存器)\t寄存器数量%d太多,数据超过255字节";

// Exception replies, by exception code; each ends with the function and the
// register address.
struct ExceptionText {
    int code;
    const char* text;
};

constexpr ExceptionText exceptionTexts[] = {
    {1, "从机接收到的功能是不允许的。\n\t功能：%d\t寄存器地址：%d"},
    {2, "查询中的数据地址对于从机来说是非法的。\n\t功能：%d\t寄存器地址：%d"},
    {3, "查询中数据域的数值不是从机所允许的。\n\t功能：%d\t寄存器地址：%d"},
    {4, "当从机试图进行所要求的动作时，发生了一个不可恢复的错误。\n\t功能：%d\t寄存器地址：%d"},
    {5, "从机已接受查询，正在进行处理，但需要持续较长的时间。\n\t功能：%d\t寄存器地址：%d"},
    {6, "从机正在处理一个持续时间比较长的指令。\n\t功能：%d\t寄存器地址：%d"},
    {7, "从机不能完成查询中的功能要求。\n\t功能：%d\t寄存器地址：%d"},
    {8, "从机试图阅读扩展存储器，但在存储器中发现奇偶校验错误。\n\t功能：%d\t寄存器地址：%d"},
};
constexpr char unknownException[] = "不可知的错误。\n\t功能：%d\t寄存器地址：%d";

// A read reply that fails its check.
constexpr char crcFailure[] = "接收到的数据CRC校验错误，响应无效。\n\t功能：%d\t寄存器地址：%d";
constexpr char lrcFailure[] = "接收到的数据LRC校验错误，响应无效。\n\t功能：%d\t寄存器地址：%d";

enum class Handler { Read, SingleWrite, MultipleWrite };

// What follows the address in the request.
enum class Field { Quantity, CoilValue, RegisterValue, Coils, Registers };

struct FunctionRule {
    int code;
    Handler handler;
    Field field;
    int valueWidth;            // data bytes of a reply that FormatValue takes
    const char* asciiRefusal;  // null when the ASCII framing carries the function
};

constexpr FunctionRule functionRules[] = {
    {1, Handler::Read, Field::Quantity, 1, nullptr},
    {2, Handler::Read, Field::Quantity, 1, nullptr},
    {3, Handler::Read, Field::Quantity, 2, nullptr},
    {4, Handler::Read, Field::Quantity, 2, nullptr},
    {5, Handler::SingleWrite, Field::CoilValue, 0, nullptr},
    {6, Handler::SingleWrite, Field::RegisterValue, 0, nullptr},
    {15, Handler::MultipleWrite, Field::Coils, 0, "ModBus----(写多个线圈)\t功能代码:0x0F,不支持"},
    {16, Handler::MultipleWrite, Field::Registers, 0,
     "ModBus----(写多个寄存器)\t功能代码:0x10,不支持"},
};

const FunctionRule* FindFunction(int code) {
    for (const auto& rule : functionRules)
        if (rule.code == code) return &rule;
    return nullptr;
}

// Reply bytes before the check: station, function and byte count then the
// data for reads; station, function, address and value or quantity for writes.
int ReplyBodyLength(Handler handler, uint8_t byteCount) {
    return handler == Handler::Read ? 3 + byteCount : 6;
}

const char upperDigits[] = "0123456789ABCDEF";

std::string UpperHex(const uint8_t* bytes, int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += upperDigits[bytes[i] >> 4];
        text += upperDigits[bytes[i] & 0x0F];
    }
    return text;
}

// `digits` upper-case hex digits of value, high digit first.
void PutHex(uint8_t* out, uint32_t value, int digits) {
    for (int i = digits - 1; i >= 0; --i, value >>= 4) out[i] = upperDigits[value & 0x0F];
}

// High byte first, as Modbus sends every field but the CRC.
void Put16(uint8_t* out, uint32_t value) {
    out[0] = static_cast<uint8_t>(value >> 8);
    out[1] = static_cast<uint8_t>(value);
}

// The quantity as sent: its low 16 bits, 0 meaning 1.
uint16_t SentQuantity(const ModbusRequest& r) {
    const auto q = static_cast<uint16_t>(r.quantity);
    return q == 0 ? 1 : q;
}

// The decimal value of the text as atoi reads it (blanks, a sign, digits up
// to the first non-digit), in its low 16 bits. The sum wraps rather than
// overflowing, which keeps those bits exact for any length of digits.
uint16_t DecimalLow16(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && IsAsciiSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    uint32_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = value * 10 + static_cast<uint32_t>(text[i] - '0');
    return static_cast<uint16_t>(negative ? 0u - value : value);
}

// The 16-bit field after the address, for the functions that have one.
uint16_t SingleField(Field field, const ModbusRequest& r) {
    switch (field) {
        case Field::CoilValue:
            return DecimalLow16(r.valueText) == 1 ? 0xFF00 : 0x0000;
        case Field::RegisterValue:
            return DecimalLow16(r.valueText);
        default:
            return SentQuantity(r);
    }
}

// Functions 15 and 16 carry data whose size follows the quantity; the frame
// length, or a refusal, is settled before anything is written.
int MultipleFrameLength(Field field, const ModbusRequest& r) {
    const int q = SentQuantity(r);
    if (field == Field::Coils) {
        const int dataLength = (q + 7) / 8;
        const int length = 7 + dataLength + 2;
        if (dataLength > 255 || length > ModbusRequest::frameCapacity)
            throw ProtocolError(FormatText(coilFrameRefusal, q));
        const bool bits = std::all_of(r.valueText.begin(), r.valueText.end(),
                                      [](char c) { return c == '0' || c == '1'; });
        if (static_cast<int>(r.valueText.size()) != q || !bits)
            throw ProtocolError(FormatText(coilTextRefusal, q));
        return length;
    }
    const int length = 2 * q + 9;
    if (2 * q > 255 || length > ModbusRequest::frameCapacity)
        throw ProtocolError(FormatText(registerFrameRefusal, q));
    const bool digits = std::all_of(r.valueText.begin(), r.valueText.end(),
                                    [](char c) { return UpperHexDigitValue(c) >= 0; });
    if (static_cast<int>(r.valueText.size()) != 4 * q || !digits)
        throw ProtocolError(FormatText(registerTextRefusal, 4 * q));
    return length;
}

// Byte count and data of functions 15 and 16, from offset 6.
void PutMultipleData(Field field, ModbusRequest& r, int length) {
    uint8_t* data = r.frame + 7;
    const int dataLength = length - 9;
    r.frame[6] = static_cast<uint8_t>(dataLength);
    if (field == Field::Coils) {
        // The first character is the first coil, in the lowest bit.
        std::fill(data, data + dataLength, 0);
        for (size_t i = 0; i < r.valueText.size(); ++i)
            if (r.valueText[i] == '1') data[i / 8] |= static_cast<uint8_t>(1u << (i % 8));
        return;
    }
    for (size_t i = 0; i < static_cast<size_t>(dataLength); ++i) {
        data[i] = static_cast<uint8_t>(UpperHexDigitValue(r.valueText[2 * i]) << 4 |
                                       UpperHexDigitValue(r.valueText[2 * i + 1]));
    }
}

}  // namespace

ModbusProtocol::ModbusProtocol() { name = "ModBus"; }

ModbusProtocol::~ModbusProtocol() = default;

void ModbusProtocol::SetAsciiMode(int mode) { asciiMode = mode; }

int ModbusProtocol::Reset() {
    rxCount = 0;
    if (request) request->dataLength = 0;
    asciiState = AsciiState::AwaitColon;
    pendingDigit = -1;
    return 0;
}

void ModbusProtocol::BuildRequest(ModbusRequest* record) {
    expectedLength = 0;
    rxCount = 0;
    asciiState = AsciiState::AwaitColon;
    pendingDigit = -1;
    request = record;
    if (!record) return;
    if (static_cast<uint32_t>(record->station) > 256) throw ProtocolError(stationRefusal);
    if (asciiMode == 0)
        BuildRtuFrame(*record);
    else
        BuildAsciiFrame(*record);
}

void ModbusProtocol::BuildRtuFrame(ModbusRequest& r) {
    uint8_t* frame = r.frame;
    frame[0] = static_cast<uint8_t>(r.station);
    const FunctionRule* rule = FindFunction(r.functionCode);
    if (!rule) throw ProtocolError(functionRefusal);
    const bool multiple = rule->handler == Handler::MultipleWrite;
    const int length = multiple ? MultipleFrameLength(rule->field, r) : 8;
    frame[1] = static_cast<uint8_t>(rule->code);
    Put16(frame + 2, static_cast<uint32_t>(r.address));
    Put16(frame + 4, SingleField(rule->field, r));
    if (multiple) PutMultipleData(rule->field, r, length);
    r.frameLength = length;
    // The CRC goes on the line low byte first.
    const uint16_t crc = ChecksumTool::Crc16(frame, static_cast<uint32_t>(length - 2));
    frame[length - 2] = static_cast<uint8_t>(crc);
    frame[length - 1] = static_cast<uint8_t>(crc >> 8);
}

void ModbusProtocol::BuildAsciiFrame(ModbusRequest& r) {
    uint8_t* frame = r.frame;
    frame[0] = ':';
    PutHex(frame + 1, static_cast<uint8_t>(r.station), 2);
    const FunctionRule* rule = FindFunction(r.functionCode);
    if (!rule) throw ProtocolError(functionRefusal);
    if (rule->asciiRefusal) throw ProtocolError(rule->asciiRefusal);
    PutHex(frame + 3, static_cast<uint32_t>(rule->code), 2);
    PutHex(frame + 5, static_cast<uint16_t>(r.address), 4);
    PutHex(frame + 9, SingleField(rule->field, r), 4);
    r.frameLength = 17;
    const uint8_t lrc = ChecksumTool::FrameLrc(reinterpret_cast<const char*>(frame + 1), 12);
    PutHex(frame + 13, lrc, 2);
    frame[15] = '\r';
    frame[16] = '\n';
}

int ModbusProtocol::ReceiveByte(const uint8_t* byte) {
    if (!request) return NotAttached;
    if (!byte) return NeedMore;
    const int status = asciiMode == 0 ? ReceiveRtuByte(*byte) : ReceiveAsciiChar(*byte);
    if (status > 0) request = nullptr;
    return status;
}

int ModbusProtocol::ReceiveRtuByte(uint8_t byte) {
    // A reply is at most 260 bytes; longer runs only come after the reply was
    // settled (or for a function without a handler), and are dropped.
    if (rxCount >= rxCapacity) return NeedMore;
    rxBuffer[rxCount++] = byte;
    if (!FindFunction(request->functionCode)) return NeedMore;
    const int n = rxCount;
    if (n <= 3) return TakeByte(byte, 2);
    if (n == expectedLength - 1) {
        rxCheck = byte;
        return NeedMore;
    }
    if (n == expectedLength) {
        rxCheck = static_cast<uint16_t>(rxCheck | byte << 8);
        return FinishReply(2);
    }
    return NeedMore;
}

int ModbusProtocol::ReceiveAsciiChar(uint8_t c) {
    const FunctionRule* rule = FindFunction(request->functionCode);
    if (!rule || rule->asciiRefusal || asciiState == AsciiState::Finished) return NeedMore;
    if (c == ':') {
        // A colon always starts a frame, whatever came before it.
        rxCount = 0;
        expectedLength = 0;
        pendingDigit = -1;
        asciiState = AsciiState::InFrame;
        return NeedMore;
    }
    if (asciiState == AsciiState::AwaitColon) return NeedMore;
    if (asciiState == AsciiState::AwaitLineFeed) {
        asciiState = AsciiState::AwaitColon;
        return c == '\n' ? FinishReply(1) : NeedMore;
    }
    // In a frame: digit pairs, then CR once the expected length is in.
    if (c == '\r') {
        const bool whole = pendingDigit < 0 && expectedLength > 0 && rxCount == expectedLength;
        asciiState = whole ? AsciiState::AwaitLineFeed : AsciiState::AwaitColon;
        return NeedMore;
    }
    const int digit = UpperHexDigitValue(static_cast<char>(c));
    const bool overlong = expectedLength > 0 && rxCount >= expectedLength;
    if (digit < 0 || (pendingDigit >= 0 && overlong) || rxCount >= rxCapacity) {
        asciiState = AsciiState::AwaitColon;  // a malformed frame: wait for the next one
        return NeedMore;
    }
    if (pendingDigit < 0) {
        pendingDigit = digit;
        return NeedMore;
    }
    const auto byte = static_cast<uint8_t>(pendingDigit << 4 | digit);
    pendingDigit = -1;
    rxBuffer[rxCount++] = byte;
    if (rxCount <= 3) return TakeByte(byte, 1);
    if (rxCount == expectedLength) rxCheck = byte;
    return NeedMore;
}

int ModbusProtocol::TakeByte(uint8_t byte, int checkLength) {
    const int f = request->functionCode;
    if (rxCount == 2) {
        rxFunction = byte;
    } else if (rxCount == 3) {
        if (rxFunction != f) {
            // An exception reply (f + 0x80) or a stray function: report at
            // once, without waiting for its check.
            asciiState = AsciiState::Finished;
            ReportException(byte, f, request->address);
        }
        expectedLength = ReplyBodyLength(FindFunction(f)->handler, byte) + checkLength;
    }
    return NeedMore;
}

int ModbusProtocol::FinishReply(int checkLength) {
    const FunctionRule& rule = *FindFunction(request->functionCode);
    const int body = expectedLength - checkLength;
    bool good;
    if (asciiMode == 0) {
        good = ChecksumTool::Crc16(rxBuffer, static_cast<uint32_t>(body)) == rxCheck;
    } else {
        const std::string digits = UpperHex(rxBuffer, body);
        good =
            ChecksumTool::FrameLrc(digits.data(), static_cast<uint32_t>(digits.size())) == rxCheck;
    }
    switch (rule.handler) {
        case Handler::Read: {
            if (!good) ReportCheckFailure();
            const int byteCount = rxBuffer[2];
            if (byteCount == rule.valueWidth)
                request->FormatValue(rxBuffer + 3, byteCount);
            else
                HexDump(3, body);
            return Status::Complete;
        }
        case Handler::SingleWrite:
        case Handler::MultipleWrite: {
            // A broken echo is ignored; the request stays attached.
            if (!good) return NeedMore;
            // The request's frame as bytes: in ASCII its digit pairs after ':'.
            auto sent = [&](int i) -> int {
                if (asciiMode == 0) return request->frame[i];
                return UpperHexDigitValue(static_cast<char>(request->frame[1 + 2 * i])) << 4 |
                       UpperHexDigitValue(static_cast<char>(request->frame[2 + 2 * i]));
            };
            const bool single = rule.handler == Handler::SingleWrite;
            const int first = single ? 0 : 2;
            const int end = single ? expectedLength : 6;
            for (int i = first; i < end; ++i)
                if (rxBuffer[i] != sent(i)) return single ? EchoDiffers : RangeEchoDiffers;
            return Status::Complete;
        }
    }
    return NeedMore;
}

void ModbusProtocol::ReportCheckFailure() {
    asciiState = AsciiState::Finished;
    throw ProtocolError(FormatText(asciiMode == 0 ? crcFailure : lrcFailure, request->functionCode,
                                   request->address));
}

void ModbusProtocol::ReportException(int exceptionCode, int functionCode, int registerAddress) {
    const char* text = unknownException;
    for (const auto& entry : exceptionTexts)
        if (entry.code == exceptionCode) text = entry.text;
    throw ProtocolError(FormatText(text, functionCode, registerAddress));
}

void ModbusProtocol::HexDump(int first, int end) {
    if (!request) return;
    first = std::clamp(first, 0, rxCapacity);
    end = std::clamp(end, first, rxCapacity);
    request->valueText = UpperHex(rxBuffer + first, end - first);
}
