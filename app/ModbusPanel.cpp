#include "app/ModbusPanel.h"

#include <cstring>
#include <optional>

#include "protocol/ModbusProtocol.h"
#include "protocol/ModbusRequest.h"
#include "protocol/ProtocolError.h"
#include "tools/ChecksumTool.h"
#include "tools/MessageBox.h"
#include "ui/GbkText.h"
#include "ui/IntegerText.h"

using namespace ModbusPanelIds;

namespace {

constexpr std::string_view kQuantityLabel = "数量";
constexpr std::string_view kWriteValueLabel = "写入值";

// The widest numbers the frame's fields hold: a byte, a 16-bit word.
constexpr uint32_t kLargestStation = 255;
constexpr uint32_t kLargestWord = 65535;

int FunctionCode(const std::string& functionText) { return ParseIntText(functionText).value_or(0); }

bool WritesValue(int functionCode) { return functionCode == 5 || functionCode == 6; }

}  // namespace

const CommandEntry<ModbusPanel> ModbusPanel::commandTable[] = {
    {IDC_FUNCTION, Notification::SelectionChanged, &ModbusPanel::OnFunctionChanged},
};

ModbusPanel::ModbusPanel(QWidget* parent) : Dialog(IDD_MODBUS_PANEL, parent) {
    SetCommandTable(commandTable);
    // What does not fit its field of the frame is refused, never cut to its
    // low bits: station 256 would go out as 0, a broadcast every slave obeys.
    BindUnsigned(IDC_ADDRESS, registerAddress, kLargestWord);
    BindUnsigned(IDC_QUANTITY, quantityOrValue, kLargestWord);
    BindUnsigned(IDC_STATION, stationNumber, kLargestStation);
    BindComboText(IDC_FUNCTION, functionText);
    BindRadio(IDC_RTU, asciiFrame);
    // The window exists from here on, hidden until the owner places it.
    InitDialog();
}

bool ModbusPanel::OnInitDialog() {
    Dialog::OnInitDialog();
    ShowQuantityLabel();
    return true;
}

void ModbusPanel::OnFunctionChanged() {
    // A field without a number has shown its message; the label then follows
    // the function that was taken last.
    UpdateData(true);
    ShowQuantityLabel();
}

void ModbusPanel::ShowQuantityLabel() {
    SetItemText(
        IDC_QUANTITY_LABEL,
        FromUtf8(WritesValue(FunctionCode(functionText)) ? kWriteValueLabel : kQuantityLabel));
}

int32_t ModbusPanel::BuildFrame(uint8_t* buffer) {
    if (ItemText(IDC_STATION).isEmpty()) return -1;
    // A field without a number has shown its message and holds its old value;
    // a frame from old values would not be what the user sees, so none goes.
    if (!UpdateData(true)) return -1;

    ModbusRequest request;
    request.functionCode = FunctionCode(functionText);
    request.address = static_cast<int>(registerAddress);
    request.station = static_cast<int>(stationNumber);
    switch (request.functionCode) {
        case 5:
            request.quantity = 1;
            if (quantityOrValue != 0) request.valueText = "1";
            break;
        case 6:
            request.quantity = 1;
            request.valueText = std::to_string(static_cast<int32_t>(quantityOrValue));
            break;
        default:
            request.quantity = static_cast<int>(quantityOrValue);
            break;
    }

    ModbusProtocol protocol;
    std::optional<std::string> refusal;
    try {
        protocol.SetAsciiMode(asciiFrame);
        protocol.BuildRequest(&request);
    } catch (const ProtocolError& error) {
        refusal = error.what();
    }
    if (refusal) {
        // The frame text keeps what the last frame showed.
        ShowMessageBox(*refusal, {}, MessageIcon::Warning);
        return -1;
    }

    const int32_t length = request.frameLength;
    std::memcpy(buffer, request.frame, static_cast<size_t>(length));
    const std::string frameText =
        asciiFrame == 0 ? ChecksumTool::FormatHexBytes(request.frame, static_cast<size_t>(length))
                        : std::string(reinterpret_cast<const char*>(request.frame),
                                      static_cast<size_t>(length));
    SetItemText(IDC_FRAME_TEXT, FromGbk(frameText));
    return length;
}
