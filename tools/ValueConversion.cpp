#include "tools/ValueConversion.h"

#include <array>
#include <cstdio>
#include <cstring>

#include "tools/ChecksumTool.h"

namespace {

enum class Kind { Signed, Unsigned, Real };

struct DataType {
    std::string_view text;
    int width;
    Kind kind;
};

// In the order in which a selected text is matched; within one width the
// order is also the order of the list.
constexpr std::array<DataType, 7> DataTypes{{
    {"有符号8位整形", 1, Kind::Signed},
    {"有符号16位整形", 2, Kind::Signed},
    {"有符号32位整形", 4, Kind::Signed},
    {"无符号8位整形", 1, Kind::Unsigned},
    {"无符号16位整形", 2, Kind::Unsigned},
    {"无符号32位整形", 4, Kind::Unsigned},
    {"32位实数", 4, Kind::Real},
}};

struct ByteOrder {
    std::string_view name;
    int count;
    // positions[k]: index of the byte that becomes the k-th least significant.
    std::array<int, 4> positions;
};

// Per count in list order; the last of each count is the initial selection
// and the reading for an unknown name.
constexpr std::array<ByteOrder, 6> ByteOrders{{
    {"HV12", 2, {0, 1}},
    {"HV21", 2, {1, 0}},
    {"HV1234", 4, {0, 1, 2, 3}},
    {"HV2143", 4, {1, 0, 3, 2}},
    {"HV3412", 4, {2, 3, 0, 1}},
    {"HV4321", 4, {3, 2, 1, 0}},
}};

const DataType* FindType(std::string_view text) {
    for (const DataType& type : DataTypes) {
        if (type.text == text) return &type;
    }
    return nullptr;
}

bool IsOfferedCount(int32_t count) { return count == 1 || count == 2 || count == 4; }

// Two's complement reading of the low `width` bytes of v.
int32_t Signed(uint32_t v, int width) {
    switch (width) {
        case 1:
            return static_cast<int8_t>(v);
        case 2:
            return static_cast<int16_t>(v);
        default:
            return static_cast<int32_t>(v);
    }
}

std::string Format(const char* format, auto value) {
    // The widest text is FLT_MAX under "%f": 39 digits, a sign and 7 more.
    char text[64];
    const int length = std::snprintf(text, sizeof text, format, value);
    return std::string(text, length > 0 ? static_cast<size_t>(length) : 0);
}

}  // namespace

int32_t ValueConversion::CountBytes(const std::string& hexText) {
    uint8_t buffer[BufferSize] = {};
    return ChecksumTool::ParseHexText(hexText, buffer, BufferSize);
}

ValueConversion::Choices ValueConversion::ChoicesFor(int32_t count) {
    Choices choices;
    if (!IsOfferedCount(count)) {
        choices.countMessage = true;
        return choices;
    }
    for (const DataType& type : DataTypes) {
        if (type.width == count) choices.typeTexts.emplace_back(type.text);
    }
    choices.selectedType = 0;
    for (const ByteOrder& order : ByteOrders) {
        if (order.count == count) choices.orderTexts.emplace_back(order.name);
    }
    choices.selectedOrder = static_cast<int>(choices.orderTexts.size()) - 1;
    return choices;
}

uint32_t ValueConversion::ReorderBytes(int count, const uint8_t* bytes,
                                       std::string_view orderText) {
    const ByteOrder* chosen = nullptr;
    for (const ByteOrder& order : ByteOrders) {
        if (order.count != count) continue;
        chosen = &order;  // ends on the most-significant-first order
        if (order.name == orderText) break;
    }
    uint32_t value = 0;
    if (chosen == nullptr) {
        for (int i = 0; i < count && i < 4; ++i) value = value << 8 | bytes[i];
        return value;
    }
    for (int k = count - 1; k >= 0; --k) value = value << 8 | bytes[chosen->positions[k]];
    return value;
}

ValueConversion::Result ValueConversion::ConvertValue(const std::string& hexText,
                                                      std::string_view typeText,
                                                      std::string_view orderText) {
    uint8_t buffer[BufferSize] = {};
    const int32_t count = ChecksumTool::ParseHexText(hexText, buffer, BufferSize);
    Result result;
    result.countMessage = count > 2 && count % 2 == 1;

    const DataType* type = FindType(typeText);
    if (type == nullptr) return result;
    const uint32_t v = type->width == 1 ? buffer[0] : ReorderBytes(type->width, buffer, orderText);
    switch (type->kind) {
        case Kind::Signed:
            result.text = Format("%d", Signed(v, type->width));
            break;
        case Kind::Unsigned:
            result.text = Format("%u", v);
            break;
        case Kind::Real: {
            float real;
            std::memcpy(&real, &v, sizeof real);
            result.text = Format("%f", static_cast<double>(real));
            break;
        }
    }
    result.converted = true;
    return result;
}
