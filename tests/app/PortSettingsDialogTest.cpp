// The port settings dialog run as the main window runs it: filled from the
// engine's record, shown modally, read after OK or Cancel.
#include <sys/stat.h>
#include <unistd.h>
#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <functional>

#include "DialogShot.h"
#include "RecordingMessageBoxSink.h"
#include "app/OpenArguments.h"
#include "app/PortSettingsDialog.h"
#include "app/ReconnectWatcher.h"
#include "serial/DeviceIdentity.h"
#include "serial/PortSettings.h"
#include "ui/GbkText.h"

Q_DECLARE_METATYPE(DCB)

namespace {

using Dlg = PortSettingsDialog;

struct Shown {
    QString port, baud, parity, dataBits, stopBits, sendBuffer;
    std::vector<bool> checked;
};

Shown ReadControls(const Dlg& dialog) {
    Shown shown{dialog.ItemText(PortSettingsIds::IDC_PORT),
                dialog.ItemText(PortSettingsIds::IDC_BAUD),
                dialog.ItemText(PortSettingsIds::IDC_PARITY),
                dialog.ItemText(PortSettingsIds::IDC_DATA_BITS),
                dialog.ItemText(PortSettingsIds::IDC_STOP_BITS),
                dialog.ItemText(PortSettingsIds::IDC_SEND_BUFFER),
                {}};
    for (const Dlg::EventBox& box : Dlg::eventBoxes)
        shown.checked.push_back(dialog.ControlAs<QCheckBox>(box.controlId)->isChecked());
    return shown;
}

// Fills the dialog as the main window does and runs it modally; `act` runs
// inside the modal run. A dialog still open afterwards is cancelled, so a
// failing check never leaves the test waiting.
int Run(Dlg& dialog, const std::function<void(Dlg&)>& act) {
    QTimer::singleShot(0, &dialog, [&] {
        act(dialog);
        if (dialog.isVisible()) dialog.done(QDialog::Rejected);
    });
    return dialog.DoModal();
}

ComNames NoDevices(const QTemporaryDir& dir) {
    return ComNames(ComNames::Places{(dir.path() + "/ports").toStdString(),
                                     dir.path().toStdString(), dir.path().toStdString()});
}

void WriteLine(const std::filesystem::path& path, const std::string& text) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path) << text << '\n';
}

void Link(const std::filesystem::path& target, const std::filesystem::path& at) {
    std::filesystem::create_directories(at.parent_path());
    std::filesystem::create_symlink(target, at);
}

// A USB adapter in port `port` of the root hub, plugged in as /dev/<tty>,
// as the kernel and udev publish it: an FTDI one with serial number
// `serial`, or without one a CH340 (whose by-id name udev gives every CH340).
void PlugAdapter(const std::filesystem::path& root, const std::string& tty,
                 const std::string& serial, const std::string& port = "1", bool byPath = true) {
    const std::filesystem::path usb = root / "sys/devices/usb1" / ("1-" + port);
    const bool ftdi = !serial.empty();
    for (auto [name, text] : {std::pair{"idVendor", ftdi ? "0403" : "1a86"},
                              {"idProduct", ftdi ? "6001" : "7523"},
                              {"manufacturer", ftdi ? "FTDI" : ""},
                              {"product", ftdi ? "FT232R USB UART" : "USB Serial"},
                              {"serial", serial.c_str()}})
        if (*text) WriteLine(usb / name, text);
    WriteLine(usb / ("1-" + port + ":1.0") / tty / "uevent", "");
    WriteLine(root / "dev" / tty, "");
    Link(usb / ("1-" + port + ":1.0") / tty, root / "sys/class/tty" / tty / "device");
    if (ftdi)
        Link("../../" + tty,
             root / ("dev/serial/by-id/usb-FTDI_FT232R_USB_UART_" + serial + "-if00-port0"));
    if (byPath)
        Link("../../" + tty,
             root / ("dev/serial/by-path/pci-0000:00:14.0-usb-0:" + port + ":1.0-port0"));
}

// Pulled: udev removes the node and its links, the kernel the sysfs entries.
void PullAdapter(const std::filesystem::path& root, const std::string& tty,
                 const std::string& port = "1") {
    std::filesystem::remove_all(root / "sys/devices/usb1" / ("1-" + port));
    std::filesystem::remove_all(root / "sys/class/tty" / tty);
    std::filesystem::remove(root / "dev" / tty);
    std::error_code none;
    for (const char* links : {"dev/serial/by-id", "dev/serial/by-path"})
        for (const auto& link : std::filesystem::directory_iterator(root / links, none))
            if (std::filesystem::read_symlink(link).filename() == tty)
                std::filesystem::remove(link);
}

// A machine in a temporary directory: COM1 a USB adapter with its sysfs
// descriptors and by-id link, COM3 linked to that by-id name, COM2 a
// pseudo-terminal held by its creator
// (process 100, which has the master side) and, with `intruder`, by process
// 200 as well.
ComNames FakeMachine(const std::filesystem::path& root, bool intruder, bool adapter = true) {
    if (adapter) PlugAdapter(root, "ttyUSB0", "A50285BI");
    WriteLine(root / "dev/pts/7", "");
    std::filesystem::create_directories(root / "ports");
    std::filesystem::permissions(root / "ports", std::filesystem::perms::owner_all);
    Link(root / "dev/pts/7", root / "ports/COM2");
    Link(root / "dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0",
         root / "ports/COM3");
    Link("/dev/ptmx", root / "proc/100/fd/3");
    WriteLine(root / "proc/100/fdinfo/3", "pos:\t0\nflags:\t02\ntty-index:\t7");
    Link(root / "dev/pts/7", root / "proc/100/fd/4");
    if (intruder) Link(root / "dev/pts/7", root / "proc/200/fd/0");
    return ComNames({(root / "ports").string(), (root / "dev").string(),
                     (root / "sys/class/tty").string(), (root / "proc").string()});
}

DCB Record(uint32_t baud, uint8_t parity, uint8_t dataBits, uint8_t stopBits) {
    DCB dcb;
    dcb.baudRate = baud;
    dcb.parity = parity;
    dcb.byteSize = dataBits;
    dcb.stopBits = stopBits;
    return dcb;
}

}  // namespace

class PortSettingsDialogTest : public QObject {
    Q_OBJECT
private slots:
    void firstRunShowsTheEngineDefaults();
    void reopenShowsTheLastOpenedSettings();
    void eachRecordValueSelectsItsItem_data();
    void eachRecordValueSelectsItsItem();
    void sendBufferOutsideTheListIsKeptAsTyped();
    void cancelChangesNothing();
    void portListShowsTheDevicePath();
    void deviceLineTellsTheAdapterAndWhoHoldsIt_data();
    void deviceLineTellsTheAdapterAndWhoHoldsIt();
    void lineWaitsForTheSameDevice();
    void textsOpenTheLineWith_data();
    void textsOpenTheLineWith();
    void picture();
};

void PortSettingsDialogTest::firstRunShowsTheEngineDefaults() {
    const PortSettings engine;
    Dlg dialog(nullptr, engine.dcb, engine.portNumber);
    dialog.sendBufferText = std::to_string(engine.writeBufferSize);
    dialog.SetEventFlags(engine.eventMask | EV_RXCHAR);

    Shown shown;
    QCOMPARE(Run(dialog,
                 [&](Dlg& d) {
                     shown = ReadControls(d);
                     QTest::mouseClick(d.Control(IDOK), Qt::LeftButton);
                 }),
             IDOK);
    QCOMPARE(shown.port, QStringLiteral("1"));
    QCOMPARE(shown.baud, QStringLiteral("9600"));
    QCOMPARE(shown.parity, QStringLiteral("NONE"));
    QCOMPARE(shown.dataBits, QStringLiteral("8"));
    QCOMPARE(shown.stopBits, QStringLiteral("1"));
    QCOMPARE(shown.sendBuffer, QStringLiteral("512"));
    // Character received and CTS changed: the engine's mask.
    QCOMPARE(shown.checked,
             (std::vector<bool>{false, true, false, false, false, false, true, false, false}));

    QCOMPARE(dialog.portText, std::string("1"));
    QCOMPARE(dialog.baudText, std::string("9600"));
    QCOMPARE(dialog.parityText, std::string("NONE"));
    QCOMPARE(dialog.dataBitsText, std::string("8"));
    QCOMPARE(dialog.stopBitsText, std::string("1"));
    QCOMPARE(dialog.sendBufferText, std::string("512"));
    QCOMPARE(dialog.eventFlags[6], 1);
}

void PortSettingsDialogTest::reopenShowsTheLastOpenedSettings() {
    Dlg dialog(nullptr, Record(19200, EVENPARITY, 7, TWOSTOPBITS), 5);
    dialog.sendBufferText = "1024";
    dialog.SetEventFlags(EV_RXCHAR | EV_CTS);
    QCOMPARE(dialog.portText, std::string("5"));

    QCOMPARE(
        Run(dialog,
            [](Dlg& d) { QTest::keyClick(d.Control(PortSettingsIds::IDC_BAUD), Qt::Key_Return); }),
        IDOK);
    // The port list starts on the first port whatever the current one is.
    QCOMPARE(dialog.portText, std::string("1"));
    QCOMPARE(dialog.baudText, std::string("19200"));
    QCOMPARE(dialog.parityText, std::string("EVEN"));
    QCOMPARE(dialog.dataBitsText, std::string("7"));
    QCOMPARE(dialog.stopBitsText, std::string("2"));
    QCOMPARE(dialog.sendBufferText, std::string("1024"));
}

void PortSettingsDialogTest::eachRecordValueSelectsItsItem_data() {
    QTest::addColumn<int>("control");
    QTest::addColumn<DCB>("record");
    QTest::addColumn<QString>("shown");

    const DCB base;
    for (uint32_t baud : {921600u, 460800u, 230400u, 115200u, 57600u, 38400u, 19200u, 9600u, 4800u,
                          2400u, 1200u, 300u}) {
        DCB dcb = base;
        dcb.baudRate = baud;
        QTest::addRow("Baud/%u", baud)
            << int(PortSettingsIds::IDC_BAUD) << dcb << QString::number(baud);
    }
    DCB unknownBaud = base;
    unknownBaud.baudRate = 14400;
    QTest::newRow("Baud/NotInListSelectsNothing")
        << int(PortSettingsIds::IDC_BAUD) << unknownBaud << QString();
    const char* parities[] = {"NONE", "ODD", "EVEN", "MARK", "SPACE"};
    for (uint8_t code = 0; code < 5; ++code) {
        DCB dcb = base;
        dcb.parity = code;
        QTest::addRow("Parity/%s", parities[code])
            << int(PortSettingsIds::IDC_PARITY) << dcb << QString(parities[code]);
    }
    for (uint8_t bits : {8, 7, 6}) {
        DCB dcb = base;
        dcb.byteSize = bits;
        QTest::addRow("DataBits/%d", bits)
            << int(PortSettingsIds::IDC_DATA_BITS) << dcb << QString::number(bits);
    }
    const char* stops[] = {"1", "1.5", "2"};
    for (uint8_t code = 0; code < 3; ++code) {
        DCB dcb = base;
        dcb.stopBits = code;
        QTest::addRow("StopBits/%s", stops[code])
            << int(PortSettingsIds::IDC_STOP_BITS) << dcb << QString(stops[code]);
    }
}

void PortSettingsDialogTest::eachRecordValueSelectsItsItem() {
    QFETCH(int, control);
    QFETCH(DCB, record);
    QFETCH(QString, shown);
    Dlg dialog(nullptr, record, 3);
    dialog.show();
    QCOMPARE(dialog.ItemText(control), shown);
}

void PortSettingsDialogTest::sendBufferOutsideTheListIsKeptAsTyped() {
    // Typed by the user and confirmed; the next run shows it again.
    Dlg first(nullptr, DCB{}, 1);
    first.sendBufferText = "512";
    QCOMPARE(Run(first,
                 [](Dlg& d) {
                     auto* field = d.ControlAs<QComboBox>(PortSettingsIds::IDC_SEND_BUFFER);
                     field->lineEdit()->selectAll();
                     QTest::keyClicks(field->lineEdit(), QStringLiteral("100"));
                     QTest::mouseClick(d.Control(IDOK), Qt::LeftButton);
                 }),
             IDOK);
    QCOMPARE(first.sendBufferText, std::string("100"));

    Dlg next(nullptr, DCB{}, 1);
    next.sendBufferText = first.sendBufferText;
    QString shown;
    int index = 0;
    QCOMPARE(Run(next,
                 [&](Dlg& d) {
                     shown = d.ItemText(PortSettingsIds::IDC_SEND_BUFFER);
                     index =
                         d.ControlAs<QComboBox>(PortSettingsIds::IDC_SEND_BUFFER)->currentIndex();
                     QTest::mouseClick(d.Control(IDOK), Qt::LeftButton);
                 }),
             IDOK);
    QCOMPARE(shown, QStringLiteral("100"));
    QCOMPARE(index, -1);
    QCOMPARE(next.sendBufferText, std::string("100"));
}

void PortSettingsDialogTest::cancelChangesNothing() {
    for (bool escape : {false, true}) {
        Dlg dialog(nullptr, Record(4800, ODDPARITY, 7, TWOSTOPBITS), 4);
        dialog.sendBufferText = "2048";
        dialog.SetEventFlags(EV_RXCHAR | EV_CTS);
        const int rxChar = dialog.eventFlags[6];
        QCOMPARE(
            Run(dialog,
                [&](Dlg& d) {
                    for (int list : {PortSettingsIds::IDC_PORT, PortSettingsIds::IDC_BAUD,
                                     PortSettingsIds::IDC_PARITY, PortSettingsIds::IDC_DATA_BITS,
                                     PortSettingsIds::IDC_STOP_BITS})
                        d.ControlAs<QComboBox>(list)->setCurrentIndex(2);
                    d.SetItemText(PortSettingsIds::IDC_SEND_BUFFER, QStringLiteral("77"));
                    for (const Dlg::EventBox& box : Dlg::eventBoxes)
                        d.ControlAs<QCheckBox>(box.controlId)->toggle();
                    if (escape)
                        QTest::keyClick(d.Control(PortSettingsIds::IDC_BAUD), Qt::Key_Escape);
                    else
                        QTest::mouseClick(d.Control(IDCANCEL), Qt::LeftButton);
                }),
            IDCANCEL);
        QCOMPARE(dialog.portText, std::string("4"));
        QCOMPARE(dialog.baudText, std::string());
        QCOMPARE(dialog.parityText, std::string());
        QCOMPARE(dialog.sendBufferText, std::string("2048"));
        QCOMPARE(dialog.eventFlags[6], rxChar);
        QCOMPARE(dialog.eventFlags[0], 0);
    }
}

void PortSettingsDialogTest::portListShowsTheDevicePath() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString ports = dir.path() + "/ports";
    QVERIFY(QDir().mkdir(ports));
    QVERIFY(::chmod(ports.toLocal8Bit().constData(), 0700) == 0);
    QVERIFY(::symlink("/dev/pts/41", (ports + "/COM2").toLocal8Bit().constData()) == 0);

    Dlg dialog(nullptr, DCB{}, 2);
    dialog.comNames = NoDevices(dir);
    QString first, second;
    Run(dialog, [&](Dlg& d) {
        first = d.DevicePathText();
        auto* list = d.ControlAs<QComboBox>(PortSettingsIds::IDC_PORT);
        list->setFocus();
        QTest::keyClick(list, Qt::Key_Down);  // the user picks "2"
        second = d.DevicePathText();
    });
    QCOMPARE(first, QStringLiteral("无设备"));
    QCOMPARE(second, QStringLiteral("/dev/pts/41"));
}

void PortSettingsDialogTest::textsOpenTheLineWith_data() {
    QTest::addColumn<QString>("parity");
    QTest::addColumn<QString>("stopBits");
    QTest::addColumn<QString>("sendBuffer");
    QTest::addColumn<QString>("opened");  // parity letter, stop bits, buffer size
    // clang-format off
    QTest::newRow("AsChosen") << "E" << "2" << "1024" << "E 2 1024";
    QTest::newRow("EmptyParityIsN") << "" << "1" << "4096" << "N 1 4096";
    QTest::newRow("OneAndAHalfStopBitsIsOne") << "O" << "1.5" << "255" << "O 1 255";
    QTest::newRow("BufferZeroIs512") << "N" << "1" << "0" << "N 1 512";
    QTest::newRow("BufferGarbageIs512") << "N" << "1" << "many" << "N 1 512";
    // clang-format on
}

// What OK hands to the engine: the event mask is always characters and CTS,
// whatever the dialog's event boxes show.
void PortSettingsDialogTest::textsOpenTheLineWith() {
    QFETCH(QString, parity);
    QFETCH(QString, stopBits);
    QFETCH(QString, sendBuffer);
    QFETCH(QString, opened);
    const OpenArguments open =
        OpenArgumentsFromTexts({"7", "19200", parity.toStdString(), "8", stopBits.toStdString(),
                                sendBuffer.toStdString()});
    QCOMPARE(QStringLiteral("%1 %2 %3")
                 .arg(QChar(open.parityLetter))
                 .arg(open.stopBits)
                 .arg(open.writeBufferSize),
             opened);
    QVERIFY(open.portNumber == 7 && open.baudRate == 19200 && open.dataBits == 8);
    QCOMPARE(open.eventMask, 9u);
}

void PortSettingsDialogTest::deviceLineTellsTheAdapterAndWhoHoldsIt_data() {
    QTest::addColumn<int>("port");
    QTest::addColumn<bool>("intruder");
    QTest::addColumn<QString>("identity");
    QTest::addColumn<QString>("state");
    QTest::newRow("UsbAdapter") << 1 << false << "0403:6001 A50285BI FTDI FT232R USB UART"
                                << "";
    QTest::newRow("LinkedToItsByIdName") << 3 << false << "0403:6001 A50285BI FTDI FT232R USB UART"
                                         << "";
    QTest::newRow("PtyHeldByItsCreator") << 2 << false << ""
                                         << "";
    QTest::newRow("PtyHeldByAnother") << 2 << true << ""
                                      << "被占用";
}

void PortSettingsDialogTest::deviceLineTellsTheAdapterAndWhoHoldsIt() {
    QFETCH(int, port);
    QFETCH(bool, intruder);
    QFETCH(QString, identity);
    QFETCH(QString, state);
    QTemporaryDir dir;
    Dlg dialog(nullptr, DCB{}, 1);
    dialog.comNames = FakeMachine(dir.path().toStdString(), intruder);
    Run(dialog, [&](Dlg& d) {
        auto* list = d.ControlAs<QComboBox>(PortSettingsIds::IDC_PORT);
        list->setCurrentIndex(port - 1);
        emit list->activated(port - 1);
    });
    QCOMPARE(dialog.DeviceIdentityText(), identity);
    QCOMPARE(dialog.DeviceStateText(), state);
    // The adapter's by-id name, which the short row has no room for.
    QCOMPARE(dialog.findChild<QLabel*>("devicePath")
                 ->toolTip()
                 .contains("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"),
             port != 2);
}

// The line's device pulled (or, with nothing to pull, answering no more),
// then the machine as each row leaves it: the line opens again only on the
// same device under its number, and the caption says what the wait is for.
void PortSettingsDialogTest::lineWaitsForTheSameDevice() {
    struct Adapter {
        const char *tty, *serial, *port;
    };
    const QString waiting = FromUtf8(ReconnectWatcher::WaitingText);
    const QString other = "；" + FromUtf8(ReconnectWatcher::OtherDeviceText);
    const QString ch340 = "：USB 位置 pci-0000:00:14.0-usb-0:1:1.0-port0" + other;
    const Adapter ftdi{"ttyUSB0", "A50285BI", "1"}, cheap{"ttyUSB0", "", "1"};
    const struct {
        const char* name;
        std::vector<Adapter> plugged, back;  // none plugged: COM2, a link to a pty
        bool pulled;                         // else its box stays open
        int refusals, reopens;
        QString caption;
        bool late = false;  // udev links its place on the bus after a wait
    } rows[] = {
        // clang-format off
        {"SerialNumberInAnotherPortAndName", {ftdi}, {{"ttyUSB1", "A50285BI", "2"}}, true, 0, 1, waiting},
        {"OtherSerialNumberUnderTheName", {ftdi}, {{"ttyUSB0", "A7001XYZ", "1"}}, true, 0, 0, waiting + "：序列号 A50285BI" + other},
        {"TwoAlikeTheOtherNowUnderTheNumber", {cheap, {"ttyUSB1", "", "2"}}, {}, true, 0, 0, waiting + ch340},
        {"NoSerialNumberBackInItsPortAsTtyUSB1", {cheap}, {{"ttyUSB1", "", "1"}}, true, 0, 1, waiting},
        {"NoSerialNumberPlaceLinkedLate", {cheap}, {cheap}, true, 0, 1, waiting + ch340, true},
        {"NoSerialNumberInAnotherPort", {cheap}, {{"ttyUSB0", "", "2"}}, true, 0, 0, waiting + ch340},
        {"BackButRefusedTwice", {ftdi}, {ftdi}, true, 2, 3, waiting + "：无法打开"},
        {"NeverWentAwayBoxOpen", {ftdi}, {{"ttyUSB1", "", "2"}}, false, 0, 1, waiting},
        {"LinkToNothing", {}, {}, true, 0, 0, waiting},
        // clang-format on
    };
    for (const auto& row : rows) {
        QTemporaryDir dir;
        const std::filesystem::path root = dir.path().toStdString();
        const ComNames names = FakeMachine(root, false, false);
        for (const Adapter& a : row.plugged) PlugAdapter(root, a.tty, a.serial, a.port);
        int reopens = 0;
        QString caption;
        ReconnectWatcher watcher(names, [&] { return ++reopens > row.refusals; });
        connect(&watcher, &ReconnectWatcher::waitingChanged,
                [&](const QString& text) { caption = text; });
        RecordingMessageBoxSink boxes;
        watcher.Opened(row.plugged.empty() ? 2 : 1);
        if (row.pulled && row.plugged.empty()) std::filesystem::remove(root / "dev/pts/7");
        if (row.pulled && !row.plugged.empty()) PullAdapter(root, "ttyUSB0");
        QVERIFY(watcher.Lost("gone"));
        if (row.pulled) watcher.ReportClosed();
        for (const Adapter& a : row.back) PlugAdapter(root, a.tty, a.serial, a.port, !row.late);
        QTest::qWait(3 * ReconnectWatcher::settleMs);
        if (row.late)
            Link("../../ttyUSB0", root / "dev/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0-port0");
        QVERIFY2(boxes.Closed().empty(), row.name);
        if (!row.pulled) watcher.ReportClosed();
        QTRY_COMPARE_WITH_TIMEOUT(reopens, row.reopens, 5000);
        QVERIFY2(caption == row.caption, qPrintable(row.name + (": " + caption)));
    }
}

void PortSettingsDialogTest::picture() {
    // At a fixed place, so that the picture shows the same path every time.
    const std::filesystem::path root = std::filesystem::temp_directory_path() / "talvenor-shot";
    std::filesystem::remove_all(root);
    const PortSettings engine;
    Dlg dialog(nullptr, engine.dcb, engine.portNumber);
    dialog.comNames = FakeMachine(root, false);
    dialog.sendBufferText = std::to_string(engine.writeBufferSize);
    dialog.SetEventFlags(engine.eventMask | EV_RXCHAR);
    dialog.show();
    QVERIFY(dialog.DevicePathText().endsWith(QStringLiteral("/dev/ttyUSB0")));
    // The baud list open, with the common rates above 19200.
    auto* baud = dialog.ControlAs<QComboBox>(PortSettingsIds::IDC_BAUD);
    baud->showPopup();
    QWidget* popup = baud->view()->window();
    QVERIFY(QTest::qWaitForWindowExposed(popup));
    // Dropped below the list, as on the desktop, not over it.
    popup->move(popup->x(), baud->mapToGlobal(QPoint(0, baud->height())).y());
    QVERIFY(SaveDialogShot(dialog, *popup, ShotDirectory(QStringLiteral(TALVENOR_SOURCE_DIR)),
                           "PortSettingsDialog-129"));
    baud->hidePopup();
    std::filesystem::remove_all(root);
}

QTEST_MAIN(PortSettingsDialogTest)
#include "PortSettingsDialogTest.moc"
