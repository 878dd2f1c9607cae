// Modbus master framing in RTU (CRC16) and ASCII (LRC): builds the request
// frame into the attached record and parses the slave's reply byte by byte.
#pragma once

#include <cstdint>

#include "protocol/Protocal.h"

class ModbusProtocol : public Protocal {
public:
    static constexpr int rxCapacity = 500;

    // What ReceiveByte answers.
    enum Status {
        NeedMore = 0,          // also: byte ignored
        Complete = 1,          // accepted; for reads valueText is ready
        RangeEchoDiffers = 2,  // functions 15, 16
        EchoDiffers = 3,       // functions 5, 6
        NotAttached = 4,       // the byte was not stored
    };

    ModbusProtocol();
    ~ModbusProtocol() override;

    // Sets rxCount and the attached record's dataLength to 0; answers 0.
    int Reset() override;
    // Throws ProtocolError on an exception reply, or on a read reply whose
    // check fails.
    int ReceiveByte(const uint8_t* byte) override;
    // Attaches the record and writes its frame; a null record detaches.
    // Throws ProtocolError with the refusal text.
    void BuildRequest(ModbusRequest* request) override;

    void SetAsciiMode(int mode);

    // Raises the readable text for a Modbus exception code.
    [[noreturn]] void ReportException(int exceptionCode, int functionCode, int registerAddress);

    // valueText = the rxBuffer bytes [first, end) as upper-case hex digits.
    void HexDump(int first, int end);

    uint8_t rxFunction = 0;
    // In ASCII mode this holds the decoded digit pairs, not the characters.
    uint8_t rxBuffer[rxCapacity] = {};
    uint16_t rxCheck = 0;
    int expectedLength = 500;
    int rxCount = 0;
    int asciiMode = 0;

private:
    enum class AsciiState { AwaitColon, InFrame, AwaitLineFeed, Finished };

    void BuildRtuFrame(ModbusRequest& record);
    void BuildAsciiFrame(ModbusRequest& record);
    int ReceiveRtuByte(uint8_t byte);
    int ReceiveAsciiChar(uint8_t c);
    int TakeByte(uint8_t byte, int checkLength);
    int FinishReply(int checkLength);
    [[noreturn]] void ReportCheckFailure();

    AsciiState asciiState = AsciiState::AwaitColon;
    int pendingDigit = -1;  // the high digit of an incomplete ASCII pair
};
