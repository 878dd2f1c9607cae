// The rules of sending: Send once, timed sending on timer 1000 and the
// progress sweep on timer 2000. Qt timers keep firing inside modal boxes, so
// Send is never entered again while it runs (a panel's box, the frame error
// box): a tick that finds it busy is passed over and boxes never stack up.
#pragma once

#include <QObject>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <string_view>

class SendScheduler : public QObject {
    Q_OBJECT
public:
    static constexpr int sendBufferSize = 500;
    static constexpr int sweepSteps = 10;  // the progress bar's range is 0 to sweepSteps
    static constexpr int sweepStepMs = 10;
    static constexpr std::string_view FrameErrorMessage = "数据帧错误，将停止自动发送";

    // Fills the buffer (sendBufferSize bytes) with the active panel's frame;
    // answers its length, 0 or less for no frame.
    using FrameBuilder = std::function<int32_t(uint8_t* buffer)>;
    // Hands the bytes to the line; false when nothing will be written.
    using FrameWriter = std::function<bool(const uint8_t* bytes, uint32_t length)>;

    SendScheduler(FrameBuilder build, FrameWriter write, QObject* parent = nullptr);

    // Button 1003 and every tick of timer 1000.
    void Send();

    // Starts timer 1000 (first send one period later), or stops it.
    void StartTimedSending(int intervalMs);
    void StopTimedSending();
    bool TimedSending() const { return timedSending; }

    bool ProgressRunning() const { return progressRunning; }
    int ProgressTicks() const { return progressTicks; }

    // The timers' actions; tests tick them by hand.
    void OnSendTimer() { Send(); }
    void OnProgressTimer();

    QTimer& SendTimer() { return sendTimer; }
    QTimer& ProgressTimer() { return progressTimer; }

signals:
    void timedSendingChanged(bool on);
    void progressChanged(int ticks);

private:
    FrameBuilder buildFrame;
    FrameWriter writeFrame;
    uint8_t sendBuffer[sendBufferSize] = {};
    QTimer sendTimer;
    QTimer progressTimer;
    bool sending = false;
    bool timedSending = false;
    bool progressRunning = false;
    int progressTicks = 0;
};
