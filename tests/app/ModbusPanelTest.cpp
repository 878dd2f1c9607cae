// The Modbus panel driven through its controls: frames and frame texts for
// every function in both framings, the quantity label, and what happens when
// a field holds no number.
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <cstring>
#include <vector>

#include "DialogShot.h"
#include "RecordingMessageBoxSink.h"
#include "app/ModbusPanel.h"

using Bytes = std::vector<uint8_t>;
Q_DECLARE_METATYPE(Bytes)

namespace {

// The function list holds " 1" to " 6" in order.
void ChooseFunction(ModbusPanel& panel, int function) {
    auto* list = panel.ControlAs<QComboBox>(ModbusPanelIds::IDC_FUNCTION);
    list->setCurrentIndex(function - 1);
    emit list->activated(function - 1);
}

void Type(ModbusPanel& panel, int controlId, const QString& text) {
    panel.ControlAs<QLineEdit>(controlId)->setText(text);
}

void ChooseFraming(ModbusPanel& panel, bool ascii) {
    panel.ControlAs<QRadioButton>(ascii ? ModbusPanelIds::IDC_ASCII : ModbusPanelIds::IDC_RTU)
        ->click();
}

Bytes Hex(const char* text) {
    Bytes bytes;
    for (const char* p = text; *p;) {
        if (*p == ' ') {
            ++p;
            continue;
        }
        bytes.push_back(static_cast<uint8_t>(std::stoi(std::string(p, 2), nullptr, 16)));
        p += 2;
    }
    return bytes;
}

Bytes Chars(const char* text) { return Bytes(text, text + std::strlen(text)); }

constexpr uint8_t kUntouched = 0xEE;

}  // namespace

class ModbusPanelTest : public QObject {
    Q_OBJECT
private slots:
    void freshPanelShowsTheDefaults();
    void buildsTheFrameOfEachFunction_data();
    void buildsTheFrameOfEachFunction();
    void labelNamesTheValueForWrites_data();
    void labelNamesTheValueForWrites();
    void emptyStationBuildsNothingSilently();
    void fieldWithoutNumberStopsTheExchange_data();
    void fieldWithoutNumberStopsTheExchange();
    void labelFollowsTheFunctionTakenLast();
    void buildsAgainWhileItsOwnBoxIsOpen();
    void returnAndEscapeKeepThePanel();
    void picture();
};

void ModbusPanelTest::freshPanelShowsTheDefaults() {
    ModbusPanel panel;
    QCOMPARE(panel.ItemText(ModbusPanelIds::IDC_STATION), QStringLiteral("1"));
    QCOMPARE(panel.ItemText(ModbusPanelIds::IDC_FUNCTION), QStringLiteral(" 3"));
    QCOMPARE(panel.ItemText(ModbusPanelIds::IDC_ADDRESS), QStringLiteral("0"));
    QCOMPARE(panel.ItemText(ModbusPanelIds::IDC_QUANTITY), QStringLiteral("1"));
    QVERIFY(panel.ControlAs<QRadioButton>(ModbusPanelIds::IDC_RTU)->isChecked());
    QCOMPARE(panel.ItemText(ModbusPanelIds::IDC_FRAME_TEXT), QString());
    QCOMPARE(panel.ItemText(ModbusPanelIds::IDC_QUANTITY_LABEL), QStringLiteral("数量"));
    QVERIFY(!panel.isVisible());

    RecordingMessageBoxSink boxes;
    uint8_t buffer[500];
    QCOMPARE(panel.BuildFrame(buffer), 8);
    QCOMPARE(Bytes(buffer, buffer + 8), Hex("01 03 00 00 00 01 84 0A"));
    QCOMPARE(panel.ItemText(ModbusPanelIds::IDC_FRAME_TEXT),
             QStringLiteral("0x01 0x03 0x00 0x00 0x00 0x01 0x84 0x0A "));
    QVERIFY(boxes.Boxes().empty());
}

void ModbusPanelTest::buildsTheFrameOfEachFunction_data() {
    QTest::addColumn<bool>("ascii");
    QTest::addColumn<QString>("station");
    QTest::addColumn<int>("function");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("value");
    QTest::addColumn<Bytes>("frame");
    QTest::addColumn<QString>("frameText");

    // Vectors of the published Modbus examples; RTU texts in 0x form, ASCII
    // texts the characters themselves.
    QTest::newRow("Rtu/ReadCoils")
        << false << "17" << 1 << "19"
        << "37" << Hex("11 01 00 13 00 25 0E 84") << "0x11 0x01 0x00 0x13 0x00 0x25 0x0E 0x84 ";
    QTest::newRow("Rtu/ReadDiscreteInputs")
        << false << "17" << 2 << "196"
        << "22" << Hex("11 02 00 C4 00 16 BA A9") << "0x11 0x02 0x00 0xC4 0x00 0x16 0xBA 0xA9 ";
    QTest::newRow("Rtu/ReadHoldingRegisters")
        << false << "1" << 3 << "0"
        << "1" << Hex("01 03 00 00 00 01 84 0A") << "0x01 0x03 0x00 0x00 0x00 0x01 0x84 0x0A ";
    QTest::newRow("Rtu/ReadInputRegisters")
        << false << "17" << 4 << "8"
        << "1" << Hex("11 04 00 08 00 01 B2 98") << "0x11 0x04 0x00 0x08 0x00 0x01 0xB2 0x98 ";
    QTest::newRow("Rtu/CoilOnForAnyNonzeroValue")
        << false << "17" << 5 << "172"
        << "7" << Hex("11 05 00 AC FF 00 4E 8B") << "0x11 0x05 0x00 0xAC 0xFF 0x00 0x4E 0x8B ";
    QTest::newRow("Rtu/CoilOffForZero")
        << false << "17" << 5 << "172"
        << "0" << Hex("11 05 00 AC 00 00 0F 7B") << "0x11 0x05 0x00 0xAC 0x00 0x00 0x0F 0x7B ";
    QTest::newRow("Rtu/WriteRegister1234")
        << false << "1" << 6 << "1"
        << "1234" << Hex("01 06 00 01 04 D2 5A 97") << "0x01 0x06 0x00 0x01 0x04 0xD2 0x5A 0x97 ";

    QTest::newRow("Ascii/ReadCoils")
        << true << "17" << 1 << "19"
        << "37" << Chars(":110100130025B6\r\n") << ":110100130025B6\r\n";
    QTest::newRow("Ascii/ReadDiscreteInputs")
        << true << "17" << 2 << "196"
        << "22" << Chars(":110200C4001613\r\n") << ":110200C4001613\r\n";
    QTest::newRow("Ascii/ReadTenHoldingRegisters")
        << true << "1" << 3 << "0"
        << "10" << Chars(":01030000000AF2\r\n") << ":01030000000AF2\r\n";
    QTest::newRow("Ascii/ReadInputRegisters")
        << true << "17" << 4 << "8"
        << "1" << Chars(":110400080001E2\r\n") << ":110400080001E2\r\n";
    QTest::newRow("Ascii/CoilOn") << true << "17" << 5 << "172"
                                  << "1" << Chars(":110500ACFF003F\r\n") << ":110500ACFF003F\r\n";
    QTest::newRow("Ascii/CoilOff") << true << "17" << 5 << "172"
                                   << "0" << Chars(":110500AC00003E\r\n") << ":110500AC00003E\r\n";
    QTest::newRow("Ascii/WriteRegister1234")
        << true << "1" << 6 << "1"
        << "1234" << Chars(":0106000104D222\r\n") << ":0106000104D222\r\n";
}

void ModbusPanelTest::buildsTheFrameOfEachFunction() {
    QFETCH(bool, ascii);
    QFETCH(QString, station);
    QFETCH(int, function);
    QFETCH(QString, address);
    QFETCH(QString, value);
    QFETCH(Bytes, frame);
    QFETCH(QString, frameText);

    RecordingMessageBoxSink boxes;
    ModbusPanel panel;
    ChooseFraming(panel, ascii);
    Type(panel, ModbusPanelIds::IDC_STATION, station);
    ChooseFunction(panel, function);
    Type(panel, ModbusPanelIds::IDC_ADDRESS, address);
    Type(panel, ModbusPanelIds::IDC_QUANTITY, value);

    uint8_t buffer[500];
    std::memset(buffer, kUntouched, sizeof buffer);
    const int32_t length = panel.BuildFrame(buffer);
    QCOMPARE(length, static_cast<int32_t>(frame.size()));
    QCOMPARE(Bytes(buffer, buffer + length), frame);
    QCOMPARE(buffer[length], kUntouched);
    QCOMPARE(panel.ItemText(ModbusPanelIds::IDC_FRAME_TEXT), frameText);
    QVERIFY(boxes.Boxes().empty());
}

void ModbusPanelTest::labelNamesTheValueForWrites_data() {
    QTest::addColumn<int>("function");
    QTest::addColumn<QString>("label");
    QTest::newRow("ReadCoils") << 1 << "数量";
    QTest::newRow("ReadDiscreteInputs") << 2 << "数量";
    QTest::newRow("ReadHoldingRegisters") << 3 << "数量";
    QTest::newRow("ReadInputRegisters") << 4 << "数量";
    QTest::newRow("WriteCoil") << 5 << "写入值";
    QTest::newRow("WriteRegister") << 6 << "写入值";
}

void ModbusPanelTest::labelNamesTheValueForWrites() {
    QFETCH(int, function);
    QFETCH(QString, label);
    ModbusPanel panel;
    ChooseFunction(panel, 5);  // away from the default first, so every row changes something
    ChooseFunction(panel, function);
    QCOMPARE(panel.ItemText(ModbusPanelIds::IDC_QUANTITY_LABEL), label);
    QCOMPARE(panel.functionText, " " + std::to_string(function));
}

void ModbusPanelTest::emptyStationBuildsNothingSilently() {
    RecordingMessageBoxSink boxes;
    ModbusPanel panel;
    uint8_t buffer[500];
    QCOMPARE(panel.BuildFrame(buffer), 8);
    const QString shown = panel.ItemText(ModbusPanelIds::IDC_FRAME_TEXT);

    Type(panel, ModbusPanelIds::IDC_STATION, QString());
    Type(panel, ModbusPanelIds::IDC_ADDRESS, QString());  // would complain if the fields were taken
    std::memset(buffer, kUntouched, sizeof buffer);
    QCOMPARE(panel.BuildFrame(buffer), -1);
    QVERIFY(boxes.Boxes().empty());
    QCOMPARE(buffer[0], kUntouched);
    QCOMPARE(panel.ItemText(ModbusPanelIds::IDC_FRAME_TEXT), shown);
}

void ModbusPanelTest::fieldWithoutNumberStopsTheExchange_data() {
    // Each row leaves one field without a number after a first good frame
    // from station 1, function 3, address 0, quantity 1, RTU, and changes
    // every field. The fields taken before the bad one change; the bad one
    // and every later one keep the values of the first frame.
    QTest::addColumn<int>("badField");
    QTest::addColumn<QString>("badText");
    QTest::addColumn<uint32_t>("address");
    QTest::addColumn<uint32_t>("quantity");
    QTest::addColumn<uint32_t>("station");
    QTest::newRow("EmptyAddressKeepsAllFields")
        << int(ModbusPanelIds::IDC_ADDRESS) << "" << 0u << 1u << 1u;
    QTest::newRow("EmptyQuantityTakesTheAddressOnly")
        << int(ModbusPanelIds::IDC_QUANTITY) << "" << 40u << 1u << 1u;
    QTest::newRow("PastedGarbageInStationTakesAddressAndQuantity")
        << int(ModbusPanelIds::IDC_STATION) << "9x" << 40u << 7u << 1u;
}

void ModbusPanelTest::fieldWithoutNumberStopsTheExchange() {
    QFETCH(int, badField);
    QFETCH(QString, badText);
    QFETCH(uint32_t, address);
    QFETCH(uint32_t, quantity);
    QFETCH(uint32_t, station);

    RecordingMessageBoxSink boxes;
    ModbusPanel panel;
    uint8_t buffer[500];
    QCOMPARE(panel.BuildFrame(buffer), 8);
    const QString shown = panel.ItemText(ModbusPanelIds::IDC_FRAME_TEXT);

    Type(panel, ModbusPanelIds::IDC_ADDRESS, QStringLiteral("40"));
    Type(panel, ModbusPanelIds::IDC_QUANTITY, QStringLiteral("7"));
    Type(panel, ModbusPanelIds::IDC_STATION, QStringLiteral("9"));
    panel.ControlAs<QComboBox>(ModbusPanelIds::IDC_FUNCTION)
        ->setCurrentIndex(3);  // " 4", without its notification
    ChooseFraming(panel, true);
    Type(panel, badField, badText);

    std::memset(buffer, kUntouched, sizeof buffer);
    QCOMPARE(panel.BuildFrame(buffer), -1);
    QCOMPARE(boxes.Texts(), std::vector<std::string>{"“请填入一个正整数。”"});
    QCOMPARE(buffer[0], kUntouched);
    QCOMPARE(panel.ItemText(ModbusPanelIds::IDC_FRAME_TEXT), shown);
    QCOMPARE(panel.registerAddress, address);
    QCOMPARE(panel.quantityOrValue, quantity);
    QCOMPARE(panel.stationNumber, station);
    QCOMPARE(panel.functionText, std::string(" 3"));
    QCOMPARE(panel.asciiFrame, 0);
}

void ModbusPanelTest::labelFollowsTheFunctionTakenLast() {
    RecordingMessageBoxSink boxes;
    ModbusPanel panel;
    Type(panel, ModbusPanelIds::IDC_ADDRESS, QString());
    ChooseFunction(panel, 6);
    QCOMPARE(boxes.Texts(), std::vector<std::string>{"“请填入一个正整数。”"});
    QCOMPARE(panel.functionText, std::string(" 3"));
    QCOMPARE(panel.ItemText(ModbusPanelIds::IDC_QUANTITY_LABEL), QStringLiteral("数量"));

    boxes.Clear();
    Type(panel, ModbusPanelIds::IDC_ADDRESS, QStringLiteral("2"));
    ChooseFunction(panel, 6);
    QVERIFY(boxes.Boxes().empty());
    QCOMPARE(panel.ItemText(ModbusPanelIds::IDC_QUANTITY_LABEL), QStringLiteral("写入值"));
}

void ModbusPanelTest::buildsAgainWhileItsOwnBoxIsOpen() {
    // A send timer keeps firing while a box is up; the build it starts runs
    // whole, and the build that raised the box still sends nothing.
    RecordingMessageBoxSink boxes;
    ModbusPanel panel;
    Type(panel, ModbusPanelIds::IDC_ADDRESS, QString());
    uint8_t nested[500];
    int32_t nestedLength = 0;
    boxes.whileOpen = [&](const RecordingMessageBoxSink::Box&) {
        if (boxes.Boxes().size() > 1) return;
        Type(panel, ModbusPanelIds::IDC_ADDRESS, QStringLiteral("1"));
        nestedLength = panel.BuildFrame(nested);
    };
    uint8_t buffer[500];
    std::memset(buffer, kUntouched, sizeof buffer);
    QCOMPARE(panel.BuildFrame(buffer), -1);
    QCOMPARE(buffer[0], kUntouched);
    QCOMPARE(nestedLength, 8);
    QCOMPARE(Bytes(nested, nested + 8), Hex("01 03 00 01 00 01 D5 CA"));
    QCOMPARE(panel.ItemText(ModbusPanelIds::IDC_FRAME_TEXT),
             QStringLiteral("0x01 0x03 0x00 0x01 0x00 0x01 0xD5 0xCA "));
    QCOMPARE(boxes.Boxes().size(), size_t{1});
}

void ModbusPanelTest::returnAndEscapeKeepThePanel() {
    QDialog host;
    QSignalSpy finished(&host, &QDialog::finished);
    ModbusPanel panel(&host);
    host.show();
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    for (int controlId : {ModbusPanelIds::IDC_STATION, ModbusPanelIds::IDC_FRAME_TEXT,
                          ModbusPanelIds::IDC_FUNCTION}) {
        QWidget* control = panel.Control(controlId);
        control->setFocus();
        QTest::keyClick(control, Qt::Key_Return);
        QTest::keyClick(control, Qt::Key_Escape);
        QVERIFY2(panel.isVisible(), qPrintable(QString::number(controlId)));
    }
    QVERIFY(host.isVisible());
    QCOMPARE(finished.count(), 0);
    QCOMPARE(panel.result(), 0);
}

void ModbusPanelTest::picture() {
    RecordingMessageBoxSink boxes;
    ModbusPanel panel;
    uint8_t buffer[500];
    QCOMPARE(panel.BuildFrame(buffer), 8);
    panel.show();
    QVERIFY(SaveDialogShot(panel, ShotDirectory(QStringLiteral(TALVENOR_SOURCE_DIR)),
                           "ModbusPanel-131"));
}

QTEST_MAIN(ModbusPanelTest)
#include "ModbusPanelTest.moc"
