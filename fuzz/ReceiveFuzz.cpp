// A reply stream of any bytes after a request of every function and framing:
// ReceiveByte stays inside its buffers, answers a known status, and reports
// what it refuses only through ProtocolError.
#include <fuzzer/FuzzedDataProvider.h>

#include "FuzzSupport.h"
#include "protocol/ModbusProtocol.h"
#include "protocol/ModbusRequest.h"
#include "protocol/ProtocolError.h"

namespace {

constexpr int kFunctions[] = {1, 2, 3, 4, 5, 6, 15, 16};
constexpr int kDataTypes[] = {0, 1, 2, 3, 4, 5, 6, 7, 9, 10, 11, 12, 20, 21, 30};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    ModbusRequest request;
    request.functionCode = input.PickValueInArray(kFunctions);
    request.station = input.ConsumeIntegralInRange(0, 256);
    request.address = input.ConsumeIntegral<uint16_t>();
    request.quantity = input.ConsumeIntegralInRange(0, 130);
    request.dataType = input.PickValueInArray(kDataTypes);
    request.decimals = input.ConsumeIntegralInRange(-2, 12);
    request.valueText = input.ConsumeRandomLengthString(64);
    const int ascii = input.ConsumeBool() ? 1 : 0;

    ModbusProtocol protocol;
    protocol.SetAsciiMode(ascii);
    try {
        protocol.BuildRequest(&request);
    } catch (const ProtocolError&) {
        return 0;  // refused requests are the builder's tests' business
    }
    FUZZ_CHECK(request.frameLength > 0 && request.frameLength <= ModbusRequest::frameCapacity);

    const std::string reply = input.ConsumeRemainingBytesAsString();
    for (const char c : reply) {
        const auto byte = static_cast<uint8_t>(c);
        try {
            const int status = protocol.ReceiveByte(&byte);
            FUZZ_CHECK(status >= ModbusProtocol::NeedMore && status <= ModbusProtocol::NotAttached);
        } catch (const ProtocolError& error) {
            FUZZ_CHECK(error.what()[0] != '\0');
        }
        FUZZ_CHECK(protocol.rxCount >= 0 && protocol.rxCount <= ModbusProtocol::rxCapacity);
    }
    return 0;
}
