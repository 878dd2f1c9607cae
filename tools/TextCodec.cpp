#include "tools/TextCodec.h"

#include <iconv.h>

#include <cerrno>
#include <vector>

namespace {

// How many bytes one '?' stands for when the converter refuses the input at
// `in`: a whole character that the target cannot hold, or only the broken
// start of one, so that a stray lead byte never swallows the next character.
size_t Utf8SkipLength(std::string_view in) {
    const auto lead = static_cast<uint8_t>(in[0]);
    size_t length = 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4;
    size_t i = 1;
    while (i < length && i < in.size() && (static_cast<uint8_t>(in[i]) & 0xC0) == 0x80) ++i;
    return i;
}

size_t GbkSkipLength(std::string_view in) {
    if (in.size() < 2 || !IsGbkLeadByte(static_cast<uint8_t>(in[0]))) return 1;
    const auto trail = static_cast<uint8_t>(in[1]);
    return trail >= 0x40 && trail <= 0xFE && trail != 0x7F ? 2 : 1;
}

// iconv_open's failure value is the pointer (iconv_t)-1.
const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);  // NOLINT(performance-no-int-to-ptr)

class Converter {
public:
    Converter(const char* to, const char* from) : cd(iconv_open(to, from)) {}
    ~Converter() {
        if (cd != kNoConverter) iconv_close(cd);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    template <typename SkipLength>
    std::string Run(std::string_view in, SkipLength skipLength) {
        std::string out;
        if (cd == kNoConverter) {
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
            const size_t skip = skipLength(std::string_view(src, srcLeft));
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
    return converter.Run(utf8, Utf8SkipLength);
}

std::string GbkToUtf8(std::string_view gbk) {
    thread_local Converter converter("UTF-8", "CP936");
    return converter.Run(gbk, GbkSkipLength);
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
