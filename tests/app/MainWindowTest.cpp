// The real main window, offscreen: opening the line through the real
// settings dialog onto pseudo-terminals, the receive display with an
// injected clock, sending and timed sending with the timers ticked by hand,
// closing, the engine's error box, and round trips with a libmodbus slave.
#include <sys/stat.h>
#include <termios.h>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

#include "DialogShot.h"
#include "FakeComm.h"
#include "ModbusRtuSlave.h"
#include "PtyLink.h"
#include "PtyPair.h"
#include "RecordingMessageBoxSink.h"
#include "app/AboutDialog.h"
#include "app/MainWindow.h"
#include "app/ModbusPanel.h"
#include "app/PortSettingsDialog.h"
#include "app/ReceiveEdit.h"
#include "app/SendScheduler.h"
#include "app/StringPanel.h"
#include "dialogs/ChecksumDialog.h"
#include "serial/PosixComm.h"
#include "serial/SerialPort.h"

using namespace MainIds;

namespace {

// What a receive script does, one step at a time.
struct Step {
    enum Kind { Byte, At, FromPort, Monitor, Pause, Clear } kind;
    uint32_t value = 0;
};
Step Byte(uint32_t value) { return {Step::Byte, value}; }
Step At(uint32_t ms) { return {Step::At, ms}; }
Step FromPort(int32_t port) { return {Step::FromPort, static_cast<uint32_t>(port)}; }
const Step kMonitor{Step::Monitor}, kPause{Step::Pause}, kClear{Step::Clear};
using Script = std::vector<Step>;

// A port directory of the test's own, and the comm layer that reads it.
class Ports {
public:
    Ports() {
        QDir(root.path()).mkdir(QStringLiteral("ports"));
        names = ComNames({Path("ports"), Path("dev"), Path("sys")});
    }
    void Link(int number, const std::string& target) const {
        std::filesystem::create_symlink(target, Path("ports") + "/COM" + std::to_string(number));
    }
    ComNames names;

private:
    std::string Path(const char* name) const { return (root.path() + "/" + name).toStdString(); }
    QTemporaryDir root;
};

// The window as the user gets it, with the clock under the test's control.
struct Session {
    explicit Session(std::unique_ptr<CommLayer> comm = nullptr) {
        window = std::make_unique<MainWindow>(
            comm ? std::move(comm) : std::make_unique<PosixComm>(ports.names), ports.names,
            [this] { return now; });
        window->show();
    }
    RecordingMessageBoxSink boxes;
    Ports ports;
    uint32_t now = 1;
    std::unique_ptr<MainWindow> window;

    ReceiveEdit& Pane() const { return window->ReceivePane(); }
    QCheckBox* TimedSend() const { return window->ControlAs<QCheckBox>(IDC_TIMED_SEND); }
    bool SendEnabled() const { return window->Control(IDC_SEND)->isEnabled(); }
};

// Runs the settings dialog as the user would: `choose` sets its lists, then
// OK or Cancel. A dialog still open afterwards is cancelled, so a failing
// check never leaves the test waiting on a modal run.
bool RunSettings(MainWindow& window, const std::function<void(PortSettingsDialog&)>& choose,
                 bool ok = true) {
    bool seen = false;
    QTimer::singleShot(0, &window, [&] {
        auto* dialog = qobject_cast<PortSettingsDialog*>(QApplication::activeModalWidget());
        if (!dialog) return;
        seen = true;
        choose(*dialog);
        if (ok) QTest::mouseClick(dialog->Control(IDOK), Qt::LeftButton);
        if (dialog->isVisible()) dialog->done(QDialog::Rejected);
    });
    window.SendCommand(IDC_SETTINGS);
    return seen;
}

void Choose(PortSettingsDialog& dialog, int controlId, const QString& item) {
    auto* list = dialog.ControlAs<QComboBox>(controlId);
    list->setCurrentIndex(list->findText(item));
}

bool OpenPort(MainWindow& window, int port, const QString& stopBits = QStringLiteral("1")) {
    return RunSettings(window, [&](PortSettingsDialog& dialog) {
        Choose(dialog, PortSettingsIds::IDC_PORT, QString::number(port));
        Choose(dialog, PortSettingsIds::IDC_STOP_BITS, stopBits);
    });
}

void UseStringPanel(MainWindow& window, bool hex, const QString& text) {
    window.ControlAs<QRadioButton>(IDC_STRING_MODE)->click();
    StringPanel& panel = *window.GetStringPanel();
    panel.ControlAs<QRadioButton>(hex ? StringPanelIds::IDC_HEX : StringPanelIds::IDC_ASCII)
        ->click();
    panel.SetItemText(StringPanelIds::IDC_SEND_TEXT, text);
}

}  // namespace

Q_DECLARE_METATYPE(Script)

class MainWindowTest : public QObject {
    Q_OBJECT
private slots:
    void startUpStateAndPanels();
    void openingTheLine_data();
    void openingTheLine();
    void receiveDisplay_data();
    void receiveDisplay();
    void timedSendingInterval_data();
    void timedSendingInterval();
    void emptyFrameStopsTimedSendingWithOneBox();
    void sendsCloseTogetherMakeOneSweep();
    void closing_data();
    void closing();
    void engineErrorBoxIsShownWhileTheWorkerWaits();
    void modbusSlaveReplyIsShownByteForByte_data();
    void modbusSlaveReplyIsShownByteForByte();
};

void MainWindowTest::startUpStateAndPanels() {
    Session s;
    MainWindow& w = *s.window;
    QCOMPARE(w.windowTitle(), QStringLiteral("Talvenor"));
    QVERIFY(!s.SendEnabled());
    QVERIFY(!s.TimedSend()->isEnabled() && !s.TimedSend()->isChecked());
    QCOMPARE(w.ItemText(IDC_INTERVAL), QStringLiteral("1000"));
    QCOMPARE(w.ItemText(IDC_PAUSE), QStringLiteral("已暂停接收"));
    QVERIFY(w.ControlAs<QRadioButton>(IDC_MODBUS_MODE)->isChecked());
    QCOMPARE(w.ControlAs<QProgressBar>(IDC_PROGRESS)->maximum(), SendScheduler::sweepSteps);
    QVERIFY(!w.windowIcon().isNull());
    QVERIFY(!w.receiving);

    // The Modbus panel covers the panel area; the string panel comes on first use.
    ModbusPanel* modbus = w.GetModbusPanel();
    QVERIFY(modbus && modbus->isVisible() && !w.GetStringPanel());
    QCOMPARE(modbus->geometry(), w.Control(IDC_PANEL_AREA)->geometry());

    // Switching back and forth keeps the same two panels with what was typed.
    modbus->SetItemText(ModbusPanelIds::IDC_STATION, QStringLiteral("7"));
    UseStringPanel(w, false, QStringLiteral("abc"));
    StringPanel* string = w.GetStringPanel();
    QVERIFY(string->isVisible() && !modbus->isVisible());
    w.ControlAs<QRadioButton>(IDC_MODBUS_MODE)->click();
    w.ControlAs<QRadioButton>(IDC_STRING_MODE)->click();
    w.ControlAs<QRadioButton>(IDC_MODBUS_MODE)->click();
    QCOMPARE(w.GetModbusPanel(), modbus);
    QCOMPARE(w.GetStringPanel(), string);
    QVERIFY(modbus->isVisible() && !string->isVisible());
    QCOMPARE(modbus->ItemText(ModbusPanelIds::IDC_STATION), QStringLiteral("7"));
    QCOMPARE(string->ItemText(StringPanelIds::IDC_SEND_TEXT), QStringLiteral("abc"));

    // A right click beside the pane offers the About entry, which opens dialog 100.
    QString entry, aboutCaption;
    QTimer::singleShot(0, &w, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu) return;
        entry = menu->actions().value(0)->text();
        QTimer::singleShot(0, &w, [&] {
            if (auto* about = qobject_cast<AboutDialog*>(QApplication::activeModalWidget())) {
                aboutCaption = about->windowTitle();
                about->done(QDialog::Accepted);
            }
        });
        menu->setActiveAction(menu->actions().value(0));
        QTest::keyClick(menu, Qt::Key_Return);
    });
    const QPoint beside(2, 2);
    QContextMenuEvent rightClick(QContextMenuEvent::Mouse, beside, w.mapToGlobal(beside));
    QApplication::sendEvent(&w, &rightClick);
    QCOMPARE(entry, QStringLiteral("关于 Talvenor(&A)..."));
    QCOMPARE(aboutCaption, QStringLiteral("关于 Talvenor"));
}

void MainWindowTest::openingTheLine_data() {
    QTest::addColumn<bool>("openFirst");  // COM3 opened before, with timed sending on
    QTest::addColumn<int>("port");        // COM3 leads to a pty, COM4 nowhere
    QTest::addColumn<QString>("stopBits");
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("sendEnabled");
    QTest::addColumn<bool>("timedEnabled");
    QTest::addColumn<bool>("timedAfter");
    QTest::addColumn<QString>("box");
    QTest::addColumn<bool>("twoStopBits");  // as the pty's termios shows them

    const QString none, failed = QStringLiteral("初始化端口失败!\n再试试!");
    const QString open3 = QStringLiteral("串口通讯-端口 3"), broken = QStringLiteral("串口通讯");
    // clang-format off
    QTest::newRow("OpensThePty")                   << false << 3 << "1"   << false << open3 << true  << true  << false << none   << false;
    QTest::newRow("StopBits1.5OpensWithOne")       << false << 3 << "1.5" << false << open3 << true  << true  << false << none   << false;
    QTest::newRow("StopBits2OpensWithTwo")         << false << 3 << "2"   << false << open3 << true  << true  << false << none   << true;
    QTest::newRow("NoDeviceFails")                 << false << 4 << "1"   << false << broken << false << false << false << failed << false;
    QTest::newRow("CancelChangesNothing")          << false << 3 << "1"   << true  << "Talvenor" << false << false << false << none << false;
    QTest::newRow("CancelAfterOpenKeepsIt")        << true  << 4 << "1"   << true  << open3 << false << true  << true  << none   << false;
    QTest::newRow("ReopenKeepsTimedSending")       << true  << 3 << "1"   << false << open3 << true  << true  << true  << none   << false;
    QTest::newRow("FailedReopenStopsTimedSending") << true  << 4 << "1"   << false << broken << false << false << false << failed << false;
    // clang-format on
}

void MainWindowTest::openingTheLine() {
    QFETCH(bool, openFirst);
    QFETCH(int, port);
    QFETCH(QString, stopBits);
    QFETCH(bool, cancel);
    QFETCH(QString, caption);
    QFETCH(bool, sendEnabled);
    QFETCH(bool, timedEnabled);
    QFETCH(bool, timedAfter);
    QFETCH(QString, box);
    QFETCH(bool, twoStopBits);

    Session s;
    PtyPair pty;
    s.ports.Link(3, pty.SlavePath());
    MainWindow& w = *s.window;
    if (openFirst) {
        QVERIFY(OpenPort(w, 3));
        s.TimedSend()->click();
        QVERIFY(w.Sender().TimedSending());
    }
    QVERIFY(RunSettings(
        w,
        [&](PortSettingsDialog& dialog) {
            Choose(dialog, PortSettingsIds::IDC_PORT, QString::number(port));
            Choose(dialog, PortSettingsIds::IDC_STOP_BITS, stopBits);
        },
        !cancel));

    QCOMPARE(w.windowTitle(), caption);
    QCOMPARE(s.SendEnabled(), sendEnabled);
    QCOMPARE(s.TimedSend()->isEnabled(), timedEnabled);
    QCOMPARE(w.Sender().TimedSending(), timedAfter);
    QCOMPARE(w.Sender().SendTimer().isActive(), timedAfter);
    QCOMPARE(s.TimedSend()->isChecked(), timedAfter);
    const std::vector<std::string> texts = s.boxes.Texts();
    QCOMPARE(texts.empty() ? QString() : QString::fromStdString(texts.back()), box);
    if (caption.startsWith(QStringLiteral("串口通讯-端口"))) {
        QCOMPARE(w.ItemText(IDC_PAUSE), QStringLiteral("正在接收"));
        QVERIFY(w.receiving);
        termios line{};
        QCOMPARE(tcgetattr(pty.SlaveFd(), &line), 0);
        QCOMPARE((line.c_cflag & CSTOPB) != 0, twoStopBits);
    }
}

void MainWindowTest::receiveDisplay_data() {
    QTest::addColumn<Script>("script");
    QTest::addColumn<QString>("pane");
    QTest::addColumn<QString>("pauseText");

    const QString receiving = QStringLiteral("正在接收");
    QTest::newRow("BytesAsHexColumns")
        << Script{Byte(0x01), Byte(0x03), Byte(0xFF)} << "   1   3  ff" << receiving;
    QTest::newRow("FirstStampAfterClearIsZero")
        << Script{kMonitor, At(5000), Byte(1), kClear, At(9000), Byte(2)} << "   2[   0]"
        << receiving;
    QTest::newRow("StampWithoutLeadingSpaces")
        << Script{kMonitor, At(1000), Byte(1), At(2234), Byte(2)} << "   1[   0]   2[1234]"
        << receiving;
    QTest::newRow("FiveDigitStampNotCut") << Script{kMonitor, At(1000), Byte(1), At(13345), Byte(2)}
                                          << "   1[   0]   2[12345]" << receiving;
    QTest::newRow("StampAcrossTheWrapOfTheCount")
        << Script{kMonitor, At(0xFFFFFF00u), Byte(1), At(0x10), Byte(2)} << "   1[   0]   2[ 272]"
        << receiving;
    QTest::newRow("MonitorOffLeavesTheByteColumns")
        << Script{kMonitor, At(10), Byte(1), At(40), Byte(3), At(1040), Byte(0xFF), kMonitor}
        << "   1   3  ff" << receiving;
    QTest::newRow("PauseDropsBytesAndResumeShowsThem")
        << Script{Byte(1), kPause, Byte(2), kPause, Byte(3)} << "   1   3" << receiving;
    QTest::newRow("PausedSaysSo") << Script{kPause, Byte(2)} << ""
                                  << "已暂停接收";
    QTest::newRow("PauseClearsTheTimeBase")
        << Script{kMonitor, At(1000), Byte(1), kPause, kPause, At(5000), Byte(2)}
        << "   1[   0]   2[   0]" << receiving;
    QTest::newRow("PortOutside1To50Ignored")
        << Script{FromPort(0), FromPort(51), FromPort(-1), FromPort(1), FromPort(50)} << "  55  55"
        << receiving;
}

void MainWindowTest::receiveDisplay() {
    QFETCH(Script, script);
    QFETCH(QString, pane);
    QFETCH(QString, pauseText);

    Session s;
    PtyPair pty;
    s.ports.Link(3, pty.SlavePath());
    MainWindow& w = *s.window;
    QVERIFY(OpenPort(w, 3));
    for (const Step& step : script) {
        switch (step.kind) {
            case Step::Byte:
                w.OnNotification(SPN_RXCHAR, step.value, 3);
                break;
            case Step::FromPort:
                w.OnNotification(SPN_RXCHAR, 0x55, static_cast<int32_t>(step.value));
                break;
            case Step::At:
                s.now = step.value;
                break;
            case Step::Monitor:
                w.ControlAs<QCheckBox>(IDC_MONITOR_TIME)->click();
                break;
            case Step::Pause:
                QTest::mouseClick(w.Control(IDC_PAUSE), Qt::LeftButton);
                break;
            case Step::Clear:
                QTest::mouseClick(w.Control(IDC_CLEAR), Qt::LeftButton);
                break;
        }
    }
    QCOMPARE(s.Pane().Text(), pane);
    QCOMPARE(w.ItemText(IDC_PAUSE), pauseText);
}

void MainWindowTest::timedSendingInterval_data() {
    QTest::addColumn<QString>("interval");
    QTest::addColumn<QString>("box");  // empty: timed sending starts
    const QString range = QStringLiteral("“请填入一个在10和10000之间的整数。”");
    QTest::newRow("Empty") << "" << QStringLiteral("请键入一个整数。");
    QTest::newRow("BelowTen") << "5" << range;
    QTest::newRow("Above10000") << "10001" << range;
    QTest::newRow("Ten") << "10" << QString();
}

void MainWindowTest::timedSendingInterval() {
    QFETCH(QString, interval);
    QFETCH(QString, box);
    Session s;
    PtyPair pty;
    s.ports.Link(3, pty.SlavePath());
    QVERIFY(OpenPort(*s.window, 3));
    s.window->SetItemText(IDC_INTERVAL, interval);
    s.TimedSend()->click();

    const bool starts = box.isEmpty();
    QCOMPARE(s.boxes.Texts().empty() ? QString() : QString::fromStdString(s.boxes.Texts()[0]), box);
    QCOMPARE(s.window->Sender().TimedSending(), starts);
    QCOMPARE(s.TimedSend()->isChecked(), starts);
    QCOMPARE(s.SendEnabled(), !starts);
    if (starts) QCOMPARE(s.window->Sender().SendTimer().interval(), 10);
}

void MainWindowTest::emptyFrameStopsTimedSendingWithOneBox() {
    Session s;
    PtyPair pty;
    s.ports.Link(3, pty.SlavePath());
    MainWindow& w = *s.window;
    QVERIFY(OpenPort(w, 3));
    UseStringPanel(w, false, QString());
    s.TimedSend()->click();
    QVERIFY(w.Sender().TimedSending() && !s.SendEnabled());

    // While the box is up, ticks and clicks find Send busy: no second box.
    bool timerStoppedFirst = false;
    s.boxes.whileOpen = [&](const RecordingMessageBoxSink::Box&) {
        timerStoppedFirst = !w.Sender().SendTimer().isActive();
        w.Sender().OnSendTimer();
        w.Sender().Send();
    };
    w.Sender().OnSendTimer();
    QCOMPARE(s.boxes.Texts(), std::vector<std::string>{"数据帧错误，将停止自动发送"});
    QVERIFY(timerStoppedFirst);
    QVERIFY(!w.Sender().TimedSending() && !s.TimedSend()->isChecked());
    QVERIFY(s.SendEnabled());

    // Send with nothing to send and timed sending off shows nothing.
    s.boxes.Clear();
    QTest::mouseClick(w.Control(IDC_SEND), Qt::LeftButton);
    QVERIFY(s.boxes.Texts().empty() && !w.Sender().ProgressRunning());
}

void MainWindowTest::sendsCloseTogetherMakeOneSweep() {
    Session s;
    PtyPair pty;
    s.ports.Link(3, pty.SlavePath());
    MainWindow& w = *s.window;
    QVERIFY(OpenPort(w, 3));
    SendScheduler& sender = w.Sender();

    // Both frames go to the line, the second 50 ms into the first one's sweep.
    const std::vector<uint8_t> frame{0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A};
    QTest::mouseClick(w.Control(IDC_SEND), Qt::LeftButton);
    QCOMPARE(pty.ReadMaster(8, std::chrono::seconds(5)), frame);
    for (int i = 0; i < 5; ++i) sender.OnProgressTimer();
    QTest::mouseClick(w.Control(IDC_SEND), Qt::LeftButton);
    QCOMPARE(pty.ReadMaster(8, std::chrono::seconds(5)), frame);
    int ticks = 5;
    while (sender.ProgressRunning() && ticks < 100) {
        sender.OnProgressTimer();
        ++ticks;
    }
    QCOMPARE(ticks, SendScheduler::sweepSteps + 1);
    QCOMPARE(w.ControlAs<QProgressBar>(IDC_PROGRESS)->value(), 0);
}

void MainWindowTest::closing_data() {
    QTest::addColumn<int>("panel");    // 0 none, else the panel's dialog number
    QTest::addColumn<int>("control");  // the control the key goes to; 0: the Exit button clicked
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("interval");
    QTest::addColumn<bool>("closes");
    QTest::addColumn<QString>("box");

    const QString range = QStringLiteral("“请填入一个在10和10000之间的整数。”");
    QTest::newRow("ExitRefusesInterval5") << 0 << 0 << 0 << "5" << false << range;
    QTest::newRow("ExitAcceptsInterval1000") << 0 << 0 << 0 << "1000" << true << QString();
    QTest::newRow("ReturnInTheIntervalExits")
        << 0 << int(IDC_INTERVAL) << int(Qt::Key_Return) << "1000" << true << QString();
    QTest::newRow("EscapeClosesWithoutTheCheck")
        << 0 << int(IDC_INTERVAL) << int(Qt::Key_Escape) << "5" << true << QString();
    QTest::newRow("ReturnInModbusStation")
        << int(IDD_MODBUS_PANEL) << int(ModbusPanelIds::IDC_STATION) << int(Qt::Key_Return)
        << "1000" << false << QString();
    QTest::newRow("EscapeInModbusStation")
        << int(IDD_MODBUS_PANEL) << int(ModbusPanelIds::IDC_STATION) << int(Qt::Key_Escape)
        << "1000" << false << QString();
    QTest::newRow("ReturnInStringText")
        << int(IDD_STRING_PANEL) << int(StringPanelIds::IDC_SEND_TEXT) << int(Qt::Key_Return)
        << "1000" << false << QString();
    QTest::newRow("EscapeInStringText")
        << int(IDD_STRING_PANEL) << int(StringPanelIds::IDC_SEND_TEXT) << int(Qt::Key_Escape)
        << "1000" << false << QString();
}

void MainWindowTest::closing() {
    QFETCH(int, panel);
    QFETCH(int, control);
    QFETCH(int, key);
    QFETCH(QString, interval);
    QFETCH(bool, closes);
    QFETCH(QString, box);

    Session s;
    MainWindow& w = *s.window;
    w.SetItemText(IDC_INTERVAL, interval);
    Dialog* target = &w;
    if (panel == IDD_STRING_PANEL) UseStringPanel(w, true, QStringLiteral("01"));
    if (panel == IDD_STRING_PANEL) target = w.GetStringPanel();
    if (panel == IDD_MODBUS_PANEL) target = w.GetModbusPanel();
    if (control == 0)
        QTest::mouseClick(w.Control(IDOK), Qt::LeftButton);
    else
        QTest::keyClick(target->Control(control), Qt::Key(key));

    QCOMPARE(w.isVisible(), !closes);
    QCOMPARE(target->isVisible(), !closes);
    QCOMPARE(s.boxes.Texts().empty() ? QString() : QString::fromStdString(s.boxes.Texts()[0]), box);
}

void MainWindowTest::engineErrorBoxIsShownWhileTheWorkerWaits() {
    auto comm = std::make_unique<FakeComm>();
    FakeComm& fake = *comm;
    fake.SetErrorText(EIO, "Input/output error");
    Session s(std::move(comm));
    MainWindow& w = *s.window;
    QVERIFY(OpenPort(w, 1));

    bool onUiThread = false, workerWaiting = false;
    s.boxes.whileOpen = [&](const RecordingMessageBoxSink::Box&) {
        onUiThread = QThread::currentThread() == qApp->thread();
        workerWaiting = w.Port().IsWorkerRunning();
    };
    // Input queued before the worker's first event wait would be purged.
    QVERIFY(
        fake.WaitFor([](const FakeComm& f) { return f.CallCount(FakeComm::Call::WaitForAny) > 0; },
                     std::chrono::seconds(10)));
    fake.FailOnce(FakeComm::Call::ReadByte, EIO);
    fake.QueueInput({0x41});
    QTRY_VERIFY_WITH_TIMEOUT(!s.boxes.Boxes().empty(), 5000);
    const RecordingMessageBoxSink::Box box = s.boxes.Boxes()[0];
    QCOMPARE(box.text, std::string("WARNING:  ReadFile() Failed with the following error: \n"
                                   "Input/output error\nPort: 1\n"));
    QCOMPARE(box.caption, std::string("Application Error"));
    QVERIFY(box.icon == MessageIcon::Error);
    QVERIFY(onUiThread && workerWaiting);

    // The worker goes on once the box is closed.
    fake.QueueInput({0x42});
    QTRY_VERIFY_WITH_TIMEOUT(s.Pane().Text().endsWith(QStringLiteral("  42")), 5000);
}

void MainWindowTest::modbusSlaveReplyIsShownByteForByte_data() {
    QTest::addColumn<bool>("stringPanel");
    QTest::newRow("ModbusPanelRequest") << false;
    QTest::newRow("HexTextWithCalculatorCrc") << true;
}

void MainWindowTest::modbusSlaveReplyIsShownByteForByte() {
    QFETCH(bool, stringPanel);
    Session s;
    PtyLink cable;
    s.ports.Link(5, cable.PathA());
    ModbusRtuSlave slave(cable.PathB(), 9600);
    MainWindow& w = *s.window;
    QVERIFY(OpenPort(w, 5));

    if (stringPanel) {
        // Typed by hand; the checksum calculator appends the CRC.
        UseStringPanel(w, true, QStringLiteral("01 03 00 00 00 01"));
        QTimer::singleShot(0, &w, [] {
            if (auto* calc = qobject_cast<ChecksumDialog*>(QApplication::activeModalWidget())) {
                calc->SendCommand(ChecksumIds::IDC_COMPUTE);
                calc->SendCommand(IDOK);
            }
        });
        w.GetStringPanel()->SendCommand(StringPanelIds::IDC_CHECKSUM);
        QCOMPARE(w.GetStringPanel()->ItemText(StringPanelIds::IDC_SEND_TEXT),
                 QStringLiteral("01 03 00 00 00 01 0x84 0x0A "));
    }
    QTest::mouseClick(w.Control(IDC_SEND), Qt::LeftButton);

    QVERIFY(slave.WaitForRequests(1, std::chrono::seconds(5)));
    QCOMPARE(slave.LastRequest(), (std::vector<uint8_t>{0x01, 0x03, 0x00, 0x00, 0x00, 0x01}));
    // Holding register 0 holds 123: 01 03 02 00 7B and the CRC F8 67.
    const QString reply = QStringLiteral("   1   3   2   0  7b  f8  67");
    QTRY_COMPARE_WITH_TIMEOUT(s.Pane().Text().size(), reply.size(), 5000);
    QCOMPARE(s.Pane().Text(), reply);
    if (!stringPanel)
        QVERIFY(SaveDialogShot(w, ShotDirectory(TALVENOR_SOURCE_DIR),
                               QStringLiteral("MainWindow-102")));
}

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
