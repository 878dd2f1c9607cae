// The protocol interface: a request builder that also reads the reply to the
// request it built, one byte at a time.
#pragma once

#include <cstdint>
#include <string>

class ModbusRequest;

class Protocal {
public:
    Protocal();
    virtual ~Protocal();

    virtual int Reset();
    virtual bool Reserved();
    // Answers 1 here; an implementation answers its parser's status.
    virtual int ReceiveByte(const uint8_t* byte);
    virtual void BuildRequest(ModbusRequest* request);

    std::string name;
    // Not owned: the caller keeps the record alive while it is attached.
    ModbusRequest* request = nullptr;
};
