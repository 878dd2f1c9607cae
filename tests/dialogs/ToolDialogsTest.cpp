// The checksum calculator and the data conversion dialog, driven through
// their controls by number.
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include "DialogShot.h"
#include "RecordingMessageBoxSink.h"
#include "dialogs/ChecksumDialog.h"
#include "dialogs/ConversionDialog.h"

namespace {

constexpr int kCrc16 = 0;
constexpr int kLrc = 1;

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

QStringList Items(const Dialog& dialog, int id) {
    QStringList items;
    const auto* combo = dialog.ControlAs<QComboBox>(id);
    for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
    return items;
}

// The numbered controls in the order Tab visits them, from the first.
QList<int> TabOrder(const Dialog& dialog, int first) {
    QList<int> order;
    QWidget* widget = dialog.Control(first);
    do {
        if (const int id = dialog.ControlId(widget);
            id != 0 && (widget->focusPolicy() & Qt::TabFocus))
            order << id;
        widget = widget->nextInFocusChain();
    } while (widget != dialog.Control(first));
    return order;
}

std::vector<std::string> Strings(std::initializer_list<std::string_view> texts) {
    return std::vector<std::string>(texts.begin(), texts.end());
}

}  // namespace

class ToolDialogsTest : public QObject {
    Q_OBJECT
private slots:
    void checksumOpening();
    void checksumCompute_data();
    void checksumCompute();
    void checksumEnterTakesFieldsAndCloses();
    void checksumEscapeKeepsLastComputation();
    void conversionOpeningLists_data();
    void conversionOpeningLists();
    void conversionCompute_data();
    void conversionCompute();
    void conversionMissingBytesCountAsZero();
    void conversionThreeBytes();
    void conversionEnterComputesAndExitCloses();
    void shots();
};

void ToolDialogsTest::checksumOpening() {
    ChecksumDialog dialog;
    dialog.inputText = "01 02";
    dialog.methodIndex = kLrc;
    dialog.show();
    QCOMPARE(Items(dialog, ChecksumIds::IDC_METHOD),
             QStringList({"CRC16", U("LRC (BCD码,字符之间不许有空格)")}));
    QCOMPARE(dialog.ItemText(ChecksumIds::IDC_METHOD), U("CRC16"));
    QCOMPARE(dialog.methodIndex, kCrc16);
    QCOMPARE(dialog.ItemText(ChecksumIds::IDC_INPUT), U("01 02"));
    QCOMPARE(dialog.ItemText(ChecksumIds::IDC_CHECK_CODE), QString());
    QVERIFY(dialog.ControlAs<QLineEdit>(ChecksumIds::IDC_CHECK_CODE)->isReadOnly());
    QCOMPARE(dialog.focusWidget(), dialog.Control(IDOK));
    QCOMPARE(TabOrder(dialog, IDOK),
             QList<int>({IDOK, ChecksumIds::IDC_METHOD, ChecksumIds::IDC_COMPUTE,
                         ChecksumIds::IDC_INPUT, ChecksumIds::IDC_CHECK_CODE}));
}

void ToolDialogsTest::checksumCompute_data() {
    QTest::addColumn<int>("method");
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("checkCode");
    QTest::addColumn<QString>("message");
    QString tokens500, tokens501;
    for (int i = 0; i < 500; ++i) tokens500 += "01 ";
    tokens501 = tokens500 + "02";
    QTest::newRow("CRC16 of a read request") << kCrc16 << "01 03 00 00 00 01"
                                             << "0x84 0x0A "
                                             << "";
    QTest::newRow("CRC16 with 0x prefixes") << kCrc16 << "0x01 0x03 0x00 0x00 0x00 0x01"
                                            << "0x84 0x0A "
                                            << "";
    QTest::newRow("CRC16 of nothing") << kCrc16 << ""
                                      << "0xFF 0xFF "
                                      << "";
    QTest::newRow("CRC16 of 500 bytes") << kCrc16 << tokens500 << "0x4F 0x64 "
                                        << "";
    QTest::newRow("CRC16 of 501 bytes refused")
        << kCrc16 << tokens501 << "" << U("校验字节超过500个");
    QTest::newRow("LRC of a read request") << kLrc << "010300000001"
                                           << "0xFB "
                                           << "";
    QTest::newRow("LRC of an odd count") << kLrc << "01 03"
                                         << "0x00 " << U("字符数量只有5");
    QTest::newRow("LRC of nothing") << kLrc << ""
                                    << "0x00 "
                                    << "";
}

void ToolDialogsTest::checksumCompute() {
    QFETCH(int, method);
    QFETCH(QString, input);
    QFETCH(QString, checkCode);
    QFETCH(QString, message);
    RecordingMessageBoxSink boxes;
    ChecksumDialog dialog;
    dialog.checkCodeText = "old";
    dialog.show();
    dialog.ControlAs<QComboBox>(ChecksumIds::IDC_METHOD)->setCurrentIndex(method);
    dialog.SetItemText(ChecksumIds::IDC_INPUT, input);
    dialog.ControlAs<QPushButton>(ChecksumIds::IDC_COMPUTE)->click();

    QCOMPARE(dialog.ItemText(ChecksumIds::IDC_CHECK_CODE), checkCode);
    QCOMPARE(QString::fromStdString(dialog.checkCodeText), checkCode);
    QCOMPARE(dialog.methodIndex, method);
    QCOMPARE(boxes.Texts(),
             message.isEmpty() ? std::vector<std::string>{} : Strings({message.toStdString()}));
    QVERIFY(dialog.isVisible());
}

void ToolDialogsTest::checksumEnterTakesFieldsAndCloses() {
    ChecksumDialog dialog;
    dialog.inputText = "01 03 00 00 00 01";
    QTimer::singleShot(0, &dialog, [&dialog] {
        dialog.ControlAs<QPushButton>(ChecksumIds::IDC_COMPUTE)->click();
        auto* input = dialog.ControlAs<QLineEdit>(ChecksumIds::IDC_INPUT);
        input->setFocus();
        QTest::keyClicks(input, " 84");
        QTest::keyClick(input, Qt::Key_Return);
    });
    QCOMPARE(dialog.DoModal(), IDOK);
    QCOMPARE(dialog.inputText, std::string("01 03 00 00 00 01 84"));
    QCOMPARE(dialog.checkCodeText, std::string("0x84 0x0A "));
}

void ToolDialogsTest::checksumEscapeKeepsLastComputation() {
    {
        ChecksumDialog dialog;
        dialog.inputText = "01 03 00 00 00 01";
        dialog.show();
        dialog.ControlAs<QPushButton>(ChecksumIds::IDC_COMPUTE)->click();
        dialog.SetItemText(ChecksumIds::IDC_INPUT, "ff");
        QTest::keyClick(dialog.Control(ChecksumIds::IDC_INPUT), Qt::Key_Escape);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QCOMPARE(dialog.inputText, std::string("01 03 00 00 00 01"));
        QCOMPARE(dialog.checkCodeText, std::string("0x84 0x0A "));
    }
    {
        ChecksumDialog dialog;
        dialog.inputText = "01";
        QTimer::singleShot(0, &dialog, [&dialog] { dialog.close(); });
        QCOMPARE(dialog.DoModal(), IDCANCEL);
        QCOMPARE(dialog.inputText, std::string("01"));
        QCOMPARE(dialog.checkCodeText, std::string());
    }
}

void ToolDialogsTest::conversionOpeningLists_data() {
    QTest::addColumn<QString>("hex");
    QTest::addColumn<QStringList>("types");
    QTest::addColumn<QStringList>("orders");
    QTest::addColumn<QString>("order");
    QTest::newRow("one byte") << "FF" << QStringList({U("有符号8位整形"), U("无符号8位整形")})
                              << QStringList() << "";
    QTest::newRow("two bytes") << "12 34" << QStringList({U("有符号16位整形"), U("无符号16位整形")})
                               << QStringList({"HV12", "HV21"}) << "HV21";
    QTest::newRow("four bytes") << "0x3f 80 00 00"
                                << QStringList(
                                       {U("有符号32位整形"), U("无符号32位整形"), U("32位实数")})
                                << QStringList({"HV1234", "HV2143", "HV3412", "HV4321"})
                                << "HV4321";
}

void ToolDialogsTest::conversionOpeningLists() {
    QFETCH(QString, hex);
    QFETCH(QStringList, types);
    QFETCH(QStringList, orders);
    QFETCH(QString, order);
    RecordingMessageBoxSink boxes;
    ConversionDialog dialog;
    dialog.hexText = hex.toStdString();
    dialog.show();
    QCOMPARE(Items(dialog, ConversionIds::IDC_TYPE), types);
    QCOMPARE(dialog.ItemText(ConversionIds::IDC_TYPE), types.first());
    QCOMPARE(Items(dialog, ConversionIds::IDC_ORDER), orders);
    QCOMPARE(dialog.ItemText(ConversionIds::IDC_ORDER), order);
    QVERIFY(boxes.Boxes().empty());
    QCOMPARE(dialog.focusWidget(), dialog.Control(ConversionIds::IDC_COMPUTE));
    QCOMPARE(
        TabOrder(dialog, ConversionIds::IDC_COMPUTE),
        QList<int>({ConversionIds::IDC_COMPUTE, ConversionIds::IDC_HEX, ConversionIds::IDC_ORDER,
                    ConversionIds::IDC_TYPE, IDOK, ConversionIds::IDC_RESULT}));
}

void ToolDialogsTest::conversionCompute_data() {
    QTest::addColumn<QString>("hex");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("order");
    QTest::addColumn<QString>("result");
    const QString s16 = U("有符号16位整形"), u16 = U("无符号16位整形");
    const QString s32 = U("有符号32位整形"), u32 = U("无符号32位整形"), real = U("32位实数");
    QTest::newRow("16 high byte first") << "12 34" << s16 << "HV21"
                                        << "4660";
    QTest::newRow("16 low byte first") << "12 34" << s16 << "HV12"
                                       << "13330";
    QTest::newRow("16 signed negative") << "FF FE" << s16 << "HV21"
                                        << "-2";
    QTest::newRow("16 unsigned") << "FF FE" << u16 << "HV21"
                                 << "65534";
    QTest::newRow("16 signed swapped") << "FF FE" << s16 << "HV12"
                                       << "-257";
    QTest::newRow("32 signed") << "FF FF FF FE" << s32 << "HV4321"
                               << "-2";
    QTest::newRow("32 unsigned") << "FF FF FF FE" << u32 << "HV4321"
                                 << "4294967294";
    QTest::newRow("real big-endian") << "3F 80 00 00" << real << "HV4321"
                                     << "1.000000";
    QTest::newRow("real little-endian") << "00 00 80 3F" << real << "HV1234"
                                        << "1.000000";
    QTest::newRow("real word swap") << "00 00 3F 80" << real << "HV2143"
                                    << "1.000000";
    QTest::newRow("real byte swap") << "80 3F 00 00" << real << "HV3412"
                                    << "1.000000";
    QTest::newRow("real negative") << "C2 C8 00 00" << real << "HV4321"
                                   << "-100.000000";
    QTest::newRow("8 unsigned") << "FF" << U("无符号8位整形") << ""
                                << "255";
    QTest::newRow("8 signed") << "7F" << U("有符号8位整形") << ""
                              << "127";
    QTest::newRow("typed in lower case") << "ff fe" << u16 << "HV21"
                                         << "65534";
}

void ToolDialogsTest::conversionCompute() {
    QFETCH(QString, hex);
    QFETCH(QString, type);
    QFETCH(QString, order);
    QFETCH(QString, result);
    RecordingMessageBoxSink boxes;
    ConversionDialog dialog;
    dialog.hexText = hex.toStdString();
    dialog.show();
    auto* types = dialog.ControlAs<QComboBox>(ConversionIds::IDC_TYPE);
    auto* orders = dialog.ControlAs<QComboBox>(ConversionIds::IDC_ORDER);
    types->setCurrentIndex(types->findText(type));
    orders->setCurrentIndex(orders->findText(order));
    dialog.ControlAs<QPushButton>(ConversionIds::IDC_COMPUTE)->click();

    QCOMPARE(dialog.ItemText(ConversionIds::IDC_RESULT), result);
    QCOMPARE(QString::fromStdString(dialog.typeText), type);
    QCOMPARE(QString::fromStdString(dialog.orderText), order);
    QVERIFY(boxes.Boxes().empty());
    QVERIFY(dialog.isVisible());
}

void ToolDialogsTest::conversionMissingBytesCountAsZero() {
    ConversionDialog dialog;
    dialog.hexText = "01 02 03 04";
    dialog.show();
    dialog.SetItemText(ConversionIds::IDC_HEX, "01");
    auto* types = dialog.ControlAs<QComboBox>(ConversionIds::IDC_TYPE);
    types->setCurrentIndex(types->findText(U("无符号32位整形")));
    dialog.ControlAs<QPushButton>(ConversionIds::IDC_COMPUTE)->click();
    QCOMPARE(dialog.ItemText(ConversionIds::IDC_RESULT), U("16777216"));
    const uint8_t bytes[4] = {0x01, 0x02, 0x03, 0x04};
    QCOMPARE(dialog.ReorderBytes(4, bytes), 0x01020304u);
}

void ToolDialogsTest::conversionThreeBytes() {
    RecordingMessageBoxSink boxes;
    ConversionDialog dialog;
    bool visibleAtMessage = true;
    boxes.whileOpen = [&](const RecordingMessageBoxSink::Box&) {
        visibleAtMessage = dialog.isVisible();
    };
    dialog.hexText = "01 02 03";
    dialog.convertedText = "kept";
    dialog.show();
    QCOMPARE(boxes.Texts(), Strings({"选择的十六进制数据必须是1/2/4个"}));
    QVERIFY(!visibleAtMessage);
    QCOMPARE(Items(dialog, ConversionIds::IDC_TYPE), QStringList());
    QCOMPARE(Items(dialog, ConversionIds::IDC_ORDER), QStringList());

    boxes.Clear();
    dialog.ControlAs<QPushButton>(ConversionIds::IDC_COMPUTE)->click();
    QCOMPARE(boxes.Texts(), Strings({"选择的十六进制数据必须是1/2/4个", "数据转换不能正确"}));
    QCOMPARE(dialog.ItemText(ConversionIds::IDC_RESULT), U("kept"));
    QVERIFY(dialog.isVisible());
}

void ToolDialogsTest::conversionEnterComputesAndExitCloses() {
    ConversionDialog dialog;
    dialog.hexText = "12 34";
    dialog.show();
    auto* hex = dialog.ControlAs<QLineEdit>(ConversionIds::IDC_HEX);
    QTest::keyClick(hex, Qt::Key_Return);
    QCOMPARE(dialog.ItemText(ConversionIds::IDC_RESULT), U("4660"));
    QVERIFY(dialog.isVisible());

    hex->clear();
    QTest::keyClicks(hex, "ab cd");
    QTest::keyClick(hex, Qt::Key_Escape);
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QCOMPARE(dialog.hexText, std::string("12 34"));  // not taken

    QTimer::singleShot(0, &dialog, [&dialog] { dialog.ControlAs<QPushButton>(IDOK)->click(); });
    QCOMPARE(dialog.DoModal(), IDOK);
    QCOMPARE(dialog.hexText, std::string("AB CD"));
    QCOMPARE(dialog.convertedText, std::string("4660"));
}

void ToolDialogsTest::shots() {
    const QString dir = ShotDirectory(QStringLiteral(TALVENOR_SOURCE_DIR));
    {
        ChecksumDialog dialog;
        dialog.inputText = "01 03 00 00 00 01";
        dialog.show();
        dialog.Compute();
        QVERIFY(SaveDialogShot(dialog, dir, "ChecksumDialog-132"));
    }
    {
        ConversionDialog dialog;
        dialog.hexText = "3F 80 00 00";
        dialog.show();
        auto* types = dialog.ControlAs<QComboBox>(ConversionIds::IDC_TYPE);
        types->setCurrentIndex(2);
        dialog.ConvertValue();
        QVERIFY(SaveDialogShot(dialog, dir, "ConversionDialog-135"));
    }
}

QTEST_MAIN(ToolDialogsTest)
#include "ToolDialogsTest.moc"
