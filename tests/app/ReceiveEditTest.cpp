// The receive pane driven as the user and the main window drive it: keys,
// mouse, clipboard, undo and appends on the real widget, offscreen.
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QMenu>
#include <QScreen>
#include <QScrollBar>
#include <QtTest>

#include "DialogShot.h"
#include "RecordingMessageBoxSink.h"
#include "app/ReceiveEdit.h"
#include "dialogs/ConversionDialog.h"
#include "resources/DialogTemplate.h"
#include "tools/ReceiveText.h"
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
Step DoubleClick(int at) { return {Step::DoubleClick, 0, {}, {}, at, at}; }
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

// Acts as the user while a popup or a modal dialog is up: notes the open
// menu's item states and picks a command from it (or closes it), notes the
// conversion dialog's hex data text and closes the dialog.
class MenuDriver : public QObject {
public:
    MenuDriver() {
        connect(&timer, &QTimer::timeout, this, &MenuDriver::Look);
        timer.start(5);
        boxes.whileOpen = [this](const RecordingMessageBoxSink::Box& box) {
            log << "box:" + QString::fromStdString(box.text);
        };
    }
    int choose = 0;  // the command to pick; 0 closes the menu
    QStringList log;
    QPoint menuAt;
    std::function<void(QMenu*)> onMenu;  // runs while the menu is up
    RecordingMessageBoxSink boxes;

private:
    void Look() {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            if (onMenu) onMenu(menu);
            QString states;
            QAction* pick = nullptr;
            for (QAction* item : menu->actions()) {
                if (item->isSeparator()) continue;
                states += item->isEnabled() ? '1' : '0';
                if (item->data().toInt() == choose) pick = item;
            }
            log << "menu:" + states;
            menuAt = menu->pos();
            if (pick && pick->isEnabled()) {
                menu->setActiveAction(pick);
                QTest::keyClick(menu, Qt::Key_Return);
            } else {
                menu->close();
            }
        } else if (auto* dialog =
                       qobject_cast<ConversionDialog*>(QApplication::activeModalWidget())) {
            log << "dialog:" + dialog->ItemText(ConversionIds::IDC_HEX);
            dialog->reject();
        }
    }
    QTimer timer;
};

void RightClick(ReceiveEdit& pane) {
    const QPoint at(10, 10);
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, pane.viewport()->mapToGlobal(at));
    QCoreApplication::sendEvent(pane.viewport(), &event);
}

}  // namespace

class ReceiveEditTest : public QObject {
    Q_OBJECT
private slots:
    void editing();
    void chineseTakesTwoColumns();
    void appendsFollowTheEnd();
    void dropsTheOldestRowsPastItsLimit();
    void attachedInPlaceOfTheTemplateControl();
    void menuItemStates();
    void menuConversions();
    void keyboardMenuAtTheCaret();
    void pictureWithMenu();
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
        // clang-format off
        {"typing and Return", "", {Type("ab"), K(Qt::Key_Return), Type("c")}, "ab\nc", 4, 4},
        {"backspace and delete", "abcd", {K(Qt::Key_Home), K(Qt::Key_Delete), K(Qt::Key_End), K(Qt::Key_Backspace)}, "bc", 2, 2},
        {"shift-arrows select, typing replaces", "0123456789", {K(Qt::Key_End, Ctrl), K(Qt::Key_Left, Shift), K(Qt::Key_Left, Shift), K(Qt::Key_Left, Shift), Type("x")}, "0123456x", 8, 8},
        {"undo puts the replaced text back selected", "0123456789", {K(Qt::Key_End, Ctrl), K(Qt::Key_Left, Shift), K(Qt::Key_Left, Shift), Type("xy"), K(Qt::Key_Z, Ctrl)}, "0123456789", 8, 10},
        {"undo twice redoes", "0123", {K(Qt::Key_End, Ctrl), Type("45"), K(Qt::Key_Z, Ctrl), K(Qt::Key_Z, Ctrl)}, "012345", 4, 6},
        {"select all, copy, paste at the end", "abc def", {K(Qt::Key_A, Ctrl), K(Qt::Key_C, Ctrl), K(Qt::Key_End, Ctrl), K(Qt::Key_V, Ctrl)}, "abc defabc def", 14, 14, "abc def"},
        {"cut", "abc def", {K(Qt::Key_Home, Ctrl), K(Qt::Key_Right, Shift), K(Qt::Key_Right, Shift), K(Qt::Key_Right, Shift), K(Qt::Key_X, Ctrl)}, " def", 0, 0, "abc"},
        {"double click selects a byte's digits", "   1  ff   3", {DoubleClick(6)}, "   1  ff   3", 6, 8},
        {"mouse drag selects", "   1   3  ff", {Drag(3, 8), K(Qt::Key_C, Ctrl)}, "   1   3  ff", 3, 8, "1   3"},
        {"up and down keep the column", "abcdef\nxy\nuvwxyz", {K(Qt::Key_Home, Ctrl), K(Qt::Key_Right), K(Qt::Key_Right), K(Qt::Key_Right), K(Qt::Key_Right), K(Qt::Key_Down), K(Qt::Key_Down)}, "abcdef\nxy\nuvwxyz", 14, 14},
        {"an append leaves nothing to undo", "", {Type("ab"), Append("   1"), K(Qt::Key_Z, Ctrl)}, "ab   1", 6, 6},
        {"typing after an append goes at the caret", "", {Append("   1"), K(Qt::Key_Home), Type("x")}, "x   1", 1, 1},
        // clang-format on
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

    // A stream paints only what moved or changed, frame by frame: what is on
    // screen then must be what a full repaint draws, stamps, wraps, a
    // selection the stream ends and all.
    pane.SetText(U("x"));
    for (int frame = 0; frame < 120; ++frame) {
        if (frame == 60) pane.SetSelection(0, 1);
        for (int b = 0; b <= frame % 7; ++b) pane.AppendText(b % 3 ? "  a5" : "[  12]  7f");
        pane.UpdateNow();
        QCoreApplication::processEvents();
    }
    // The scroll bar catches up a little later.
    auto matches = [&pane] {
        const QImage shown = pane.screen()->grabWindow(pane.winId()).toImage();
        return shown == pane.grab().toImage().convertToFormat(shown.format());
    };
    QTRY_VERIFY_WITH_TIMEOUT(matches(), 2000);
}

// Past its limit the pane drops its oldest rows, cut where a byte's text
// begins, across chunks of its buffer. What stays keeps its selection and its
// rows on screen; the undo of an edit in what went is gone; appends follow.
void ReceiveEditTest::dropsTheOldestRowsPastItsLimit() {
    ReceiveEdit run;  // a long run keeps its megabytes
    const std::string dump = QStringLiteral("  ff").repeated(1 << 14).toStdString();
    for (int i = 0; i < 16; ++i) run.AppendText(dump);
    QCOMPARE(run.TextLength(), 16 * static_cast<int>(dump.size()));
    ReceiveEdit pane;
    pane.resize(300, 120);
    pane.show();
    QVERIFY(QTest::qWaitForWindowExposed(&pane));
    QString all;
    QList<int> pieceStarts;
    auto append = [&](int count) {
        for (int b = 0; b < count; ++b) {
            const std::string piece = FormatReceivedByte(static_cast<uint8_t>(b * 37)) +
                                      FormatReceiveStamp(b % 5 ? 1 : b * 3);
            pieceStarts << static_cast<int>(all.size());
            all += QString::fromStdString(piece);
            pane.AppendText(piece);
        }
    };
    append(8000);
    pane.SetSelection(0, 4);
    QTest::keyClicks(&pane, "abcd");
    all.replace(0, 4, "abcd");
    pane.UpdateNow();
    const int limit = static_cast<int>(all.size()) / 2;
    const int selEnd = static_cast<int>(all.size()) - limit * 3 / 4 + 500;
    pane.SetSelection(selEnd - 800, selEnd);
    pane.ScrollCaret();
    pane.UpdateNow();
    const QImage shown = pane.viewport()->grab().toImage();
    pane.SetTextLimit(limit);
    pane.UpdateNow();
    const int cut = static_cast<int>(all.size()) - pane.TextLength();
    QVERIFY(pieceStarts.contains(cut) && pane.TextLength() <= limit);
    QCOMPARE(pane.Text(), all.mid(cut));
    QCOMPARE(pane.SelectedText(), all.mid(cut, selEnd - cut));
    QCOMPARE(pane.viewport()->grab().toImage(), shown);
    QTest::keyClick(&pane, Qt::Key_Z, Ctrl);
    QCOMPARE(pane.Text(), all.mid(cut));
    append(3000);
    QVERIFY(pane.TextLength() <= limit && all.endsWith(pane.Text()));
    QVERIFY(pieceStarts.contains(static_cast<int>(all.size()) - pane.TextLength()));
    QTRY_COMPARE(pane.FirstVisibleRow(), pane.RowCount() - pane.VisibleRows());
}

void ReceiveEditTest::attachedInPlaceOfTheTemplateControl() {
    Dialog dialog(IDD_MAIN);
    const QRect place = dialog.Control(MainIds::IDC_RECEIVE)->geometry();
    QWidget* before = dialog.Control(MainIds::IDC_RECEIVE)->previousInFocusChain();
    auto* pane = new ReceiveEdit;
    dialog.SubclassControl(MainIds::IDC_RECEIVE, pane);
    QCOMPARE(before->nextInFocusChain(), pane);
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

// Items in menu order: undo, cut, copy, paste, hex, Modbus ASCII.
void ReceiveEditTest::menuItemStates() {
    struct Row {
        const char* name;
        QString text;
        int selStart, selEnd;
        QString clipboard;
        bool typeFirst;
        QString states;
    };
    const Row table[] = {
        // clang-format off
        {"no selection, empty clipboard", "  30  31", 3, 3, "", false, "000000"},
        {"a selection, text on the clipboard", "  30  31", 2, 4, "x", false, "011111"},
        {"a selection of blanks", "  30  31", 0, 2, "", false, "011000"},
        {"after typing", "", 0, 0, "", true, "100000"},
        // clang-format on
    };
    ReceiveEdit pane;
    pane.resize(300, 150);
    pane.show();
    QVERIFY(QTest::qWaitForWindowExposed(&pane));
    MenuDriver driver;
    QStringList got, want;
    for (const Row& row : table) {
        pane.SetText(row.text);
        if (row.typeFirst) QTest::keyClicks(&pane, "ab");
        if (!row.typeFirst) pane.SetSelection(row.selStart, row.selEnd);
        if (row.clipboard.isEmpty())
            QGuiApplication::clipboard()->clear();
        else
            QGuiApplication::clipboard()->setText(row.clipboard);
        driver.log.clear();
        RightClick(pane);
        got << QStringLiteral("%1: %2").arg(row.name, driver.log.join(' '));
        want << QStringLiteral("%1: menu:%2").arg(row.name, row.states);
    }
    // An append takes the undo away.
    pane.AppendText("   1");
    driver.log.clear();
    RightClick(pane);
    got << "after an append: " + driver.log.join(' ');
    want << "after an append: menu:000000";
    QCOMPARE(got, want);
}

void ReceiveEditTest::menuConversions() {
    struct Row {
        const char* name;
        QString dump;
        int command;
        QStringList log;
    };
    const QString letters = U("box:您选择的数据[3a30313033]有字母");
    const QString length = U("box:您选择的有效数据[303130], 选择的数据必须是4/8/16个数据");
    const QString count = U("box:选择的十六进制数据必须是1/2/4个");
    const Row table[] = {
        // clang-format off
        {"Modbus ASCII of 0103", "  30  31  30  33", ID_MODBUS_ASCII_TO_DECIMAL, {"menu:011111", "dialog:01 03 "}},
        {"Modbus ASCII of :0103", "  3a  30  31  30  33", ID_MODBUS_ASCII_TO_DECIMAL, {"menu:011111", letters}},
        {"Modbus ASCII of 010", "  30  31  30", ID_MODBUS_ASCII_TO_DECIMAL, {"menu:011111", length}},
        // The dialog itself warns again as it opens with three bytes.
        {"hex of three bytes", "   1   3  ff", ID_HEX_TO_DECIMAL, {"menu:011111", count, count, "dialog:1   3  FF"}},
        {"hex of two bytes", "   1   3", ID_HEX_TO_DECIMAL, {"menu:011111", "dialog:1   3"}},
        // clang-format on
    };
    ReceiveEdit pane;
    pane.resize(300, 150);
    pane.show();
    QVERIFY(QTest::qWaitForWindowExposed(&pane));
    MenuDriver driver;
    for (const Row& row : table) {
        pane.SetText(row.dump);
        pane.SelectAll();
        QGuiApplication::clipboard()->setText("x");
        driver.log.clear();
        driver.choose = row.command;
        RightClick(pane);
        QTRY_COMPARE_WITH_TIMEOUT(driver.log, row.log, 3000);
        QCOMPARE(pane.Text(), row.dump);  // the pane is left as it was
    }
}

void ReceiveEditTest::keyboardMenuAtTheCaret() {
    ReceiveEdit pane;
    pane.resize(300, 150);
    pane.show();
    QVERIFY(QTest::qWaitForWindowExposed(&pane));
    pane.AppendText("   1   3");
    pane.setFocus();
    pane.UpdateNow();
    QGuiApplication::clipboard()->clear();
    MenuDriver driver;
    QTest::keyClick(&pane, Qt::Key_Menu);
    QCOMPARE(driver.log, QStringList{"menu:000000"});
    QCOMPARE(driver.menuAt, pane.mapToGlobal(pane.CaretRect().bottomLeft()));
}

// The main window's pane with a Modbus exchange dumped with receive stamps,
// part of it selected, and its menu open.
void ReceiveEditTest::pictureWithMenu() {
    Dialog dialog(IDD_MAIN);
    auto* pane = new ReceiveEdit;
    dialog.SubclassControl(MainIds::IDC_RECEIVE, pane);
    dialog.ControlAs<QCheckBox>(MainIds::IDC_MONITOR_TIME)->setChecked(true);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const uint8_t request[] = {0x01, 0x03, 0x00, 0x00, 0x00, 0x02, 0xC4, 0x0B};
    const uint8_t answer[] = {0x01, 0x03, 0x04, 0x00, 0x0A, 0x01, 0x02, 0x5A, 0x0F};
    for (int round = 0; round < 6; ++round) {
        uint32_t gap = 1000;
        for (uint8_t b : request) {
            pane->AppendText(FormatReceivedByte(b));
            pane->AppendText(FormatReceiveStamp(gap));
            gap = 1;
        }
        gap = 12;
        for (uint8_t b : answer) {
            pane->AppendText(FormatReceivedByte(b));
            pane->AppendText(FormatReceiveStamp(gap));
            gap = 1;
        }
    }
    const int answerStart = pane->Text().lastIndexOf(QStringLiteral("   a["));
    pane->SetSelection(answerStart, answerStart + 4);
    pane->UpdateNow();
    pane->setFocus();
    MenuDriver driver;
    bool saved = false;
    driver.onMenu = [&](QMenu* menu) {
        saved = SaveDialogShot(dialog, *menu, ShotDirectory(TALVENOR_SOURCE_DIR),
                               QStringLiteral("ReceivePane-1001"));
    };
    const QRect caret = pane->CaretRect();
    QContextMenuEvent click(QContextMenuEvent::Mouse, caret.center(),
                            pane->mapToGlobal(caret.center()));
    QCoreApplication::sendEvent(pane, &click);
    QVERIFY(saved);
}

QTEST_MAIN(ReceiveEditTest)
#include "ReceiveEditTest.moc"
