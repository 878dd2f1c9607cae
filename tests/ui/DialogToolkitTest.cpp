// The toolkit driven through real templates: units, data exchange and its
// messages, typing rules, combo search, lookup by number, Return and Escape.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>
#include <set>

#include "DialogShot.h"
#include "RecordingMessageBoxSink.h"
#include "resources/DialogTemplate.h"
#include "ui/Dialog.h"
#include "ui/IntegerText.h"
#include "ui/QtMessageBoxSink.h"
#include "ui/ResourceLoader.h"

namespace {

// The main window's bindings, enough of them to exercise each kind.
class MainLike : public Dialog {
public:
    MainLike() : Dialog(IDD_MAIN) {
        static const CommandEntry<MainLike> commandTable[] = {
            {MainIds::IDC_CLEAR, Notification::Clicked, &MainLike::OnClear}};
        SetCommandTable(commandTable);
        BindCheck(MainIds::IDC_MONITOR_TIME, monitor);
        BindInt(MainIds::IDC_INTERVAL, interval, 10, 10000);
        BindRadio(MainIds::IDC_STRING_MODE, mode);
    }
    int monitor = 0;
    int interval = 1000;
    int mode = 1;
    int clears = 0;
    int oks = 0;
    void OnClear() { ++clears; }

protected:
    void OnOK() override {
        ++oks;
        Dialog::OnOK();
    }
};

// A panel embedded in a window: Return and Escape do nothing and stay here.
class PanelLike : public Dialog {
public:
    explicit PanelLike(int id, QWidget* parent = nullptr) : Dialog(id, parent) {
        static const CommandEntry<PanelLike> commandTable[] = {
            {ModbusPanelIds::IDC_FUNCTION, Notification::SelectionChanged, &PanelLike::OnFunction}};
        SetCommandTable(commandTable);
        if (id == IDD_MODBUS_PANEL) {
            BindUnsigned(ModbusPanelIds::IDC_ADDRESS, address);
            BindUnsigned(ModbusPanelIds::IDC_QUANTITY, quantity);
            BindUnsigned(ModbusPanelIds::IDC_STATION, station);
            BindComboText(ModbusPanelIds::IDC_FUNCTION, function);
            BindRadio(ModbusPanelIds::IDC_RTU, ascii);
        } else {
            BindRadio(StringPanelIds::IDC_ASCII, ascii);
            BindText(StringPanelIds::IDC_SEND_TEXT, text);
        }
    }
    uint32_t address = 0, quantity = 1, station = 1;
    std::string function = " 3";
    std::string text;
    int ascii = 0;
    int oks = 0, cancels = 0, selections = 0;
    void OnFunction() { ++selections; }

protected:
    void OnOK() override { ++oks; }
    void OnCancel() override { ++cancels; }
};

class PortLike : public Dialog {
public:
    PortLike() : Dialog(IDD_PORT_SETTINGS) {
        BindComboText(PortSettingsIds::IDC_PORT, port);
        BindComboText(PortSettingsIds::IDC_SEND_BUFFER, sendBuffer);
    }
    std::string port = "1";
    std::string sendBuffer = "512";
};

QStringList Items(const QComboBox* combo) {
    QStringList items;
    for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
    return items;
}

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

}  // namespace

class DialogToolkitTest : public QObject {
    Q_OBJECT
private slots:
    void integerText_data();
    void integerText();
    void dialogUnits_data();
    void dialogUnits();
    void loadShowsFields();
    void rejectedDigitField_data();
    void rejectedDigitField();
    void unsignedStopsAtFirstRejected();
    void digitsOnlyRefusesTyping();
    void uppercaseEditTurnsTypingToCapitals();
    void prefixSearch_data();
    void prefixSearch();
    void comboStylesFromTemplate();
    void comboTextBinding();
    void textBindingHoldsGbkAndCrLf();
    void radioGroupByPosition();
    void lookupStaysInItsDialog();
    void commandRouting();
    void returnAndEscapeInWindow();
    void returnAndEscapeStayInPanel();
    void returnInCombosGoesToTheDialog();
    void templatesAreConsistent();
    void popupMenuFromTemplate();
    void realMessageBox();
    void shots();
};

void DialogToolkitTest::integerText_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("signedOk");
    QTest::addColumn<int>("signedValue");
    QTest::addColumn<bool>("unsignedOk");
    QTest::addColumn<uint>("unsignedValue");
    QTest::newRow("plain") << "1000" << true << 1000 << true << 1000u;
    QTest::newRow("blanks around") << " \t42 \t" << true << 42 << true << 42u;
    QTest::newRow("minus sign") << "-5" << true << -5 << false << 0u;
    QTest::newRow("plus sign") << "+5" << true << 5 << false << 0u;
    QTest::newRow("empty") << "" << false << 0 << false << 0u;
    QTest::newRow("blanks only") << "   " << false << 0 << false << 0u;
    QTest::newRow("sign alone") << "-" << false << 0 << false << 0u;
    QTest::newRow("trailing garbage") << "12a" << false << 0 << false << 0u;
    QTest::newRow("inner blank") << "1 2" << false << 0 << false << 0u;
    QTest::newRow("signed limits") << "-2147483648" << true << INT32_MIN << false << 0u;
    QTest::newRow("signed overflow") << "2147483648" << false << 0 << true << 2147483648u;
    QTest::newRow("unsigned limit") << "4294967295" << false << 0 << true << 4294967295u;
    QTest::newRow("unsigned overflow") << "4294967296" << false << 0 << false << 0u;
    QTest::newRow("long overflow") << "99999999999999999999999" << false << 0 << false << 0u;
}

void DialogToolkitTest::integerText() {
    QFETCH(QString, text);
    QFETCH(bool, signedOk);
    QFETCH(int, signedValue);
    QFETCH(bool, unsignedOk);
    QFETCH(uint, unsignedValue);
    const std::string bytes = text.toStdString();
    const auto s = ParseIntText(bytes);
    const auto u = ParseUnsignedText(bytes);
    QCOMPARE(s.has_value(), signedOk);
    if (s) QCOMPARE(*s, signedValue);
    QCOMPARE(u.has_value(), unsignedOk);
    if (u) QCOMPARE(*u, unsignedValue);
}

void DialogToolkitTest::dialogUnits_data() {
    QTest::addColumn<int>("id");
    QTest::addColumn<int>("baseX");
    QTest::addColumn<int>("baseY");
    QTest::addColumn<QSize>("size");
    // 12 pt is 16 px: letters 8 px wide, so 2 px per unit both ways.
    QTest::newRow("main window, 12 pt") << IDD_MAIN << 8 << 16 << QSize(740, 552);
    QTest::newRow("panel, 10 pt") << IDD_STRING_PANEL << 7 << 13 << QSize(627, 94);
    QTest::newRow("about box, 9 pt") << IDD_ABOUTBOX << 6 << 12 << QSize(353, 83);
}

void DialogToolkitTest::dialogUnits() {
    QFETCH(int, id);
    QFETCH(int, baseX);
    QFETCH(int, baseY);
    QFETCH(QSize, size);
    Dialog dialog(id);
    QCOMPARE(dialog.Units().BaseX(), baseX);
    QCOMPARE(dialog.Units().BaseY(), baseY);
    QCOMPARE(dialog.size(), size);
}

void DialogToolkitTest::loadShowsFields() {
    MainLike main;
    main.InitDialog();
    QCOMPARE(main.ItemText(MainIds::IDC_INTERVAL), U("1000"));
    QVERIFY(main.ControlAs<QRadioButton>(MainIds::IDC_MODBUS_MODE)->isChecked());
    QVERIFY(!main.ControlAs<QRadioButton>(MainIds::IDC_STRING_MODE)->isChecked());
    QVERIFY(!main.ControlAs<QCheckBox>(MainIds::IDC_MONITOR_TIME)->isChecked());
    QVERIFY(!main.Control(MainIds::IDC_SEND)->isEnabled());
    QVERIFY(main.Control(MainIds::IDC_PANEL_AREA)->isHidden());
    QCOMPARE(main.ItemText(MainIds::IDC_SEND), U("发  送"));
}

void DialogToolkitTest::rejectedDigitField_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message");  // empty: accepted
    QTest::addColumn<int>("interval");
    QTest::newRow("empty") << "" << U("请键入一个整数。") << 1000;
    QTest::newRow("not a number") << "abc" << U("请键入一个整数。") << 1000;
    QTest::newRow("trailing garbage") << "12x" << U("请键入一个整数。") << 1000;
    QTest::newRow("below range") << "5" << U("“请填入一个在10和10000之间的整数。”") << 1000;
    QTest::newRow("above range") << "10001" << U("“请填入一个在10和10000之间的整数。”") << 1000;
    QTest::newRow("blanks around") << "  500 " << QString() << 500;
    QTest::newRow("range ends") << "10" << QString() << 10;
    QTest::newRow("range top") << "10000" << QString() << 10000;
}

void DialogToolkitTest::rejectedDigitField() {
    QFETCH(QString, text);
    QFETCH(QString, message);
    QFETCH(int, interval);
    RecordingMessageBoxSink boxes;
    MainLike main;
    main.InitDialog();
    main.Control(MainIds::IDC_CLEAR)->setFocus();
    main.SetItemText(MainIds::IDC_INTERVAL, text);
    main.ControlAs<QCheckBox>(MainIds::IDC_MONITOR_TIME)->setChecked(true);

    QCOMPARE(main.UpdateData(true), message.isEmpty());
    QCOMPARE(main.interval, interval);
    QCOMPARE(main.monitor, 1);  // bound before the interval
    if (message.isEmpty()) {
        QVERIFY(boxes.Boxes().empty());
        QCOMPARE(main.mode, 1);
        return;
    }
    QCOMPARE(boxes.Texts(), std::vector<std::string>{message.toStdString()});
    QCOMPARE(main.focusWidget(), main.Control(MainIds::IDC_INTERVAL));
    QCOMPARE(main.ControlAs<QLineEdit>(MainIds::IDC_INTERVAL)->selectedText(), text);
    main.mode = 7;
    main.UpdateData(true);
    QCOMPARE(main.mode, 7);  // the exchange stopped before the radio group
}

void DialogToolkitTest::unsignedStopsAtFirstRejected() {
    RecordingMessageBoxSink boxes;
    PanelLike panel(IDD_MODBUS_PANEL);
    panel.InitDialog();
    panel.SetItemText(ModbusPanelIds::IDC_ADDRESS, "5");
    panel.SetItemText(ModbusPanelIds::IDC_QUANTITY, "-7");
    panel.SetItemText(ModbusPanelIds::IDC_STATION, "9");
    QVERIFY(!panel.UpdateData(true));
    QCOMPARE(boxes.Texts(), std::vector<std::string>{"“请填入一个正整数。”"});
    QCOMPARE(panel.address, 5u);
    QCOMPARE(panel.quantity, 1u);
    QCOMPARE(panel.station, 1u);
    QCOMPARE(panel.focusWidget(), panel.Control(ModbusPanelIds::IDC_QUANTITY));

    panel.SetItemText(ModbusPanelIds::IDC_QUANTITY, "4294967295");
    QVERIFY(panel.UpdateData(true));
    QCOMPARE(panel.quantity, 4294967295u);
    QCOMPARE(panel.station, 9u);
    QCOMPARE(panel.function, std::string(" 3"));
}

void DialogToolkitTest::digitsOnlyRefusesTyping() {
    MainLike main;
    auto* edit = main.ControlAs<QLineEdit>(MainIds::IDC_INTERVAL);
    QTest::keyClicks(edit, "1a2-3 ");
    QCOMPARE(edit->text(), U("123"));
    QTest::keyClick(edit, Qt::Key_Backspace);
    QCOMPARE(edit->text(), U("12"));
    main.SetItemText(MainIds::IDC_INTERVAL, "x9");
    QCOMPARE(edit->text(), U("x9"));
}

void DialogToolkitTest::uppercaseEditTurnsTypingToCapitals() {
    Dialog dialog(IDD_CONVERSION);
    auto* edit = dialog.ControlAs<QLineEdit>(ConversionIds::IDC_HEX);
    QTest::keyClicks(edit, "0a fe");
    QCOMPARE(edit->text(), U("0A FE"));
    dialog.SetItemText(ConversionIds::IDC_HEX, U("3f 中b"));
    QCOMPARE(edit->text(), U("3F 中B"));
}

void DialogToolkitTest::prefixSearch_data() {
    QTest::addColumn<int>("combo");
    QTest::addColumn<int>("startAfter");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<int>("found");
    // Baud list: 921600 460800 230400 115200 57600 38400 19200 9600 4800 2400 1200 300.
    QTest::newRow("from the top") << PortSettingsIds::IDC_BAUD << -1 << "96" << 7;
    QTest::newRow("starts after the given item") << PortSettingsIds::IDC_BAUD << 6 << "1" << 10;
    QTest::newRow("wraps around") << PortSettingsIds::IDC_BAUD << 7 << "19" << 6;
    QTest::newRow("the start item is tried last") << PortSettingsIds::IDC_BAUD << 10 << "12" << 10;
    QTest::newRow("after the last item") << PortSettingsIds::IDC_BAUD << 11 << "300" << 11;
    QTest::newRow("letter case ignored") << PortSettingsIds::IDC_PARITY << -1 << "ev" << 2;
    QTest::newRow("no match") << PortSettingsIds::IDC_BAUD << -1 << "x" << -1;
    QTest::newRow("empty prefix") << PortSettingsIds::IDC_BAUD << -1 << "" << -1;
    QTest::newRow("start beyond the list") << PortSettingsIds::IDC_PORT << 99 << "3" << 2;
}

void DialogToolkitTest::prefixSearch() {
    QFETCH(int, combo);
    QFETCH(int, startAfter);
    QFETCH(QString, prefix);
    QFETCH(int, found);
    Dialog dialog(IDD_PORT_SETTINGS);
    QCOMPARE(Dialog::FindStringPrefix(*dialog.ControlAs<QComboBox>(combo), startAfter, prefix),
             found);
}

void DialogToolkitTest::comboStylesFromTemplate() {
    Dialog port(IDD_PORT_SETTINGS);
    QCOMPARE(Items(port.ControlAs<QComboBox>(PortSettingsIds::IDC_PARITY)),
             QStringList({"NONE", "ODD", "EVEN", "MARK", "SPACE"}));
    QCOMPARE(Items(port.ControlAs<QComboBox>(PortSettingsIds::IDC_STOP_BITS)),
             QStringList({"1", "1.5", "2"}));
    QCOMPARE(port.ControlAs<QComboBox>(PortSettingsIds::IDC_PORT)->count(), 30);
    QVERIFY(port.ControlAs<QComboBox>(PortSettingsIds::IDC_SEND_BUFFER)->isEditable());
    QVERIFY(!port.ControlAs<QComboBox>(PortSettingsIds::IDC_BAUD)->isEditable());
    for (int id :
         {PortSettingsIds::IDC_BAUD, PortSettingsIds::IDC_PARITY, PortSettingsIds::IDC_DATA_BITS,
          PortSettingsIds::IDC_STOP_BITS, PortSettingsIds::IDC_PORT})
        QCOMPARE(port.ControlAs<QComboBox>(id)->currentIndex(), -1);

    // A sorted list puts what is added in its place.
    QCOMPARE(port.AddString(PortSettingsIds::IDC_STOP_BITS, "0.5"), 0);
    QCOMPARE(port.AddString(PortSettingsIds::IDC_STOP_BITS, "1.2"), 2);
    QCOMPARE(Items(port.ControlAs<QComboBox>(PortSettingsIds::IDC_STOP_BITS)),
             QStringList({"0.5", "1", "1.2", "1.5", "2"}));
    QCOMPARE(port.AddString(PortSettingsIds::IDC_BAUD, "110"), 12);
    QCOMPARE(port.ControlAs<QComboBox>(PortSettingsIds::IDC_STOP_BITS)->currentIndex(), -1);
}

void DialogToolkitTest::comboTextBinding() {
    PortLike port;
    port.port = "5";
    port.sendBuffer = "100";
    port.InitDialog();
    QCOMPARE(port.ControlAs<QComboBox>(PortSettingsIds::IDC_PORT)->currentIndex(), 4);
    QCOMPARE(port.ItemText(PortSettingsIds::IDC_SEND_BUFFER), U("100"));
    QCOMPARE(port.ControlAs<QComboBox>(PortSettingsIds::IDC_SEND_BUFFER)->currentIndex(), -1);

    port.sendBuffer = "1024";
    port.port = "x";  // no such item: a list keeps its selection
    port.UpdateData(false);
    QCOMPARE(port.ControlAs<QComboBox>(PortSettingsIds::IDC_SEND_BUFFER)->currentIndex(), 2);
    QCOMPARE(port.ControlAs<QComboBox>(PortSettingsIds::IDC_PORT)->currentIndex(), 4);

    port.ControlAs<QComboBox>(PortSettingsIds::IDC_PORT)->setCurrentIndex(6);
    port.ControlAs<QComboBox>(PortSettingsIds::IDC_SEND_BUFFER)->setEditText("77");
    QVERIFY(port.UpdateData(true));
    QCOMPARE(port.port, std::string("7"));
    QCOMPARE(port.sendBuffer, std::string("77"));
}

void DialogToolkitTest::textBindingHoldsGbkAndCrLf() {
    PanelLike panel(IDD_STRING_PANEL);
    panel.text = "AB\r\n\xD6\xD0";  // 中 in code page 936
    panel.InitDialog();
    QCOMPARE(panel.ControlAs<QPlainTextEdit>(StringPanelIds::IDC_SEND_TEXT)->toPlainText(),
             U("AB\n中"));
    QVERIFY(panel.UpdateData(true));
    QCOMPARE(panel.text, std::string("AB\r\n\xD6\xD0"));

    panel.ControlAs<QPlainTextEdit>(StringPanelIds::IDC_SEND_TEXT)->setPlainText(U("x😀y"));
    QVERIFY(panel.UpdateData(true));
    QCOMPARE(panel.text, std::string("x?y"));
}

void DialogToolkitTest::radioGroupByPosition() {
    PanelLike panel(IDD_MODBUS_PANEL);
    panel.ascii = 1;
    panel.InitDialog();
    QVERIFY(panel.ControlAs<QRadioButton>(ModbusPanelIds::IDC_ASCII)->isChecked());
    panel.ControlAs<QRadioButton>(ModbusPanelIds::IDC_RTU)->click();
    QVERIFY(!panel.ControlAs<QRadioButton>(ModbusPanelIds::IDC_ASCII)->isChecked());
    QVERIFY(panel.UpdateData(true));
    QCOMPARE(panel.ascii, 0);

    panel.ascii = -1;
    panel.UpdateData(false);
    QVERIFY(!panel.ControlAs<QRadioButton>(ModbusPanelIds::IDC_RTU)->isChecked());
    QVERIFY(!panel.ControlAs<QRadioButton>(ModbusPanelIds::IDC_ASCII)->isChecked());
    QVERIFY(panel.UpdateData(true));
    QCOMPARE(panel.ascii, -1);
}

void DialogToolkitTest::lookupStaysInItsDialog() {
    MainLike main;
    auto* panel = new PanelLike(IDD_MODBUS_PANEL, &main);
    QCOMPARE(main.ItemText(MainIds::IDC_PAUSE), U("已暂停接收"));
    QVERIFY(main.ControlAs<QPushButton>(MainIds::IDC_PAUSE));
    QVERIFY(panel->ControlAs<QRadioButton>(ModbusPanelIds::IDC_RTU));
    QCOMPARE(panel->ItemText(ModbusPanelIds::IDC_RTU), U("RTU帧"));
    QCOMPARE(main.Control(ModbusPanelIds::IDC_FUNCTION), nullptr);
    QCOMPARE(main.Control(0), nullptr);
    QCOMPARE(main.ControlId(panel->Control(ModbusPanelIds::IDC_FRAME_TEXT)), 0);
    QCOMPARE(panel->ControlId(panel->Control(ModbusPanelIds::IDC_FRAME_TEXT)),
             ModbusPanelIds::IDC_FRAME_TEXT);
    QCOMPARE(panel->ControlAs<QLineEdit>(ModbusPanelIds::IDC_FRAME_TEXT)->isReadOnly(), true);
}

void DialogToolkitTest::commandRouting() {
    MainLike main;
    main.ControlAs<QPushButton>(MainIds::IDC_CLEAR)->click();
    QCOMPARE(main.clears, 1);
    QVERIFY(!main.SendCommand(MainIds::IDC_SETTINGS));  // no handler

    PanelLike panel(IDD_MODBUS_PANEL);
    panel.InitDialog();
    auto* combo = panel.ControlAs<QComboBox>(ModbusPanelIds::IDC_FUNCTION);
    QCOMPARE(combo->currentText(), U(" 3"));
    combo->setCurrentIndex(4);  // the program's own change is no notification
    QCOMPARE(panel.selections, 0);
    QTest::keyClick(combo, Qt::Key_Down);
    QCOMPARE(panel.selections, 1);
    QCOMPARE(combo->currentText(), U(" 6"));
}

void DialogToolkitTest::returnAndEscapeInWindow() {
    RecordingMessageBoxSink boxes;
    {
        MainLike main;
        main.show();
        main.SetItemText(MainIds::IDC_INTERVAL, "5");
        QTest::keyClick(main.Control(MainIds::IDC_INTERVAL), Qt::Key_Return);
        QCOMPARE(main.oks, 1);
        QVERIFY(main.isVisible());
        QCOMPARE(boxes.Boxes().size(), size_t{1});

        main.SetItemText(MainIds::IDC_INTERVAL, "500");
        QTest::keyClick(main.Control(MainIds::IDC_INTERVAL), Qt::Key_Return);
        QCOMPARE(main.oks, 2);
        QVERIFY(!main.isVisible());
        QCOMPARE(main.result(), int(QDialog::Accepted));
        QCOMPARE(main.interval, 500);
    }
    {
        // The receive pane takes Return as a line break.
        MainLike main;
        main.show();
        auto* pane = main.ControlAs<QPlainTextEdit>(MainIds::IDC_RECEIVE);
        QTest::keyClicks(pane, "a");
        QTest::keyClick(pane, Qt::Key_Return);
        QCOMPARE(pane->toPlainText(), U("a\n"));
        QCOMPARE(main.oks, 0);

        main.SetItemText(MainIds::IDC_INTERVAL, "20");
        QTest::keyClick(main.Control(MainIds::IDC_INTERVAL), Qt::Key_Escape);
        QVERIFY(!main.isVisible());
        QCOMPARE(main.result(), int(QDialog::Rejected));
        QCOMPARE(main.interval, 1000);
    }
    {
        MainLike main;
        QTimer::singleShot(0, &main, [&main] {
            QTest::keyClick(main.Control(MainIds::IDC_INTERVAL), Qt::Key_Return);
        });
        QCOMPARE(main.DoModal(), IDOK);
        QTimer::singleShot(0, &main, [&main] { main.close(); });
        QCOMPARE(main.DoModal(), IDCANCEL);
    }
}

void DialogToolkitTest::returnAndEscapeStayInPanel() {
    MainLike main;
    main.show();
    auto* modbus = new PanelLike(IDD_MODBUS_PANEL, &main);
    auto* text = new PanelLike(IDD_STRING_PANEL, &main);
    modbus->InitDialog();
    text->InitDialog();
    // Panels are hidden children until placed, and leave the focus alone.
    QVERIFY(!modbus->isWindow() && modbus->isHidden());
    QCOMPARE(main.focusWidget(), main.Control(MainIds::IDC_MONITOR_TIME));
    modbus->show();
    text->show();

    QTest::keyClick(modbus->Control(ModbusPanelIds::IDC_ADDRESS), Qt::Key_Return);
    QTest::keyClick(modbus->Control(ModbusPanelIds::IDC_ADDRESS), Qt::Key_Enter,
                    Qt::KeypadModifier);
    QTest::keyClick(modbus->Control(ModbusPanelIds::IDC_ADDRESS), Qt::Key_Escape);
    auto* edit = text->ControlAs<QPlainTextEdit>(StringPanelIds::IDC_SEND_TEXT);
    QTest::keyClicks(edit, "01 03");
    QTest::keyClick(edit, Qt::Key_Return);

    QCOMPARE(edit->toPlainText(), U("01 03"));
    QCOMPARE(modbus->oks, 2);  // the keypad's Enter is Return too
    QCOMPARE(modbus->cancels, 1);
    QCOMPARE(text->oks, 1);
    QCOMPARE(main.oks, 0);
    QVERIFY(main.isVisible());
}

void DialogToolkitTest::returnInCombosGoesToTheDialog() {
    {
        PortLike port;
        port.show();
        QTest::keyClick(port.ControlAs<QComboBox>(PortSettingsIds::IDC_SEND_BUFFER)->lineEdit(),
                        Qt::Key_Return);
        QCOMPARE(port.result(), int(QDialog::Accepted));
        QVERIFY(!port.isVisible());
    }
    {
        PortLike port;
        port.show();
        QTest::keyClick(port.Control(PortSettingsIds::IDC_BAUD), Qt::Key_Return);
        QCOMPARE(port.result(), int(QDialog::Accepted));
    }
}

void DialogToolkitTest::templatesAreConsistent() {
    const std::vector<int> expected{IDD_ABOUTBOX,     IDD_MAIN,         IDD_PORT_SETTINGS,
                                    IDD_STRING_PANEL, IDD_MODBUS_PANEL, IDD_CHECKSUM,
                                    IDD_CONVERSION};
    QCOMPARE(DialogTemplateIds(), expected);
    for (int id : expected) {
        const DialogTemplate& t = *FindDialogTemplate(id);
        std::set<int> seen;
        int defaults = 0;
        for (const ControlTemplate& c : t.controls) {
            QVERIFY2(c.id == 0 || seen.insert(c.id).second,
                     qPrintable(QString("dialog %1 repeats %2").arg(id).arg(c.id)));
            QVERIFY2(c.x >= 0 && c.y >= 0 && c.x + c.w <= t.width && c.y + c.h <= t.height + 40,
                     qPrintable(QString("dialog %1 control %2 outside").arg(id).arg(c.id)));
            defaults += c.Has(ControlStyle::DefaultButton);
        }
        QVERIFY(defaults <= 1);
    }
}

void DialogToolkitTest::popupMenuFromTemplate() {
    QWidget owner;
    QMenu* menu = LoadPopupMenu(IDR_EDIT_MENU, &owner);
    QVERIFY(menu);
    const QList<QAction*> actions = menu->actions();
    QCOMPARE(actions.size(), 8);
    QVERIFY(actions[1]->isSeparator());
    QCOMPARE(actions[6]->data().toInt(), ID_HEX_TO_DECIMAL);
    QCOMPARE(LoadPopupMenu(999, &owner), nullptr);
}

void DialogToolkitTest::realMessageBox() {
    QtMessageBoxSink sink;
    MessageBoxSink* previous = InstallMessageBoxSink(&sink);
    QString text, title;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QTimer::singleShot(0, this, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY(box);
        text = box->text();
        title = box->windowTitle();
        icon = box->icon();
        box->button(QMessageBox::Ok)->click();
    });
    ShowMessageBox("初始化端口失败!\n再试试!", "Talvenor", MessageIcon::Warning);
    InstallMessageBoxSink(previous);
    QCOMPARE(text, U("初始化端口失败!\n再试试!"));
    QCOMPARE(title, U("Talvenor"));
    QCOMPARE(icon, QMessageBox::Warning);
}

void DialogToolkitTest::shots() {
    // The bare templates; the windows built on them have pictures of their own.
    const QString dir = ShotDirectory(QStringLiteral(TALVENOR_SOURCE_DIR)) + "/templates";
    {
        Dialog about(IDD_ABOUTBOX);
        about.show();
        QVERIFY(SaveDialogShot(about, dir, "template-100"));
    }
    {
        MainLike main;
        auto* panel = new PanelLike(IDD_MODBUS_PANEL, &main);
        panel->setGeometry(main.Control(MainIds::IDC_PANEL_AREA)->geometry());
        panel->show();
        main.show();
        QVERIFY(SaveDialogShot(main, dir, "template-102"));
    }
    {
        PortLike port;
        port.show();
        port.SelectStringPrefix(PortSettingsIds::IDC_BAUD, 0, "9600");
        port.ControlAs<QComboBox>(PortSettingsIds::IDC_PARITY)->setCurrentIndex(0);
        port.ControlAs<QComboBox>(PortSettingsIds::IDC_DATA_BITS)->setCurrentIndex(0);
        port.ControlAs<QComboBox>(PortSettingsIds::IDC_STOP_BITS)->setCurrentIndex(0);
        port.ControlAs<QCheckBox>(PortSettingsIds::IDC_EV_RXCHAR)->setChecked(true);
        QVERIFY(SaveDialogShot(port, dir, "template-129"));
    }
    for (auto [id, name] : {std::pair{IDD_STRING_PANEL, "template-130"},
                            std::pair{IDD_MODBUS_PANEL, "template-131"}}) {
        PanelLike panel(id);
        panel.show();
        QVERIFY(SaveDialogShot(panel, dir, name));
    }
}

QTEST_MAIN(DialogToolkitTest)
#include "DialogToolkitTest.moc"
