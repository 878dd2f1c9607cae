#include "app/SendScheduler.h"

#include <algorithm>
#include <utility>

#include "resources/ResourceIds.h"
#include "tools/MessageBox.h"

SendScheduler::SendScheduler(FrameBuilder build, FrameWriter write, QObject* parent)
    : QObject(parent), buildFrame(std::move(build)), writeFrame(std::move(write)) {
    // A coarse timer may be late by 5 % of its period on every tick; the
    // interval is what the user measures the device against.
    sendTimer.setTimerType(Qt::PreciseTimer);
    sendTimer.setObjectName(QStringLiteral("timer%1").arg(MainIds::IDT_TIMED_SEND));
    progressTimer.setInterval(sweepStepMs);
    progressTimer.setObjectName(QStringLiteral("timer%1").arg(MainIds::IDT_PROGRESS));
    connect(&sendTimer, &QTimer::timeout, this, &SendScheduler::OnSendTimer);
    connect(&progressTimer, &QTimer::timeout, this, &SendScheduler::OnProgressTimer);
}

void SendScheduler::Send() {
    if (sending) return;
    sending = true;
    struct Done {
        bool& flag;
        ~Done() { flag = false; }
    } done{sending};

    const int32_t length = std::min<int32_t>(buildFrame(sendBuffer), sendBufferSize);
    if (length > 0) {
        // The sweep shows that bytes went to the line; a refused write has
        // been reported by the engine and shows none.
        if (writeFrame(sendBuffer, static_cast<uint32_t>(length)) && !progressRunning) {
            progressRunning = true;
            progressTimer.start();
        }
        return;
    }
    if (timedSending) {
        // Stopped before the box, so no tick arrives while it is open.
        StopTimedSending();
        ShowMessageBox(FrameErrorMessage);
    }
}

void SendScheduler::StartTimedSending(int intervalMs) {
    sendTimer.start(intervalMs);
    if (!timedSending) {
        timedSending = true;
        emit timedSendingChanged(true);
    }
}

void SendScheduler::StopTimedSending() {
    sendTimer.stop();
    if (timedSending) {
        timedSending = false;
        emit timedSendingChanged(false);
    }
}

void SendScheduler::OnProgressTimer() {
    ++progressTicks;
    if (progressTicks > sweepSteps) {
        progressTimer.stop();
        progressTicks = 0;
        progressRunning = false;
    }
    emit progressChanged(progressTicks);
}
