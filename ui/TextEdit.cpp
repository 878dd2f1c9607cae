#include "ui/TextEdit.h"

#include <QKeyEvent>

#include "resources/DialogTemplate.h"

TextEdit::TextEdit(uint32_t style, QWidget* parent)
    : QPlainTextEdit(parent), wantReturn((style & ControlStyle::WantReturn) != 0) {
    setReadOnly((style & ControlStyle::ReadOnly) != 0);
    setLineWrapMode((style & ControlStyle::AutoHScroll) ? NoWrap : WidgetWidth);
    setVerticalScrollBarPolicy((style & ControlStyle::VScroll) ? Qt::ScrollBarAlwaysOn
                                                               : Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // A one-line field 12 dialog units high has no room for the default margin.
    document()->setDocumentMargin(1);
}

void TextEdit::keyPressEvent(QKeyEvent* event) {
    if (!wantReturn && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        event->ignore();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}
