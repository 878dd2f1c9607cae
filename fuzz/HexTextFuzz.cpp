// ParseHexText on any text and any capacity: it writes inside the buffer it
// is given, answers -1 or a count within it, and reads FormatHexBytes back.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <vector>

#include "FuzzSupport.h"
#include "tools/ChecksumTool.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const int32_t capacity = input.ConsumeIntegralInRange<int32_t>(0, 600);
    const std::string text = input.ConsumeRemainingBytesAsString();

    // Exactly `capacity` bytes, so that ASan sees a write past the end.
    std::vector<uint8_t> out(static_cast<size_t>(capacity));
    const int32_t count = ChecksumTool::ParseHexText(text, out.data(), capacity);
    FUZZ_CHECK(count == -1 || (count >= 0 && count <= capacity));

    if (count > 0) {
        const std::string formatted =
            ChecksumTool::FormatHexBytes(out.data(), static_cast<size_t>(count));
        std::vector<uint8_t> back(out.size());
        FUZZ_CHECK(ChecksumTool::ParseHexText(formatted, back.data(), capacity) == count);
        FUZZ_CHECK(std::memcmp(back.data(), out.data(), static_cast<size_t>(count)) == 0);
    }
    return 0;
}
