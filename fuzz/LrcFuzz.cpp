// The two LRC readers on any characters: the calculator's (which upper-cases
// and may tell the user about an odd count) and the framing's.
#include <string>

#include "FuzzSupport.h"
#include "tools/ChecksumTool.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static QuietMessageBox quiet;
    const std::string text(reinterpret_cast<const char*>(data), size);
    const uint8_t typed = ChecksumTool::Lrc(text);
    // An exact copy, so that ASan sees a read past the given length.
    const std::vector<char> chars(text.begin(), text.end());
    const uint8_t framed =
        ChecksumTool::FrameLrc(chars.data(), static_cast<uint32_t>(chars.size()));
    (void)typed;
    // An odd count is refused with 0; so is an empty text, whose sum is 0.
    if (size % 2 == 1 || size == 0) FUZZ_CHECK(framed == 0);
    return 0;
}
