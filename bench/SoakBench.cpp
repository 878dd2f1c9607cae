// A long run of the real main window, offscreen: timed sending every 10 ms
// from the Modbus panel, receive stamps on, against a libmodbus RTU slave on
// a pty cable. Afterwards it checks and prints:
//   - every reply byte the slave sent is in the pane, in order, stamps
//     removed; the purge before each send may drop the tail of a reply the
//     pane had not been handed yet, and those bytes are counted apart;
//   - the requests the slave answered against the timer's ideal (2 % off at
//     most);
//   - resident memory after the run minus that after the first 10 s, against
//     what the pane's own buffers grew by (no leak);
//   - no message box.
// Exits 1 when a check fails.
//
//   soak_bench [seconds, default 300] [send tolerance in %, default 2]
// (a sanitizer build slows the event loop enough to miss ticks: its run may
// widen the tolerance, the figure is printed all the same)
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ModbusRtuSlave.h"
#include "PtyLink.h"
#include "app/MainWindow.h"
#include "app/PortSettingsDialog.h"
#include "app/ReceiveEdit.h"
#include "app/SendScheduler.h"
#include "serial/PosixComm.h"
#include "tools/MessageBox.h"

#include "bench/ProcessFigures.h"

namespace {

constexpr int kIntervalMs = 10;
constexpr int kWarmUpMs = 10'000;
// Resident memory may grow by what the pane's buffers grew, twice over (a
// buffer that doubles holds up to twice its content), and a fixed allowance
// for the allocator's arenas and Qt's caches.
constexpr double kMemoryFactor = 2.0;
constexpr long kMemorySlackKiB = 8 * 1024;

class CountingSink final : public MessageBoxSink {
public:
    void Show(std::string_view text, std::string_view, MessageIcon) override {
        std::fprintf(stderr, "message box: %.*s\n", static_cast<int>(text.size()), text.data());
        ++count;
    }
    std::atomic<int> count{0};
};

void RunFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// The pane's bytes: its hex columns with the "[ms]" stamps taken out.
std::vector<uint8_t> PaneBytes(const QString& text) {
    QString bare = text;
    bare.remove(QRegularExpression(QStringLiteral("\\[[^\\]]*\\]")));
    std::vector<uint8_t> bytes;
    for (const QString& column : bare.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        bytes.push_back(static_cast<uint8_t>(column.toUInt(nullptr, 16)));
    return bytes;
}

struct Comparison {
    size_t shown = 0;                // bytes of the pane matched to a reply
    size_t discarded = 0;            // reply tails the purge took, whole replies included
    size_t truncated = 0;            // replies shown only in part
    size_t dropped = 0;              // replies not shown at all
    std::optional<size_t> brokenAt;  // pane offset where the pane stops matching
};

// The pane must be, in order, a prefix of every reply (all of it, part of it
// or none of it): the purge before a send drops what of a reply the pane had
// not been handed yet, and a slow window may see several replies in a row cut.
// All replies start alike, so where one reply's prefix ends is not known
// until later ones match: every pane offset the replies so far can reach is
// kept, with the fewest cuts that reach it, and offsets left more than a few
// replies behind the furthest are let go.
Comparison Compare(const std::vector<uint8_t>& pane, const std::vector<uint8_t>& sent,
                   const std::vector<int>& lengths) {
    struct Cuts {
        size_t truncated = 0;
        size_t dropped = 0;
        size_t Count() const { return truncated + dropped; }
    };
    constexpr size_t kWindow = 64;
    std::map<size_t, Cuts> reach{{0, Cuts{}}};
    size_t furthest = 0;
    for (size_t reply = 0, start = 0; reply < lengths.size();
         start += static_cast<size_t>(lengths[reply++])) {
        const size_t length = static_cast<size_t>(lengths[reply]);
        std::map<size_t, Cuts> next;
        for (const auto& [at, cuts] : reach) {
            for (size_t k = 0;; ++k) {
                Cuts more = cuts;
                if (k == 0)
                    ++more.dropped;
                else if (k < length)
                    ++more.truncated;
                auto [slot, added] = next.try_emplace(at + k, more);
                if (!added && more.Count() < slot->second.Count()) slot->second = more;
                if (k == length || at + k == pane.size() || pane[at + k] != sent[start + k]) break;
            }
        }
        furthest = std::max(furthest, next.rbegin()->first);
        next.erase(
            next.begin(),
            next.lower_bound(next.rbegin()->first > kWindow ? next.rbegin()->first - kWindow : 0));
        reach = std::move(next);
    }
    Comparison result;
    const auto whole = reach.find(pane.size());
    if (whole == reach.end()) {
        result.brokenAt = furthest;
        result.shown = furthest;
        return result;
    }
    result.shown = pane.size();
    result.discarded = sent.size() - pane.size();
    result.truncated = whole->second.truncated;
    result.dropped = whole->second.dropped;
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(11, std::atoi(argv[1])) : 300;
    const double sendTolerance = (argc > 2 ? std::atof(argv[2]) : 2.0) / 100.0;
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication application(argc, argv);
    CountingSink boxes;
    MessageBoxSink* previousSink = InstallMessageBoxSink(&boxes);

    PtyLink cable(true);
    auto slave = std::make_unique<ModbusRtuSlave>(cable.PathB(), 9600);
    // Holding register 0 counts the replies, so that no two in a row are alike.
    slave->AfterEachReply([](modbus_mapping_t& map) { ++map.tab_registers[0]; });

    QTemporaryDir root;
    const std::string ports = root.path().toStdString() + "/ports";
    std::filesystem::create_directory(ports);
    std::filesystem::create_symlink(cable.PathA(), ports + "/COM1");
    const ComNames names({ports, ports, ports});
    auto window = std::make_unique<MainWindow>(std::make_unique<PosixComm>(names), names);
    window->show();
    QTimer::singleShot(0, window.get(), [] {
        if (auto* dialog = qobject_cast<PortSettingsDialog*>(QApplication::activeModalWidget())) {
            dialog->ControlAs<QComboBox>(PortSettingsIds::IDC_PORT)->setCurrentIndex(0);
            dialog->SendCommand(IDOK);
        }
    });
    window->SendCommand(MainIds::IDC_SETTINGS);
    if (!window->receiving) {
        std::fprintf(stderr, "the window could not open the cable\n");
        return 1;
    }
    window->ControlAs<QCheckBox>(MainIds::IDC_MONITOR_TIME)->click();
    window->SetItemText(MainIds::IDC_INTERVAL, QString::number(kIntervalMs));
    long ticks = 0;
    QObject::connect(&window->Sender().SendTimer(), &QTimer::timeout, [&] { ++ticks; });

    std::printf("soak: timed sending every %d ms for %d s, stamps on, libmodbus slave on a pty\n",
                kIntervalMs, seconds);
    std::fflush(stdout);
    ReceiveEdit& pane = window->ReceivePane();
    QElapsedTimer clock;
    window->ControlAs<QCheckBox>(MainIds::IDC_TIMED_SEND)->click();
    clock.start();
    RunFor(kWarmUpMs);
    const long warmKiB = ResidentKiB();
    const size_t warmPaneBytes = pane.MemoryBytes();
    const int warmLength = pane.TextLength();
    RunFor(seconds * 1000 - kWarmUpMs);
    window->ControlAs<QCheckBox>(MainIds::IDC_TIMED_SEND)->click();
    const qint64 sendingMs = clock.elapsed();

    // The last reply reaches the pane once the slave is done: wait until the
    // pane holds as many bytes as the slave sent, or stops growing.
    int lastLength = -1;
    for (int quiet = 0; quiet < 5;) {
        RunFor(100);
        const int length = pane.TextLength();
        quiet = length == lastLength ? quiet + 1 : 0;
        lastLength = length;
    }
    const long endKiB = ResidentKiB();
    const size_t endPaneBytes = pane.MemoryBytes();
    const int endLength = pane.TextLength();

    const std::vector<uint8_t> shownBytes = PaneBytes(pane.Text());
    const std::vector<int> lengths = slave->ReplyLengths();
    const int served = slave->RequestsServed();
    slave->Stop();
    const std::vector<uint8_t> sent = cable.FromB();
    size_t logged = 0;
    for (int length : lengths) logged += static_cast<size_t>(length);

    bool ok = true;
    auto check = [&ok](bool holds) {
        ok = ok && holds;
        return holds ? "ok" : "FAILED";
    };

    const Comparison c = logged == sent.size() ? Compare(shownBytes, sent, lengths) : Comparison{};
    std::printf("replies   : %zu replies, %zu bytes sent by the slave (its log %zu bytes)  %s\n",
                lengths.size(), sent.size(), logged, check(logged == sent.size()));
    std::printf(
        "pane      : %zu bytes shown, %zu compared in order with what was sent, %zu missing "
        "and all taken by the purge before a send (%zu replies cut short, %zu not shown)  %s\n",
        shownBytes.size(), c.shown, c.discarded, c.truncated, c.dropped,
        check(!c.brokenAt && c.shown == shownBytes.size() && c.shown + c.discarded == sent.size()));
    if (c.brokenAt) {
        std::printf("            the pane stops matching at byte %zu:", *c.brokenAt);
        const size_t from = *c.brokenAt > 21 ? *c.brokenAt - 21 : 0;
        for (size_t i = from; i < std::min(shownBytes.size(), *c.brokenAt + 14); ++i)
            std::printf(i == *c.brokenAt ? " [%02X]" : " %02X", shownBytes[i]);
        std::printf("\n");
    }

    const double ideal = static_cast<double>(sendingMs) / kIntervalMs;
    const double off = (served - ideal) / ideal;
    std::printf(
        "sends     : %d requests answered, %ld timer ticks in %.1f s; ideal %.0f (%+.2f %%)  %s\n",
        served, ticks, static_cast<double>(sendingMs) / 1000.0, ideal, 100.0 * off,
        check(std::abs(off) <= sendTolerance));

    const long growthKiB = endKiB - warmKiB;
    const double paneGrowth =
        static_cast<double>(endPaneBytes) - static_cast<double>(warmPaneBytes);
    const int textGrowth = endLength - warmLength;
    std::printf(
        "memory    : %ld KiB resident after 10 s, %ld KiB at the end (%+ld KiB); the pane's "
        "text grew by %d chars, its buffers by %.0f KiB; %.2f bytes resident per char shown  %s\n",
        warmKiB, endKiB, growthKiB, textGrowth, paneGrowth / 1024.0,
        textGrowth > 0 ? static_cast<double>(growthKiB) * 1024.0 / textGrowth : 0.0,
        check(static_cast<double>(growthKiB) <=
              kMemoryFactor * paneGrowth / 1024.0 + kMemorySlackKiB));
    std::printf("boxes     : %d message boxes  %s\n", boxes.count.load(), check(boxes.count == 0));
    std::printf("soak %s\n", ok ? "passed" : "FAILED");

    window.reset();
    InstallMessageBoxSink(previousSink);
    return ok ? 0 : 1;
}
