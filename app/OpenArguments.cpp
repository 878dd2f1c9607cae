#include "app/OpenArguments.h"

#include <cstdint>

#include "serial/PortSettings.h"
#include "tools/AsciiChars.h"

namespace {

// The decimal value of the leading digits after blanks; 0 when there are
// none, and saturated rather than wrapped for absurdly long numbers.
uint32_t DecimalValue(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && IsAsciiSpace(text[i])) ++i;
    uint64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + static_cast<uint64_t>(text[i] - '0');
        if (value > INT32_MAX) return INT32_MAX;
    }
    return static_cast<uint32_t>(value);
}

}  // namespace

OpenArguments OpenArgumentsFromTexts(const PortTexts& texts) {
    OpenArguments open;
    open.portNumber = static_cast<int32_t>(DecimalValue(texts.port));
    open.baudRate = DecimalValue(texts.baud);
    // An empty text would put a NUL into the engine's line parameter text.
    open.parityLetter = texts.parity.empty() ? 'N' : texts.parity.front();
    open.dataBits = DecimalValue(texts.dataBits);
    open.stopBits = texts.stopBits == "2" ? 2 : 1;
    open.eventMask = kDefaultEventMask;
    const uint32_t bufferSize = DecimalValue(texts.sendBuffer);
    open.writeBufferSize = bufferSize > 0 ? bufferSize : PortSettings{}.writeBufferSize;
    return open;
}
