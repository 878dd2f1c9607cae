// The watch window against the built simulator (libmodbus on a pty), and the trend plot.
#include <modbus.h>
#include <QChart>
#include <QImage>
#include <QProcess>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>

#include "DialogShot.h"
#include "SimProcess.h"
#include "WindowSession.h"
#include "app/FramesWindow.h"
#include "app/SendScheduler.h"
#include "app/TrendPlot.h"
#include "app/WatchWindow.h"
#include "trace/FrameList.h"
#include "ui/GbkText.h"

namespace {

WatchRow Row(int station, int function, int address, ValueFormat format) {
    return {{}, station, function, address, format, {}, false};
}

}  // namespace

class WatchWindowTest : public QObject {
    Q_OBJECT
private slots:
    void pollsAndWritesAgainstSimulator();
    void plotKeepsItsWindow();
};

void WatchWindowTest::pollsAndWritesAgainstSimulator() {
    Session s;
    const std::vector<std::string> args{
        "--com",    "6",   "--stations", "1",
        "--period", "100", "--port-dir", (s.root.path() + "/ports").toStdString()};
    auto sim = std::make_unique<SimProcess>(args);
    QVERIFY(s.Open(6, "1", true, "115200"));
    FramesWindow& frames = s.window->ShowFrames();  // its counters start from here
    WatchWindow& watch = s.window->ShowWatch();
    // Holding register i holds 1000 + i (0 counts up), input register i holds i, coil i
    // is i % 2, input i (i + 1) % 2.
    enum { Counter, Word, Hex, Long, Real, Input, Coil, Discrete, Text, Refused, Silent };
    watch.SetRows({Row(1, 3, 0, {RegisterFormat::U16}), Row(1, 3, 3, {RegisterFormat::U16}),
                   Row(1, 3, 5, {RegisterFormat::Hex16}), Row(1, 3, 10, {RegisterFormat::S32}),
                   Row(1, 3, 20, {RegisterFormat::F32, WordOrder::CDAB}),
                   Row(1, 4, 7, {RegisterFormat::U16}), Row(1, 1, 1, {RegisterFormat::Bit}),
                   Row(1, 2, 2, {RegisterFormat::Bit}),
                   Row(1, 3, 40, {RegisterFormat::Text, WordOrder::ABCD, 2}),
                   Row(1, 3, 200, {RegisterFormat::U16}), Row(9, 3, 0, {RegisterFormat::U16})});
    QSignalSpy cycles(&watch.Poller(), &WatchPoller::cycleDone);
    // The window turns while the first poll waits a second for the silent station.
    int turns = 0;
    QTimer turn;
    connect(&turn, &QTimer::timeout, [&] { ++turns; });
    turn.start(20);
    watch.StartPolling(100);
    QTRY_VERIFY_WITH_TIMEOUT(cycles.count() >= 1, 10000);
    turn.stop();
    QVERIFY2(turns >= 10, qPrintable(QString::number(turns)));
    const auto value = [&](int row) { return watch.CellText(row, WatchWindow::ValueColumn); };
    const auto state = [&](int row) { return watch.CellText(row, WatchWindow::StateColumn); };
    const uint16_t real[2] = {1020, 1021};
    QCOMPARE(value(Real).toFloat(), modbus_get_float_cdab(real));
    const QString values[] = {{},  "1003", "0x03ED", QString::number(1010 * 65536 + 1011), {}, "7",
                              "1", "1",    "...." /* 04 10 04 11 */};
    for (int row = Word; row <= Text; ++row)
        if (row != Real) QCOMPARE(value(row), values[row]);
    QCOMPARE(state(Word), FromUtf8(WatchPoller::GoodText));
    QVERIFY(!watch.CellText(Word, WatchWindow::ResponseColumn).isEmpty());
    QCOMPARE(state(Refused), QStringLiteral("异常 02 非法数据地址"));
    QCOMPARE(state(Silent), FromUtf8(WatchPoller::NoReplyText));
    QCOMPARE(value(Silent), QString());

    // The counter changes every period: shown anew and marked.
    const int first = value(Counter).toInt();
    QVERIFY(first > 1000);
    QTRY_VERIFY_WITH_TIMEOUT(value(Counter).toInt() > first, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(
        watch.Table().item(Counter, WatchWindow::ValueColumn)->background() != QBrush(), 2000);

    // Holding 0-11 (holes of 4 or less), 20-21, 40-41, 200; input, coil, input bit, silent.
    constexpr int kReadsPerCycle = 8;
    connect(
        &watch.Poller(), &WatchPoller::cycleDone, &watch, [&] { watch.StopPolling(); },
        Qt::SingleShotConnection);
    QTRY_VERIFY_WITH_TIMEOUT(!watch.Poller().Polling() && !watch.Poller().Exchanging(), 10000);
    const QString sent = QStringLiteral("请求 %1 ").arg(kReadsPerCycle * cycles.count());
    QTRY_VERIFY_WITH_TIMEOUT((frames.Refresh(), frames.CountersShown().startsWith(sent)), 3000);

    // 12.5 (41 48 00 00) written in CDAB with function 16 and read back from the simulator.
    QVERIFY(watch.WriteValue(Real, QStringLiteral("12.5")));
    QTRY_COMPARE_WITH_TIMEOUT(state(Real), FromUtf8(WatchWindow::WrittenText), 5000);
    watch.StartPolling(100);
    QTRY_COMPARE_WITH_TIMEOUT(value(Real), QStringLiteral("12.5"), 5000);
    const std::vector<uint16_t> written{0x0000, 0x4148};
    QCOMPARE(watch.Poller().StateOf(Real).values, written);

    // Refused here and by the device: said on the row, the value shown unchanged.
    const QString before = value(Word);
    QVERIFY(watch.WriteValue(Word, QStringLiteral("70000")) == false);
    QCOMPARE(
        state(Word),
        FromUtf8(WatchPoller::WriteFailedText).arg(FromUtf8(RegisterValue::OutOfRangeMessage)));
    QVERIFY(watch.WriteValue(Refused, QStringLiteral("5")));
    QTRY_COMPARE_WITH_TIMEOUT(state(Refused), QStringLiteral("写入失败：异常 02 非法数据地址"),
                              5000);
    QCOMPARE(value(Word), before);
    QVERIFY(SaveDialogShot(watch, ShotDirectory(TALVENOR_SOURCE_DIR), "WatchWindow"));

    // Timed sending holds the line: no poll goes out, and polling resumes once it stops.
    s.TimedSend()->click();
    QVERIFY(s.window->Sender().TimedSending());
    QTRY_COMPARE_WITH_TIMEOUT(state(Counter), FromUtf8(WatchPoller::LineTakenText), 5000);
    const uint64_t held = watch.Poller().Totals().requests;
    QTest::qWait(500);
    QCOMPARE(watch.Poller().Totals().requests, held);
    s.TimedSend()->click();
    QTRY_VERIFY_WITH_TIMEOUT(watch.Poller().Totals().requests > held, 5000);

    // Polls logged as Python's csv module reads them; the list saved and loaded back.
    QString error;
    const QString log = s.root.filePath("watch.csv"), list = s.root.filePath("watch.json");
    QVERIFY(watch.StartLog(log, error));
    const int logged = cycles.count();
    QTRY_VERIFY_WITH_TIMEOUT(cycles.count() >= logged + 2, 30000);
    watch.StopPolling();
    watch.StopLog();
    QProcess python;
    python.start(TALVENOR_PYTHON, {"-c",
                                   "import csv, sys\n"
                                   "rows = list(csv.reader(open(sys.argv[1], encoding='utf-8')))\n"
                                   "print(len(rows[0]), rows[-1][1 + int(sys.argv[2])])",
                                   log, QString::number(Word)});
    QVERIFY(python.waitForFinished(30000));
    QCOMPARE(QString(python.readAllStandardOutput()).trimmed(),
             QStringLiteral("%1 1003").arg(Silent + 2));
    const std::vector<WatchRow> saved = watch.Rows();
    QVERIFY(watch.SaveList(list, error));
    watch.SetRows({});
    QVERIFY(watch.LoadList(list, error));
    QCOMPARE(watch.Rows().size(), saved.size());
    QCOMPARE(watch.Rows()[Real].format.order, WordOrder::CDAB);
    QCOMPARE(watch.Rows()[Text].format.textRegisters, 2);

    // A replug: polling waits on the lost line and goes on on the reopened one.
    watch.StartPolling(100);
    sim->Interrupt();
    QTRY_COMPARE_WITH_TIMEOUT(state(Counter), FromUtf8(WatchPoller::LineClosedText), 10000);
    sim = std::make_unique<SimProcess>(args);
    const uint64_t replies = watch.Poller().Totals().replies;
    QTRY_VERIFY_WITH_TIMEOUT(watch.Poller().Totals().replies > replies + 2, 20000);
    QTRY_COMPARE_WITH_TIMEOUT(state(Counter), FromUtf8(WatchPoller::GoodText), 10000);
}

// Fed for three times its window, the curve keeps one window; the picture shows the curve.
void WatchWindowTest::plotKeepsItsWindow() {
    TrendPlot plot(nullptr);
    plot.SetMinutes(1);
    plot.resize(720, 400);
    plot.show();
    const int64_t start = 1767225600000;  // 2026-01-01 00:00 UTC
    int most = 0;
    for (int i = 0; i < 3 * 600; ++i) {  // every 100 ms for 3 minutes
        plot.Append(0, QStringLiteral("sine"), start + i * 100, 50 + 40 * std::sin(i / 60.0));
        if (i % 100 == 0) plot.Refresh();
        most = std::max(most, plot.PointCount(0));
    }
    plot.Refresh();
    QTest::qWait(50);  // the chart lays its axes out on the next turn
    QVERIFY2(most <= 601, qPrintable(QString::number(most)));
    QCOMPARE(plot.PointCount(0), 601);

    const QString path = ShotDirectory(TALVENOR_SOURCE_DIR) + "/WatchTrend.png";
    QVERIFY(plot.SavePng(path));
    const QImage image(path);
    const QColor curve = plot.CurveColor(0);
    const QRectF area = plot.Chart().plotArea();
    QVERIFY(!area.isEmpty());
    int columns = 0;
    for (int x = 0; x < image.width(); ++x) {
        bool drawn = false;
        for (int y = 0; y < image.height() && !drawn; ++y) {
            const QColor pixel = image.pixelColor(x, y);
            drawn = std::abs(pixel.red() - curve.red()) + std::abs(pixel.green() - curve.green()) +
                        std::abs(pixel.blue() - curve.blue()) <
                    30;
        }
        columns += drawn;
    }
    QVERIFY2(columns > area.width() / 2, qPrintable(QString::number(columns)));
}

QTEST_MAIN(WatchWindowTest)
#include "WatchWindowTest.moc"
