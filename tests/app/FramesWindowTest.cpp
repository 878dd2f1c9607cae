// The frames window against the built simulator handing its replies over as
// a UART's FIFO and a USB adapter do: each request and its reply listed with
// the simulator's values, and the capture of the same run decoded by tshark
// as whole frames. Last, the picture of the window for the README.
#include <QAbstractItemModel>
#include <QComboBox>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>
#include <memory>
#include <string>

#include "DialogShot.h"
#include "PcapFile.h"
#include "SimProcess.h"
#include "WindowSession.h"
#include "app/FramesWindow.h"
#include "app/MainWindow.h"
#include "app/ModbusPanel.h"
#include "trace/LineCapture.h"

namespace {

constexpr int kReads = 5;

QString Cell(const FramesWindow& frames, int row, int column) {
    const QAbstractItemModel* model = frames.View().model();
    return model->index(row, column).data().toString();
}

int Rows(const FramesWindow& frames) { return frames.View().model()->rowCount(); }

// The Modbus panel's request: function index as the list has it (0 is
// function 1), address and quantity or value.
void Request(Session& s, int function, const QString& address, const QString& quantity) {
    ModbusPanel& panel = *s.window->GetModbusPanel();
    panel.ControlAs<QComboBox>(ModbusPanelIds::IDC_FUNCTION)->setCurrentIndex(function - 1);
    panel.SetItemText(ModbusPanelIds::IDC_ADDRESS, address);
    panel.SetItemText(ModbusPanelIds::IDC_QUANTITY, quantity);
    QTest::mouseClick(s.window->Control(MainIds::IDC_SEND), Qt::LeftButton);
}

}  // namespace

class FramesWindowTest : public QObject {
    Q_OBJECT
private slots:
    void repliesHandedOverAsHardwareDoesAreWhole_data();
    void repliesHandedOverAsHardwareDoesAreWhole();
    void picture();
};

void FramesWindowTest::repliesHandedOverAsHardwareDoesAreWhole_data() {
    QTest::addColumn<QString>("deliver");
    QTest::newRow("Fifo") << "fifo";
    QTest::newRow("Usb") << "usb";
}

void FramesWindowTest::repliesHandedOverAsHardwareDoesAreWhole() {
    QFETCH(QString, deliver);
    QTemporaryDir dir;
    const std::string path = dir.filePath("line.pcap").toStdString();
    int error = 0;
    auto capture = LineCapture::Create(path, error);
    QVERIFY(capture);
    {
        Session s;
        SimProcess sim({"--com", "6", "--period", "0", "--deliver", deliver.toStdString(),
                        "--port-dir", (s.root.path() + "/ports").toStdString()});
        // The record starts on a line already open: it learns the line's speed.
        QVERIFY(s.Open(6, "1", true, "115200"));
        s.window->SetCapture(capture.get());
        FramesWindow& frames = s.window->ShowFrames();
        for (int i = 0; i < kReads; ++i) {
            Request(s, 3, "0", "10");
            QTRY_COMPARE_WITH_TIMEOUT(Rows(frames), 2 * (i + 1), 5000);
        }
        for (int i = 0; i < kReads; ++i) {
            QCOMPARE(Cell(frames, 2 * i, 1), QStringLiteral("发送"));
            QCOMPARE(Cell(frames, 2 * i, 4), QStringLiteral("地址 0 数量 10"));
            QCOMPARE(Cell(frames, 2 * i + 1, 1), QStringLiteral("接收"));
            QCOMPARE(Cell(frames, 2 * i + 1, 4),
                     QStringLiteral("[0] 1000 1001 1002 1003 1004 1005 1006 1007 1008 1009"));
            QCOMPARE(Cell(frames, 2 * i + 1, 5), QStringLiteral("CRC 正确"));
            QVERIFY(Cell(frames, 2 * i + 1, 6).toDouble() > 0);
        }
        QCOMPARE(frames.CountersShown(),
                 QStringLiteral("请求 5    应答 5    无应答 0    校验错误 0    异常 0"));
    }
    capture.reset();

    const QString tshark = QStandardPaths::findExecutable("tshark");
    if (tshark.isEmpty()) QSKIP("tshark is not installed (scripts/deps installs it)");
    QProcess decoder;
    decoder.start(tshark, {"-r", QString::fromStdString(path), "-d", "rtacser.data,mbrtu"});
    QVERIFY(decoder.waitForFinished(60000) && decoder.exitCode() == 0);
    const QString decoded = QString::fromUtf8(decoder.readAllStandardOutput());
    QCOMPARE(decoded.count(QLatin1String("Query: Unit:   1, Func:   3")), kReads);
    QCOMPARE(decoded.count(QLatin1String("Response: Unit:   1, Func:   3")), kReads);
    QVERIFY2(!decoded.contains(QLatin1String("Malformed")), qPrintable(decoded));
}

// Reads, a write, an exception from a read past the map's end, and a bad
// check from a simulator that spoils its CRCs.
void FramesWindowTest::picture() {
    Session s;
    const std::string ports = (s.root.path() + "/ports").toStdString();
    SimProcess good({"--com", "6", "--period", "0", "--port-dir", ports});
    SimProcess spoiled({"--com", "7", "--period", "0", "--bad-check", "--port-dir", ports});
    QVERIFY(s.Open(6));
    FramesWindow& frames = s.window->ShowFrames();
    const struct {
        int function;
        const char* address;
        const char* quantity;
    } requests[] = {{3, "0", "10"}, {1, "0", "10"}, {6, "1", "4660"}, {3, "150", "2"}};
    int rows = 0;
    for (const auto& r : requests) {
        Request(s, r.function, r.address, r.quantity);
        rows += 2;
        QTRY_COMPARE_WITH_TIMEOUT(Rows(frames), rows, 5000);
    }
    QVERIFY(s.Open(7));
    Request(s, 4, "0", "2");
    QTRY_COMPARE_WITH_TIMEOUT(Rows(frames), rows + 2, 5000);
    QCOMPARE(frames.CountersShown(),
             QStringLiteral("请求 5    应答 5    无应答 0    校验错误 1    异常 1"));
    QVERIFY(SaveDialogShot(frames, ShotDirectory(TALVENOR_SOURCE_DIR), "FramesWindow"));
}

QTEST_MAIN(FramesWindowTest)
#include "FramesWindowTest.moc"
