// The hook chain on real widgets: who sees a message, in which order, and
// what the widget's procedure is after hooks come and go, from a small
// script per row.
#include <QContextMenuEvent>
#include <QPointer>
#include <QtTest>
#include <map>
#include <memory>

#include "ui/CSubclassWnd.h"
#include "ui/SubclassProc.h"
#include "ui/WindowMessages.h"
#include "ui/WindowProc.h"

namespace {

QStringList trace;
constexpr UINT kTestMessage = 0x8001;

class Target : public QWidget {
protected:
    void contextMenuEvent(QContextMenuEvent* event) override {
        trace
            << QStringLiteral("own@%1,%2").arg(event->globalPos().x()).arg(event->globalPos().y());
    }
};

// The widget's procedure from before any hook.
LRESULT OwnProc(QWidget* window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WindowMessages::WM_CONTEXTMENU) trace << QStringLiteral("W%1").arg(message);
    return DefaultWindowProc(window, message, wParam, lParam);
}

class RecordingHook : public CSubclassWnd {
public:
    RecordingHook(QString name, bool consume) : name(std::move(name)), consume(consume) {}
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == WindowMessages::WM_CONTEXTMENU)
            trace << QStringLiteral("%1@%2,%3")
                         .arg(name)
                         .arg(SignedLowWord(lParam))
                         .arg(SignedHighWord(lParam));
        else
            trace << name;
        if (consume) return 7;
        return CSubclassWnd::HandleMessage(message, wParam, lParam);
    }
    QString name;
    bool consume;
};

QString ProcName(QWidget* window) {
    const WindowProc proc = GetWindowProc(window);
    return proc == &SubclassProc        ? "sub"
           : proc == &OwnProc           ? "own"
           : proc == &DefaultWindowProc ? "default"
                                        : "?";
}

}  // namespace

class SubclassChainTest : public QObject {
    Q_OBJECT
private slots:
    void chain_data();
    void chain();
};

void SubclassChainTest::chain_data() {
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("expected");
    // +X hooks X (X! a consuming hook), -X unhooks, ~X destroys the hook,
    // ! sends a message, m a right click at (30, 40), x destroys the widget,
    // p notes the widget's procedure, ? notes each hook's state, s makes
    // SubclassProc the procedure without a hook (as another party could).
    // clang-format off
    QTest::newRow("order through two hooks") << "+A +B !" << "B A W32769";
    QTest::newRow("a consuming hook") << "+A +B! !" << "B =7";
    QTest::newRow("unhooking the first") << "+A +B +C -C ! p" << "B A W32769 sub";
    QTest::newRow("unhooking a middle one") << "+A +B +C -B ! p" << "C A W32769 sub";
    QTest::newRow("unhooking the oldest") << "+A +B +C -A ! p" << "C B W32769 sub";
    QTest::newRow("unhooking all puts the procedure back") << "+A +B -A -B p !" << "own W32769";
    QTest::newRow("hook destroyed while hooked") << "+A +B ~B ! ~A p" << "A W32769 own";
    QTest::newRow("widget destroyed with two hooks") << "+A +B x ?" << "W130 A:free B:free";
    QTest::newRow("hooking a hooked hook is refused") << "+A +A ! ?" << "refused A W32769 A:hooked";
    QTest::newRow("a right click goes down the chain to the widget") << "+A +B m" << "B@30,40 A@30,40 own@30,40";
    QTest::newRow("a consumed right click never reaches the widget") << "+A +B! m" << "B@30,40";
    QTest::newRow("no hooks: the right click is untouched") << "m" << "own@30,40";
    QTest::newRow("SubclassProc without hooks passes it on untouched") << "s m p" << "own@30,40 sub";
    // clang-format on
}

void SubclassChainTest::chain() {
    QFETCH(QString, script);
    QFETCH(QString, expected);
    trace.clear();
    QPointer<Target> window = new Target;
    SetWindowProc(window, &OwnProc);
    std::map<QChar, std::unique_ptr<RecordingHook>> hooks;
    for (const QString& op : script.split(' ')) {
        const QChar name = op.size() > 1 ? op[1] : QChar();
        switch (op[0].toLatin1()) {
            case '+': {
                auto& hook = hooks[name];
                if (!hook) hook = std::make_unique<RecordingHook>(QString(name), op.endsWith('!'));
                if (!hook->Hook(window)) trace << "refused";
                break;
            }
            case '-':
                hooks[name]->Hook(nullptr);
                break;
            case '~':
                hooks.erase(name);
                break;
            case '!': {
                const LRESULT result = SendWindowMessage(window, kTestMessage, 0, 0);
                if (result == 7) trace << "=7";
                break;
            }
            case 'm': {
                QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(1, 1), QPoint(30, 40));
                QCoreApplication::sendEvent(window, &event);
                break;
            }
            case 's':
                SetWindowProc(window, &SubclassProc);
                break;
            case 'x':
                delete window;
                break;
            case 'p':
                trace << ProcName(window);
                break;
            case '?':
                for (const auto& [key, hook] : hooks)
                    trace << QStringLiteral("%1:%2").arg(key).arg(hook->IsHooked() ? "hooked"
                                                                                   : "free");
                break;
        }
    }
    QCOMPARE(trace.join(' '), expected);
    hooks.clear();
    delete window;
}

QTEST_MAIN(SubclassChainTest)
#include "SubclassChainTest.moc"
