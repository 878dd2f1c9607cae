// LoadData on any stream: it never writes outside dataBuffer, and what it
// accepts SaveData writes back byte for byte.
#include <vector>

#include "FuzzSupport.h"
#include "protocol/MemoryStream.h"
#include "protocol/ModbusRequest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> bytes(data, data + size);
    MemoryStream in(bytes);
    ModbusRequest request;
    if (!request.LoadData(&in)) {
        FUZZ_CHECK(request.dataLength == 0 && request.streamLength == 0);
        return 0;
    }
    FUZZ_CHECK(request.streamLength >= 0 && request.streamLength <= ModbusRequest::dataCapacity);
    MemoryStream out;
    FUZZ_CHECK(request.SaveData(&out));
    const size_t written = out.Bytes().size();
    FUZZ_CHECK(written <= size);
    FUZZ_CHECK(std::equal(out.Bytes().begin(), out.Bytes().end(), bytes.begin()));
    return 0;
}
