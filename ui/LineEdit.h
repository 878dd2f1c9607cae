// A single-line edit with the behaviours a dialog template can ask for.
#pragma once

#include <QLineEdit>
#include <cstdint>

class LineEdit : public QLineEdit {
    Q_OBJECT
public:
    // style: ControlStyle flags (DigitsOnly, Uppercase, ReadOnly).
    LineEdit(uint32_t style, QWidget* parent);

    bool DigitsOnly() const { return digitsOnly; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;

private:
    bool digitsOnly;
};
