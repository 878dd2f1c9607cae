#include "ui/LineEdit.h"

#include <QApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QValidator>

#include "resources/DialogTemplate.h"
#include "ui/GbkText.h"

namespace {

// Turns a to z into capitals wherever text enters the field, typed or pasted.
class UpperCaseValidator final : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        input = UpperAsciiLetters(input);
        return Acceptable;
    }
};

bool HasNonDigit(const QString& text) {
    for (QChar c : text)
        if (c.isPrint() && (c < QLatin1Char('0') || c > QLatin1Char('9'))) return true;
    return false;
}

}  // namespace

LineEdit::LineEdit(uint32_t style, QWidget* parent)
    : QLineEdit(parent), digitsOnly((style & ControlStyle::DigitsOnly) != 0) {
    if (style & ControlStyle::Uppercase) setValidator(new UpperCaseValidator(this));
    setReadOnly((style & ControlStyle::ReadOnly) != 0);
}

// A digit field refuses a typed non-digit, like the Windows number edit; text
// that the program sets, or that is pasted, is not filtered.
void LineEdit::keyPressEvent(QKeyEvent* event) {
    const bool command =
        event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    if (digitsOnly && !command && HasNonDigit(event->text())) {
        event->accept();
        QApplication::beep();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

void LineEdit::inputMethodEvent(QInputMethodEvent* event) {
    if (digitsOnly && HasNonDigit(event->commitString())) {
        event->accept();
        QApplication::beep();
        return;
    }
    QLineEdit::inputMethodEvent(event);
}
