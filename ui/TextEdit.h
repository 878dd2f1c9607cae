// A multi-line edit. Without WantReturn it leaves Return to its dialog (the
// default button), as a Windows multi-line edit does.
#pragma once

#include <QPlainTextEdit>
#include <cstdint>

class TextEdit : public QPlainTextEdit {
    Q_OBJECT
public:
    // style: ControlStyle flags (WantReturn, ReadOnly, VScroll, AutoHScroll).
    TextEdit(uint32_t style, QWidget* parent);

    bool WantsReturn() const { return wantReturn; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    bool wantReturn;
};
