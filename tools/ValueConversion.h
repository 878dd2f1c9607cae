// What 1, 2 or 4 bytes of hexadecimal text mean as a number: the data types
// and byte orders the conversion dialog offers, and the computation behind
// its compute button. No toolkit here; the dialog only moves texts.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class ValueConversion {
public:
    // Shown when opening with a count other than 1, 2 or 4, and when computing
    // with an odd count above 2. UTF-8.
    static constexpr std::string_view CountMessage = "选择的十六进制数据必须是1/2/4个";
    // Shown when the selected data type is none of ours (the list is empty).
    static constexpr std::string_view NoMatchMessage = "数据转换不能正确";

    // The bytes read from hexText, at most this many.
    static constexpr int32_t BufferSize = 100;

    // The two lists as the dialog offers them for a byte count. A selection
    // is an index into its list, -1 for none.
    struct Choices {
        std::vector<std::string> typeTexts;
        int selectedType = -1;
        std::vector<std::string> orderTexts;
        int selectedOrder = -1;
        // The count is not 1, 2 or 4: CountMessage before the dialog shows.
        bool countMessage = false;
    };

    struct Result {
        // Show CountMessage first; the computation went on regardless.
        bool countMessage = false;
        // False: no data type matched; show NoMatchMessage and keep the
        // result field as it is.
        bool converted = false;
        // The value text when converted.
        std::string text;
    };

    // Bytes in hexText (code page 936) as ParseHexText reads them into a
    // buffer of BufferSize, -1 when there are more.
    static int32_t CountBytes(const std::string& hexText);

    static Choices ChoicesFor(int32_t count);

    // The value of bytes 1 to count (2 or 4) under the byte order named by
    // orderText: its k-th digit names the byte that becomes the k-th least
    // significant. A name that is not an order for the count reads the bytes
    // most significant first, as "HV21" and "HV4321" do.
    static uint32_t ReorderBytes(int count, const uint8_t* bytes, std::string_view orderText);

    // The compute button: hexText as typed (code page 936), typeText and
    // orderText as the lists show them (UTF-8, orderText empty for none).
    // Bytes the text does not supply count as 0.
    static Result ConvertValue(const std::string& hexText, std::string_view typeText,
                               std::string_view orderText);
};
