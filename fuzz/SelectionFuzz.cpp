// The pane's two selection conversions on any selected text: they answer a
// message or a dialog text, never both empty-handed, and a Modbus ASCII text
// they build is always hex digit pairs each followed by a blank.
#include <string>

#include "FuzzSupport.h"
#include "tools/SelectionConversion.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string selected(reinterpret_cast<const char*>(data), size);

    const SelectionConversion hex = ConvertHexSelection(selected);
    FUZZ_CHECK(hex.openDialog);
    FUZZ_CHECK(hex.hexText == std::string(TrimAsciiSpace(selected)));

    const SelectionConversion ascii = ConvertModbusAsciiSelection(selected);
    FUZZ_CHECK(ascii.openDialog != !ascii.message.empty());
    if (ascii.openDialog) {
        FUZZ_CHECK(ascii.hexText.size() % 3 == 0);
        for (size_t i = 2; i < ascii.hexText.size(); i += 3) FUZZ_CHECK(ascii.hexText[i] == ' ');
    }
    FUZZ_CHECK(QuoteSelection(selected).size() <= 64 + 3);
    return 0;
}
