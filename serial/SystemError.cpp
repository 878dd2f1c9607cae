#include "serial/SystemError.h"

#include <cstring>

std::string SystemErrorText(int error) {
    char buffer[256] = {};
    // strerror_r is the GNU variant (answers the text) or the XSI one
    // (answers 0 and fills the buffer), depending on the feature macros.
    struct Pick {
        const char* buffer;
        const char* operator()(int result) const { return result == 0 ? buffer : nullptr; }
        const char* operator()(const char* result) const { return result; }
    };
    const char* text = Pick{buffer}(strerror_r(error, buffer, sizeof buffer));
    if (!text || !*text) return "Unknown error " + std::to_string(error);
    return text;
}
