// FormatValue with every data type, any decimals and any data: it reads only
// the bytes it is given and always leaves resultText equal to valueText.
#include <fuzzer/FuzzedDataProvider.h>

#include <vector>

#include "FuzzSupport.h"
#include "protocol/ModbusRequest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    ModbusRequest request;
    request.dataType = input.ConsumeIntegralInRange(-1, 31);
    request.decimals = input.ConsumeIntegralInRange(-5, 120);
    const std::vector<uint8_t> bytes = input.ConsumeRemainingBytes<uint8_t>();
    request.FormatValue(bytes.data(), static_cast<int>(bytes.size()));
    FUZZ_CHECK(request.resultText == request.valueText);
    return 0;
}
