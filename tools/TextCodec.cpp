#include "tools/TextCodec.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace {

// Length of the UTF-8 sequence a lead byte announces, 1 for a stray byte, so
// that an unconvertible character is replaced by exactly one '?'.
size_t Utf8SequenceLength(uint8_t lead) {
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    if (lead >= 0xE0) return lead <= 0xEF ? 3 : 1;
    if (lead >= 0xC2) return 2;
    return 1;
}

size_t GbkSequenceLength(uint8_t lead) { return IsGbkLeadByte(lead) ? 2 : 1; }

class Converter {
public:
    Converter(const char* to, const char* from) : cd(iconv_open(to, from)) {}
    ~Converter() {
        if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    template <typename SkipLength>
    std::string Run(std::string_view in, SkipLength skipLength) {
        std::string out;
        if (cd == reinterpret_cast<iconv_t>(-1)) {
            // No converter at all: keep ASCII, mark the rest.
            for (char c : in) out += static_cast<uint8_t>(c) < 0x80 ? c : '?';
            return out;
        }
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        std::vector<char> buffer(in.size() * 4 + 16);
        char* src = const_cast<char*>(in.data());
        size_t srcLeft = in.size();
        while (srcLeft > 0) {
            char* dst = buffer.data();
            size_t dstLeft = buffer.size();
            const size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
            out.append(buffer.data(), static_cast<size_t>(dst - buffer.data()));
            if (rc != static_cast<size_t>(-1)) continue;
            if (errno == E2BIG) continue;
            // EILSEQ or EINVAL (truncated at the end): one '?' for the sequence.
            const size_t skip = std::min(srcLeft, skipLength(static_cast<uint8_t>(*src)));
            out += '?';
            src += skip;
            srcLeft -= skip;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
        return out;
    }

private:
    iconv_t cd;
};

}  // namespace

std::string Utf8ToGbk(std::string_view utf8) {
    thread_local Converter converter("CP936", "UTF-8");
    return converter.Run(utf8, Utf8SequenceLength);
}

std::string GbkToUtf8(std::string_view gbk) {
    thread_local Converter converter("UTF-8", "CP936");
    return converter.Run(gbk, GbkSequenceLength);
}

void UpperAscii(std::string& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        const auto b = static_cast<uint8_t>(text[i]);
        if (IsGbkLeadByte(b)) {
            ++i;  // skip the trail byte
        } else if (b >= 'a' && b <= 'z') {
            text[i] = static_cast<char>(b - 'a' + 'A');
        }
    }
}
