// The Modbus send panel: one master request (functions 1 to 6, RTU or ASCII
// framing) from a station, a function, an address and a quantity or value.
// The frame is built by ModbusProtocol and shown as text.
#pragma once

#include <cstdint>
#include <string>

#include "ui/Dialog.h"

class ModbusPanel : public Dialog {
    Q_OBJECT
public:
    explicit ModbusPanel(QWidget* parent = nullptr);

    // The request frame written to buffer (at least 500 bytes); answers its
    // length, or -1 when there is no frame: an empty station field, a field
    // without a number, or a request that the protocol refuses.
    int32_t BuildFrame(uint8_t* buffer);

    // The function list's selection changed: the last field names the value
    // to write for functions 5 and 6, the quantity otherwise.
    void OnFunctionChanged();

    // Taken in this order: a field without a number stops the exchange there.
    uint32_t registerAddress = 0;
    uint32_t quantityOrValue = 1;
    uint32_t stationNumber = 1;
    std::string functionText = " 3";
    int asciiFrame = 0;  // 0 RTU, 1 ASCII

protected:
    bool OnInitDialog() override;
    // Return and Escape leave the panel as it is.
    void OnOK() override {}
    void OnCancel() override {}

private:
    void ShowQuantityLabel();

    static const CommandEntry<ModbusPanel> commandTable[];
};
