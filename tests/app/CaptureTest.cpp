// The main window recording the line, offscreen: an exchange with the built
// simulator, decoded by tshark; replies split by silence, bytes that come
// while receiving is paused and a line pulled while it records; a capture
// that cannot be written, or whose reader stopped; the end by a signal; the
// command line of the built program.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "PcapFile.h"
#include "PtyPair.h"
#include "SimProcess.h"
#include "WindowSession.h"
#include "app/MainWindow.h"
#include "app/ModbusPanel.h"
#include "app/SessionRun.h"
#include "serial/SystemError.h"
#include "tools/ChecksumTool.h"
#include "trace/LineCapture.h"

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

namespace {

constexpr size_t kRequestLength = 8;  // the Modbus panel's default request
const Bytes kReply = {1, 0x83, 2};

Bytes WithCrc(Bytes frame) {
    const uint16_t crc = ChecksumTool::Crc16(frame.data(), static_cast<uint32_t>(frame.size()));
    frame.insert(frame.end(), {static_cast<uint8_t>(crc), static_cast<uint8_t>(crc >> 8)});
    return frame;
}

// Made before the window that records into it, so that it outlives the
// window's worker.
struct Capture {
    explicit Capture(std::string file = {}, size_t limit = LineCapture::kQueueLimit)
        : path(file.empty() ? dir.filePath("line.pcap").toStdString() : file) {
        int error = 0;
        capture = LineCapture::Create(path, error, limit);
    }
    // What the file holds while Talvenor runs, once `done` holds for it.
    bool WaitUntil(const std::function<bool(const CaptureFile&)>& done) {
        return QTest::qWaitFor([&] { return done(file = CaptureFile::Read(path)); }, 5000);
    }
    QTemporaryDir dir;
    std::string path;
    std::unique_ptr<LineCapture> capture;
    CaptureFile file;
};

// A window recording into `c` that has opened COM`port` and sent its request.
struct Recording : Session {
    Recording(Capture& c, int port, const PtyPair* line = nullptr) {
        window->SetCapture(c.capture.get());
        if (line) Link(port, line->SlavePath());
        opened = Open(port);
        Send();
        // The worker purges as it starts: the far end answers the request.
        if (line) requested = line->ReadMaster(kRequestLength, 5s).size() == kRequestLength;
    }
    void Send() const { QTest::mouseClick(window->Control(MainIds::IDC_SEND), Qt::LeftButton); }
    bool opened = false, requested = false;
};

// Runs the window to its end as main() does; `errors`: what it said there.
int RunToEnd(Session& s, Capture& c, QString& errors) {
    char* text = nullptr;
    size_t size = 0;
    std::FILE* stream = open_memstream(&text, &size);
    const int status = SessionRun().Run(std::move(s.window), std::move(c.capture), stream);
    std::fclose(stream);
    errors = QString::fromUtf8(text, static_cast<qsizetype>(size));
    std::free(text);
    return status;
}

}  // namespace

class CaptureTest : public QObject {
    Q_OBJECT
private slots:
    void simulatorExchangeIsRecordedAndDecoded();
    void repliesPausedBytesAndAPulledLine();
    void failedCaptureIsShownOnceAndTheSessionGoesOn();
    void aReaderThatStoppedStopsTheCaptureNotTheSession();
    void aSignalEndsTheRunAsClosingDoes_data();
    void aSignalEndsTheRunAsClosingDoes();
    void commandLine_data();
    void commandLine();
};

void CaptureTest::simulatorExchangeIsRecordedAndDecoded() {
    Capture c;
    Session s;
    s.window->SetCapture(c.capture.get());
    SimProcess sim(
        {"--com", "6", "--period", "0", "--port-dir", (s.root.path() + "/ports").toStdString()});
    QVERIFY(s.Open(6));
    // Registers 0 and 1 read (1000 and 1001), then 0x1234 written to register 1.
    ModbusPanel& panel = *s.window->GetModbusPanel();
    panel.SetItemText(ModbusPanelIds::IDC_QUANTITY, "2");
    QTest::mouseClick(s.window->Control(MainIds::IDC_SEND), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(s.Pane().size(), 9 * 4, 5000);
    panel.ControlAs<QComboBox>(ModbusPanelIds::IDC_FUNCTION)->setCurrentIndex(5);
    panel.SetItemText(ModbusPanelIds::IDC_ADDRESS, "1");
    panel.SetItemText(ModbusPanelIds::IDC_QUANTITY, "4660");
    QTest::mouseClick(s.window->Control(MainIds::IDC_SEND), Qt::LeftButton);

    const Bytes write = WithCrc({1, 6, 0, 1, 0x12, 0x34});
    const std::vector<Bytes> frames = {WithCrc({1, 3, 0, 0, 0, 2}),
                                       WithCrc({1, 3, 4, 0x03, 0xe8, 0x03, 0xe9}), write, write};
    QVERIFY(c.WaitUntil([](const CaptureFile& f) { return f.records.size() >= 4; }));
    QVERIFY(c.file.wellFormed && c.file.records.size() == frames.size());
    // Dated by the real clock, as Wireshark shows it.
    QVERIFY(std::abs(c.file.records[0].stampUs / 1000000 - std::time(nullptr)) < 60);
    for (size_t i = 0; i < frames.size(); ++i) {
        const CaptureRecord& record = c.file.records[i];
        QCOMPARE(record.event, i % 2 == 0 ? uint8_t{1} : uint8_t{2});
        QCOMPARE(record.bytes, frames[i]);
        QVERIFY(i == 0 || record.stampUs > c.file.records[i - 1].stampUs);
    }

    const QString tshark = QStandardPaths::findExecutable("tshark");
    if (tshark.isEmpty())
        QSKIP("tshark is not installed (scripts/deps installs it): decoding not checked");
    QProcess decoder;
    decoder.start(tshark,
                  {"-r", QString::fromStdString(c.path), "-d", "rtacser.data,mbrtu", "-P", "-V"});
    QVERIFY(decoder.waitForFinished(60000) && decoder.exitCode() == 0);
    const QString decoded = QString::fromUtf8(decoder.readAllStandardOutput());
    // tshark 4.0 tells a function 6 query from its reply by the length only: neither is classified.
    for (const char* text : {"Query: Unit:   1, Func:   3", "Response: Unit:   1, Func:   3",
                             "Func:   6: Write Single Register", "Register Value (UINT16): 1000",
                             "Register Value (UINT16): 1001"})
        QVERIFY2(decoded.contains(QLatin1String(text)), qPrintable(text + ("\n" + decoded)));
}

void CaptureTest::repliesPausedBytesAndAPulledLine() {
    Capture c;
    PtyPair adapter;
    Recording r(c, 6, &adapter);
    QVERIFY(r.opened && r.requested && adapter.WriteMaster(kReply));
    QTest::qWait(200);  // the line falls silent, long enough for a busy machine to show it
    QVERIFY(adapter.WriteMaster(Bytes{0xf9, 0x86}));
    QTRY_COMPARE_WITH_TIMEOUT(r.Pane().size(), 5 * 4, 5000);
    QTest::mouseClick(r.window->Control(MainIds::IDC_PAUSE), Qt::LeftButton);
    QVERIFY(adapter.WriteMaster(Bytes{0xaa, 0xbb}));
    QVERIFY(c.WaitUntil([](const CaptureFile& f) {
        size_t received = 0;
        for (const CaptureRecord& record : f.records)
            received += record.event == 2 ? record.bytes.size() : 0;
        return received == 7;
    }));
    adapter.CloseMaster();
    QTRY_COMPARE_WITH_TIMEOUT(r.boxes.Boxes().size(), size_t{1}, 5000);
    QVERIFY(r.LastBox().startsWith("WARNING:"));  // the engine's, not the capture's

    // The capture goes on across the reopen; what came before stays. The
    // paused bytes may come soon enough after the second reply to join it.
    QVERIFY(r.Open(3));
    r.Send();
    QVERIFY(c.WaitUntil(
        [](const CaptureFile& f) { return f.records.size() > 3 && f.records.back().event == 1; }));
    std::vector<Bytes> received;
    for (size_t i = 1; i + 1 < c.file.records.size(); ++i)
        received.push_back(c.file.records[i].bytes);
    const std::vector<std::vector<Bytes>> groupings = {{kReply, {0xf9, 0x86, 0xaa, 0xbb}},
                                                       {kReply, {0xf9, 0x86}, {0xaa, 0xbb}}};
    QVERIFY(received == groupings[0] || received == groupings[1]);
    QCOMPARE(c.file.records.back().bytes, c.file.records[0].bytes);
    QCOMPARE(r.Pane().size(), 5 * 4);
    QCOMPARE(r.boxes.Boxes().size(), size_t{1});
}

void CaptureTest::failedCaptureIsShownOnceAndTheSessionGoesOn() {
    Capture c("/dev/full");
    QVERIFY(c.capture);
    Recording r(c, 3);
    QVERIFY(r.opened);
    QCOMPARE(r.pty.ReadMaster(kRequestLength, 5s).size(), kRequestLength);
    QVERIFY(r.pty.WriteMaster(kReply));
    QTRY_COMPARE_WITH_TIMEOUT(r.Pane(), QStringLiteral("   1  83   2"), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(r.boxes.Boxes().size(), size_t{1}, 5000);
    QCOMPARE(r.LastBox(), QString::fromUtf8(MainWindow::CaptureFailedMessage)
                              .arg("/dev/full", QString::fromStdString(SystemErrorText(ENOSPC))));
}

void CaptureTest::aReaderThatStoppedStopsTheCaptureNotTheSession() {
    QTemporaryDir dir;
    const std::string fifo = dir.filePath("line.fifo").toStdString();
    QVERIFY(mkfifo(fifo.c_str(), 0600) == 0);
    // Its reader opens it, with the smallest pipe, and then reads nothing.
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    QVERIFY(reader >= 0 && fcntl(reader, F_SETPIPE_SZ, 4096) > 0);
    Capture c(fifo, 16384);
    Recording r(c, 3);
    QVERIFY(r.opened);
    QCOMPARE(r.pty.ReadMaster(kRequestLength, 5s).size(), kRequestLength);
    // More than the pipe and the queue, in pieces that the pty holds: the
    // window takes them as they come.
    for (int shown = 4096; shown <= 32768; shown += 4096) {
        QVERIFY(r.pty.WriteMaster(Bytes(4096, 0x55)));
        QTRY_COMPARE_WITH_TIMEOUT(r.Pane().size(), shown * 4, 10000);
    }
    QTRY_COMPARE_WITH_TIMEOUT(r.boxes.Boxes().size(), size_t{1}, 10000);
    const QString full = QString::fromStdString(SystemErrorText(ENOBUFS));
    QCOMPARE(r.LastBox(),
             QString::fromUtf8(MainWindow::CaptureFailedMessage).arg(fifo.c_str(), full));
    QVERIFY(r.pty.WriteMaster(kReply));
    QTRY_COMPARE_WITH_TIMEOUT(r.Pane().size(), (32768 + 3) * 4, 10000);

    MainWindow* window = r.window.get();
    QTimer::singleShot(0, window, [window] { window->close(); });
    QElapsedTimer clock;
    clock.start();
    QString errors;
    QCOMPARE(RunToEnd(r, c, errors), 1);
    QVERIFY(clock.elapsed() < 3000);
    QVERIFY2(errors.startsWith(QString("talvenor: the capture %1 lost ").arg(fifo.c_str())) &&
                 errors.endsWith(full + "\n") && errors.count('\n') == 1,
             qPrintable(errors));
    QCOMPARE(r.boxes.Boxes().size(), size_t{1});
    close(reader);
}

void CaptureTest::aSignalEndsTheRunAsClosingDoes_data() {
    QTest::addColumn<int>("signal");
    QTest::addColumn<QString>("open");  // over the window when the signal comes
    QTest::newRow("SIGTERM") << SIGTERM << "";
    QTest::newRow("SIGINT") << SIGINT << "";
    QTest::newRow("SIGHUPWithThePanesMenuOpen") << SIGHUP << "menu";
    QTest::newRow("SIGTERMInADialogWhoseCallerThenShowsABox") << SIGTERM << "dialog";
}

void CaptureTest::aSignalEndsTheRunAsClosingDoes() {
    QFETCH(int, signal);
    QFETCH(QString, open);
    // nohup leaves SIGHUP ignored: it stays so.
    std::signal(SIGHUP, SIG_IGN);
    {
        SessionRun run;
        QVERIFY(std::signal(SIGHUP, SIG_IGN) == SIG_IGN);
    }
    std::signal(SIGHUP, SIG_DFL);
    Capture c;
    Session s;
    s.window->SetCapture(c.capture.get());
    SimProcess sim(
        {"--com", "6", "--period", "0", "--port-dir", (s.root.path() + "/ports").toStdString()});
    QVERIFY(s.Open(6));
    // In the run: the request goes, and the signal comes from outside the
    // moment its reply is in the pane. A reply that never comes closes the
    // window after a bound.
    MainWindow* window = s.window.get();
    auto* watch = new QTimer(window);
    connect(watch, &QTimer::timeout, window, [=] {
        if (window->ReceivePane().Text().size() < 7 * 4) return;
        watch->stop();
        // Sent once the menu or dialog runs its loop.
        QTimer::singleShot(0, window, [=] { kill(getpid(), signal); });
        QContextMenuEvent menu(QContextMenuEvent::Mouse, {9, 9}, window->mapToGlobal(QPoint(9, 9)));
        if (open == "menu") QCoreApplication::sendEvent(window->ReceivePane().viewport(), &menu);
        if (open == "dialog" && QDialog(window).exec() == QDialog::Rejected)
            QMessageBox(window).exec();
    });
    QTimer::singleShot(0, window, [=] {
        QTest::mouseClick(window->Control(MainIds::IDC_SEND), Qt::LeftButton);
        watch->start(1);
    });
    bool unanswered = false;
    QTimer::singleShot(10000, window, [&unanswered, window] {
        unanswered = true;
        for (QWidget* over : {QApplication::activePopupWidget(), QApplication::activeModalWidget()})
            if (over && over != window) over->close();
        window->close();
    });
    QString errors;
    QCOMPARE(RunToEnd(s, c, errors), 0);
    QVERIFY(!unanswered);
    QVERIFY2(errors.isEmpty(), qPrintable(errors));
    const CaptureFile file = CaptureFile::Read(c.path);
    QVERIFY(file.wellFormed && file.records.size() == 2);
    QCOMPARE(file.records.back().bytes, WithCrc({1, 3, 2, 0x03, 0xe8}));
}

void CaptureTest::commandLine_data() {
    QTest::addColumn<QStringList>("arguments");  // FILE: a file in a new directory
    QTest::addColumn<int>("status");             // -1: runs, recording into FILE

    QTest::newRow("Help") << QStringList{"--help"} << 0;
    QTest::newRow("UnknownOption") << QStringList{"--bogus"} << 2;
    QTest::newRow("UncreatableFile") << QStringList{"--capture", "FILE/x.pcap"} << 2;
    QTest::newRow("CaptureWithoutFile") << QStringList{"--capture"} << 2;
    QTest::newRow("CaptureTwice") << QStringList{"--capture=FILE", "--capture", "FILE"} << 2;
    QTest::newRow("RecordsBesideQtsOptions")
        << QStringList{"--capture=FILE", "-platform", "offscreen"} << -1;
}

void CaptureTest::commandLine() {
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QTemporaryDir dir;
    const QString file = dir.filePath("line.pcap");
    QFile longer(file);
    QVERIFY(status >= 0 ||
            (longer.open(QIODevice::WriteOnly) && longer.write(QByteArray(99, 'x'))));
    longer.close();
    QProcess talvenor;
    talvenor.start(TALVENOR_PATH, arguments.replaceInStrings("FILE", file));
    if (status < 0) {
        // Emptied, the header is there before anything crosses the line;
        // SIGTERM ends the run as closing the window does.
        QTRY_VERIFY_WITH_TIMEOUT(CaptureFile::Read(file.toStdString()).wellFormed, 10000);
        talvenor.terminate();
        QVERIFY(talvenor.waitForFinished(10000));
        QVERIFY(talvenor.exitStatus() == QProcess::NormalExit && talvenor.exitCode() == 0);
        return;
    }
    QVERIFY(talvenor.waitForFinished(10000));
    QCOMPARE(talvenor.exitCode(), status);
    const QString out = talvenor.readAllStandardOutput(), err = talvenor.readAllStandardError();
    if (status == 0) QVERIFY(out.contains("--capture FILE") && err.isEmpty());
    if (status != 0)
        QVERIFY2(err.count('\n') == 1 && out.isEmpty() && !QFileInfo::exists(file),
                 qPrintable(err));
}

QTEST_MAIN(CaptureTest)
#include "CaptureTest.moc"
