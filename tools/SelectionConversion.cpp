#include "tools/SelectionConversion.h"

#include "tools/AsciiChars.h"
#include "tools/ChecksumTool.h"
#include "tools/TextCodec.h"
#include "tools/ValueConversion.h"

namespace {

constexpr std::string_view kLettersMessage = "您选择的数据[%s]有字母";
constexpr std::string_view kLengthMessage = "您选择的有效数据[%s], 选择的数据必须是4/8/16个数据";
// A quoted selection longer than this many bytes is cut.
constexpr size_t kQuoteBytes = 64;

std::string WithQuote(std::string_view format, std::string_view selectionGbk) {
    std::string text(format);
    text.replace(text.find("%s"), 2, GbkToUtf8(QuoteSelection(selectionGbk)));
    return text;
}

// A number below 40 is the code of a digit 0-9 (30 to 39); one above, the
// code of a letter A-F (41 to 46), as the pane shows character codes.
char CodeCharacter(int number) {
    return static_cast<char>(number < 40 ? number + 18 : number + 24);
}

}  // namespace

std::string_view TrimAsciiSpace(std::string_view text) {
    while (!text.empty() && IsAsciiSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsAsciiSpace(text.back())) text.remove_suffix(1);
    return text;
}

std::string QuoteSelection(std::string_view text) {
    if (text.size() <= kQuoteBytes) return std::string(text);
    size_t cut = 0;
    while (cut < kQuoteBytes) {
        const size_t step = IsGbkLeadByte(static_cast<uint8_t>(text[cut])) ? 2 : 1;
        if (cut + step > kQuoteBytes) break;
        cut += step;
    }
    return std::string(text.substr(0, cut)) + "...";
}

SelectionConversion ConvertHexSelection(std::string_view selected) {
    SelectionConversion result;
    result.hexText = std::string(TrimAsciiSpace(selected));
    uint8_t bytes[100];
    const int32_t count = ChecksumTool::ParseHexText(result.hexText, bytes, 100);
    if (count > 2 && count % 2 == 1) result.message = std::string(ValueConversion::CountMessage);
    result.openDialog = true;
    return result;
}

SelectionConversion ConvertModbusAsciiSelection(std::string_view selected) {
    SelectionConversion result;
    std::string digits;
    for (char c : TrimAsciiSpace(selected))
        if (c != ' ') digits += c;
    for (char c : digits) {
        if (c < '0' || c > '9') {
            result.message = WithQuote(kLettersMessage, digits);
            return result;
        }
    }
    if (digits.size() % 4 != 0) {
        result.message = WithQuote(kLengthMessage, digits);
        return result;
    }
    for (size_t i = 0; i < digits.size(); i += 4) {
        const int high = (digits[i] - '0') * 10 + (digits[i + 1] - '0');
        const int low = (digits[i + 2] - '0') * 10 + (digits[i + 3] - '0');
        result.hexText += CodeCharacter(high);
        result.hexText += CodeCharacter(low);
        result.hexText += ' ';
    }
    result.openDialog = true;
    return result;
}
