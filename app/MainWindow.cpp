#include "app/MainWindow.h"

#include <QCheckBox>
#include <QContextMenuEvent>
#include <QMenu>
#include <QProgressBar>
#include <QScreen>
#include <QShortcut>
#include <chrono>
#include <utility>

#include "app/AboutDialog.h"
#include "app/FramesWindow.h"
#include "app/LineControlWindow.h"
#include "app/ModbusPanel.h"
#include "app/OpenArguments.h"
#include "app/PortSettingsDialog.h"
#include "app/ReceiveEdit.h"
#include "app/ReconnectWatcher.h"
#include "app/SendScheduler.h"
#include "app/SerialOwnerBridge.h"
#include "app/StringPanel.h"
#include "app/WatchWindow.h"
#include "serial/DeviceAccess.h"
#include "serial/SerialPort.h"
#include "serial/SystemError.h"
#include "tools/MessageBox.h"
#include "tools/ReceiveText.h"
#include "trace/FrameList.h"
#include "trace/LineCapture.h"
#include "trace/LineRecord.h"
#include "ui/GbkText.h"
#include "ui/ResourceLoader.h"

using namespace MainIds;

namespace {

constexpr std::string_view kOpenCaption = "串口通讯-端口";
constexpr std::string_view kFailedCaption = "串口通讯";

// Port numbers a notification may carry; anything else is not ours.
constexpr int32_t kFirstPort = 1;
constexpr int32_t kLastPort = 50;

bool IsWithin(const QWidget* widget, const QWidget* ancestor) {
    return widget && ancestor && (widget == ancestor || ancestor->isAncestorOf(widget));
}

}  // namespace

const CommandEntry<MainWindow> MainWindow::commandTable[] = {
    {IDC_SETTINGS, Notification::Clicked, &MainWindow::OnSettings},
    {IDC_STRING_MODE, Notification::Clicked, &MainWindow::OnStringMode},
    {IDC_MODBUS_MODE, Notification::Clicked, &MainWindow::OnModbusMode},
    {IDC_SEND, Notification::Clicked, &MainWindow::OnSend},
    {IDC_CLEAR, Notification::Clicked, &MainWindow::OnClear},
    {IDC_MONITOR_TIME, Notification::Clicked, &MainWindow::OnMonitorTime},
    {IDC_PAUSE, Notification::Clicked, &MainWindow::OnPause},
    {IDC_TIMED_SEND, Notification::Clicked, &MainWindow::OnTimedSend},
};

uint32_t MainWindow::SystemTickCount() {
    using namespace std::chrono;
    return static_cast<uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

MainWindow::MainWindow(std::unique_ptr<CommLayer> comm, ComNames names, TickClock clock)
    : Dialog(IDD_MAIN),
      comNames(std::move(names)),
      tickCount(std::move(clock)),
      receivePane(new ReceiveEdit(this)),
      sender(new SendScheduler([this](uint8_t* buffer) { return BuildFrame(buffer); },
                               [this](const uint8_t* bytes, uint32_t length) {
                                   // A tick that meets a poll's exchange passes its turn.
                                   if (sender->TimedSending() && watchWindow &&
                                       watchWindow->Poller().Exchanging())
                                       return false;
                                   return record->Port().RequestWrite(bytes, length);
                               },
                               this)),
      bridge(
          new SerialOwnerBridge([this](uint32_t message, uint32_t wParam,
                                       int32_t lParam) { OnNotification(message, wParam, lParam); },
                                this)),
      record(std::make_unique<LineRecord>(std::move(comm))) {
    SetCommandTable(commandTable);
    SubclassControl(IDC_RECEIVE, receivePane);
    BindCheck(IDC_MONITOR_TIME, monitorReceiveTime);
    BindInt(IDC_INTERVAL, sendIntervalMs, 10, 10000);
    BindRadio(IDC_STRING_MODE, sendMode);
    bridge->SetPort(&record->Port());
    reconnect = new ReconnectWatcher(
        comNames, [this] { return ReopenLine(); }, this);
    connect(bridge, &SerialOwnerBridge::deviceLost, this, &MainWindow::OnLineLost);
    connect(bridge, &SerialOwnerBridge::lossReportClosed, reconnect,
            &ReconnectWatcher::ReportClosed);
    connect(reconnect, &ReconnectWatcher::waitingChanged, this, [this](const QString& text) {
        setWindowTitle(OpenCaption() + QStringLiteral(" (") + text + QLatin1Char(')'));
    });
    connect(sender, &SendScheduler::timedSendingChanged, this, &MainWindow::ShowTimedSending);
    connect(sender, &SendScheduler::progressChanged, this, &MainWindow::ShowProgress);
    auto* framesKey = new QShortcut(QKeySequence(QString::fromLatin1(FramesKey)), this);
    connect(framesKey, &QShortcut::activated, this, [this] { ShowFrames(); });
    auto* lineKey = new QShortcut(QKeySequence(QString::fromLatin1(LineControlKey)), this);
    connect(lineKey, &QShortcut::activated, this, [this] { ShowLineControl(); });
    auto* watchKey = new QShortcut(QKeySequence(QString::fromLatin1(WatchKey)), this);
    connect(watchKey, &QShortcut::activated, this, [this] { ShowWatch(); });
}

MainWindow::~MainWindow() {
    reconnect->Forget();
    // Waits for a failure being reported: none is posted to this window after.
    if (capture) capture->OnFailure(nullptr);
    // The worker is stopped here, while the pane and the handlers it
    // delivers into still exist; nothing arrives after this line. What the
    // trace still holds reaches the capture and the list; the frames window
    // goes before the list it shows.
    bridge->SetPort(nullptr);
    delete lineControl;  // ends a break it holds, while the line is still open
    delete watchWindow;
    record.reset();
    delete framesWindow;
}

void MainWindow::SetCapture(LineCapture* lineCapture) {
    if (capture) capture->OnFailure(nullptr);
    capture = lineCapture;
    if (!capture) return;
    StartTrace();
    // The writer thread fails; the box is shown on this thread, once.
    capture->OnFailure([this, path = QString::fromLocal8Bit(capture->Path())](int error) {
        const QString text = FromUtf8(CaptureFailedMessage)
                                 .arg(path, QString::fromStdString(SystemErrorText(error)));
        QMetaObject::invokeMethod(
            this, [text] { ShowMessageBox(text.toStdString()); }, Qt::QueuedConnection);
    });
}

SerialPort& MainWindow::Port() const { return record->Port(); }

void MainWindow::StartTrace() {
    if (record->Recording()) return;
    frameList = std::make_unique<FrameList>();
    record->Record({frameList.get(), capture});
}

FramesWindow& MainWindow::ShowFrames() {
    StartTrace();
    if (!framesWindow) {
        framesWindow = new FramesWindow(*frameList, this);
        framesWindow->SetLineStatus([this] { return LineControlWindow::StatusText(Port()); });
        connect(framesWindow, &FramesWindow::lineControlAsked, this, [this] { ShowLineControl(); });
    }
    framesWindow->SetAdapterLatency(adapterLatencyMs);
    framesWindow->Open();
    return *framesWindow;
}

LineControlWindow& MainWindow::ShowLineControl() {
    if (!lineControl) {
        lineControl = new LineControlWindow(Port(), this);
        // Timed sending would go on ticking with every write refused.
        connect(lineControl, &LineControlWindow::listenOnlyChanged, this, [this](bool on) {
            if (on) sender->StopTimedSending();
        });
    }
    lineControl->Open();
    return *lineControl;
}

void MainWindow::SetListenOnly(bool on) {
    Port().SetListenOnly(on);
    if (on) sender->StopTimedSending();
}

// A listener's send refuses in one line; the engine would refuse it too.
bool MainWindow::RefusedListening() {
    if (!Port().ListenOnly()) return false;
    ShowMessageBox(ListenOnlyMessage);
    return true;
}

// Polls as the master on the open line; while timed sending runs the line is
// its, and polling waits.
WatchWindow& MainWindow::ShowWatch() {
    StartTrace();
    if (!watchWindow)
        watchWindow = new WatchWindow(
            *frameList,
            [this](const uint8_t* bytes, uint32_t length) {
                return record->Port().RequestWrite(bytes, length);
            },
            [this] { return record->Port().IsWorkerRunning() && !record->Port().DeviceLost(); },
            [this] { return sender->TimedSending(); }, this);
    watchWindow->Poller().SetListening([this] { return Port().ListenOnly(); });
    watchWindow->Open();
    return *watchWindow;
}

bool MainWindow::OnInitDialog() {
    Dialog::OnInitDialog();
    setWindowIcon(LoadApplicationIcon());
    ShowPanel(sendMode);
    auto* progress = ControlAs<QProgressBar>(IDC_PROGRESS);
    progress->setRange(0, SendScheduler::sweepSteps);
    progress->setValue(0);
    if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
    return true;
}

// ---- Panels

void MainWindow::OnStringMode() { ShowPanel(0); }

void MainWindow::OnModbusMode() { ShowPanel(1); }

void MainWindow::ShowPanel(int mode) {
    sendMode = mode;
    // Child widgets over the hidden panel area: they move with the window.
    const QRect area = Control(IDC_PANEL_AREA)->geometry();
    Dialog* chosen = mode == 0 ? static_cast<Dialog*>(stringPanel) : modbusPanel;
    if (!chosen) {
        if (mode == 0)
            chosen = stringPanel = new StringPanel(this);
        else
            chosen = modbusPanel = new ModbusPanel(this);
        chosen->setFixedSize(area.size());
        chosen->move(area.topLeft());
    }
    chosen->show();
    chosen->raise();
    Dialog* other = mode == 0 ? static_cast<Dialog*>(modbusPanel) : stringPanel;
    if (other) other->hide();
}

// ---- Opening the line

void MainWindow::OnSettings() {
    const SerialPort& port = record->Port();
    PortSettingsDialog dialog(this, port.GetLineSettings(), currentPort);
    dialog.comNames = comNames;
    dialog.sendBufferText = std::to_string(port.GetBufferSize());
    dialog.SetEventFlags(port.GetEventMask() | EV_RXCHAR);
    if (dialog.DoModal() != IDOK) return;

    // Whatever the user chose, a line that was lost is not waited for any more.
    reconnect->Forget();
    resumeIntervalMs = 0;
    const OpenArguments open =
        OpenArgumentsFromTexts({dialog.portText, dialog.baudText, dialog.parityText,
                                dialog.dataBitsText, dialog.stopBitsText, dialog.sendBufferText});
    currentPort = open.portNumber;
    if (OpenLine(open)) {
        SetItemText(IDC_PAUSE, FromUtf8(ReceivingText));
        receiving = true;
        reconnect->Opened(currentPort);
        return;
    }
    setWindowTitle(FromUtf8(kFailedCaption));
    // Timed sending would go on with its check box disabled: nothing could
    // stop it, and no tick arrives while the box is open.
    sender->StopTimedSending();
    EnableSending(false);
    ShowMessageBox(OpenFailedMessage);
}

bool MainWindow::OpenLine(const OpenArguments& open) {
    if (!record->Open(bridge, open.portNumber, open.baudRate, open.parityLetter, open.dataBits,
                      open.stopBits, open.eventMask, open.writeBufferSize))
        return false;
    lineArguments = open;
    lastReceiveTick = 0;
    // Read once the line is open: the engine has asked for low latency.
    adapterLatencyMs = AdapterLatencyMs(comNames.PathForPort(open.portNumber),
                                        comNames.GetPlaces().ttyClassDirectory);
    if (framesWindow) framesWindow->SetAdapterLatency(adapterLatencyMs);
    EnableSending(true);
    setWindowTitle(OpenCaption());
    return true;
}

QString MainWindow::OpenCaption() const {
    return FromUtf8(kOpenCaption) + QString::asprintf("%2d", currentPort);
}

void MainWindow::OnLineLost(const std::string& report) {
    if (!reconnect->Lost(report)) return;
    record->Note(FrameKind::LineLost);
    if (!sender->TimedSending()) return;
    // Its ticks would only be refused until the line is back; it goes on then.
    resumeIntervalMs = sender->SendTimer().interval();
    sender->StopTimedSending();
}

// Receiving stays paused or running as the user left it.
bool MainWindow::ReopenLine() {
    if (!OpenLine(lineArguments)) return false;
    record->Note(FrameKind::LineBack);
    if (resumeIntervalMs > 0 && !sender->TimedSending())
        sender->StartTimedSending(resumeIntervalMs);
    resumeIntervalMs = 0;
    return true;
}

void MainWindow::done(int result) {
    reconnect->Forget();
    Dialog::done(result);
}

void MainWindow::EnableSending(bool enable) {
    EnableItem(IDC_SEND, enable);
    EnableItem(IDC_TIMED_SEND, enable);
}

// ---- Receiving

void MainWindow::OnNotification(uint32_t message, uint32_t wParam, int32_t lParam) {
    if (message == SPN_RXCHAR) OnReceiveChar(static_cast<uint8_t>(wParam), lParam);
}

void MainWindow::OnReceiveChar(uint8_t byte, int32_t portNumber) {
    if (portNumber < kFirstPort || portNumber > kLastPort || !receiving) return;
    std::string piece = FormatReceivedByte(byte);
    if (monitorReceiveTime) {
        // Unsigned arithmetic: the difference is right across a wrap of the count.
        const uint32_t now = tickCount();
        if (lastReceiveTick == 0) lastReceiveTick = now;
        piece += FormatReceiveStamp(now - lastReceiveTick);
        lastReceiveTick = now;
    }
    receivePane->AppendText(piece);
}

void MainWindow::OnClear() {
    receivePane->SetText({});
    lastReceiveTick = 0;
}

void MainWindow::OnPause() {
    if (receiving) {
        SetItemText(IDC_PAUSE, FromUtf8(PausedText));
        lastReceiveTick = 0;
        receiving = false;
    } else {
        SetItemText(IDC_PAUSE, FromUtf8(ReceivingText));
        receiving = true;
    }
}

void MainWindow::OnMonitorTime() {
    monitorReceiveTime = monitorReceiveTime ? 0 : 1;
    if (!monitorReceiveTime) receivePane->RemoveStamps();
}

// ---- Sending

void MainWindow::OnSend() {
    if (!RefusedListening()) sender->Send();
}

int32_t MainWindow::BuildFrame(uint8_t* buffer) {
    if (sendMode == 0) return stringPanel ? stringPanel->BuildFrame(buffer) : 0;
    return modbusPanel ? modbusPanel->BuildFrame(buffer) : 0;
}

void MainWindow::OnTimedSend() {
    if (sender->TimedSending()) {
        sender->StopTimedSending();
        return;
    }
    if (RefusedListening()) {
        ControlAs<QCheckBox>(IDC_TIMED_SEND)->setChecked(false);
        return;
    }
    // The interval edit holds no number from 10 to 10000: the exchange has
    // said so, and timed sending stays off.
    if (!UpdateData(true)) {
        ControlAs<QCheckBox>(IDC_TIMED_SEND)->setChecked(false);
        return;
    }
    sender->StartTimedSending(sendIntervalMs);
}

void MainWindow::ShowTimedSending(bool on) {
    ControlAs<QCheckBox>(IDC_TIMED_SEND)->setChecked(on);
    EnableItem(IDC_SEND, !on);
}

void MainWindow::ShowProgress(int ticks) { ControlAs<QProgressBar>(IDC_PROGRESS)->setValue(ticks); }

// ---- Window menu

void MainWindow::contextMenuEvent(QContextMenuEvent* event) {
    const QWidget* target = childAt(event->pos());
    if (IsWithin(target, receivePane) || IsWithin(target, stringPanel) ||
        IsWithin(target, modbusPanel))
        return;
    const std::string_view aboutText = LoadResourceString(IDS_ABOUTBOX);
    if (aboutText.empty()) return;
    QMenu menu(this);
    QAction* frames = menu.addAction(FromUtf8(FramesMenuText));
    frames->setData(IDM_FRAMES);
    frames->setShortcut(QKeySequence(QString::fromLatin1(FramesKey)));
    QAction* line = menu.addAction(FromUtf8(LineControlMenuText));
    line->setData(IDM_LINE_CONTROL);
    line->setShortcut(QKeySequence(QString::fromLatin1(LineControlKey)));
    QAction* watch = menu.addAction(FromUtf8(WatchMenuText));
    watch->setData(IDM_WATCH);
    watch->setShortcut(QKeySequence(QString::fromLatin1(WatchKey)));
    menu.addAction(FromUtf8(aboutText))->setData(IDM_ABOUTBOX);
    if (const QAction* chosen = menu.exec(event->globalPos())) OnSysCommand(chosen->data().toInt());
}

void MainWindow::OnSysCommand(int command) {
    if ((command & 0xFFF0) == IDM_FRAMES) {
        ShowFrames();
        return;
    }
    if ((command & 0xFFF0) == IDM_LINE_CONTROL) {
        ShowLineControl();
        return;
    }
    if ((command & 0xFFF0) == IDM_WATCH) {
        ShowWatch();
        return;
    }
    if ((command & 0xFFF0) != IDM_ABOUTBOX) return;
    AboutDialog about(this);
    about.DoModal();
}
