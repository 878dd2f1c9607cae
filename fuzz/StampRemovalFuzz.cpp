// Stamp removal on any text in any pieces: it matches a plain one-pass model
// (drop each "[" up to the next "]"; an unclosed "[" ends the removal), and
// appends and slices across the buffer's chunks keep every unit, whether the
// text stays one byte per unit or turns wide part way.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>

#include "FuzzSupport.h"
#include "tools/ReceiveText.h"

namespace {

std::u16string Model(const std::u16string& text) {
    std::u16string kept;
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] == u'[') {
            const size_t close = text.find(u']', i);
            if (close == std::u16string::npos) break;
            i = close + 1;
            continue;
        }
        kept += text[i++];
    }
    kept.append(text, i, std::u16string::npos);
    return kept;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    ReceiveText text;
    std::u16string plain;
    // Repeats make texts long enough to cross the 32K-unit chunks.
    const int repeat = input.ConsumeIntegralInRange(1, 400);
    while (input.remaining_bytes() > 0) {
        // Appended as bytes or as units; a byte of 0xF0 and above becomes a
        // unit past Latin-1 when appended as units, which turns the text wide
        // at whatever length it has reached.
        const bool asBytes = input.ConsumeBool();
        const std::string piece = input.ConsumeRandomLengthString(64);
        std::string bytes;
        std::u16string units;
        for (char c : piece) {
            const auto byte = static_cast<uint8_t>(c);
            const char unit = byte % 4 == 0 ? '[' : byte % 4 == 1 ? ']' : c;
            bytes += unit;
            units += byte >= 0xF0 && !asBytes ? static_cast<char16_t>(0x4E00 + byte)
                                              : static_cast<char16_t>(static_cast<uint8_t>(unit));
        }
        for (int r = 0; r < repeat; ++r) {
            if (asBytes)
                text.AppendAscii(bytes);
            else
                text.Append(units);
            plain += units;
        }
    }
    FUZZ_CHECK(text.Size() == plain.size());
    FUZZ_CHECK(text.ToU16String() == plain);
    const std::u16string expected = Model(plain);
    FUZZ_CHECK(text.RemoveStamps() == plain.size() - expected.size());
    FUZZ_CHECK(text.ToU16String() == expected);
    return 0;
}
