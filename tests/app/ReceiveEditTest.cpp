// The receive pane driven as the user and the main window drive it: keys,
// mouse, clipboard, undo and appends on the real widget, offscreen.
#include <QClipboard>
#include <QScrollBar>
#include <QtTest>

#include "app/ReceiveEdit.h"
#include "resources/DialogTemplate.h"
#include "ui/Dialog.h"

namespace {

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

// One step of an edit script: a key with modifiers, typed text, an append,
// or a mouse drag between two positions of the first row.
struct Step {
    enum Kind { Key, Type, Append, Drag, DoubleClick } kind;
    int key = 0;
    Qt::KeyboardModifiers modifiers = Qt::NoModifier;
    QString text = {};
    int from = 0;
    int to = 0;
};
Step K(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    return {Step::Key, key, modifiers};
}
Step Type(const QString& text) { return {Step::Type, 0, {}, text}; }
Step Append(const char* ascii) { return {Step::Append, 0, {}, QString::fromLatin1(ascii)}; }
Step Drag(int from, int to) { return {Step::Drag, 0, {}, {}, from, to}; }
constexpr auto Ctrl = Qt::ControlModifier;
constexpr auto Shift = Qt::ShiftModifier;

// The viewport point at the left edge of the character at pos.
QPoint PointOf(ReceiveEdit& pane, int pos) {
    pane.SetSelection(pos, pos);
    pane.UpdateNow();
    const QRect caret = pane.CaretRect();
    return pane.viewport()->mapFrom(&pane, caret.center() + QPoint(1, 0));
}

void Run(ReceiveEdit& pane, const Step& step) {
    switch (step.kind) {
        case Step::Key:
            QTest::keyClick(&pane, static_cast<Qt::Key>(step.key), step.modifiers);
            break;
        case Step::Type:
            QTest::keyClicks(&pane, step.text);
            break;
        case Step::Append:
            pane.AppendText(step.text.toStdString());
            break;
        case Step::Drag: {
            const QPoint from = PointOf(pane, step.from);
            const QPoint to = PointOf(pane, step.to);
            pane.SetSelection(0, 0);
            QTest::mousePress(pane.viewport(), Qt::LeftButton, {}, from);
            QMouseEvent move(QEvent::MouseMove, to, pane.viewport()->mapToGlobal(to), Qt::NoButton,
                             Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(pane.viewport(), &move);
            QTest::mouseRelease(pane.viewport(), Qt::LeftButton, {}, to);
            break;
        }
        case Step::DoubleClick:
            QTest::mouseDClick(pane.viewport(), Qt::LeftButton, {}, PointOf(pane, step.from));
            break;
    }
}

}  // namespace

class ReceiveEditTest : public QObject {
    Q_OBJECT
private slots:
    void editing();
    void chineseTakesTwoColumns();
    void appendsFollowTheEnd();
    void attachedInPlaceOfTheTemplateControl();
};

void ReceiveEditTest::editing() {
    struct Row {
        const char* name;
        QString start;
        std::vector<Step> steps;
        QString text;
        int selStart, selEnd;
        QString clipboard = {};  // checked when not empty
    };
    const Row table[] = {
        {"typing and Return", "", {Type("ab"), K(Qt::Key_Return), Type("c")}, "ab\nc", 4, 4},
        {"backspace and delete",
         "abcd",
         {K(Qt::Key_Home), K(Qt::Key_Delete), K(Qt::Key_End), K(Qt::Key_Backspace)},
         "bc",
         2,
         2},
        {"shift-arrows select, typing replaces",
         "0123456789",
         {K(Qt::Key_End, Ctrl), K(Qt::Key_Left, Shift), K(Qt::Key_Left, Shift),
          K(Qt::Key_Left, Shift), Type("x")},
         "0123456x",
         8,
         8},
        {"undo puts the replaced text back selected",
         "0123456789",
         {K(Qt::Key_End, Ctrl), K(Qt::Key_Left, Shift), K(Qt::Key_Left, Shift), Type("xy"),
          K(Qt::Key_Z, Ctrl)},
         "0123456789",
         8,
         10},
        {"undo twice redoes",
         "0123",
         {K(Qt::Key_End, Ctrl), Type("45"), K(Qt::Key_Z, Ctrl), K(Qt::Key_Z, Ctrl)},
         "012345",
         4,
         6},
        {"select all, copy, paste at the end",
         "abc def",
         {K(Qt::Key_A, Ctrl), K(Qt::Key_C, Ctrl), K(Qt::Key_End, Ctrl), K(Qt::Key_V, Ctrl)},
         "abc defabc def",
         14,
         14,
         "abc def"},
        {"cut",
         "abc def",
         {K(Qt::Key_Home, Ctrl), K(Qt::Key_Right, Shift), K(Qt::Key_Right, Shift),
          K(Qt::Key_Right, Shift), K(Qt::Key_X, Ctrl)},
         " def",
         0,
         0,
         "abc"},
        {"mouse drag selects",
         "   1   3  ff",
         {Drag(3, 8), K(Qt::Key_C, Ctrl)},
         "   1   3  ff",
         3,
         8,
         "1   3"},
        {"up and down keep the column",
         "abcdef\nxy\nuvwxyz",
         {K(Qt::Key_Home, Ctrl), K(Qt::Key_Right), K(Qt::Key_Right), K(Qt::Key_Right),
          K(Qt::Key_Right), K(Qt::Key_Down), K(Qt::Key_Down)},
         "abcdef\nxy\nuvwxyz",
         14,
         14},
        {"an append leaves nothing to undo",
         "",
         {Type("ab"), Append("   1"), K(Qt::Key_Z, Ctrl)},
         "ab   1",
         6,
         6},
        {"typing after an append goes at the caret",
         "",
         {Append("   1"), K(Qt::Key_Home), Type("x")},
         "x   1",
         1,
         1},
    };
    ReceiveEdit pane;
    pane.resize(400, 200);
    pane.show();
    QVERIFY(QTest::qWaitForWindowExposed(&pane));
    QStringList failures;
    for (const Row& row : table) {
        pane.SetText(row.start);
        QGuiApplication::clipboard()->clear();
        for (const Step& step : row.steps) Run(pane, step);
        const QString got = QStringLiteral("%1 [%2,%3]")
                                .arg(pane.Text())
                                .arg(pane.SelectionStart())
                                .arg(pane.SelectionEnd());
        const QString want =
            QStringLiteral("%1 [%2,%3]").arg(row.text).arg(row.selStart).arg(row.selEnd);
        if (got != want) failures << QStringLiteral("%1: got %2, want %3").arg(row.name, got, want);
        if (!row.clipboard.isEmpty() && QGuiApplication::clipboard()->text() != row.clipboard)
            failures << QStringLiteral("%1: clipboard %2")
                            .arg(row.name, QGuiApplication::clipboard()->text());
    }
    QVERIFY2(failures.isEmpty(), qPrintable(failures.join('\n')));
}

// Typed and input-method text both land in the pane; a Chinese character
// moves the caret two Latin columns.
void ReceiveEditTest::chineseTakesTwoColumns() {
    Dialog dialog(IDD_MAIN);
    auto* pane = new ReceiveEdit;
    dialog.SubclassControl(MainIds::IDC_RECEIVE, pane);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    pane->setFocus();
    pane->UpdateNow();
    const int x0 = pane->CaretRect().x();
    QKeyEvent typed(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, U("中"));
    QCoreApplication::sendEvent(pane, &typed);
    QInputMethodEvent commit;
    commit.setCommitString(U("文"));
    QCoreApplication::sendEvent(pane, &commit);
    QTest::keyClicks(pane, "ab");
    pane->UpdateNow();
    QCOMPARE(pane->Text(), U("中文ab"));
    const int latin = QFontMetrics(pane->font()).horizontalAdvance(QLatin1Char('a'));
    QCOMPARE(pane->CaretRect().x() - x0, 6 * latin);
    QCOMPARE(QFontMetrics(pane->font()).horizontalAdvance(U("中")), 2 * latin);
}

// Bytes appended as the main window appends them: the caret follows the
// end and the end is on screen, however long the dump.
void ReceiveEditTest::appendsFollowTheEnd() {
    ReceiveEdit pane;
    pane.resize(300, 120);
    pane.show();
    QVERIFY(QTest::qWaitForWindowExposed(&pane));
    pane.SetText(U("typed "));
    pane.SetSelection(0, 2);
    for (int b = 0; b < 3000; ++b) pane.AppendText(b % 2 ? "  ff" : "   1");
    QCOMPARE(pane.TextLength(), 6 + 3000 * 4);
    QCOMPARE(pane.SelectionStart(), pane.TextLength());
    QCOMPARE(pane.SelectionEnd(), pane.TextLength());
    QVERIFY(!pane.CanUndo());
    QVERIFY(pane.Text().startsWith(U("typed    1  ff")));
    QTRY_COMPARE(pane.FirstVisibleRow(), pane.RowCount() - pane.VisibleRows());
    QCOMPARE(pane.verticalScrollBar()->value(), pane.verticalScrollBar()->maximum());
}

void ReceiveEditTest::attachedInPlaceOfTheTemplateControl() {
    Dialog dialog(IDD_MAIN);
    const QRect place = dialog.Control(MainIds::IDC_RECEIVE)->geometry();
    auto* pane = new ReceiveEdit;
    dialog.SubclassControl(MainIds::IDC_RECEIVE, pane);
    QCOMPARE(dialog.Control(MainIds::IDC_RECEIVE), pane);
    QCOMPARE(dialog.ControlId(pane), MainIds::IDC_RECEIVE);
    QCOMPARE(pane->geometry(), place);
    QCOMPARE(pane->font(), dialog.font());
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    pane->setFocus();
    // Return is the pane's, not the dialog's default button.
    QTest::keyClick(pane, Qt::Key_Return);
    QVERIFY(dialog.isVisible());
    QCOMPARE(pane->Text(), QStringLiteral("\n"));
}

QTEST_MAIN(ReceiveEditTest)
#include "ReceiveEditTest.moc"
