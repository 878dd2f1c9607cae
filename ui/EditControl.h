// A multi-line, wrapping edit control built for a text that only grows at its
// end by a few characters at a time, up to megabytes: the text lives in a
// chunked buffer, rows are wrapped incrementally, only the rows on screen are
// drawn, and the screen is brought up to date at most once per frame. The
// text, the selection and the undo state are current at every moment.
//
// It behaves as a Windows multi-line edit: one level of undo (undoing twice
// redoes), selection given as start and end positions, a line break is one
// "\n". Positions count UTF-16 units, as QString does.
#pragma once

#include <QAbstractScrollArea>
#include <QTimer>
#include <cstdint>
#include <string>
#include <string_view>

#include "tools/ReceiveText.h"
#include "ui/TextRows.h"

class EditControl : public QAbstractScrollArea {
    Q_OBJECT
public:
    // style: ControlStyle flags (WantReturn, ReadOnly, VScroll).
    explicit EditControl(uint32_t style, QWidget* parent = nullptr);
    ~EditControl() override;

    // Appends at the end, leaves an empty selection there and scrolls to it.
    // Nothing is left to undo. ASCII (or Latin-1) text, one unit per byte.
    // Past the text limit, the oldest rows are dropped.
    void AppendText(std::string_view ascii);
    // Bytes of text kept (a unit beyond Latin-1 makes every unit two bytes);
    // beyond it appends drop the oldest whole rows, a quarter of the limit at
    // a time, cut where a line or a received byte's text begins. A lower
    // limit trims at once. What stays keeps its selection, caret and rows on
    // screen; the undo goes.
    void SetTextLimit(size_t bytes);
    // Replaces the whole text; caret at the start, nothing to undo.
    void SetText(const QString& text);
    QString Text() const;
    int TextLength() const { return static_cast<int>(text.Size()); }
    const ReceiveText& Buffer() const { return text; }

    // The selection as start <= end; the caret is at one of them.
    int SelectionStart() const { return static_cast<int>(std::min(anchor, caret)); }
    int SelectionEnd() const { return static_cast<int>(std::max(anchor, caret)); }
    int CaretPosition() const { return static_cast<int>(caret); }
    // Like EM_SETSEL: a negative end is the end of the text; start -1 removes
    // the selection, leaving the caret where it is.
    void SetSelection(int start, int end);
    QString SelectedText() const;
    // Replaces the selection with text, as typing does (undoable).
    void ReplaceSelection(const QString& replacement);

    void Cut();
    void Copy() const;
    void Paste();
    void DeleteSelection();
    void SelectAll();
    bool CanUndo() const { return undo.valid; }
    void Undo();
    // Scrolls so that the caret's row is on screen (at the next frame).
    void ScrollCaret();

    // Removes every receive stamp in one pass (see ReceiveText::RemoveStamps);
    // the caret goes to the end, nothing is left to undo.
    void RemoveStamps();

    // The caret's rectangle in widget coordinates, as of the last frame.
    QRect CaretRect() const;
    // The layout as of now: rows, the first row shown, rows that fit.
    int RowCount() const { return static_cast<int>(rows.RowCount()); }
    int FirstVisibleRow() const;
    int VisibleRows() const;
    // Brings the scroll bar and the screen up to date now rather than at the
    // next frame.
    void UpdateNow();
    // Bytes held for the text and its layout.
    size_t MemoryBytes() const { return text.MemoryBytes() + rows.MemoryBytes(); }

    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    bool viewportEvent(QEvent* event) override;

private:
    enum class EditKind { Typing, Other };
    // The one level of undo: putting `removed` back at pos over the
    // insertedLength units that replaced it.
    struct UndoRecord {
        bool valid = false;
        bool typing = false;
        size_t pos = 0;
        std::u16string removed;
        size_t insertedLength = 0;
    };

    void Replace(size_t pos, size_t count, std::u16string_view with, EditKind kind);
    void TrimToLimit();
    void MoveCaret(size_t pos, bool extend);
    size_t PositionAt(QPoint viewportPoint) const;
    size_t PositionInRow(size_t row, int x) const;
    int XOf(size_t pos, size_t row) const;
    size_t RowStep(int delta) const;
    size_t WordStart(size_t pos) const;
    size_t WordEnd(size_t pos) const;
    size_t NextPosition(size_t pos) const;
    size_t PreviousPosition(size_t pos) const;
    void UpdateMetrics();
    void RewrapAll();
    // Marks the screen out of date; it is redrawn at the next frame.
    void ScheduleFrame(bool scrollToCaret);
    // Starts the frame timer unless a frame is due within `withinMs` anyway.
    void ScheduleTimer(int withinMs);
    void Frame();
    QRect CaretRectInViewport() const;

    ReceiveText text;
    TextRows rows;
    size_t anchor = 0;
    size_t caret = 0;
    int wantedX = -1;  // the x an up or down move keeps, -1 for the caret's own
    UndoRecord undo;
    size_t textLimit = SIZE_MAX;
    bool wantReturn;
    bool readOnly;
    int columnWidth = 8;
    int lineHeight = 16;
    int ascent = 13;
    int margin = 2;
    QTimer frameTimer;
    QTimer barTimer;  // runs for a while after the scroll bar was drawn
    bool scrollPending = false;
    // What the next frame paints: everything, or (text only appended) the
    // rows from the first one appended to.
    static constexpr size_t kNoRow = static_cast<size_t>(-1);
    bool wholeFrame = true;
    size_t appendedRow = kNoRow;
    bool selectingWithMouse = false;
};
