// A libmodbus RTU slave serving SlaveMap on a device path, in a thread of its
// own. libmodbus is written independently of this project, so a frame it
// accepts is a frame a real device accepts.
//
// Note: libmodbus waits about 500 ms before some exception replies (illegal
// function, illegal data value) and discards what arrives meanwhile.
#pragma once

#include <modbus.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class ModbusRtuSlave {
public:
    // Opens `devicePath` at `baud` 8N1 and starts serving; throws
    // std::runtime_error when libmodbus cannot open the device.
    // `exceptionPauseMs`: how long libmodbus waits before the exceptions it
    // pauses for (its response timeout); negative: its own 500 ms.
    explicit ModbusRtuSlave(const std::string& devicePath, int baud = 9600, int stationId = 1,
                            int exceptionPauseMs = -1);
    ~ModbusRtuSlave();  // stops
    ModbusRtuSlave(const ModbusRtuSlave&) = delete;
    ModbusRtuSlave& operator=(const ModbusRtuSlave&) = delete;

    // Ends the serving thread and closes the device; safe to call twice.
    void Stop();

    // Requests for this station that were answered (normally or with an
    // exception), and waiting for that count with a bound.
    int RequestsServed() const;
    bool WaitForRequests(int count, std::chrono::milliseconds timeout) const;

    // The last request received for this station, without its CRC.
    std::vector<uint8_t> LastRequest() const;

    // Runs `use` on the register map while the slave cannot touch it.
    void WithMapping(const std::function<void(modbus_mapping_t&)>& use);

    // Runs `change` on the map after every reply, before the next request is
    // read (so that consecutive replies can differ).
    void AfterEachReply(std::function<void(modbus_mapping_t&)> change);

    // Offers each request for this station to `answer` first (with the
    // context, to send what it likes); libmodbus answers when it returns false.
    void AnswerFirst(std::function<bool(modbus_t&, const std::vector<uint8_t>& request)> answer);

    // The length of every reply sent, in order, as libmodbus wrote it.
    std::vector<int> ReplyLengths() const;

private:
    void Serve();

    modbus_t* context = nullptr;
    modbus_mapping_t* mapping = nullptr;
    int stopFd = -1;
    mutable std::mutex lock;
    mutable std::condition_variable served;
    int requestsServed = 0;
    std::vector<uint8_t> lastRequest;
    std::vector<int> replyLengths;
    std::function<void(modbus_mapping_t&)> afterReply;
    std::function<bool(modbus_t&, const std::vector<uint8_t>&)> answerFirst;
    std::thread worker;
};
