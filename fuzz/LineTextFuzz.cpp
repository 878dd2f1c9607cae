// The line parameter text parser on any text: a refusal leaves the record as
// it was, and what it accepts it accepts again from the record's own text.
#include <cerrno>
#include <cstdio>
#include <string>

#include "FuzzSupport.h"
#include "serial/LineSettings.h"

namespace {

bool Same(const DCB& a, const DCB& b) {
    return a.baudRate == b.baudRate && a.byteSize == b.byteSize && a.parity == b.parity &&
           a.stopBits == b.stopBits && a.rtsControl == b.rtsControl;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    DCB dcb;
    const DCB before = dcb;
    const int result = LineSettings::ParseLineText(text, dcb);
    FUZZ_CHECK(result == 0 || result == EINVAL);
    if (result != 0) {
        FUZZ_CHECK(Same(dcb, before));
        return 0;
    }
    static const char parityLetters[] = "NOEMS";
    static const char* const stopTexts[] = {"1", "1.5", "2"};
    FUZZ_CHECK(dcb.parity <= 4 && dcb.stopBits <= 2);
    char again[96];
    std::snprintf(again, sizeof again, "baud=%u parity=%c data=%u stop=%s", dcb.baudRate,
                  parityLetters[dcb.parity], static_cast<unsigned>(dcb.byteSize),
                  stopTexts[dcb.stopBits]);
    DCB reread;
    FUZZ_CHECK(LineSettings::ParseLineText(again, reread) == 0);
    FUZZ_CHECK(Same(reread, dcb));
    return 0;
}
