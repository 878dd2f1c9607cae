// The line control window: RTS and DTR as switches showing the levels read
// back from the device, the CTS, DSR, DCD and RI lamps, a break of a chosen
// length, the driver's error counts since the open, the kernel's RS-485 mode
// and listen-only. Modeless; the rules live in the engine. What the device
// cannot do shows as not available, with its refusal in the tooltip.
// Hidden, it asks the device nothing.
#pragma once

#include <QWidget>

#include <string_view>

class QCheckBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QTimer;
class SerialPort;

class LineControlWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr std::string_view Caption = "线路控制";
    static constexpr std::string_view ListenOnlyText = "只听（不发送，不驱动总线）";
    static constexpr std::string_view BreakText = "发送 Break";
    static constexpr std::string_view BreakLengthText = "Break 时长";
    // %1 framing, %2 parity, %3 UART overruns, %4 buffer overruns, %5 breaks.
    static constexpr std::string_view CountersText =
        "帧错误 %1    校验错误 %2    溢出 %3    缓冲区溢出 %4    Break %5";
    static constexpr std::string_view NotAvailableText = "不可用";
    static constexpr std::string_view Rs485Text = "内核 RS-485 模式";
    static constexpr std::string_view RtsOnSendText = "发送时 RTS 为高";
    static constexpr std::string_view RtsAfterSendText = "发送后 RTS 为高";
    static constexpr std::string_view ReceiveDuringSendText = "发送时也接收";
    static constexpr std::string_view DelayBeforeText = "发送前延时 (ms)";
    static constexpr std::string_view DelayAfterText = "发送后延时 (ms)";
    static constexpr std::string_view ApplyText = "应用";
    static constexpr std::string_view NoRs485Message =
        "此设备没有内核 RS-485 模式（%1）：这类适配器自己切换收发方向。";
    static constexpr std::string_view Rs485RefusedMessage = "设备拒绝了 RS-485 设置：%1";
    static constexpr std::string_view Rs485DriverOwnsRts = "RS-485 模式开启时 RTS 由驱动控制";
    // In the frames window: %1 the line errors since the open.
    static constexpr std::string_view ListenOnlyStatus = "只听";
    static constexpr std::string_view LineErrorsStatus = "线路错误 %1";
    static constexpr int kRefreshMs = 50;

    LineControlWindow(SerialPort& port, QWidget* owner);
    ~LineControlWindow() override;

    void Open();
    // Reads the device now; the timer does this while the window shows.
    void Refresh();

    // For the frames window: "只听" when listening, and the line errors.
    static QString StatusText(SerialPort& port);

signals:
    // The switch was clicked; the port has taken it already.
    void listenOnlyChanged(bool on);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void SetLine(uint8_t line, bool on);
    void StartBreak();
    void EndBreak();
    void ApplyRs485();
    void ShowRs485();
    // Greys `widget` out with the device's refusal as its tooltip, or
    // enables it again (error 0) with `tip`.
    static void ShowAvailable(QWidget* widget, int error, const QString& tip = {});

    SerialPort& port;
    QCheckBox* listenOnly;
    QCheckBox* rts;
    QCheckBox* dtr;
    QLabel* lamps[4];
    QSpinBox* breakLength;
    QPushButton* breakButton;
    QTimer* breakTimer;
    QLabel* counters;
    QCheckBox* rs485;
    QCheckBox* rtsOnSend;
    QCheckBox* rtsAfterSend;
    QCheckBox* receiveDuringSend;
    QSpinBox* delayBefore;
    QSpinBox* delayAfter;
    QPushButton* apply;
    QLabel* rs485Note;
    QTimer* refresh;
    bool breakOn = false;
};
