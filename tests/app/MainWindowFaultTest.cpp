// The real main window on real pseudo-terminals when the bench misbehaves:
// the adapter pulled while bytes stream, devices the window must refuse, and
// slaves that answer nothing, garbage or without end while timed sending runs.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "PtyPair.h"
#include "RecordingMessageBoxSink.h"
#include "SimProcess.h"
#include "WindowSession.h"
#include "app/FramesWindow.h"
#include "app/MainWindow.h"
#include "app/ReceiveEdit.h"
#include "app/SendScheduler.h"
#include "tools/ReceiveText.h"

using namespace MainIds;
using namespace std::chrono_literals;

namespace {

const QString kOpenFailed = QString::fromUtf8(MainWindow::OpenFailedMessage);
// The Modbus panel's default request: read holding register 0 of station 1.
constexpr size_t kRequestLength = 8;

QString Shown(const std::vector<uint8_t>& bytes) {
    std::string text;
    for (uint8_t byte : bytes) text += FormatReceivedByte(byte);
    return QString::fromStdString(text);
}

// The far end of the line: counts the requests the window sends and answers
// as the row's slave would, until destroyed.
class FarEnd {
public:
    enum Kind { Silent, Garbage, Endless };
    FarEnd(int fd, Kind kind) : fd(fd), kind(kind), worker([this] { Run(); }) {}
    ~FarEnd() {
        stop = true;
        worker.join();
    }
    size_t Requests() const { return received / kRequestLength; }

private:
    void Run() {
        std::mt19937 random(11);
        std::vector<uint8_t> noise(64);
        while (!stop) {
            pollfd p{fd, POLLIN, 0};
            const int ready = poll(&p, 1, kind == Endless ? 1 : 20);
            if (ready > 0) {
                uint8_t chunk[256];
                const ssize_t n = read(fd, chunk, sizeof chunk);
                if (n > 0) {
                    received += static_cast<size_t>(n);
                    if (kind == Garbage) {
                        noise.resize(5 + random() % 40);
                        for (uint8_t& byte : noise) byte = static_cast<uint8_t>(random());
                        PtyPair::WriteAll(fd, noise.data(), noise.size());
                    }
                }
            }
            // 16 bytes a millisecond: faster than a 115200-baud line.
            if (kind == Endless) {
                for (uint8_t& byte : noise) byte = static_cast<uint8_t>(random());
                PtyPair::WriteAll(fd, noise.data(), 16);
            }
        }
    }

    int fd;
    Kind kind;
    std::atomic<bool> stop{false};
    std::atomic<size_t> received{0};
    std::thread worker;
};

// Ticks of a 10 ms timer on the window's thread: the longest gap between two
// says whether the window froze.
class FreezeProbe {
public:
    FreezeProbe() {
        QObject::connect(&timer, &QTimer::timeout,
                         [this] { worstMs = std::max(worstMs, clock.restart()); });
        clock.start();
        timer.start(10);
    }
    qint64 worstMs = 0;

private:
    QTimer timer;
    QElapsedTimer clock;
};

}  // namespace

class MainWindowFaultTest : public QObject {
    Q_OBJECT
private slots:
    void adapterPulledWhileBytesStream();
    void refusedDevices_data();
    void refusedDevices();
    void misbehavingSlaveDuringTimedSending_data();
    void misbehavingSlaveDuringTimedSending();
    void lineComesBackWhenTheSimulatorDoes_data();
    void lineComesBackWhenTheSimulatorDoes();
    void linkLeadsToANewPtyWhenTheLossIsTold();
};

void MainWindowFaultTest::adapterPulledWhileBytesStream() {
    Session s;
    MainWindow& w = *s.window;
    PtyPair adapter;
    s.Link(6, adapter.SlavePath());
    QVERIFY(s.Open(6));
    QCOMPARE(w.windowTitle(), QStringLiteral("串口通讯-端口 6"));

    // The adapter streams until the pane shows its bytes (what comes before
    // the worker's first wait is purged), then 8 KiB more, and is pulled with
    // those still on the way.
    std::vector<uint8_t> stream;
    std::atomic<bool> seen{false};
    fcntl(adapter.MasterFd(), F_SETFL, fcntl(adapter.MasterFd(), F_GETFL) | O_NONBLOCK);
    std::thread pull([&] {
        for (size_t end = 0; !seen || stream.size() < end + 8192;) {
            for (int i = 0; i < 256; ++i)
                stream.push_back(static_cast<uint8_t>(stream.size() % 251));
            if (!seen) end = stream.size();
            if (!PtyPair::WriteAll(adapter.MasterFd(), stream.data() + stream.size() - 256, 256))
                break;
        }
        adapter.CloseMaster();
    });
    auto finish = qScopeGuard([&] {
        seen = true;
        pull.join();
    });
    QTRY_VERIFY_WITH_TIMEOUT(!s.Pane().isEmpty(), 30000);
    seen = true;
    QTRY_VERIFY_WITH_TIMEOUT(!s.boxes.Boxes().empty(), 30000);
    finish.dismiss();
    pull.join();
    const RecordingMessageBoxSink::Box report = s.boxes.Boxes()[0];
    QVERIFY2(report.text.starts_with("WARNING:") && report.text.ends_with("Port: 6\n"),
             report.text.c_str());
    // A send to the pulled line is refused: no sweep says it went out.
    QTest::mouseClick(w.Control(IDC_SEND), Qt::LeftButton);
    QVERIFY(!w.Sender().ProgressRunning());

    // What was shown is an unbroken run of the stream; the purge as the
    // worker starts may have taken its beginning.
    const QString pane = s.Pane();
    QVERIFY(pane.size() % 4 == 0 && !pane.isEmpty());
    const QString whole = Shown(stream);
    qsizetype at = whole.indexOf(pane);
    while (at > 0 && at % 4 != 0) at = whole.indexOf(pane, at + 1);
    QVERIFY2(at >= 0 && at % 4 == 0, qPrintable(pane.left(200)));

    // The window is still usable: a new pty opens and carries bytes both
    // ways, and the pulled adapter never reports again.
    QVERIFY(s.Open(3));
    QCOMPARE(w.windowTitle(), QStringLiteral("串口通讯-端口 3"));
    QVERIFY(s.SendEnabled());
    QTest::mouseClick(w.Control(IDC_CLEAR), Qt::LeftButton);
    QTest::mouseClick(w.Control(IDC_SEND), Qt::LeftButton);
    QCOMPARE(s.pty.ReadMaster(kRequestLength, 5s).size(), kRequestLength);
    QVERIFY(s.pty.WriteMaster(std::vector<uint8_t>{0x01, 0x83, 0x02}));
    QTRY_COMPARE_WITH_TIMEOUT(s.Pane(), QStringLiteral("   1  83   2"), 5000);
    QCOMPARE(s.boxes.Boxes().size(), size_t{1});
}

void MainWindowFaultTest::refusedDevices_data() {
    QTest::addColumn<QString>("device");
    // clang-format off
    QTest::newRow("RegularFile") << "file";
    QTest::newRow("Directory") << "directory";
    QTest::newRow("HeldByAnotherProcess") << "held";
    QTest::newRow("NoPermission") << "mode000";
    // clang-format on
}

void MainWindowFaultTest::refusedDevices() {
    QFETCH(QString, device);
    Session s;
    MainWindow& w = *s.window;
    const std::string path = (s.root.path() + "/device").toStdString();
    QProcess holder;
    if (device == "file") {
        std::ofstream(path) << "not a terminal";
    } else if (device == "directory") {
        std::filesystem::create_directory(path);
    } else if (device == "held") {
        // flock(1) takes the same lock the engine takes, in a process of its own.
        holder.start("flock", {"--nonblock", QString::fromStdString(s.pty.SlavePath()), "sh", "-c",
                               "echo held; exec cat"});
        QVERIFY2(holder.waitForReadyRead(10000), "flock did not take the lock");
        QCOMPARE(holder.readAllStandardOutput(), QByteArray("held\n"));
    } else if (geteuid() == 0) {
        // Root opens anything: the row runs again as nobody, where it takes
        // the branch below with a pty of its own.
        const QString setpriv = QStandardPaths::findExecutable("setpriv");
        if (setpriv.isEmpty()) QSKIP("setpriv is missing: no way to open as another user");
        QProcess child;
        // As nobody the child cannot enter a checkout that only its owner may
        // read, and a sanitizer that cannot read its suppressions file there
        // stops it at its start: it gets a copy that anyone may read.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        QStringList options = environment.value("TSAN_OPTIONS").split(':');
        QTemporaryFile suppressions;
        const QString key = QStringLiteral("suppressions=");
        for (QString& option : options) {
            if (!option.startsWith(key)) continue;
            QFile original(option.mid(key.size()));
            QVERIFY(original.open(QIODevice::ReadOnly) && suppressions.open());
            QVERIFY(suppressions.write(original.readAll()) == original.size() &&
                    suppressions.flush());
            QVERIFY(suppressions.setPermissions(QFileDevice::ReadOwner | QFileDevice::ReadOther));
            option = key + suppressions.fileName();
            environment.insert("TSAN_OPTIONS", options.join(':'));
        }
        child.setProcessEnvironment(environment);
        child.start(setpriv,
                    {"--reuid=65534", "--regid=65534", "--clear-groups",
                     QCoreApplication::applicationFilePath(), "refusedDevices:NoPermission"});
        QVERIFY(child.waitForFinished(60000));
        const QByteArray output = child.readAllStandardOutput() + child.readAllStandardError();
        if (output.startsWith("setpriv:"))
            QSKIP(qPrintable("this machine does not allow another uid: " + output));
        QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
                 output.constData());
        QVERIFY2(output.contains("PASS   : MainWindowFaultTest::refusedDevices(NoPermission)"),
                 output.constData());
        return;
    } else {
        QCOMPARE(chmod(s.pty.SlavePath().c_str(), 0), 0);
    }
    if (device != "held" && device != "mode000") {
        std::filesystem::remove(s.root.path().toStdString() + "/ports/COM3");
        s.Link(3, path);
    }

    QVERIFY(s.Open(3));
    QCOMPARE(s.boxes.Texts(), std::vector<std::string>{kOpenFailed.toStdString()});
    QCOMPARE(w.windowTitle(), QStringLiteral("串口通讯"));
    QVERIFY(!s.SendEnabled() && !s.TimedSend()->isEnabled());
    if (holder.state() != QProcess::NotRunning) {
        holder.closeWriteChannel();
        QVERIFY(holder.waitForFinished(10000));
    }
}

void MainWindowFaultTest::misbehavingSlaveDuringTimedSending_data() {
    QTest::addColumn<int>("kind");
    QTest::newRow("AnswersNothing") << int(FarEnd::Silent);
    QTest::newRow("AnswersGarbage") << int(FarEnd::Garbage);
    QTest::newRow("EndlessStream") << int(FarEnd::Endless);
}

void MainWindowFaultTest::misbehavingSlaveDuringTimedSending() {
    QFETCH(int, kind);
    Session s;
    MainWindow& w = *s.window;
    QVERIFY(s.Open());
    w.SetItemText(IDC_INTERVAL, QStringLiteral("10"));
    FreezeProbe probe;
    FarEnd slave(s.pty.MasterFd(), FarEnd::Kind(kind));
    s.TimedSend()->click();
    QVERIFY(w.Sender().TimedSending());

    QTRY_VERIFY_WITH_TIMEOUT(slave.Requests() >= 50, 20000);
    if (kind != FarEnd::Silent) QTRY_VERIFY_WITH_TIMEOUT(s.Pane().size() >= 200, 10000);
    s.TimedSend()->click();
    QVERIFY(!w.Sender().TimedSending() && s.SendEnabled());
    QVERIFY(s.boxes.Boxes().empty());
    // A freeze of the window's thread, not its speed: the bound is generous
    // enough for a sanitizer build on a busy machine.
    QVERIFY2(probe.worstMs < 3000, qPrintable(QString::number(probe.worstMs)));
    if (kind == FarEnd::Silent) QCOMPARE(s.Pane(), QString());
}

void MainWindowFaultTest::lineComesBackWhenTheSimulatorDoes_data() {
    QTest::addColumn<bool>("timed");
    QTest::newRow("Idle") << false;
    QTest::newRow("TimedSending") << true;
}

// The simulator ends (its pty and COM link go) and a new one links the same
// number: the line opens again without "设  定", its box closed by itself.
void MainWindowFaultTest::lineComesBackWhenTheSimulatorDoes() {
    QFETCH(bool, timed);
    Session s;
    MainWindow& w = *s.window;
    const std::vector<std::string> args{
        "--com", "6", "--period", "0", "--port-dir", (s.root.path() + "/ports").toStdString()};
    auto sim = std::make_unique<SimProcess>(args);
    QVERIFY(s.Open(6));
    FramesWindow& frames = w.ShowFrames();
    const QString open = QStringLiteral("串口通讯-端口 6");
    QCOMPARE(w.windowTitle(), open);
    w.SetItemText(IDC_INTERVAL, QStringLiteral("50"));
    if (timed) s.TimedSend()->click();

    // The engine's box stays open, as a modal box does, until it is closed;
    // two seconds into it a new simulator starts.
    QString waiting;
    QElapsedTimer back;
    auto closed = qScopeGuard([&] { s.boxes.whileOpen = nullptr; });
    s.boxes.whileOpen = [&](const RecordingMessageBoxSink::Box&) {
        QEventLoop box;
        s.boxes.onClose = [&](std::string_view) { box.quit(); };
        QTimer::singleShot(2000, &box, [&] {
            waiting = w.windowTitle();
            sim = std::make_unique<SimProcess>(args);
            back.start();
        });
        QTimer::singleShot(30000, &box, &QEventLoop::quit);
        box.exec();
        s.boxes.onClose = nullptr;
    };
    sim->Interrupt();
    QTRY_VERIFY_WITH_TIMEOUT(back.isValid(), 30000);
    QTRY_COMPARE_WITH_TIMEOUT(w.windowTitle(), open, std::max<qint64>(0, 2000 - back.elapsed()));
    QCOMPARE(waiting, open + QStringLiteral(" (已断开，等待设备)"));
    QCOMPARE(s.boxes.Boxes().size(), size_t{1});
    QCOMPARE(s.boxes.Closed(), s.boxes.Texts());

    QCOMPARE(w.Sender().TimedSending(), timed);
    QTest::mouseClick(w.Control(IDC_CLEAR), Qt::LeftButton);
    if (!timed) QTest::mouseClick(w.Control(IDC_SEND), Qt::LeftButton);
    // Station 1's holding register 0 is 1000: 1 3 2 3 e8 and the CRC.
    QTRY_VERIFY_WITH_TIMEOUT(s.Pane().contains(QStringLiteral("   1   3   2   3  e8")), 5000);
    // The frames window lists the loss, then the return.
    const auto said = [&](const QString& text) {
        const QAbstractItemModel& rows = *frames.View().model();
        for (int row = 0; row < rows.rowCount(); ++row)
            if (rows.index(row, 4).data().toString() == text) return row;
        return -1;
    };
    const QString lost = QStringLiteral("线路断开，等待设备");
    QTRY_VERIFY(said(lost) >= 0 && said(QStringLiteral("设备已恢复，线路重新打开")) > said(lost));
}

// A slave started again relinks its number at once (ln -sf), before the old
// one's hang-up is told: the box closes by itself, the caption is plain
// again, and the next send reaches the new slave.
void MainWindowFaultTest::linkLeadsToANewPtyWhenTheLossIsTold() {
    Session s;
    QVERIFY(s.Open(3));
    PtyPair next;
    const std::string link = (s.root.path() + "/ports/COM3").toStdString();
    std::filesystem::create_symlink(next.SlavePath(), link + ".new");
    std::filesystem::rename(link + ".new", link);
    s.boxes.whileOpen = [&](const RecordingMessageBoxSink::Box&) {
        QEventLoop box;
        s.boxes.onClose = [&](std::string_view) { box.quit(); };
        QTimer::singleShot(5000, &box, &QEventLoop::quit);
        box.exec();
        s.boxes.onClose = nullptr;
    };
    s.pty.CloseMaster();
    QTRY_VERIFY_WITH_TIMEOUT(!s.boxes.Texts().empty(), 5000);
    QCOMPARE(s.boxes.Closed(), s.boxes.Texts());
    QTRY_COMPARE(s.window->windowTitle(), QStringLiteral("串口通讯-端口 3"));
    s.boxes.whileOpen = nullptr;
    QTest::mouseClick(s.window->Control(IDC_SEND), Qt::LeftButton);
    QVERIFY(!next.ReadMaster(8, 5s).empty());
}

QTEST_MAIN(MainWindowFaultTest)
#include "MainWindowFaultTest.moc"
