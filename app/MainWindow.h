// The main window (dialog 102): the receive pane, the two send panels over
// the panel area, and the buttons. A thin router: each handler reads its
// controls and hands over to the piece that holds the rule: OpenArguments
// for the settings dialog's texts, SendScheduler for sending, timed sending
// and the sweep, SerialOwnerBridge for the engine's notifications.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "app/OpenArguments.h"
#include "serial/ComNames.h"
#include "serial/CommLayer.h"
#include "ui/Dialog.h"

class FrameList;
class FramesWindow;
class LineCapture;
class LineControlWindow;
class LineRecord;
class ModbusPanel;
class ReceiveEdit;
class ReconnectWatcher;
class SendScheduler;
class SerialOwnerBridge;
class SerialPort;
class StringPanel;
class WatchWindow;

class MainWindow : public Dialog {
    Q_OBJECT
public:
    // The millisecond tick count, unsigned and wrapping; replaceable for tests.
    using TickClock = std::function<uint32_t()>;
    static uint32_t SystemTickCount();

    static constexpr std::string_view OpenFailedMessage = "初始化端口失败!\n再试试!";
    static constexpr std::string_view PausedText = "已暂停接收";
    static constexpr std::string_view ReceivingText = "正在接收";
    // %1 the capture file, %2 the system's reason.
    static constexpr std::string_view CaptureFailedMessage =
        "写入捕获文件失败!\n文件: %1\n原因: %2\n已停止捕获。之前的记录仍在文件中。";

    // comm: the comm layer the engine opens ports through; comNames: where
    // the settings dialog says a port number leads.
    explicit MainWindow(std::unique_ptr<CommLayer> comm = nullptr, ComNames comNames = {},
                        TickClock clock = SystemTickCount);
    ~MainWindow() override;

    // Bound to the controls, in this order.
    int monitorReceiveTime = 0;  // check box 1005
    int sendIntervalMs = 1000;   // edit 1022, 10 to 10000
    int sendMode = 1;            // radio 1011/1012: 0 string panel, 1 Modbus panel

    int currentPort = 1;
    uint32_t lastReceiveTick = 0;  // 0: no time base
    bool receiving = false;

    // Records the line's frames into `capture` from the next open on, across
    // reopens; a write that fails is shown once. Once, before the first open.
    void SetCapture(LineCapture* capture);
    // The frames window, opened (from the window menu, or Ctrl+F).
    FramesWindow& ShowFrames();
    static constexpr std::string_view FramesMenuText = "Modbus 帧列表(&F)...";
    static constexpr std::string_view FramesKey = "Ctrl+F";
    // The watch window, opened (from the window menu, or Ctrl+M).
    WatchWindow& ShowWatch();
    static constexpr std::string_view WatchMenuText = "寄存器监视(&W)...";
    static constexpr std::string_view WatchKey = "Ctrl+M";

    // The line control window (window menu, Ctrl+L, or the frames window).
    LineControlWindow& ShowLineControl();
    static constexpr std::string_view LineControlMenuText = "线路控制(&L)...";
    static constexpr std::string_view LineControlKey = "Ctrl+L";
    // A listen-only line never writes: each send refuses with this line.
    void SetListenOnly(bool on);
    static constexpr std::string_view ListenOnlyMessage = "只听模式：本程序不向线路发送。";

    // A notification of the engine (SPN_RXCHAR is the one handled).
    void OnNotification(uint32_t message, uint32_t wParam, int32_t lParam);
    // The window menu's commands: the About entry.
    void OnSysCommand(int command);

    ReceiveEdit& ReceivePane() const { return *receivePane; }
    StringPanel* GetStringPanel() const { return stringPanel; }
    ModbusPanel* GetModbusPanel() const { return modbusPanel; }
    SendScheduler& Sender() const { return *sender; }
    SerialPort& Port() const;
    ReconnectWatcher& Reconnect() const { return *reconnect; }

    // Closing the window ends a wait for a lost line's device.
    void done(int result) override;

protected:
    bool OnInitDialog() override;
    // A right click outside the pane and the panels: the window menu with the
    // About entry (the window manager owns the title bar's menu).
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void OnSettings();
    void OnStringMode();
    void OnModbusMode();
    void OnSend();
    void OnClear();
    void OnMonitorTime();
    void OnPause();
    void OnTimedSend();

    void ShowPanel(int mode);
    int32_t BuildFrame(uint8_t* buffer);
    void OnReceiveChar(uint8_t byte, int32_t portNumber);
    void EnableSending(bool enable);
    void ShowTimedSending(bool on);
    void ShowProgress(int ticks);

    // Opens the line with `open` and shows it open; false when it did not open.
    bool OpenLine(const OpenArguments& open);
    QString OpenCaption() const;
    // A lost line: waited for, and opened again as it was once its device is back.
    void OnLineLost(const std::string& report);
    bool ReopenLine();

    ComNames comNames;
    TickClock tickCount;
    ReceiveEdit* receivePane;
    StringPanel* stringPanel = nullptr;
    ModbusPanel* modbusPanel = nullptr;
    SendScheduler* sender;
    SerialOwnerBridge* bridge;
    ReconnectWatcher* reconnect = nullptr;
    OpenArguments lineArguments;  // of the line opened last
    int resumeIntervalMs = 0;     // timed sending's, when it ran as the line was lost
    LineCapture* capture = nullptr;
    // The line's trace runs once the capture or the frames window wants it.
    std::unique_ptr<FrameList> frameList;
    FramesWindow* framesWindow = nullptr;
    LineControlWindow* lineControl = nullptr;
    bool RefusedListening();
    WatchWindow* watchWindow = nullptr;
    int adapterLatencyMs = -1;  // of the line open last; -1: it has no latency timer
    void StartTrace();
    // Declared last and reset first: its worker delivers into everything above.
    std::unique_ptr<LineRecord> record;

    static const CommandEntry<MainWindow> commandTable[];
};
