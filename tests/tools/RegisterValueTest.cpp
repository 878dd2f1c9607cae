#include "tools/RegisterValue.h"

#include <gtest/gtest.h>
#include <modbus.h>

#include <bit>
#include <cstdio>
#include <map>
#include <sstream>

namespace {

using RegisterValue::Parse;
using RegisterValue::Read;
using Registers = std::vector<uint16_t>;

struct Peer32 {
    WordOrder order;
    void (*set)(float, uint16_t*);
    float (*get)(const uint16_t*);
};

const Peer32 kLibmodbus[] = {
    {WordOrder::ABCD, modbus_set_float_abcd, modbus_get_float_abcd},
    {WordOrder::CDAB, modbus_set_float_cdab, modbus_get_float_cdab},
    {WordOrder::BADC, modbus_set_float_badc, modbus_get_float_badc},
    {WordOrder::DCBA, modbus_set_float_dcba, modbus_get_float_dcba},
};
// libmodbus 3.1.6's setters swap each register's bytes on little-endian hosts (3.1.7
// mends them): each order's peer is found from the documented 1.5 = 3FC0 0000.
WordOrder Swapped(WordOrder order) {
    constexpr WordOrder swapped[] = {WordOrder::BADC, WordOrder::DCBA, WordOrder::ABCD,
                                     WordOrder::CDAB};
    return swapped[static_cast<int>(order)];
}

const Peer32& PeerFor(WordOrder order, bool setter) {
    uint16_t laid[2];
    modbus_set_float_abcd(1.5f, laid);
    const uint16_t documented[2] = {0x3FC0, 0};
    const bool swaps = setter ? laid[0] != 0x3FC0 : modbus_get_float_abcd(documented) != 1.5f;
    for (const Peer32& peer : kLibmodbus)
        if ((swaps ? Swapped(peer.order) : peer.order) == order) return peer;
    return kLibmodbus[0];
}

struct Row {
    RegisterFormat format;
    const char* text;  // as typed, and as the table shows it
};

// Every row in every order, both ways, against an encoder we did not write.
TEST(RegisterValue, ThirtyTwoBitsAgainstLibmodbus) {
    const Row rows[] = {
        {RegisterFormat::F32, "1.5"},           {RegisterFormat::F32, "-0"},
        {RegisterFormat::F32, "nan"},           {RegisterFormat::F32, "inf"},
        {RegisterFormat::F32, "-inf"},          {RegisterFormat::F32, "1e-45"},  // least denormal
        {RegisterFormat::F32, "1.1754942e-38"},  // greatest denormal
        {RegisterFormat::F32, "3.4028235e+38"}, {RegisterFormat::F32, "-3.4028235e+38"},
        {RegisterFormat::F32, "123.456"},       {RegisterFormat::U32, "4294967295"},
        {RegisterFormat::U32, "16909060"},      {RegisterFormat::S32, "-2147483648"},
        {RegisterFormat::S32, "2147483647"},    {RegisterFormat::S32, "-1"},
    };
    for (WordOrder order : RegisterValue::Orders()) {
        const Peer32 &setter = PeerFor(order, true), &getter = PeerFor(order, false);
        for (const Row& row : rows) {
            SCOPED_TRACE(std::string(RegisterValue::OrderName(order)) + " " + row.text);
            const ValueFormat format{row.format, order};
            const uint32_t bits = row.format == RegisterFormat::F32
                                      ? std::bit_cast<uint32_t>(std::strtof(row.text, nullptr))
                                      : static_cast<uint32_t>(std::stoll(row.text));
            Registers expected(2);
            setter.set(std::bit_cast<float>(bits), expected.data());
            std::string error;
            const auto ours = Parse(format, row.text, error);
            ASSERT_TRUE(ours) << error;
            EXPECT_EQ(*ours, expected);
            EXPECT_EQ(std::bit_cast<uint32_t>(getter.get(ours->data())), bits);
            const std::string shown = Read(format, expected).text;
            EXPECT_EQ(Parse(format, shown, error), expected) << shown;
        }
    }
}

// 64 bits against pymodbus's payload builder: byte order and word order.
TEST(RegisterValue, SixtyFourBitsAgainstPymodbus) {
    const Row rows[] = {
        {RegisterFormat::F64, "1.5"},
        {RegisterFormat::F64, "-0"},
        {RegisterFormat::F64, "nan"},
        {RegisterFormat::F64, "inf"},
        {RegisterFormat::F64, "-inf"},
        {RegisterFormat::F64, "5e-324"},
        {RegisterFormat::F64, "1.7976931348623157e+308"},
        {RegisterFormat::F64, "-2.2250738585072014e-308"},
        {RegisterFormat::U64, "18446744073709551615"},
        {RegisterFormat::U64, "72623859790382856"},
        {RegisterFormat::S64, "-9223372036854775808"},
        {RegisterFormat::S64, "9223372036854775807"},
    };
    std::string script =
        "from pymodbus.payload import BinaryPayloadBuilder as B\n"
        "from pymodbus.constants import Endian as E\n"
        "orders = {'ABCD': (E.Big, E.Big), 'CDAB': (E.Big, E.Little),\n"
        "          'BADC': (E.Little, E.Big), 'DCBA': (E.Little, E.Little)}\n"
        "rows = [";
    for (const Row& row : rows) {
        const char* add = row.format == RegisterFormat::F64   ? "add_64bit_float"
                          : row.format == RegisterFormat::U64 ? "add_64bit_uint"
                                                              : "add_64bit_int";
        script += std::string("('") + add + "', '" + row.text + "'),";
    }
    script +=
        "]\n"
        "for name, (b, w) in orders.items():\n"
        "    for add, text in rows:\n"
        "        p = B(byteorder=b, wordorder=w)\n"
        "        getattr(p, add)(float(text) if add.endswith('float') else int(text))\n"
        "        print(name, text, *p.to_registers())\n";
    const std::string command = std::string(TALVENOR_PYTHON) + " -c \"" + script + "\"";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::map<std::pair<std::string, std::string>, Registers> peer;
    char line[256];
    while (std::fgets(line, sizeof line, pipe)) {
        std::istringstream in(line);
        std::string order, text;
        Registers registers;
        in >> order >> text;
        for (uint16_t value; in >> value;) registers.push_back(value);
        peer[{order, text}] = registers;
    }
    ASSERT_EQ(pclose(pipe), 0);
    for (WordOrder order : RegisterValue::Orders()) {
        for (const Row& row : rows) {
            const std::string name(RegisterValue::OrderName(order));
            SCOPED_TRACE(name + " " + row.text);
            const ValueFormat format{row.format, order};
            const Registers& expected = peer[{name, row.text}];
            ASSERT_EQ(expected.size(), static_cast<size_t>(RegisterValue::Width(format)));
            std::string error;
            EXPECT_EQ(Parse(format, row.text, error), expected) << error;
            const std::string shown = Read(format, expected).text;
            EXPECT_EQ(Parse(format, shown, error), expected) << shown;
        }
    }
}

// Text that fits no value of the format is refused, never wrapped or cut.
TEST(RegisterValue, RefusedTexts) {
    const struct {
        ValueFormat format;
        const char* text;
        std::string_view message;
    } rows[] = {
        {{RegisterFormat::U16}, "65536", RegisterValue::OutOfRangeMessage},
        {{RegisterFormat::U16}, "-1", RegisterValue::OutOfRangeMessage},
        {{RegisterFormat::S16}, "32768", RegisterValue::OutOfRangeMessage},
        {{RegisterFormat::U16}, "12a", RegisterValue::NotANumberMessage},
        {{RegisterFormat::F32}, "1e39", RegisterValue::OutOfRangeMessage},
        {{RegisterFormat::U16, WordOrder::ABCD, 1, 0.1},
         "6553.6",
         RegisterValue::OutOfRangeMessage},
        {{RegisterFormat::Hex16}, "0x10000", RegisterValue::NotANumberMessage},
        {{RegisterFormat::Text, WordOrder::ABCD, 2}, "abcde", RegisterValue::TextTooLongMessage},
        {{RegisterFormat::Bit}, "2", RegisterValue::NotANumberMessage},
    };
    for (const auto& row : rows) {
        std::string error;
        EXPECT_FALSE(Parse(row.format, row.text, error)) << row.text;
        EXPECT_EQ(error, row.message) << row.text;
    }
}

}  // namespace
