// One Modbus master request: what the panel fills in, the frame built from
// it, and the text of the value that the response carried.
#pragma once

#include <cstdint>
#include <string>

class ByteStream;

class ModbusRequest {
public:
    static constexpr int frameCapacity = 500;
    static constexpr int dataCapacity = 500;

    ModbusRequest();
    virtual ~ModbusRequest();

    // Writes the stream record: streamLength as 4 bytes, least significant
    // first, then streamLength bytes of dataBuffer from dataOffset. A null
    // stream is left alone. Answers false, writing nothing, when the bytes do
    // not lie inside dataBuffer, or when the stream takes fewer bytes.
    virtual bool SaveData(ByteStream* stream);
    // Reads a record written by SaveData into dataBuffer from its start. A
    // count above dataCapacity, or a stream that ends early, answers false
    // and leaves dataLength and streamLength 0.
    virtual bool LoadData(ByteStream* stream);

    // Turns `len` response data bytes, high byte first, into valueText by
    // dataType and decimals, and copies valueText into resultText.
    void FormatValue(const uint8_t* data, int len);

    std::string valueText = "00";
    std::string resultText = "00";
    int functionCode = 0;
    int address = 0;
    int quantity = 1;
    int dataType = 2;
    int reservedNumber = 1;
    int station = -1;
    std::string reservedText;
    std::string reservedMark = "*";
    bool reservedFlag = true;
    int decimals = 0;
    uint8_t frame[frameCapacity] = {};
    int frameLength = 0;
    uint8_t dataBuffer[dataCapacity] = {};
    int dataLength = 0;
    int dataOffset = 0;
    int streamLength = 0;
    bool reservedSwitch = false;
    int reservedCounts[3] = {0, 0, 0};
};
