// The stations of the simulator: a register map each, served by libmodbus,
// with requests read off the line in RTU or ASCII framing and each reply
// framed like its request. No device here: main() moves the bytes.
#pragma once

#include <modbus.h>

#include <cstdint>
#include <map>
#include <vector>

#include "sim/SimOptions.h"

class SlaveSimulator {
public:
    explicit SlaveSimulator(const SimOptions& options);  // throws std::runtime_error
    ~SlaveSimulator();
    SlaveSimulator(const SlaveSimulator&) = delete;
    SlaveSimulator& operator=(const SlaveSimulator&) = delete;

    // Bytes from the line. Answers the replies to the whole requests among
    // the bytes taken so far, in order; a request's tail may come later.
    std::vector<uint8_t> Take(const uint8_t* bytes, size_t count);
    // The line went quiet: what is buffered is one whole frame or noise.
    std::vector<uint8_t> Quiet();
    bool HasPartialFrame() const { return !pending.empty(); }

    // One step of the changing values.
    void Tick();

    int RequestsAnswered() const { return answered; }
    int FramesRefused() const { return refused; }

private:
    // A request as libmodbus reads it: station, PDU, two check bytes.
    std::vector<uint8_t> Answer(std::vector<uint8_t> request, bool ascii);
    std::vector<uint8_t> TakeFrames(bool lineQuiet);

    SimOptions options;
    modbus_t* context = nullptr;
    int replyFds[2] = {-1, -1};  // libmodbus writes to [0]; the reply is read from [1]
    std::map<int, modbus_mapping_t*> maps;
    std::vector<uint8_t> pending;
    uint32_t ticks = 0;
    int answered = 0;
    int refused = 0;
};

// The framings, written here apart from the application's own code so that
// each checks the other.
uint16_t SimCrc16(const uint8_t* bytes, size_t length);
uint8_t SimLrc(const uint8_t* bytes, size_t length);
