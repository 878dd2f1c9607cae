// The conversion dialog's computation on any hex text, with every data type
// and byte order it offers and a few it does not: it always answers, and a
// converted value is a number ("%d", "%u" or "%f": NaN and the infinities
// included).
#include <fuzzer/FuzzedDataProvider.h>

#include <string>

#include "FuzzSupport.h"
#include "tools/ValueConversion.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const int count = input.PickValueInArray({1, 2, 4});
    const ValueConversion::Choices choices = ValueConversion::ChoicesFor(count);
    std::string type = "不是类型";
    if (!choices.typeTexts.empty() && input.ConsumeBool())
        type =
            choices
                .typeTexts[input.ConsumeIntegralInRange<size_t>(0, choices.typeTexts.size() - 1)];
    std::string order = input.ConsumeRandomLengthString(8);
    if (!choices.orderTexts.empty() && input.ConsumeBool())
        order =
            choices
                .orderTexts[input.ConsumeIntegralInRange<size_t>(0, choices.orderTexts.size() - 1)];
    const std::string hexText = input.ConsumeRemainingBytesAsString();

    const ValueConversion::Result result = ValueConversion::ConvertValue(hexText, type, order);
    if (result.converted) {
        FUZZ_CHECK(!result.text.empty());
        FUZZ_CHECK(result.text.size() < 64);
    }
    return 0;
}
