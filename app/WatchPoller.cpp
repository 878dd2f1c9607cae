#include "app/WatchPoller.h"

#include <QDateTime>
#include <algorithm>
#include <chrono>

#include "protocol/ModbusFrameText.h"
#include "trace/FrameList.h"

namespace {

int64_t SteadyMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool SamePoint(const PollPoint& a, const PollPoint& b) {
    return a.station == b.station && a.function == b.function && a.address == b.address &&
           a.count == b.count;
}

}  // namespace

WatchPoller::WatchPoller(FrameList& frames, Writer writer, Check open, Check taken, QObject* parent)
    : QObject(parent),
      list(frames),
      write(std::move(writer)),
      lineOpen(std::move(open)),
      lineTaken(std::move(taken)) {
    cycleTimer.setTimerType(Qt::PreciseTimer);
    watchTimer.setInterval(kWatchMs);
    connect(&cycleTimer, &QTimer::timeout, this, &WatchPoller::OnCycle);
    connect(&watchTimer, &QTimer::timeout, this, &WatchPoller::OnWatch);
}

void WatchPoller::SetPoints(std::vector<PollPoint> newPoints) {
    std::vector<PointState> kept(newPoints.size());
    for (size_t i = 0; i < newPoints.size() && i < points.size(); ++i)
        if (SamePoint(newPoints[i], points[i])) kept[i] = std::move(states[i]);
    points = std::move(newPoints);
    states = std::move(kept);
    ++generation;
    // Reads planned for the old points are not sent; the one in flight ends
    // on its own and is not read into the new ones.
    std::erase_if(queue, [](const Exchange& exchange) { return exchange.writePoint < 0; });
}

void WatchPoller::Start(int intervalMs) {
    cycleTimer.start(std::max(intervalMs, 10));
    OnCycle();
}

void WatchPoller::Stop() {
    cycleTimer.stop();
    std::erase_if(queue, [](const Exchange& exchange) { return exchange.writePoint < 0; });
    cycleRunning = false;
}

void WatchPoller::MarkAll(State state) {
    bool changed = false;
    for (PointState& point : states) {
        if (point.state == state) continue;
        point.state = state;
        changed = true;
    }
    if (changed) emit updated();
}

void WatchPoller::OnCycle() {
    // A cycle still running when the next is due: that one is passed over.
    if (current || !queue.empty()) return;
    if (!lineOpen()) return MarkAll(State::LineClosed);
    if (listening()) return MarkAll(State::Listening);
    if (lineTaken()) return MarkAll(State::LineTaken);
    for (PollRead& read : PollPlan::PlanReads(points))
        queue.push_back({PollPlan::ReadRequest(read), std::move(read), -1, generation});
    cycleRunning = true;
    SendNext();
}

bool WatchPoller::Write(size_t point, std::vector<uint16_t> values, std::string& error) {
    if (point >= points.size()) return false;
    std::vector<uint8_t> request = PollPlan::WriteRequest(points[point], values);
    if (request.empty()) {
        error = NotWritableText;
        return false;
    }
    if (!lineOpen() || listening() || lineTaken()) {
        error = !lineOpen() ? LineClosedText : listening() ? ListeningText : LineTakenText;
        return false;
    }
    // Ahead of the reads still to go, after the exchange on the line.
    const auto firstRead = std::find_if(queue.begin(), queue.end(), [](const Exchange& exchange) {
        return exchange.writePoint < 0;
    });
    queue.insert(firstRead, {std::move(request), {}, static_cast<int>(point), generation});
    if (!current) SendNext();
    return true;
}

void WatchPoller::SendNext() {
    while (!current && !queue.empty()) {
        Exchange next = std::move(queue.front());
        queue.pop_front();
        // The line closed, or timed sending took it, since this was queued.
        std::string_view refusal = !lineOpen()   ? LineClosedText
                                   : listening() ? ListeningText
                                   : lineTaken() ? LineTakenText
                                                 : std::string_view();
        scanFrom = list.Next();
        if (refusal.empty() &&
            write(next.request.data(), static_cast<uint32_t>(next.request.size()))) {
            ++totals.requests;
            current = std::move(next);
            sentAt.start();
            watchTimer.start();
            break;
        }
        if (refusal.empty()) refusal = LineClosedText;
        if (next.writePoint >= 0 && next.generation == generation)
            emit written(next.writePoint, Failed(refusal));
    }
    if (!current && queue.empty() && cycleRunning) {
        cycleRunning = false;
        emit cycleDone();
    }
}

QString WatchPoller::Failed(std::string_view why) {
    return QString::fromUtf8(WriteFailedText.data(), static_cast<qsizetype>(WriteFailedText.size()))
        .arg(QString::fromUtf8(why.data(), static_cast<qsizetype>(why.size())));
}

void WatchPoller::OnWatch() {
    if (!current) {
        watchTimer.stop();
        return;
    }
    LineFrame frame;
    const uint64_t next = list.Next();
    for (uint64_t number = std::max(scanFrom, list.First()); number < next; ++number) {
        if (!list.Frame(number, frame)) continue;
        scanFrom = number + 1;
        const bool ours = frame.request == current->request;
        if ((frame.role == FrameRole::Reply && ours) || (frame.kind == FrameKind::NoReply && ours))
            return Finish(&frame);
        if (frame.kind == FrameKind::LineLost) return Finish(nullptr);
    }
    if (sentAt.elapsed() > kGiveUpMs) Finish(nullptr);
}

void WatchPoller::Finish(const LineFrame* reply) {
    watchTimer.stop();
    Exchange exchange = std::move(*current);
    current.reset();
    PollPlan::Answer answer;
    State state = State::NoReply;
    if (reply && reply->kind != FrameKind::NoReply) {
        answer = PollPlan::ReadAnswer(exchange.request, reply->bytes, reply->checkGood);
        state = answer.outcome == PollPlan::Outcome::Good        ? State::Good
                : answer.outcome == PollPlan::Outcome::Exception ? State::Exception
                                                                 : State::BadCheck;
    }
    switch (state) {
        case State::Good:
            ++totals.replies;
            break;
        case State::Exception:
            ++totals.exceptions;
            break;
        case State::BadCheck:
            ++totals.badChecks;
            break;
        default:
            ++totals.noReply;
            break;
    }
    const std::string exception =
        state == State::Exception ? ModbusExceptionText(answer.exception) : std::string();

    if (exchange.writePoint >= 0) {
        PointState shown;
        shown.state = state;
        shown.exception = exception;
        // Rows removed or moved since: the note would land on another row.
        if (exchange.generation == generation)
            emit written(exchange.writePoint,
                         state == State::Good ? QString() : Failed(StateText(shown)));
    } else if (exchange.generation == generation) {
        const int64_t wallMs = QDateTime::currentMSecsSinceEpoch();
        for (size_t index : exchange.read.points) {
            PointState& point = states[index];
            ++point.polls;
            point.state = state;
            point.exception = exception;
            if (state != State::Good) continue;
            const std::span<const uint16_t> values =
                PollPlan::PointValues(exchange.read, points[index], answer.values);
            ++point.good;
            if (!std::ranges::equal(values, point.values)) {
                if (point.lastGoodMs != 0) point.changedMs = SteadyMs();
                point.values.assign(values.begin(), values.end());
            }
            point.lastGoodMs = wallMs;
            point.responseUs = reply->responseUs;
        }
        emit updated();
    }
    SendNext();
}

std::string WatchPoller::StateText(const PointState& state) {
    switch (state.state) {
        case State::Good:
            return std::string(GoodText);
        case State::NoReply:
            return std::string(NoReplyText);
        case State::Exception:
            return state.exception;
        case State::BadCheck:
            return std::string(BadCheckText);
        case State::LineClosed:
            return std::string(LineClosedText);
        case State::LineTaken:
            return std::string(LineTakenText);
        case State::Listening:
            return std::string(ListeningText);
        case State::None:
            break;
    }
    return {};
}
