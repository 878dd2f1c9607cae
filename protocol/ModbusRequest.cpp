#include "protocol/ModbusRequest.h"

#include <cmath>
#include <utility>

#include "protocol/ByteStream.h"
#include "protocol/TextFormat.h"

namespace {

// Decimal places beyond this are not a display setting but a mistake; such a
// request leaves the text as it was instead of growing it without bound.
constexpr int maxDecimals = 100;

// The big-endian number formed by the bytes, kept modulo 2^32: bytes more
// than four places from the end drop out.
uint32_t BigEndian(const uint8_t* data, int len) {
    uint32_t value = 0;
    for (int i = 0; i < len; ++i) value = (value << 8) | data[i];
    return value;
}

// Each formatter answers false to leave the text unchanged.
using Formatter = bool (*)(const uint8_t* data, int len, int decimals, std::string& text);

bool FormatBit(const uint8_t* data, int len, int bit, std::string& text) {
    // A bit outside the data reads as 0 rather than outside the bytes.
    if (bit < 0 || bit / 8 >= len) {
        text.assign(1, '0');
        return true;
    }
    text = FormatText("%d", (data[len - 1 - bit / 8] >> (bit % 8)) & 1);
    return true;
}

bool FormatSigned8(const uint8_t* data, int, int, std::string& text) {
    text = FormatText("%d", static_cast<int8_t>(data[0]));
    return true;
}

bool FormatSigned16(const uint8_t* data, int len, int, std::string& text) {
    text = FormatText("%d", static_cast<int16_t>(BigEndian(data, len)));
    return true;
}

bool FormatSigned32(const uint8_t* data, int len, int, std::string& text) {
    text = FormatText("%d", static_cast<int32_t>(BigEndian(data, len)));
    return true;
}

bool FormatUnsigned(const uint8_t* data, int len, int, std::string& text) {
    text = FormatText("%u", BigEndian(data, len));
    return true;
}

std::string FixedPoint(double value, int decimals) {
    double x = value / std::pow(10.0, decimals);
    switch (decimals) {
        case 0:
            return FormatText("%.0f", x);
        case 1:
            return FormatText("%.1f", x);
        case 2:
            return FormatText("%.2f", x);
        case 3:
            return FormatText("%.3f", x);
        default:
            return FormatText("%.4f", x);
    }
}

bool FormatSignedFixed16(const uint8_t* data, int len, int decimals, std::string& text) {
    text = FixedPoint(static_cast<int16_t>(BigEndian(data, len)), decimals);
    return true;
}

bool FormatSignedFixed32(const uint8_t* data, int len, int decimals, std::string& text) {
    text = FixedPoint(static_cast<int32_t>(BigEndian(data, len)), decimals);
    return true;
}

bool FormatUnsignedFixed(const uint8_t* data, int len, int decimals, std::string& text) {
    text = FixedPoint(BigEndian(data, len), decimals);
    return true;
}

// The number as a signed 32-bit integer with a decimal point put in so that
// `decimals` digits follow it. The sign stays in front of the digits.
bool FormatDecimalPoint(const uint8_t* data, int len, int decimals, std::string& text) {
    if (decimals > maxDecimals) return false;
    int32_t value = static_cast<int32_t>(BigEndian(data, len));
    if (decimals <= 0) {
        text = FormatText("%d", value);
        return true;
    }
    uint32_t magnitude =
        value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
    std::string digits = FormatText("%u", magnitude);
    const size_t places = static_cast<size_t>(decimals);
    if (digits.size() <= places) digits.insert(0, places - digits.size() + 1, '0');
    digits.insert(digits.size() - places, 1, '.');
    if (value < 0) digits.insert(0, 1, '-');
    text = std::move(digits);
    return true;
}

bool FormatHexDigits(const uint8_t* data, int len, int, std::string& text) {
    text.clear();
    for (int i = 0; i < len; ++i) text += FormatText("%02x", data[i]);
    return true;
}

// A zero byte is kept in the text like any other character.
bool FormatCharacters(const uint8_t* data, int len, int, std::string& text) {
    text.assign(reinterpret_cast<const char*>(data), static_cast<size_t>(len));
    return true;
}

constexpr int anyLength = -1;

struct DataTypeRule {
    int code;
    int requiredLength;
    Formatter format;
};

// Codes 7, 8 and every code not listed leave the text unchanged.
constexpr DataTypeRule dataTypeRules[] = {
    {0, anyLength, FormatBit},        {1, 1, FormatSigned8},
    {2, 2, FormatSigned16},           {3, 4, FormatSigned32},
    {4, 1, FormatUnsigned},           {5, 2, FormatUnsigned},
    {6, 4, FormatUnsigned},           {9, 2, FormatSignedFixed16},
    {10, 4, FormatSignedFixed32},     {11, 2, FormatUnsignedFixed},
    {12, 4, FormatUnsignedFixed},     {20, anyLength, FormatDecimalPoint},
    {21, anyLength, FormatHexDigits}, {30, anyLength, FormatCharacters},
};

const DataTypeRule* FindDataType(int code) {
    for (const auto& rule : dataTypeRules)
        if (rule.code == code) return &rule;
    return nullptr;
}

void PutCount(uint8_t* out, uint32_t count) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(count >> (8 * i));
}

uint32_t GetCount(const uint8_t* in) {
    uint32_t count = 0;
    for (int i = 3; i >= 0; --i) count = (count << 8) | in[i];
    return count;
}

}  // namespace

ModbusRequest::ModbusRequest() = default;

ModbusRequest::~ModbusRequest() = default;

void ModbusRequest::FormatValue(const uint8_t* data, int len) {
    if (len < 0 || !data) len = 0;
    const DataTypeRule* rule = FindDataType(dataType);
    if (rule && (rule->requiredLength == anyLength || rule->requiredLength == len)) {
        std::string text;
        if (rule->format(data, len, decimals, text)) valueText = std::move(text);
    }
    resultText = valueText;
}

bool ModbusRequest::SaveData(ByteStream* stream) {
    if (!stream) return false;
    if (dataOffset < 0 || streamLength < 0 || dataOffset > dataCapacity ||
        streamLength > dataCapacity - dataOffset)
        return false;
    uint8_t count[4];
    PutCount(count, static_cast<uint32_t>(streamLength));
    const auto length = static_cast<size_t>(streamLength);
    return stream->Write(count, sizeof count) == sizeof count &&
           stream->Write(dataBuffer + dataOffset, length) == length;
}

bool ModbusRequest::LoadData(ByteStream* stream) {
    if (!stream) return false;
    dataOffset = 0;
    dataLength = 0;
    streamLength = 0;
    uint8_t count[4];
    if (stream->Read(count, sizeof count) != sizeof count) return false;
    const uint32_t length = GetCount(count);
    if (length > static_cast<uint32_t>(dataCapacity)) return false;
    if (stream->Read(dataBuffer, length) != length) return false;
    streamLength = static_cast<int>(length);
    dataLength = streamLength;
    return true;
}
