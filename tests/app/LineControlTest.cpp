// The line control window and listen-only: a plain pty, the fake comm layer, a UART-like pty.
#include <QCheckBox>
#include <QLabel>
#include <QTest>

#include <cerrno>
#include <fstream>

#include "FakeComm.h"
#include "FakeUart.h"
#include "WindowSession.h"
#include "app/FramesWindow.h"
#include "app/LineControlWindow.h"
#include "app/SendScheduler.h"
#include "app/SessionRun.h"
#include "serial/SerialPort.h"
#include "serial/SystemError.h"
#include "trace/LineCapture.h"
#include "ui/GbkText.h"

using namespace std::chrono_literals;

namespace {

const bool preloaded = FakeUart::Preload(TALVENOR_FAKE_UART);

template <typename W = QWidget>
W* Find(const QWidget& window, const QString& name) {
    return window.findChild<W*>(name);
}

}  // namespace

class LineControlTest : public QObject {
    Q_OBJECT
private slots:
    void init() { unsetenv("FAKE_UART"); }
    void plainPtyShowsWhatItCannotDo();
    void listenOnlyRefusesEverySend();
    void lampsAndCountsFollowTheDevice();
    void rs485AsTheWindowSetItThenAsFoundAfterASignal();
    void latencyTimerAsTheDriverLeavesIt_data();
    void latencyTimerAsTheDriverLeavesIt();
};

// A pty has no modem lines, counters or RS-485: each says the device's refusal, without a box.
void LineControlTest::plainPtyShowsWhatItCannotDo() {
    Session s;
    QVERIFY(s.Open());
    LineControlWindow& window = s.window->ShowLineControl();
    const QString refusal = QString::fromStdString(SystemErrorText(ENOTTY));
    for (const char* name : {"RTS", "DTR", "CTS", "DSR", "DCD", "RI"}) {
        QWidget* item = Find(window, QString::fromLatin1(name));
        QVERIFY2(item && !item->isEnabled() && item->toolTip().contains(refusal), name);
        QCOMPARE(item->accessibleName(), QString::fromLatin1(name));
    }
    QVERIFY(Find<QLabel>(window, "counters")->toolTip().contains(refusal));
    QCOMPARE(Find<QLabel>(window, "rs485Note")->text(),
             FromUtf8(LineControlWindow::NoRs485Message).arg(refusal));
    for (QWidget* control : window.findChildren<QWidget*>())
        if (qobject_cast<QAbstractButton*>(control) || qobject_cast<QAbstractSpinBox*>(control))
            QVERIFY2(!control->accessibleName().isEmpty(), qPrintable(control->objectName()));
    QTest::qWait(2 * LineControlWindow::kRefreshMs);
    QVERIFY(s.boxes.Texts().empty());
}

// Listen-only: the send button, timed sending and the engine refuse; nothing reaches the wire.
void LineControlTest::listenOnlyRefusesEverySend() {
    Session s;
    QVERIFY(s.Open());
    s.UseStringPanel(true, "01 03");
    s.TimedSend()->click();  // running as the switch goes on: it stops
    Find<QCheckBox>(s.window->ShowLineControl(), "listenOnly")->click();
    QVERIFY(!s.window->Sender().TimedSending());
    QTest::mouseClick(s.window->Control(MainIds::IDC_SEND), Qt::LeftButton);
    QCOMPARE(s.LastBox(), FromUtf8(MainWindow::ListenOnlyMessage));
    QVERIFY(!s.LastBox().contains('\n'));
    s.TimedSend()->click();
    QVERIFY(!s.window->Sender().TimedSending() && !s.TimedSend()->isChecked());
    QCOMPARE(s.boxes.Texts().size(), size_t{2});
    const uint8_t byte = 1;
    QVERIFY(!s.window->Port().RequestWrite(&byte, 1));
    QVERIFY(s.pty.ReadMaster(1, 300ms).empty());
    QVERIFY(s.window->ShowFrames().LineStatusShown().contains(
        FromUtf8(LineControlWindow::ListenOnlyStatus)));
}

// The device raises CTS and DSR and counts damaged bytes: lamps, counts, the frames window.
void LineControlTest::lampsAndCountsFollowTheDevice() {
    auto owned = std::make_unique<FakeComm>();
    FakeComm* fake = owned.get();
    fake->SetModemLines(0);
    fake->SetLineCounters({});
    Session s(std::move(owned));
    QVERIFY(s.Open());
    LineControlWindow& window = s.window->ShowLineControl();
    QVERIFY(Find<QCheckBox>(window, "RTS")->isChecked());
    fake->SetModemLines(fake->ModemLines() | LINE_CTS | LINE_DSR);
    fake->SetLineCounters({.frame = 3, .parity = 2});
    QTRY_VERIFY(Find<QLabel>(window, "CTS")->property("lit").toBool());
    QVERIFY(Find<QLabel>(window, "DSR")->property("lit").toBool());
    QVERIFY(!Find<QLabel>(window, "RI")->property("lit").toBool());
    QVERIFY(Find<QLabel>(window, "counters")
                ->text()
                .startsWith(FromUtf8(LineControlWindow::CountersText).arg(3).arg(2).left(12)));
    QVERIFY(s.window->ShowFrames().LineStatusShown().contains(
        FromUtf8(LineControlWindow::LineErrorsStatus).arg(5)));
    // The switch shows what the device reports, not what was clicked.
    fake->FailOnce(FakeComm::Call::SetControlLine, EIO);
    Find<QCheckBox>(window, "DTR")->click();
    QVERIFY(Find<QCheckBox>(window, "DTR")->isChecked());
}

// RS-485 switched on in the window is read back; after SIGTERM the port's own mode is back.
void LineControlTest::rs485AsTheWindowSetItThenAsFoundAfterASignal() {
    QVERIFY(preloaded);
    setenv("FAKE_UART", "1", 1);
    Session s;
    const FakeUart uart;
    uart.forget(s.pty.SlavePath().c_str());
    const int original = uart.rs485Flags(s.pty.SlavePath().c_str());
    QVERIFY(s.Open());
    LineControlWindow& window = s.window->ShowLineControl();
    Find<QCheckBox>(window, FromUtf8(LineControlWindow::Rs485Text))->setChecked(true);
    Find<QAbstractButton>(window, FromUtf8(LineControlWindow::ApplyText))->click();
    QVERIFY(s.window->Port().GetRs485().settings.enabled);
    QVERIFY(!Find<QCheckBox>(window, "RTS")->isEnabled());  // the driver's now
    QVERIFY(uart.rs485Flags(s.pty.SlavePath().c_str()) != original);
    SessionRun run;
    QTimer::singleShot(0, [] { raise(SIGTERM); });
    QCOMPARE(run.Run(std::move(s.window), nullptr), 0);
    QCOMPARE(uart.rs485Flags(s.pty.SlavePath().c_str()), original);
}

void LineControlTest::latencyTimerAsTheDriverLeavesIt_data() {
    QTest::addColumn<bool>("lowersTimer");
    QTest::addColumn<QString>("shown");
    // FTDI's 16 ms goes to 1 ms in low-latency mode; another driver keeps its 8 ms.
    QTest::newRow("FTDI lowers it") << true << QString();
    QTest::newRow("kept at 8 ms") << false << FromUtf8(FramesWindow::TimingText).arg(8);
}

void LineControlTest::latencyTimerAsTheDriverLeavesIt() {
    QFETCH(bool, lowersTimer);
    QFETCH(QString, shown);
    QVERIFY(preloaded);
    setenv("FAKE_UART", "1", 1);
    Session s;
    FakeUart().forget(s.pty.SlavePath().c_str());
    const std::string pts = s.pty.SlavePath().substr(s.pty.SlavePath().rfind('/') + 1);
    const std::string device = (s.root.path() + "/ports/").toStdString() + pts + "/device";
    std::filesystem::create_directories(device);
    std::ofstream(device + "/latency_timer") << (lowersTimer ? "16\n" : "8\n");
    if (lowersTimer) setenv("FAKE_UART_LATENCY_FILE", (device + "/latency_timer").c_str(), 1);
    // COM4 pinned to the adapter's by-id name, as the README advises.
    const std::string byId =
        (s.root.path() + "/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0").toStdString();
    std::filesystem::create_symlink(s.pty.SlavePath(), byId);
    s.Link(4, byId);
    QVERIFY(s.Open(4));
    unsetenv("FAKE_UART_LATENCY_FILE");
    QCOMPARE(s.window->ShowFrames().TimingShown(), shown);
}

QTEST_MAIN(LineControlTest)
#include "LineControlTest.moc"
