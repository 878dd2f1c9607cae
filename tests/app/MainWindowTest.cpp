// The real main window, offscreen: opening the line through the real settings
// dialog onto pseudo-terminals, the receive display with an injected clock,
// sending with the timers ticked by hand, closing, the engine's error box, and
// round trips with a libmodbus slave and with the built simulator.
#include <termios.h>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
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

#include "DialogShot.h"
#include "FakeComm.h"
#include "ModbusRtuSlave.h"
#include "PtyLink.h"
#include "PtyPair.h"
#include "RecordingMessageBoxSink.h"
#include "SimProcess.h"
#include "WindowSession.h"
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
using namespace std::chrono_literals;

namespace {

struct Step {
    enum Kind { Byte, At, FromPort, Monitor, Pause, Clear } kind;
    uint32_t value = 0;
};
Step Byte(uint32_t value) { return {Step::Byte, value}; }
Step At(uint32_t ms) { return {Step::At, ms}; }
Step FromPort(int32_t port) { return {Step::FromPort, static_cast<uint32_t>(port)}; }
const Step kMonitor{Step::Monitor}, kPause{Step::Pause}, kClear{Step::Clear};
using Script = std::vector<Step>;

const QString kRange = QStringLiteral("“请填入一个在10和10000之间的整数。”");

}  // namespace

Q_DECLARE_METATYPE(Script)

class MainWindowTest : public QObject {
    Q_OBJECT
private slots:
    void startUpState();
    void openingTheLine_data();
    void openingTheLine();
    void receiveDisplay_data();
    void receiveDisplay();
    void timedSendingInterval_data();
    void timedSendingInterval();
    void modbusRequestIsAsTypedOrNothing_data();
    void modbusRequestIsAsTypedOrNothing();
    void noFrameStopsTimedSendingWithoutStackingBoxes_data();
    void noFrameStopsTimedSendingWithoutStackingBoxes();
    void sendsCloseTogetherMakeOneSweep();
    void closing_data();
    void closing();
    void engineErrorBoxIsShownWhileTheWorkerWaits();
    void lostDeviceIsClosedAndOpenedAgainAsItWas();
    void slaveReplyIsShownByteForByte_data();
    void slaveReplyIsShownByteForByte();
    void simulatorReplyInEachFraming_data();
    void simulatorReplyInEachFraming();
};

void MainWindowTest::startUpState() {
    Session s;
    MainWindow& w = *s.window;
    QCOMPARE(w.windowTitle(), QStringLiteral("Talvenor"));
    QVERIFY(!s.SendEnabled() && !s.TimedSend()->isEnabled() && !s.TimedSend()->isChecked());
    QCOMPARE(w.ItemText(IDC_INTERVAL), QStringLiteral("1000"));
    QCOMPARE(w.ItemText(IDC_PAUSE), QStringLiteral("已暂停接收"));
    QCOMPARE(w.ControlAs<QProgressBar>(IDC_PROGRESS)->maximum(), SendScheduler::sweepSteps);
    QVERIFY(w.ControlAs<QRadioButton>(IDC_MODBUS_MODE)->isChecked() && !w.windowIcon().isNull());
    QVERIFY(w.GetModbusPanel()->isVisible() && !w.GetStringPanel());
    QCOMPARE(w.GetModbusPanel()->geometry(), w.Control(IDC_PANEL_AREA)->geometry());
    // Bytes are shown only once a line is open.
    w.OnNotification(SPN_RXCHAR, 0x41, 1);
    QCOMPARE(s.Pane(), QString());

    // A right click beside the pane offers the About entry last, which opens dialog 100.
    QString entry, about;
    QTimer::singleShot(0, &w, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu) return;
        entry = menu->actions().last()->text();
        QTimer::singleShot(0, &w, [&] {
            if (auto* box = qobject_cast<Dialog*>(QApplication::activeModalWidget())) {
                about = box->windowTitle();
                box->done(QDialog::Accepted);
            }
        });
        menu->setActiveAction(menu->actions().last());
        QTest::keyClick(menu, Qt::Key_Return);
    });
    QContextMenuEvent click(QContextMenuEvent::Mouse, {2, 2}, w.mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(&w, &click);
    QCOMPARE(entry, QStringLiteral("关于 Talvenor(&A)..."));
    QCOMPARE(about, QStringLiteral("关于 Talvenor"));
}

void MainWindowTest::openingTheLine_data() {
    QTest::addColumn<bool>("timedFirst");  // COM3 opened before, with timed sending on
    QTest::addColumn<int>("port");         // COM3 leads to a pty, COM4 nowhere
    QTest::addColumn<QString>("stopBits");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("twoStopBits");  // as the pty's termios has them

    const QString open3 = QStringLiteral("串口通讯-端口 3");
    // clang-format off
    QTest::newRow("OpensThePty") << false << 3 << "1" << true << open3 << false;
    QTest::newRow("StopBits1.5OpensWithOne") << false << 3 << "1.5" << true << open3 << false;
    QTest::newRow("StopBits2OpensWithTwo") << false << 3 << "2" << true << open3 << true;
    QTest::newRow("NoDeviceFails") << false << 4 << "1" << true << "串口通讯" << false;
    QTest::newRow("CancelChangesNothing") << false << 3 << "1" << false << "Talvenor" << false;
    QTest::newRow("FailedReopenStopsTimedSending") << true << 4 << "1" << true << "串口通讯" << false;
    // clang-format on
}

void MainWindowTest::openingTheLine() {
    QFETCH(bool, timedFirst);
    QFETCH(int, port);
    QFETCH(QString, stopBits);
    QFETCH(bool, ok);
    QFETCH(QString, caption);
    QFETCH(bool, twoStopBits);
    Session s;
    MainWindow& w = *s.window;
    if (timedFirst) {
        QVERIFY(s.Open());
        s.TimedSend()->click();
        QVERIFY(w.Sender().TimedSending());
    }
    QVERIFY(s.Open(port, stopBits, ok));

    const bool opened = caption.startsWith(QStringLiteral("串口通讯-"));
    const bool failed = caption == QStringLiteral("串口通讯");
    QCOMPARE(w.windowTitle(), caption);
    QCOMPARE(s.SendEnabled(), opened);
    QCOMPARE(s.TimedSend()->isEnabled(), opened);
    QCOMPARE(s.LastBox(), failed ? QStringLiteral("初始化端口失败!\n再试试!") : QString());
    QVERIFY(!w.Sender().TimedSending() && !w.Sender().SendTimer().isActive());
    QVERIFY(!s.TimedSend()->isChecked());
    QCOMPARE(w.receiving, opened || timedFirst);
    if (opened) {
        QCOMPARE(w.ItemText(IDC_PAUSE), QStringLiteral("正在接收"));
        termios line{};
        QCOMPARE(tcgetattr(s.pty.SlaveFd(), &line), 0);
        QCOMPARE((line.c_cflag & CSTOPB) != 0, twoStopBits);
    }
}

void MainWindowTest::receiveDisplay_data() {
    QTest::addColumn<Script>("script");
    QTest::addColumn<QString>("pane");

    // clang-format off
    QTest::newRow("BytesAsHexColumns") << Script{Byte(0x01), Byte(0x03), Byte(0xFF)} << "   1   3  ff";
    QTest::newRow("FirstStampAfterClearIsZero") << Script{kMonitor, At(5000), Byte(1), kClear, At(9000), Byte(2)} << "   2[   0]";
    QTest::newRow("StampWithoutLeadingSpaces") << Script{kMonitor, At(1000), Byte(1), At(2234), Byte(2)} << "   1[   0]   2[1234]";
    QTest::newRow("EachStampFromThePreviousByte") << Script{kMonitor, At(1000), Byte(1), At(1100), Byte(2), At(1350), Byte(3)} << "   1[   0]   2[ 100]   3[ 250]";
    QTest::newRow("FiveDigitStampNotCut") << Script{kMonitor, At(1000), Byte(1), At(13345), Byte(2)} << "   1[   0]   2[12345]";
    QTest::newRow("StampAcrossTheWrapOfTheCount") << Script{kMonitor, At(0xFFFFFF00u), Byte(1), At(0x10), Byte(2)} << "   1[   0]   2[ 272]";
    QTest::newRow("MonitorOffLeavesTheByteColumns") << Script{kMonitor, At(10), Byte(1), At(40), Byte(3), At(1040), Byte(0xFF), kMonitor} << "   1   3  ff";
    QTest::newRow("PauseDropsBytesAndResumeShowsThem") << Script{Byte(1), kPause, Byte(2), kPause, Byte(3)} << "   1   3";
    QTest::newRow("PauseClearsTheTimeBase") << Script{kMonitor, At(1000), Byte(1), kPause, kPause, At(5000), Byte(2)} << "   1[   0]   2[   0]";
    QTest::newRow("PortOutside1To50Ignored") << Script{FromPort(0), FromPort(51), FromPort(-1), FromPort(1), FromPort(50)} << "  55  55";
    // clang-format on
}

void MainWindowTest::receiveDisplay() {
    QFETCH(Script, script);
    QFETCH(QString, pane);
    Session s;
    MainWindow& w = *s.window;
    QVERIFY(s.Open());
    QStringList pauseTexts;
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
                pauseTexts << w.ItemText(IDC_PAUSE);
                break;
            case Step::Clear:
                QTest::mouseClick(w.Control(IDC_CLEAR), Qt::LeftButton);
                break;
        }
    }
    QCOMPARE(s.Pane(), pane);
    if (!pauseTexts.isEmpty())
        QCOMPARE(pauseTexts,
                 (QStringList{QStringLiteral("已暂停接收"), QStringLiteral("正在接收")}));
}

void MainWindowTest::timedSendingInterval_data() {
    QTest::addColumn<QString>("interval");
    QTest::addColumn<QString>("box");  // empty: timed sending starts
    // clang-format off
    QTest::newRow("Empty") << "" << QStringLiteral("请键入一个整数。");
    QTest::newRow("BelowTen") << "5" << kRange;
    QTest::newRow("Above10000") << "10001" << kRange;
    QTest::newRow("Ten") << "10" << QString();
    // clang-format on
}

void MainWindowTest::timedSendingInterval() {
    QFETCH(QString, interval);
    QFETCH(QString, box);
    Session s;
    QVERIFY(s.Open());
    s.window->SetItemText(IDC_INTERVAL, interval);
    s.TimedSend()->click();
    const bool starts = box.isEmpty();
    QCOMPARE(s.LastBox(), box);
    QCOMPARE(s.window->Sender().TimedSending(), starts);
    QCOMPARE(s.TimedSend()->isChecked(), starts);
    QCOMPARE(s.SendEnabled(), !starts);
    QCOMPARE(s.window->Sender().SendTimer().interval(), starts ? 10 : 0);
}

void MainWindowTest::modbusRequestIsAsTypedOrNothing_data() {
    QTest::addColumn<QString>("station");
    QTest::addColumn<int>("function");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("box");  // empty: the frame goes out
    QTest::addColumn<QByteArray>("frame");
    const QString byteRange = QStringLiteral("“请填入一个在0和255之间的整数。”");
    const QString wordRange = QStringLiteral("“请填入一个在0和65535之间的整数。”");
    // clang-format off
    QTest::newRow("Station256Refused") << "256" << 3 << "0" << "1" << byteRange << QByteArray();
    QTest::newRow("Address65536Refused") << "1" << 3 << "65536" << "1" << wordRange << QByteArray();
    QTest::newRow("Quantity65536Refused") << "1" << 3 << "0" << "65536" << wordRange << QByteArray();
    QTest::newRow("WriteValue70000Refused") << "1" << 6 << "0" << "70000" << wordRange << QByteArray();
    QTest::newRow("Station0Broadcast") << "0" << 3 << "0" << "1" << QString() << QByteArray::fromHex("000300000001 85db");
    QTest::newRow("Station255") << "255" << 3 << "0" << "1" << QString() << QByteArray::fromHex("ff0300000001 91d4");
    QTest::newRow("Address65535") << "1" << 3 << "65535" << "1" << QString() << QByteArray::fromHex("0103ffff0001 842e");
    QTest::newRow("WriteValue65535") << "1" << 6 << "0" << "65535" << QString() << QByteArray::fromHex("01060000ffff 887a");
    // clang-format on
}

void MainWindowTest::modbusRequestIsAsTypedOrNothing() {
    QFETCH(QString, station);
    QFETCH(int, function);
    QFETCH(QString, address);
    QFETCH(QString, value);
    QFETCH(QString, box);
    QFETCH(QByteArray, frame);
    Session s;
    QVERIFY(s.Open());
    ModbusPanel& panel = *s.window->GetModbusPanel();
    auto type = [&](int id, const QString& text) { panel.ControlAs<QLineEdit>(id)->setText(text); };
    type(ModbusPanelIds::IDC_STATION, station);
    panel.ControlAs<QComboBox>(ModbusPanelIds::IDC_FUNCTION)->setCurrentIndex(function - 1);
    type(ModbusPanelIds::IDC_ADDRESS, address);
    type(ModbusPanelIds::IDC_QUANTITY, value);
    QTest::mouseClick(s.window->Control(IDC_SEND), Qt::LeftButton);
    QCOMPARE(s.LastBox(), box);
    if (!box.isEmpty()) {
        QVERIFY(panel.ItemText(ModbusPanelIds::IDC_FRAME_TEXT).isEmpty());
        // Nothing went: the next request is the first thing on the line.
        for (int id : {ModbusPanelIds::IDC_STATION, ModbusPanelIds::IDC_QUANTITY})
            type(id, QStringLiteral("1"));
        type(ModbusPanelIds::IDC_ADDRESS, QStringLiteral("0"));
        QTest::mouseClick(s.window->Control(IDC_SEND), Qt::LeftButton);
        frame = QByteArray::fromHex(function == 6 ? "010600000001 480a" : "010300000001 840a");
    }
    const std::vector<uint8_t> sent = s.pty.ReadMaster(frame.size(), 5s);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(sent.data()), qsizetype(sent.size())), frame);
}

void MainWindowTest::noFrameStopsTimedSendingWithoutStackingBoxes_data() {
    // The Modbus panel's own box for an empty address, else an empty string text.
    QTest::addColumn<bool>("panelBox");
    QTest::newRow("EmptyText") << false;
    QTest::newRow("EmptyAddressShowsABoxFirst") << true;
}

void MainWindowTest::noFrameStopsTimedSendingWithoutStackingBoxes() {
    QFETCH(bool, panelBox);
    Session s;
    SendScheduler& sender = s.window->Sender();
    QVERIFY(s.Open());
    if (panelBox)
        s.window->GetModbusPanel()->SetItemText(ModbusPanelIds::IDC_ADDRESS, QString());
    else
        s.UseStringPanel(false, QString());
    s.TimedSend()->click();
    QVERIFY(sender.TimedSending() && !s.SendEnabled());

    // While a box is up, ticks and clicks find Send busy: no box of theirs.
    bool timerStoppedFirst = false;
    s.boxes.whileOpen = [&](const RecordingMessageBoxSink::Box&) {
        timerStoppedFirst = !sender.SendTimer().isActive();
        if (s.boxes.Boxes().size() > 4) return;  // boxes in boxes: enough seen
        sender.OnSendTimer();
        sender.Send();
    };
    sender.OnSendTimer();
    QCOMPARE(s.boxes.Texts().size(), size_t{panelBox ? 2u : 1u});
    QCOMPARE(s.LastBox(), QStringLiteral("数据帧错误，将停止自动发送"));
    QVERIFY(timerStoppedFirst && !sender.TimedSending() && !s.TimedSend()->isChecked());
    QVERIFY(s.SendEnabled());
    if (panelBox) return;
    // Send with nothing to send and timed sending off shows nothing.
    QTest::mouseClick(s.window->Control(IDC_SEND), Qt::LeftButton);
    QVERIFY(s.boxes.Texts().size() == 1 && !sender.ProgressRunning());
}

void MainWindowTest::sendsCloseTogetherMakeOneSweep() {
    Session s;
    SendScheduler& sender = s.window->Sender();
    QVERIFY(s.Open());
    const std::vector<uint8_t> frame{0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A};
    QTest::mouseClick(s.window->Control(IDC_SEND), Qt::LeftButton);
    QCOMPARE(s.pty.ReadMaster(8, 5s), frame);
    for (int i = 0; i < 5; ++i) sender.OnProgressTimer();  // 50 ms into the sweep
    QTest::mouseClick(s.window->Control(IDC_SEND), Qt::LeftButton);
    QCOMPARE(s.pty.ReadMaster(8, 5s), frame);
    int ticks = 5;
    for (; sender.ProgressRunning() && ticks < 100; ++ticks) sender.OnProgressTimer();
    QCOMPARE(ticks, SendScheduler::sweepSteps + 1);
    QCOMPARE(s.window->ControlAs<QProgressBar>(IDC_PROGRESS)->value(), 0);
}

void MainWindowTest::closing_data() {
    QTest::addColumn<int>("panel");    // 0: the main window
    QTest::addColumn<int>("control");  // the control the key goes to; 0: Exit clicked
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("interval");
    QTest::addColumn<bool>("closes");
    QTest::addColumn<QString>("box");

    const int modbus = IDD_MODBUS_PANEL, station = ModbusPanelIds::IDC_STATION;
    const int string = IDD_STRING_PANEL, text = StringPanelIds::IDC_SEND_TEXT;
    const int ret = Qt::Key_Return, esc = Qt::Key_Escape;
    // clang-format off
    QTest::newRow("ExitRefusesInterval5") << 0 << 0 << 0 << "5" << false << kRange;
    QTest::newRow("ExitAcceptsInterval1000") << 0 << 0 << 0 << "1000" << true << QString();
    QTest::newRow("ReturnInTheInterval") << 0 << int(IDC_INTERVAL) << ret << "1000" << true << QString();
    QTest::newRow("EscapeSkipsTheCheck") << 0 << int(IDC_INTERVAL) << esc << "5" << true << QString();
    QTest::newRow("ReturnInModbusPanel") << modbus << station << ret << "1000" << false << QString();
    QTest::newRow("EscapeInModbusPanel") << modbus << station << esc << "1000" << false << QString();
    QTest::newRow("ReturnInStringPanel") << string << text << ret << "1000" << false << QString();
    QTest::newRow("EscapeInStringPanel") << string << text << esc << "1000" << false << QString();
    // clang-format on
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
    if (panel == IDD_STRING_PANEL) s.UseStringPanel(true, QStringLiteral("01"));
    Dialog* target = &w;
    if (panel == IDD_STRING_PANEL) target = w.GetStringPanel();
    if (panel == IDD_MODBUS_PANEL) target = w.GetModbusPanel();
    if (control == 0)
        QTest::mouseClick(w.Control(IDOK), Qt::LeftButton);
    else
        QTest::keyClick(target->Control(control), Qt::Key(key));
    QCOMPARE(w.isVisible(), !closes);
    QCOMPARE(target->isVisible(), !closes);
    QCOMPARE(s.LastBox(), box);
}

void MainWindowTest::engineErrorBoxIsShownWhileTheWorkerWaits() {
    auto comm = std::make_unique<FakeComm>();
    FakeComm& fake = *comm;
    fake.SetErrorText(EIO, "Input/output error");
    Session s(std::move(comm));
    QVERIFY(s.Open(1));
    // Input queued before the worker's first event wait would be purged.
    QVERIFY(fake.WaitFor(
        [](const FakeComm& f) { return f.CallCount(FakeComm::Call::WaitForAny) > 0; }, 10s));

    bool onUiThread = false, workerWaiting = false;
    s.boxes.whileOpen = [&](const RecordingMessageBoxSink::Box&) {
        onUiThread = QThread::currentThread() == qApp->thread();
        workerWaiting = s.window->Port().IsWorkerRunning();
    };
    fake.FailOnce(FakeComm::Call::ReadByte, EIO);
    fake.QueueInput({0x41});
    QTRY_VERIFY_WITH_TIMEOUT(!s.boxes.Boxes().empty(), 5000);
    const RecordingMessageBoxSink::Box box = s.boxes.Boxes()[0];
    QCOMPARE(box.text, std::string("WARNING:  ReadFile() Failed with the following error: \n"
                                   "Input/output error\nPort: 1\n"));
    QCOMPARE(box.caption, std::string("Application Error"));
    QVERIFY(box.icon == MessageIcon::Error && onUiThread && workerWaiting);
    // The worker goes on once the box is closed.
    fake.QueueInput({0x42});
    QTRY_VERIFY_WITH_TIMEOUT(s.Pane().endsWith(QStringLiteral("  42")), 5000);
}

// A device that stops answering is closed while the engine's box reports it,
// and opened again as it was once it answers (here: at once).
void MainWindowTest::lostDeviceIsClosedAndOpenedAgainAsItWas() {
    auto comm = std::make_unique<FakeComm>();
    FakeComm& fake = *comm;
    Session s(std::move(comm));
    QVERIFY(s.Open(3, "2"));
    QVERIFY(fake.WaitFor(
        [](const FakeComm& f) { return f.CallCount(FakeComm::Call::WaitForAny) > 0; }, 10s));
    int openWhileReported = -1;
    s.boxes.whileOpen = [&](const RecordingMessageBoxSink::Box&) {
        openWhileReported = fake.OpenDeviceCount();
        fake.Heal(FakeComm::Call::ClearCommError);
    };
    fake.FailAlways(FakeComm::Call::ClearCommError, EIO);
    fake.QueueInput({0x41});
    QTRY_COMPARE_WITH_TIMEOUT(fake.BuildTexts().size(), size_t{2}, 5000);
    QCOMPARE(openWhileReported, 0);
    QCOMPARE(fake.BuildTexts()[1], "baud=9600 parity=N data=8 stop=2");
    QCOMPARE(fake.BuildTexts()[0], fake.BuildTexts()[1]);
}

void MainWindowTest::slaveReplyIsShownByteForByte_data() {
    QTest::addColumn<bool>("stringPanel");
    QTest::newRow("ModbusPanelRequest") << false;
    QTest::newRow("HexTextWithCalculatorCrc") << true;
}

void MainWindowTest::slaveReplyIsShownByteForByte() {
    QFETCH(bool, stringPanel);
    Session s;
    PtyLink cable;
    s.Link(5, cable.PathA());
    ModbusRtuSlave slave(cable.PathB(), 9600);
    MainWindow& w = *s.window;
    QVERIFY(s.Open(5));
    if (stringPanel) {
        // Typed by hand; the checksum calculator appends the CRC.
        s.UseStringPanel(true, QStringLiteral("01 03 00 00 00 01"));
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

    QVERIFY(slave.WaitForRequests(1, 5s));
    QCOMPARE(slave.LastRequest(), (std::vector<uint8_t>{0x01, 0x03, 0x00, 0x00, 0x00, 0x01}));
    // Holding register 0 holds 123: 01 03 02 00 7B and the CRC F8 67.
    const QString reply = QStringLiteral("   1   3   2   0  7b  f8  67");
    QTRY_COMPARE_WITH_TIMEOUT(s.Pane().size(), reply.size(), 5000);
    QCOMPARE(s.Pane(), reply);
    if (!stringPanel)
        QVERIFY(SaveDialogShot(w, ShotDirectory(TALVENOR_SOURCE_DIR), "MainWindow-102"));
}

void MainWindowTest::simulatorReplyInEachFraming_data() {
    QTest::addColumn<bool>("ascii");
    QTest::addColumn<QString>("exception");  // --exception's code; empty: none
    QTest::addColumn<QString>("reply");

    // Holding register 0 of station 1 holds 1000 while --period is 0.
    // clang-format off
    QTest::newRow("Rtu") << false << QString() << "   1   3   2   3  e8  b8  fa";
    QTest::newRow("Ascii") << true << QString()
        << "  3a  30  31  30  33  30  32  30  33  45  38  30  46   d   a";  // :01030203E80F
    QTest::newRow("RtuException") << false << "2" << "   1  83   2  c0  f1";
    QTest::newRow("AsciiException") << true << "2"
        << "  3a  30  31  38  33  30  32  37  41   d   a";  // :0183027A
    // clang-format on
}

void MainWindowTest::simulatorReplyInEachFraming() {
    QFETCH(bool, ascii);
    QFETCH(QString, exception);
    QFETCH(QString, reply);
    Session s;
    std::vector<std::string> args{"--com", "6",          "--period",
                                  "0",     "--port-dir", (s.root.path() + "/ports").toStdString()};
    if (!exception.isEmpty()) args.insert(args.end(), {"--exception", exception.toStdString()});
    SimProcess sim(args);
    QCOMPARE(sim.ComNumber(), 6);
    MainWindow& w = *s.window;
    QVERIFY(s.Open(6));
    QCOMPARE(w.windowTitle(), QStringLiteral("串口通讯-端口 6"));
    w.GetModbusPanel()
        ->ControlAs<QRadioButton>(ascii ? ModbusPanelIds::IDC_ASCII : ModbusPanelIds::IDC_RTU)
        ->click();
    QTest::mouseClick(w.Control(IDC_SEND), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(s.Pane().size(), reply.size(), 5000);
    QCOMPARE(s.Pane(), reply);
    QCOMPARE(s.LastBox(), QString());
}

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
