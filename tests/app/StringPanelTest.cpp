// The string panel driven through its controls: the bytes it sends in ASCII
// and HEX mode, the checksum button with the real calculator run modally,
// and Return and Escape.
#include <QApplication>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <cstring>
#include <functional>
#include <vector>

#include "DialogShot.h"
#include "RecordingMessageBoxSink.h"
#include "app/StringPanel.h"
#include "dialogs/ChecksumDialog.h"

using Bytes = std::vector<uint8_t>;
Q_DECLARE_METATYPE(Bytes)

namespace {

constexpr uint8_t kUntouched = 0xEE;

void Type(StringPanel& panel, const QString& text) {
    panel.ControlAs<QPlainTextEdit>(StringPanelIds::IDC_SEND_TEXT)->setPlainText(text);
}

void ChooseMode(StringPanel& panel, bool hex) {
    panel.ControlAs<QRadioButton>(hex ? StringPanelIds::IDC_HEX : StringPanelIds::IDC_ASCII)
        ->click();
}

QString Repeated(const QString& piece, int times) {
    QString text;
    for (int i = 0; i < times; ++i) text += piece;
    return text;
}

// Clicks the checksum button and, once the calculator is up, lets `act` play
// the user; a calculator that is still open afterwards is closed, so that a
// failing check never leaves the test waiting on a modal run.
void RunChecksum(StringPanel& panel, const std::function<void(ChecksumDialog&)>& act) {
    bool seen = false;
    QTimer::singleShot(0, &panel, [&] {
        auto* calculator = qobject_cast<ChecksumDialog*>(QApplication::activeModalWidget());
        if (!calculator) return;
        seen = true;
        act(*calculator);
        if (calculator->isVisible()) calculator->done(QDialog::Rejected);
    });
    panel.SendCommand(StringPanelIds::IDC_CHECKSUM);
    QVERIFY(seen);
}

}  // namespace

class StringPanelTest : public QObject {
    Q_OBJECT
private slots:
    void freshPanelShowsAnEmptyHexText();
    void buildsTheBytesToSend_data();
    void buildsTheBytesToSend();
    void asciiTextBeyondTheBufferIsRefusedWithAMessage();
    void checksumAppendsTheCalculatorsCode_data();
    void checksumAppendsTheCalculatorsCode();
    void buildsWhileTheCalculatorIsOpen();
    void returnAndEscapeKeepThePanel();
    void picture();
};

void StringPanelTest::freshPanelShowsAnEmptyHexText() {
    StringPanel panel;
    QVERIFY(panel.ControlAs<QRadioButton>(StringPanelIds::IDC_HEX)->isChecked());
    QVERIFY(!panel.ControlAs<QRadioButton>(StringPanelIds::IDC_ASCII)->isChecked());
    QCOMPARE(panel.ItemText(StringPanelIds::IDC_SEND_TEXT), QString());
    QVERIFY(!panel.isVisible());
}

void StringPanelTest::buildsTheBytesToSend_data() {
    QTest::addColumn<bool>("hex");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("answer");
    QTest::addColumn<Bytes>("bytes");

    QTest::newRow("Ascii/OwnBytesNoLineEnd") << false << "ABC" << 3 << Bytes{0x41, 0x42, 0x43};
    QTest::newRow("Ascii/EmptyIsNothing") << false << "" << 0 << Bytes{};
    QTest::newRow("Ascii/ChineseAsCodePage936") << false << "中A" << 3 << Bytes{0xD6, 0xD0, 0x41};
    QTest::newRow("Ascii/SpacesKept") << false << " 1 " << 3 << Bytes{0x20, 0x31, 0x20};
    QTest::newRow("Ascii/ExactlyTheBuffer")
        << false << Repeated("x", 500) << 500 << Bytes(500, 'x');
    QTest::newRow("Hex/EmptyIsNothing") << true << "" << 0 << Bytes{};
    QTest::newRow("Hex/SpacedBytes") << true << "01 03 00 00 00 01 84 0A" << 8
                                     << Bytes{0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A};
    QTest::newRow("Hex/PrefixedBytesReadBack")
        << true << "01 03 0x84 0x0A " << 4 << Bytes{0x01, 0x03, 0x84, 0x0A};
    QTest::newRow("Hex/FiveHundredValues")
        << true << Repeated("7F ", 500) << 500 << Bytes(500, 0x7F);
    QTest::newRow("Hex/MoreThanTheBufferIsNothing")
        << true << Repeated("7F ", 501) << -1 << Bytes{};
}

void StringPanelTest::buildsTheBytesToSend() {
    QFETCH(bool, hex);
    QFETCH(QString, text);
    QFETCH(int, answer);
    QFETCH(Bytes, bytes);

    RecordingMessageBoxSink boxes;
    StringPanel panel;
    ChooseMode(panel, hex);
    Type(panel, text);
    std::vector<uint8_t> buffer(StringPanel::sendCapacity + 1, kUntouched);
    QCOMPARE(panel.BuildFrame(buffer.data()), answer);
    if (answer > 0) QCOMPARE(Bytes(buffer.begin(), buffer.begin() + answer), bytes);
    QCOMPARE(buffer[StringPanel::sendCapacity], kUntouched);
    QCOMPARE(panel.hexMode, hex ? 1 : 0);
    QVERIFY(boxes.Boxes().empty());
}

void StringPanelTest::asciiTextBeyondTheBufferIsRefusedWithAMessage() {
    RecordingMessageBoxSink boxes;
    StringPanel panel;
    ChooseMode(panel, false);
    // 250 Chinese characters and one letter: 501 bytes in code page 936.
    Type(panel, Repeated(QStringLiteral("中"), 250) + QLatin1Char('A'));
    std::vector<uint8_t> buffer(StringPanel::sendCapacity + 1, kUntouched);
    QCOMPARE(panel.BuildFrame(buffer.data()), -1);
    QCOMPARE(boxes.Texts(), std::vector<std::string>{std::string(StringPanel::TextTooLongMessage)});
    QCOMPARE(buffer, std::vector<uint8_t>(StringPanel::sendCapacity + 1, kUntouched));
    // The text stays, for the user to shorten.
    QCOMPARE(panel.ItemText(StringPanelIds::IDC_SEND_TEXT).size(), 251);
}

void StringPanelTest::checksumAppendsTheCalculatorsCode_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("typedInCalculator");  // replaces the input when not null
    QTest::addColumn<bool>("compute");
    QTest::addColumn<bool>("exitButton");  // else the close box
    QTest::addColumn<QString>("result");

    QTest::newRow("Crc16TrimmedAndAppended")
        << " 01 03 00 00 00 01 " << QString() << true << true << "01 03 00 00 00 01 0x84 0x0A ";
    QTest::newRow("CloseBoxAfterComputeStillAppends")
        << "01 03 00 00 00 01" << QString() << true << false << "01 03 00 00 00 01 0x84 0x0A ";
    QTest::newRow("NoComputeAppendsOneSpace")
        << "\t01 03\t" << QString() << false << true << "01 03 ";
    QTest::newRow("InputEditedInCalculatorComesBack")
        << "01" << QStringLiteral("01 03 00 00 00 0A") << true << true
        << "01 03 00 00 00 0A 0xC5 0xCD ";
}

void StringPanelTest::checksumAppendsTheCalculatorsCode() {
    QFETCH(QString, text);
    QFETCH(QString, typedInCalculator);
    QFETCH(bool, compute);
    QFETCH(bool, exitButton);
    QFETCH(QString, result);

    RecordingMessageBoxSink boxes;
    StringPanel panel;
    Type(panel, text);
    QString inputSeen;
    RunChecksum(panel, [&](ChecksumDialog& calculator) {
        inputSeen = calculator.ItemText(ChecksumIds::IDC_INPUT);
        if (!typedInCalculator.isNull())
            calculator.SetItemText(ChecksumIds::IDC_INPUT, typedInCalculator);
        if (compute) calculator.SendCommand(ChecksumIds::IDC_COMPUTE);
        if (exitButton)
            QTest::mouseClick(calculator.Control(IDOK), Qt::LeftButton);
        else
            calculator.close();
    });
    QCOMPARE(inputSeen, text.trimmed());
    QCOMPARE(panel.ItemText(StringPanelIds::IDC_SEND_TEXT), result);
    QVERIFY(boxes.Boxes().empty());

    // What the text now says is what goes out in HEX mode.
    uint8_t buffer[500];
    const int32_t count = panel.BuildFrame(buffer);
    QVERIFY(count > 0);
}

void StringPanelTest::buildsWhileTheCalculatorIsOpen() {
    // A send timer keeps firing inside the calculator's modal run: it sends
    // the text on screen, and the checksum action still completes.
    StringPanel panel;
    Type(panel, QStringLiteral(" 01 03 00 00 00 01 "));
    int32_t sent = 0;
    uint8_t buffer[500];
    RunChecksum(panel, [&](ChecksumDialog& calculator) {
        sent = panel.BuildFrame(buffer);
        calculator.SendCommand(ChecksumIds::IDC_COMPUTE);
        calculator.SendCommand(IDOK);
    });
    QCOMPARE(sent, 6);
    QCOMPARE(panel.ItemText(StringPanelIds::IDC_SEND_TEXT),
             QStringLiteral("01 03 00 00 00 01 0x84 0x0A "));
    QCOMPARE(panel.BuildFrame(buffer), 8);
    QCOMPARE(Bytes(buffer, buffer + 8), (Bytes{0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A}));
}

void StringPanelTest::returnAndEscapeKeepThePanel() {
    QDialog host;
    QSignalSpy finished(&host, &QDialog::finished);
    StringPanel panel(&host);
    host.show();
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    Type(panel, QStringLiteral("AB"));
    QWidget* edit = panel.Control(StringPanelIds::IDC_SEND_TEXT);
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_Return);
    QTest::keyClick(edit, Qt::Key_Enter);
    QTest::keyClick(edit, Qt::Key_Escape);
    QWidget* radio = panel.Control(StringPanelIds::IDC_ASCII);
    radio->setFocus();
    QTest::keyClick(radio, Qt::Key_Return);
    QTest::keyClick(radio, Qt::Key_Escape);
    QVERIFY(panel.isVisible());
    QVERIFY(host.isVisible());
    QCOMPARE(finished.count(), 0);
    // Return was refused by the one-line text, not taken as a line break.
    QCOMPARE(panel.ItemText(StringPanelIds::IDC_SEND_TEXT), QStringLiteral("AB"));
}

void StringPanelTest::picture() {
    StringPanel panel;
    Type(panel, QStringLiteral("01 03 00 00 00 01 0x84 0x0A "));
    panel.show();
    QVERIFY(SaveDialogShot(panel, ShotDirectory(QStringLiteral(TALVENOR_SOURCE_DIR)),
                           "StringPanel-130"));
}

QTEST_MAIN(StringPanelTest)
#include "StringPanelTest.moc"
