#include "ui/EditControl.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <climits>

#include "resources/DialogTemplate.h"

namespace {

// The screen is redrawn at most this often, however fast the text changes.
// Frames follow the user's edits and scrolling at about 60 a second; a
// stream of received text is shown at about 30, which reads as smoothly and
// paints half as often on a slow line, where each byte comes on its own.
constexpr int kFrameMs = 16;
constexpr int kStreamFrameMs = 33;
constexpr int kBarMs = 200;

std::u16string_view Units(const QString& text) {
    return {reinterpret_cast<const char16_t*>(text.utf16()), static_cast<size_t>(text.size())};
}

QString ToQString(std::u16string_view units) {
    return QString(reinterpret_cast<const QChar*>(units.data()),
                   static_cast<qsizetype>(units.size()));
}

bool IsLowSurrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

}  // namespace

EditControl::EditControl(uint32_t style, QWidget* parent)
    : QAbstractScrollArea(parent),
      wantReturn((style & ControlStyle::WantReturn) != 0),
      readOnly((style & ControlStyle::ReadOnly) != 0) {
    setVerticalScrollBarPolicy((style & ControlStyle::VScroll) ? Qt::ScrollBarAlwaysOn
                                                               : Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(false);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    frameTimer.setSingleShot(true);
    connect(&frameTimer, &QTimer::timeout, this, &EditControl::Frame);
    barTimer.setSingleShot(true);
    barTimer.setInterval(kBarMs);
    // Shows the scroll bar as the frames since it was last drawn left it.
    connect(&barTimer, &QTimer::timeout, this,
            [this] { verticalScrollBar()->setUpdatesEnabled(true); });
    UpdateMetrics();
    RewrapAll();
}

EditControl::~EditControl() = default;

// ---- Text and selection

void EditControl::AppendText(std::string_view ascii) {
    const size_t oldSize = text.Size();
    // Only the rows from the old end's on change, unless the caret or a
    // selection stood elsewhere and has to go from where it was drawn.
    if (caret == oldSize && anchor == oldSize)
        appendedRow = std::min(appendedRow, rows.RowOf(oldSize));
    else
        wholeFrame = true;
    text.AppendAscii(ascii);
    rows.Appended(text, oldSize);
    TrimToLimit();
    anchor = caret = text.Size();
    wantedX = -1;
    if (undo.valid) undo = UndoRecord{};
    scrollPending = true;
    ScheduleTimer(kStreamFrameMs);
}

void EditControl::SetTextLimit(size_t bytes) {
    textLimit = bytes;
    TrimToLimit();
}

void EditControl::TrimToLimit() {
    const size_t limit = text.Wide() ? textLimit / 2 : textLimit;
    if (text.Size() <= limit) return;
    // Three quarters of the limit stay: a trim costs a pass over the row
    // starts, paid for by the quarter of the limit appended before the next.
    const size_t target = text.Size() - (limit - limit / 4);
    const size_t first = rows.RowOf(target) + 1;
    // A row of a dump begins at a byte's digits, sometimes inside a stamp: a
    // few rows on there is a cut that keeps a byte's text whole.
    constexpr size_t kCutSearchRows = 64;
    size_t cut = ReceiveText::npos;
    for (size_t r = first; r < rows.RowCount() && r < first + kCutSearchRows; ++r) {
        cut = text.CutBefore(rows.RowStart(r), rows.RowStart(r - 1));
        if (cut != ReceiveText::npos) break;
    }
    if (cut == ReceiveText::npos) {
        if (first >= rows.RowCount()) return;
        cut = rows.RowStart(first);
    }
    text.DropFront(cut);
    const size_t movedRows = rows.DroppedFront(text, cut);
    anchor = anchor > cut ? anchor - cut : 0;
    caret = caret > cut ? caret - cut : 0;
    undo = UndoRecord{};
    // The same rows stay on screen; a view at the end stays at the end.
    QScrollBar* bar = verticalScrollBar();
    bar->setValue(bar->value() - std::min(bar->value(), static_cast<int>(movedRows)));
    ScheduleFrame(false);
}

void EditControl::SetText(const QString& newText) {
    text.Clear();
    text.Append(Units(newText));
    rows.Rewrap(text, rows.Columns());
    anchor = caret = 0;
    wantedX = -1;
    undo = UndoRecord{};
    ScheduleFrame(true);
}

QString EditControl::Text() const {
    QString result;
    result.reserve(static_cast<qsizetype>(text.Size()));
    text.ForEachSpan(0, text.Size(), [&result](const char16_t* data, size_t n) {
        result.append(reinterpret_cast<const QChar*>(data), static_cast<qsizetype>(n));
    });
    return result;
}

void EditControl::SetSelection(int start, int end) {
    if (start < 0) {
        anchor = caret;
    } else {
        const size_t size = text.Size();
        anchor = std::min(static_cast<size_t>(start), size);
        caret = end < 0 ? size : std::min(static_cast<size_t>(end), size);
    }
    wantedX = -1;
    ScheduleFrame(false);
}

QString EditControl::SelectedText() const {
    const size_t start = SelectionStart();
    return ToQString(text.Slice(start, SelectionEnd() - start));
}

void EditControl::ReplaceSelection(const QString& replacement) {
    const size_t start = SelectionStart();
    Replace(start, SelectionEnd() - start, Units(replacement), EditKind::Typing);
}

void EditControl::Replace(size_t pos, size_t count, std::u16string_view with, EditKind kind) {
    const bool typing = kind == EditKind::Typing;
    if (typing && undo.valid && undo.typing && count == 0 &&
        pos == undo.pos + undo.insertedLength) {
        undo.insertedLength += with.size();
    } else {
        undo = UndoRecord{true, typing, pos, text.Slice(pos, count), with.size()};
    }
    text.Replace(pos, count, with);
    rows.Edited(text, pos, count, with.size());
    anchor = caret = pos + with.size();
    wantedX = -1;
    ScheduleFrame(true);
}

void EditControl::Cut() {
    if (readOnly) return;
    Copy();
    DeleteSelection();
}

void EditControl::Copy() const {
    if (SelectionStart() == SelectionEnd()) return;
    QGuiApplication::clipboard()->setText(SelectedText());
}

void EditControl::Paste() {
    if (readOnly) return;
    QString pasted = QGuiApplication::clipboard()->text();
    if (pasted.isEmpty()) return;
    pasted.replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
        .replace(QLatin1Char('\r'), QLatin1Char('\n'));
    const size_t start = SelectionStart();
    Replace(start, SelectionEnd() - start, Units(pasted), EditKind::Other);
}

void EditControl::DeleteSelection() {
    if (readOnly || SelectionStart() == SelectionEnd()) return;
    const size_t start = SelectionStart();
    Replace(start, SelectionEnd() - start, {}, EditKind::Other);
}

void EditControl::SelectAll() { SetSelection(0, -1); }

// Undoing puts the replaced text back selected; the undo of that is the redo.
void EditControl::Undo() {
    if (!undo.valid || readOnly) return;
    UndoRecord done = std::move(undo);
    const std::u16string inserted = text.Slice(done.pos, done.insertedLength);
    text.Replace(done.pos, done.insertedLength, done.removed);
    rows.Edited(text, done.pos, done.insertedLength, done.removed.size());
    anchor = done.pos;
    caret = done.pos + done.removed.size();
    undo = UndoRecord{true, false, done.pos, inserted, done.removed.size()};
    wantedX = -1;
    ScheduleFrame(true);
}

void EditControl::ScrollCaret() { ScheduleFrame(true); }

void EditControl::RemoveStamps() {
    text.RemoveStamps();
    rows.Rewrap(text, rows.Columns());
    anchor = caret = text.Size();
    wantedX = -1;
    undo = UndoRecord{};
    ScheduleFrame(true);
}

// ---- Layout and frames

void EditControl::UpdateMetrics() {
    const QFontMetrics metrics(font());
    columnWidth = std::max(1, metrics.horizontalAdvance(QLatin1Char('0')));
    lineHeight = std::max(1, metrics.height());
    ascent = metrics.ascent();
}

void EditControl::RewrapAll() {
    rows.Rewrap(text, (viewport()->width() - 2 * margin) / columnWidth);
    ScheduleFrame(false);
}

void EditControl::ScheduleFrame(bool scrollToCaret) {
    scrollPending = scrollPending || scrollToCaret;
    wholeFrame = true;
    ScheduleTimer(kFrameMs);
}

void EditControl::ScheduleTimer(int withinMs) {
    // A frame already due sooner covers this change too.
    if (frameTimer.isActive() && frameTimer.remainingTime() <= withinMs) return;
    frameTimer.start(withinMs);
}

void EditControl::UpdateNow() {
    frameTimer.stop();
    Frame();
}

int EditControl::VisibleRows() const {
    return std::max(1, (viewport()->height() - margin) / lineHeight);
}

int EditControl::FirstVisibleRow() const {
    return std::clamp(verticalScrollBar()->value(), 0, RowCount() - 1);
}

void EditControl::Frame() {
    QScrollBar* bar = verticalScrollBar();
    // While text streams in, the scroll bar is drawn a few times a second:
    // its handle hardly moves, and drawing it costs more than the new rows.
    // Not while the user holds or points at it.
    const bool barBusy = bar->isSliderDown() || bar->underMouse();
    if (!wholeFrame && !barBusy && barTimer.isActive())
        bar->setUpdatesEnabled(false);
    else if (!bar->updatesEnabled())
        bar->setUpdatesEnabled(true);
    if (bar->updatesEnabled()) barTimer.start();
    const int visible = VisibleRows();
    bar->setPageStep(visible);
    bar->setRange(0, std::max(0, RowCount() - visible));
    if (scrollPending) {
        scrollPending = false;
        const int row = static_cast<int>(rows.RowOf(caret));
        int first = bar->value();
        if (row < first) first = row;
        if (row >= first + visible) first = row - visible + 1;
        bar->setValue(first);
    }
    if (wholeFrame) {
        viewport()->update();
    } else if (appendedRow != kNoRow) {
        // Where the rows appended to are now, after the scroll above.
        const int top = margin + (static_cast<int>(appendedRow) - FirstVisibleRow()) * lineHeight;
        const int from = std::max(0, top);
        if (from < viewport()->height())
            viewport()->update(0, from, viewport()->width(), viewport()->height() - from);
    }
    wholeFrame = false;
    appendedRow = kNoRow;
    if (hasFocus()) QGuiApplication::inputMethod()->update(Qt::ImCursorRectangle);
}

// Rows move by whole rows: what stays on screen is moved, not painted again.
// The top margin's strip gets what moved into it and is painted anew.
void EditControl::scrollContentsBy(int, int dy) {
    if (dy == 0) return;
    viewport()->scroll(0, dy * lineHeight);
    viewport()->update(0, 0, viewport()->width(), margin);
}

void EditControl::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    const int columns = std::max(1, (viewport()->width() - 2 * margin) / columnWidth);
    if (columns != rows.Columns()) RewrapAll();
    ScheduleFrame(false);
}

void EditControl::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        UpdateMetrics();
        RewrapAll();
    }
}

int EditControl::XOf(size_t pos, size_t row) const {
    int column = 0;
    const size_t start = rows.RowStart(row);
    text.ForEachSpan(start, pos - start, [&column](const char16_t* data, size_t n) {
        for (size_t i = 0; i < n; ++i) column += TextRows::UnitColumns(data[i], column);
    });
    return margin + column * columnWidth;
}

size_t EditControl::PositionInRow(size_t row, int x) const {
    const size_t start = rows.RowStart(row);
    const size_t end = rows.RowEnd(row, text.Size());
    // The caret stays before a row's last unit unless the row is the last one.
    const size_t last = row + 1 < rows.RowCount() && end > start ? end - 1 : end;
    const std::u16string units = text.Slice(start, last - start);
    int column = 0;
    for (size_t i = 0; i < units.size(); ++i) {
        const int width = TextRows::UnitColumns(units[i], column);
        const int left = margin + column * columnWidth;
        if (x < left + width * columnWidth / 2) {
            size_t pos = start + i;
            if (IsLowSurrogate(units[i]) && pos > start) --pos;
            return pos;
        }
        column += width;
    }
    return last;
}

size_t EditControl::PositionAt(QPoint point) const {
    const int row =
        std::clamp(FirstVisibleRow() + (point.y() - margin) / lineHeight, 0, RowCount() - 1);
    return PositionInRow(static_cast<size_t>(row), point.x());
}

QRect EditControl::CaretRectInViewport() const {
    const size_t row = rows.RowOf(caret);
    const int y = margin + (static_cast<int>(row) - FirstVisibleRow()) * lineHeight;
    return QRect(XOf(caret, row), y, 1, lineHeight);
}

QRect EditControl::CaretRect() const { return CaretRectInViewport().translated(viewport()->pos()); }

// ---- Painting: only the rows on screen

void EditControl::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    const QPalette& colors = palette();
    painter.fillRect(
        event->rect(),
        colors.brush(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Base));
    painter.setFont(font());
    const size_t selStart = SelectionStart();
    const size_t selEnd = SelectionEnd();
    const QColor normal =
        colors.color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Text);
    const QColor highlight = colors.color(QPalette::Active, QPalette::Highlight);
    const QColor highlighted = colors.color(QPalette::Active, QPalette::HighlightedText);
    // Only the rows the painted area touches.
    const QRect area = event->rect();
    const int first = FirstVisibleRow();
    const int from = first + std::max(0, (area.top() - margin) / lineHeight);
    const int last =
        std::min(RowCount(), first + std::max(0, area.bottom() - margin) / lineHeight + 1);
    for (int r = from; r < last; ++r) {
        const size_t start = rows.RowStart(r);
        const size_t end = rows.RowEnd(r, text.Size());
        const std::u16string units = text.Slice(start, end - start);
        const int y = margin + (r - first) * lineHeight;
        // Runs of units drawn alike (same selection state and width class)
        // are drawn with one call each, at their column.
        int column = 0;
        size_t runStart = 0;
        int runColumn = 0;
        auto flush = [&](size_t runEnd, bool selected) {
            if (runEnd <= runStart) return;
            painter.setPen(selected ? highlighted : normal);
            painter.drawText(
                margin + runColumn * columnWidth, y + ascent,
                ToQString(std::u16string_view(units).substr(runStart, runEnd - runStart)));
        };
        bool runSelected = false;
        int runWidthClass = 0;
        for (size_t i = 0; i <= units.size(); ++i) {
            const bool atEnd = i == units.size();
            const char16_t unit = atEnd ? u'\n' : units[i];
            const bool selected = start + i >= selStart && start + i < selEnd;
            const int width = atEnd ? 0 : TextRows::UnitColumns(unit, column);
            const bool plain = unit != u'\n' && unit != u'\t';
            // The second half of a pair stays in its first half's run.
            const int widthClass = IsLowSurrogate(unit) ? runWidthClass : plain ? width : -1;
            if (i == runStart || !plain || selected != runSelected || widthClass != runWidthClass) {
                flush(i, runSelected);
                runStart = plain ? i : i + 1;
                runColumn = plain ? column : column + width;
                runSelected = selected;
                runWidthClass = widthClass;
            }
            if (selected && !atEnd)
                painter.fillRect(margin + column * columnWidth, y, std::max(1, width) * columnWidth,
                                 lineHeight, highlight);
            column += width;
        }
    }
    if (hasFocus() && selStart == selEnd) {
        const QRect caretRect = CaretRectInViewport();
        painter.fillRect(caretRect, normal);
    }
}

// ---- Input

size_t EditControl::NextPosition(size_t pos) const {
    if (pos >= text.Size()) return text.Size();
    ++pos;
    if (pos < text.Size() && IsLowSurrogate(text.At(pos))) ++pos;
    return pos;
}

size_t EditControl::PreviousPosition(size_t pos) const {
    if (pos == 0) return 0;
    --pos;
    if (pos > 0 && IsLowSurrogate(text.At(pos))) --pos;
    return pos;
}

size_t EditControl::WordStart(size_t pos) const {
    if (pos == 0) return 0;
    const bool blank = TextRows::IsBlank(text.At(pos - 1));
    while (pos > 0 && text.At(pos - 1) != u'\n' && TextRows::IsBlank(text.At(pos - 1)) == blank)
        --pos;
    return pos;
}

size_t EditControl::WordEnd(size_t pos) const {
    const size_t size = text.Size();
    if (pos >= size) return size;
    const bool blank = TextRows::IsBlank(text.At(pos));
    while (pos < size && text.At(pos) != u'\n' && TextRows::IsBlank(text.At(pos)) == blank) ++pos;
    return pos;
}

void EditControl::MoveCaret(size_t pos, bool extend) {
    caret = std::min(pos, text.Size());
    if (!extend) anchor = caret;
    wantedX = -1;
    ScheduleFrame(true);
}

size_t EditControl::RowStep(int delta) const {
    const size_t row = rows.RowOf(caret);
    const int x = wantedX >= 0 ? wantedX : XOf(caret, row);
    const int target = std::clamp(static_cast<int>(row) + delta, 0, RowCount() - 1);
    return PositionInRow(static_cast<size_t>(target), x);
}

void EditControl::keyPressEvent(QKeyEvent* event) {
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    const bool selection = anchor != caret;
    if (event == QKeySequence::Copy) {
        Copy();
    } else if (event == QKeySequence::Cut) {
        Cut();
    } else if (event == QKeySequence::Paste) {
        Paste();
    } else if (event == QKeySequence::Undo) {
        Undo();
    } else if (event == QKeySequence::SelectAll) {
        SelectAll();
    } else if (event->key() == Qt::Key_Menu || (event->key() == Qt::Key_F10 && shift)) {
        // The X11 platform turns the menu key into a context-menu request of
        // its own after the key press; elsewhere the request is made here.
        if (event->key() == Qt::Key_Menu && event->spontaneous() &&
            QGuiApplication::platformName() == QLatin1String("xcb")) {
            event->ignore();
            return;
        }
        const QPoint at = CaretRect().bottomLeft();
        QContextMenuEvent menu(QContextMenuEvent::Keyboard, at, mapToGlobal(at));
        QCoreApplication::sendEvent(this, &menu);
    } else {
        switch (event->key()) {
            case Qt::Key_Left:
                if (selection && !shift)
                    MoveCaret(SelectionStart(), false);
                else
                    MoveCaret(ctrl ? WordStart(caret) : PreviousPosition(caret), shift);
                break;
            case Qt::Key_Right:
                if (selection && !shift)
                    MoveCaret(SelectionEnd(), false);
                else
                    MoveCaret(ctrl ? WordEnd(caret) : NextPosition(caret), shift);
                break;
            case Qt::Key_Up:
            case Qt::Key_Down:
            case Qt::Key_PageUp:
            case Qt::Key_PageDown: {
                const int step =
                    event->key() == Qt::Key_Up || event->key() == Qt::Key_Down ? 1 : VisibleRows();
                const bool up = event->key() == Qt::Key_Up || event->key() == Qt::Key_PageUp;
                const int x = wantedX >= 0 ? wantedX : XOf(caret, rows.RowOf(caret));
                MoveCaret(RowStep(up ? -step : step), shift);
                wantedX = x;
                break;
            }
            case Qt::Key_Home:
                MoveCaret(ctrl ? 0 : rows.RowStart(rows.RowOf(caret)), shift);
                break;
            case Qt::Key_End:
                MoveCaret(ctrl ? text.Size() : PositionInRow(rows.RowOf(caret), INT_MAX), shift);
                break;
            case Qt::Key_Backspace:
                if (readOnly) break;
                if (selection)
                    DeleteSelection();
                else if (caret > 0)
                    Replace(PreviousPosition(caret), caret - PreviousPosition(caret), {},
                            EditKind::Other);
                break;
            case Qt::Key_Delete:
                if (readOnly) break;
                if (selection)
                    DeleteSelection();
                else if (caret < text.Size())
                    Replace(caret, NextPosition(caret) - caret, {}, EditKind::Other);
                break;
            case Qt::Key_Return:
            case Qt::Key_Enter:
                if (!wantReturn) {
                    event->ignore();
                    return;
                }
                if (!readOnly) ReplaceSelection(QStringLiteral("\n"));
                break;
            default: {
                const QString typed = event->text();
                const bool printable =
                    !typed.isEmpty() && typed.front().isPrint() && !(ctrl && !shift);
                if (!printable || readOnly) {
                    event->ignore();
                    return;
                }
                ReplaceSelection(typed);
                break;
            }
        }
    }
    event->accept();
}

void EditControl::inputMethodEvent(QInputMethodEvent* event) {
    if (!readOnly && !event->commitString().isEmpty()) ReplaceSelection(event->commitString());
    event->accept();
}

QVariant EditControl::inputMethodQuery(Qt::InputMethodQuery query) const {
    switch (query) {
        case Qt::ImEnabled:
            return !readOnly;
        case Qt::ImCursorRectangle:
            return CaretRect();
        case Qt::ImHints:
            return static_cast<int>(Qt::ImhMultiLine);
        case Qt::ImCursorPosition:
            return static_cast<int>(caret - rows.RowStart(rows.RowOf(caret)));
        case Qt::ImAnchorPosition:
            return static_cast<int>(anchor) - static_cast<int>(rows.RowStart(rows.RowOf(caret)));
        case Qt::ImSurroundingText: {
            const size_t row = rows.RowOf(caret);
            const size_t start = rows.RowStart(row);
            return ToQString(text.Slice(start, rows.RowEnd(row, text.Size()) - start));
        }
        default:
            return QAbstractScrollArea::inputMethodQuery(query);
    }
}

void EditControl::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    setFocus(Qt::MouseFocusReason);
    MoveCaret(PositionAt(event->position().toPoint()),
              (event->modifiers() & Qt::ShiftModifier) != 0);
    selectingWithMouse = true;
}

void EditControl::mouseMoveEvent(QMouseEvent* event) {
    if (!selectingWithMouse || !(event->buttons() & Qt::LeftButton)) return;
    // Dragging past the top or the bottom scrolls a row at a time.
    const int y = event->position().toPoint().y();
    QScrollBar* bar = verticalScrollBar();
    if (y < 0) bar->setValue(bar->value() - 1);
    if (y >= viewport()->height()) bar->setValue(bar->value() + 1);
    MoveCaret(PositionAt(event->position().toPoint()), true);
}

void EditControl::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) selectingWithMouse = false;
}

void EditControl::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    // The run of blanks or of other characters the click is on.
    const size_t pos = PositionAt(event->position().toPoint());
    size_t start = pos;
    if (pos < text.Size() && text.At(pos) != u'\n') {
        const bool blank = TextRows::IsBlank(text.At(pos));
        while (start > 0 && text.At(start - 1) != u'\n' &&
               TextRows::IsBlank(text.At(start - 1)) == blank)
            --start;
    }
    anchor = start;
    caret = WordEnd(pos);
    wantedX = -1;
    ScheduleFrame(true);
}

void EditControl::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void EditControl::focusOutEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusOutEvent(event);
    selectingWithMouse = false;
    viewport()->update();
}

// A right click on the text reaches the control itself, where its hooks see it.
bool EditControl::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::ContextMenu) {
        auto* menu = static_cast<QContextMenuEvent*>(event);
        const QPoint at = viewport()->mapTo(this, menu->pos());
        QContextMenuEvent forwarded(menu->reason(), at, menu->globalPos(), menu->modifiers());
        QCoreApplication::sendEvent(this, &forwarded);
        event->accept();
        return true;
    }
    return QAbstractScrollArea::viewportEvent(event);
}
