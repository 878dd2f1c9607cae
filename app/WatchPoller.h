// The rule of the watch: polls its points on the open line as the master,
// one exchange at a time, and reads each exchange's outcome from the frames
// the line's record assembles (the reply paired with the request, or the
// record's "no reply"), never from bytes of its own. Writes go ahead of the
// next read. No widgets here; the watch window shows what this holds.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "protocol/PollPlan.h"

class FrameList;

class WatchPoller : public QObject {
    Q_OBJECT
public:
    enum class State : uint8_t {
        None, Good, NoReply, Exception, BadCheck, LineClosed, LineTaken, Listening
    };

    // UTF-8 texts of the states and of a refused write.
    static constexpr std::string_view GoodText = "正常";
    static constexpr std::string_view NoReplyText = "无应答";
    static constexpr std::string_view BadCheckText = "校验错误";
    static constexpr std::string_view LineClosedText = "线路未打开";
    static constexpr std::string_view LineTakenText = "定时发送占用线路";
    static constexpr std::string_view ListeningText = "只听模式：不轮询";
    static constexpr std::string_view NotWritableText = "该功能不可写";
    // %1 why.
    static constexpr std::string_view WriteFailedText = "写入失败：%1";

    // How often an exchange in flight looks at the record; how long it waits
    // beyond the record's own reply timeout before it gives up by itself.
    static constexpr int kWatchMs = 5;
    static constexpr int kGiveUpMs = 2000;

    struct PointState {
        State state = State::None;
        std::string exception;         // UTF-8, State::Exception
        std::vector<uint16_t> values;  // the last good values
        int64_t lastGoodMs = 0;        // wall clock, ms since the epoch; 0: never
        int64_t changedMs = 0;         // when the values last changed (steady clock)
        int64_t responseUs = -1;       // of the last reply, as the record timed it
        uint64_t polls = 0, good = 0;
    };

    struct Counters {
        uint64_t requests = 0, replies = 0, noReply = 0, exceptions = 0, badChecks = 0;
    };

    using Writer = std::function<bool(const uint8_t* bytes, uint32_t length)>;
    using Check = std::function<bool()>;

    // lineOpen: the line is open; lineTaken: another sender holds the line
    // (timed sending) and polling waits.
    WatchPoller(FrameList& list, Writer write, Check lineOpen, Check lineTaken,
                QObject* parent = nullptr);
    // A listen-only line: nothing is polled or written.
    void SetListening(Check listenOnly) { listening = std::move(listenOnly); }

    // The points from now on; those that stayed as they were keep their state.
    void SetPoints(std::vector<PollPoint> points);
    const std::vector<PollPoint>& Points() const { return points; }
    const PointState& StateOf(size_t point) const { return states.at(point); }
    const Counters& Totals() const { return totals; }

    void Start(int intervalMs);
    void Stop();
    bool Polling() const { return cycleTimer.isActive(); }
    // An exchange is on the line.
    bool Exchanging() const { return current.has_value(); }

    // Writes `values` to point `point`; the outcome comes as written(). False
    // (and `error` set, UTF-8) when it cannot be sent at all.
    bool Write(size_t point, std::vector<uint16_t> values, std::string& error);

    // The state as the table says it, UTF-8.
    static std::string StateText(const PointState& state);

    // The cycle's timer and the watch; tests tick them by hand.
    void OnCycle();
    void OnWatch();

signals:
    // Some points' states changed.
    void updated();
    // Every read of a cycle has its outcome.
    void cycleDone();
    // A write ended: `error` empty when the device took it (UTF-8 otherwise).
    void written(int point, const QString& error);

private:
    struct Exchange {
        std::vector<uint8_t> request;
        PollRead read;  // a read: what it covers
        int writePoint = -1;
        uint64_t generation = 0;
    };

    void SendNext();
    static QString Failed(std::string_view why);
    void Finish(const struct LineFrame* reply);
    void MarkAll(State state);

    FrameList& list;
    Writer write;
    Check lineOpen, lineTaken;
    Check listening = [] { return false; };
    std::vector<PollPoint> points;
    std::vector<PointState> states;
    uint64_t generation = 0;  // of the points; an exchange of older points is not read
    std::deque<Exchange> queue;
    std::optional<Exchange> current;
    bool cycleRunning = false;
    uint64_t scanFrom = 0;
    QElapsedTimer sentAt;
    QTimer cycleTimer, watchTimer;
    Counters totals;
};
