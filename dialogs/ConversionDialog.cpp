#include "dialogs/ConversionDialog.h"

#include <QComboBox>

#include "tools/MessageBox.h"
#include "tools/ValueConversion.h"
#include "ui/GbkText.h"

using namespace ConversionIds;

const CommandEntry<ConversionDialog> ConversionDialog::commandTable[] = {
    {IDC_COMPUTE, Notification::Clicked, &ConversionDialog::ConvertValue},
};

ConversionDialog::ConversionDialog(QWidget* parent) : Dialog(IDD_CONVERSION, parent) {
    SetCommandTable(commandTable);
    BindText(IDC_HEX, hexText);
    BindText(IDC_RESULT, convertedText);
}

// The lists are built once, from the byte count the text has at opening.
bool ConversionDialog::OnInitDialog() {
    Dialog::OnInitDialog();
    const ValueConversion::Choices choices =
        ValueConversion::ChoicesFor(ValueConversion::CountBytes(hexText));
    for (const std::string& type : choices.typeTexts) AddString(IDC_TYPE, FromUtf8(type));
    for (const std::string& order : choices.orderTexts) AddString(IDC_ORDER, FromUtf8(order));
    ControlAs<QComboBox>(IDC_TYPE)->setCurrentIndex(choices.selectedType);
    ControlAs<QComboBox>(IDC_ORDER)->setCurrentIndex(choices.selectedOrder);
    if (choices.countMessage) ShowMessageBox(ValueConversion::CountMessage);
    return true;
}

void ConversionDialog::ConvertValue() {
    UpdateData(true);
    typeText = ItemText(IDC_TYPE).toStdString();
    orderText = ItemText(IDC_ORDER).toStdString();
    const ValueConversion::Result result =
        ValueConversion::ConvertValue(hexText, typeText, orderText);
    if (result.countMessage) ShowMessageBox(ValueConversion::CountMessage);
    if (result.converted)
        convertedText = result.text;
    else
        ShowMessageBox(ValueConversion::NoMatchMessage);
    UpdateData(false);
}

uint32_t ConversionDialog::ReorderBytes(int count, const uint8_t* bytes) const {
    return ValueConversion::ReorderBytes(count, bytes, orderText);
}
