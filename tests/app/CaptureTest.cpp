// The main window recording the line into a capture file, offscreen: an
// exchange with the built simulator, decoded by tshark; records split by
// silence; bytes that arrive while receiving is paused; a capture that cannot
// be written and a line pulled while it records; and the command line of the
// built program.
#include <QComboBox>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "PcapFile.h"
#include "PtyPair.h"
#include "SimProcess.h"
#include "WindowSession.h"
#include "app/MainWindow.h"
#include "app/ModbusPanel.h"
#include "serial/LineCapture.h"
#include "serial/SystemError.h"
#include "tools/ChecksumTool.h"

using namespace MainIds;
using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

namespace {

constexpr size_t kRequestLength = 8;  // the Modbus panel's default request

Bytes WithCrc(Bytes frame) {
    const uint16_t crc = ChecksumTool::Crc16(frame.data(), static_cast<uint32_t>(frame.size()));
    frame.push_back(static_cast<uint8_t>(crc));  // low byte first on the line
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    return frame;
}

// A capture file in a directory of its own; created before the window that
// records into it, so that it outlives the window's worker.
struct Capture {
    Capture() {
        int error = 0;
        capture = LineCapture::Create(path, error);
    }
    // The records written so far, once `count` of them are there.
    bool WaitForRecords(size_t count) {
        return QTest::qWaitFor(
            [&] { return (file = CaptureFile::Read(path)).records.size() >= count; }, 5000);
    }
    QTemporaryDir dir;
    std::string path = (dir.path() + "/line.pcap").toStdString();
    std::unique_ptr<LineCapture> capture;
    CaptureFile file;
};

void Send(Session& s) { QTest::mouseClick(s.window->Control(IDC_SEND), Qt::LeftButton); }

}  // namespace

class CaptureTest : public QObject {
    Q_OBJECT
private slots:
    void simulatorExchangeIsRecordedAndDecoded();
    void silenceSplitsRepliesAndPausedBytesAreKept();
    void failedCaptureIsShownOnceAndTheSessionGoesOn();
    void pulledLineKeepsTheRecordsAndTheCaptureGoesOn();
    void commandLine_data();
    void commandLine();
};

void CaptureTest::simulatorExchangeIsRecordedAndDecoded() {
    Capture c;
    QVERIFY(c.capture);
    Session s;
    s.window->SetCapture(c.capture.get());
    SimProcess sim(
        {"--com", "6", "--period", "0", "--port-dir", (s.root.path() + "/ports").toStdString()});
    QVERIFY(s.Open(6));
    ModbusPanel& panel = *s.window->GetModbusPanel();
    panel.SetItemText(ModbusPanelIds::IDC_QUANTITY, "2");
    Send(s);
    QTRY_COMPARE_WITH_TIMEOUT(s.Pane().size(), 9 * 4, 5000);
    panel.ControlAs<QComboBox>(ModbusPanelIds::IDC_FUNCTION)->setCurrentIndex(5);
    panel.SetItemText(ModbusPanelIds::IDC_ADDRESS, "1");
    panel.SetItemText(ModbusPanelIds::IDC_QUANTITY, "4660");
    Send(s);
    QTRY_COMPARE_WITH_TIMEOUT(s.Pane().size(), (9 + 8) * 4, 5000);

    // In the file while Talvenor still runs: the read of registers 0 and 1
    // (1000 and 1001) and the write of 0x1234 to register 1, each with its reply.
    QVERIFY(c.WaitForRecords(4));
    QVERIFY(c.file.headerOk && c.file.wellFormed);
    const Bytes write = WithCrc({1, 6, 0, 1, 0x12, 0x34});
    const std::vector<Bytes> frames = {WithCrc({1, 3, 0, 0, 0, 2}),
                                       WithCrc({1, 3, 4, 0x03, 0xe8, 0x03, 0xe9}), write, write};
    QCOMPARE(c.file.records.size(), frames.size());
    for (size_t i = 0; i < frames.size(); ++i) {
        const CaptureRecord& record = c.file.records[i];
        QCOMPARE(record.event, i % 2 == 0 ? uint8_t{1} : uint8_t{2});
        QCOMPARE(record.bytes, frames[i]);
        QCOMPARE(record.lines, uint8_t{0});  // a pty has no modem lines
        if (i > 0) QVERIFY(record.stampUs > c.file.records[i - 1].stampUs);
    }

    const QString tshark = QStandardPaths::findExecutable("tshark");
    if (tshark.isEmpty())
        QSKIP("tshark is not installed (scripts/deps installs it): decoding not checked");
    QProcess decoder;
    decoder.start(tshark,
                  {"-r", QString::fromStdString(c.path), "-d", "rtacser.data,mbrtu", "-P", "-V"});
    QVERIFY(decoder.waitForFinished(60000));
    const QString decoded = QString::fromUtf8(decoder.readAllStandardOutput());
    QCOMPARE(decoder.exitCode(), 0);
    for (const char* text : {"Query: Unit:   1, Func:   3", "Response: Unit:   1, Func:   3",
                             "Func:   6: Write Single Register", "Register Value (UINT16): 1000",
                             "Register Value (UINT16): 1001"})
        QVERIFY2(decoded.contains(QLatin1String(text)), qPrintable(text + ("\n" + decoded)));
}

void CaptureTest::silenceSplitsRepliesAndPausedBytesAreKept() {
    Capture c;
    Session s;
    s.window->SetCapture(c.capture.get());
    QVERIFY(s.Open(3));
    // The worker purges as it starts: the far end answers the request.
    Send(s);
    QCOMPARE(s.pty.ReadMaster(kRequestLength, 5s).size(), kRequestLength);
    const Bytes first = {1, 3, 2, 0, 7}, second = {0xf9, 0x86}, paused = {0xaa, 0xbb};
    QVERIFY(s.pty.WriteMaster(first));
    QTest::qWait(50);  // the line falls silent
    QVERIFY(s.pty.WriteMaster(second));
    QTRY_COMPARE_WITH_TIMEOUT(s.Pane().size(), 7 * 4, 5000);
    QTest::mouseClick(s.window->Control(IDC_PAUSE), Qt::LeftButton);
    QVERIFY(s.pty.WriteMaster(paused));

    // The first reply is a record of its own; the paused bytes may come soon
    // enough after the second to join it.
    Bytes after;
    QVERIFY(QTest::qWaitFor(
        [&] {
            c.WaitForRecords(3);
            after.clear();
            for (size_t i = 2; i < c.file.records.size(); ++i)
                after.insert(after.end(), c.file.records[i].bytes.begin(),
                             c.file.records[i].bytes.end());
            return after.size() >= second.size() + paused.size();
        },
        5000));
    QCOMPARE(c.file.records[1].bytes, first);
    for (const CaptureRecord& record : c.file.records)
        QCOMPARE(record.event, &record == &c.file.records[0] ? uint8_t{1} : uint8_t{2});
    QCOMPARE(after, (Bytes{0xf9, 0x86, 0xaa, 0xbb}));  // the second reply, the paused bytes
    QCOMPARE(s.Pane().size(), 7 * 4);
}

void CaptureTest::failedCaptureIsShownOnceAndTheSessionGoesOn() {
    int error = 0;
    const auto capture = LineCapture::Create("/dev/full", error);
    QVERIFY(capture);
    Session s;
    s.window->SetCapture(capture.get());
    QTRY_COMPARE_WITH_TIMEOUT(s.boxes.Boxes().size(), size_t{1}, 5000);
    const QString expected = QString::fromUtf8(MainWindow::CaptureFailedMessage)
                                 .arg("/dev/full", QString::fromStdString(SystemErrorText(ENOSPC)));
    QCOMPARE(s.LastBox(), expected);

    QVERIFY(s.Open(3));
    Send(s);
    QCOMPARE(s.pty.ReadMaster(kRequestLength, 5s).size(), kRequestLength);
    QVERIFY(s.pty.WriteMaster(Bytes{1, 0x83, 2}));
    QTRY_COMPARE_WITH_TIMEOUT(s.Pane(), QStringLiteral("   1  83   2"), 5000);
    QCOMPARE(s.boxes.Boxes().size(), size_t{1});
}

void CaptureTest::pulledLineKeepsTheRecordsAndTheCaptureGoesOn() {
    Capture c;
    Session s;
    PtyPair adapter;
    s.Link(6, adapter.SlavePath());
    s.window->SetCapture(c.capture.get());
    QVERIFY(s.Open(6));
    Send(s);
    QCOMPARE(adapter.ReadMaster(kRequestLength, 5s).size(), kRequestLength);
    QVERIFY(adapter.WriteMaster(Bytes{1, 0x83, 2}));
    QTRY_COMPARE_WITH_TIMEOUT(s.Pane().size(), 3 * 4, 5000);
    adapter.CloseMaster();
    QTRY_COMPARE_WITH_TIMEOUT(s.boxes.Boxes().size(), size_t{1}, 5000);
    QVERIFY(s.LastBox().startsWith("WARNING:"));  // the engine's, not the capture's

    QVERIFY(s.Open(3));
    Send(s);
    QCOMPARE(s.pty.ReadMaster(kRequestLength, 5s).size(), kRequestLength);
    QVERIFY(c.WaitForRecords(3));
    QCOMPARE(c.file.records.size(), size_t{3});
    QCOMPARE(c.file.records[1].bytes, (Bytes{1, 0x83, 2}));
    QCOMPARE(c.file.records[2].bytes, c.file.records[0].bytes);
    QCOMPARE(s.boxes.Boxes().size(), size_t{1});
}

void CaptureTest::commandLine_data() {
    QTest::addColumn<QStringList>("arguments");  // FILE stands for a file in a new directory
    QTest::addColumn<int>("status");             // -1: runs, recording into FILE

    QTest::newRow("Help") << QStringList{"--help"} << 0;
    QTest::newRow("UnknownOption") << QStringList{"--bogus"} << 2;
    QTest::newRow("StrayArgument") << QStringList{"stray"} << 2;
    QTest::newRow("NoFileName") << QStringList{"--capture"} << 2;
    QTest::newRow("TwoFiles") << QStringList{"--capture", "FILE", "--capture=FILE"} << 2;
    QTest::newRow("UncreatableFile") << QStringList{"--capture", "FILE/x.pcap"} << 2;
    QTest::newRow("RecordsBesideQtsOptions")
        << QStringList{"--capture=FILE", "-platform", "offscreen"} << -1;
}

void CaptureTest::commandLine() {
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QTemporaryDir dir;
    const QString file = dir.path() + "/line.pcap";
    arguments.replaceInStrings("FILE", file);
    QProcess talvenor;
    talvenor.start(TALVENOR_PATH, arguments);
    QVERIFY(talvenor.waitForStarted());
    if (status < 0) {
        // The header is there before anything crosses the line.
        QTRY_COMPARE_WITH_TIMEOUT(QFileInfo(file).size(), qint64{24}, 10000);
        QVERIFY(CaptureFile::Read(file.toStdString()).headerOk);
        talvenor.kill();
        talvenor.waitForFinished();
        return;
    }
    QVERIFY(talvenor.waitForFinished(10000));
    QCOMPARE(talvenor.exitCode(), status);
    const QString out = QString::fromUtf8(talvenor.readAllStandardOutput());
    const QString err = QString::fromUtf8(talvenor.readAllStandardError());
    if (status == 0) {
        QVERIFY(out.contains("--capture FILE") && err.isEmpty());
    } else {
        QVERIFY2(err.count('\n') == 1 && err.endsWith('\n') && out.isEmpty(), qPrintable(err));
        QVERIFY(!QFileInfo::exists(file));
    }
}

QTEST_MAIN(CaptureTest)
#include "CaptureTest.moc"
