// A window procedure per widget, on Qt. A widget starts with
// DefaultWindowProc, its own event handling. Giving it another procedure
// installs one event filter on it that turns the Qt events of the message
// table in WindowProc.cpp into messages for that procedure; the widget's
// destruction (its destroyed signal) reaches the procedure as WM_NCDESTROY.
#pragma once

#include "ui/WindowMessages.h"

class QEvent;

// The message being handled on this thread; nested sends save and restore it.
struct CurrentMessage {
    QWidget* window = nullptr;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    QEvent* event = nullptr;  // the Qt event the message was made from, if any
};
CurrentMessage& CurrentWindowMessage();

WindowProc GetWindowProc(QWidget* window);
// Answers the previous procedure. Setting DefaultWindowProc removes the
// event filter; a widget being destroyed keeps nothing.
WindowProc SetWindowProc(QWidget* window, WindowProc proc);

// Hands the message to the widget's procedure and answers its result.
LRESULT SendWindowMessage(QWidget* window, UINT message, WPARAM wParam, LPARAM lParam);

// The widget's own handling: the Qt event the message was made from goes to
// the widget's event handler, directly, so no filter sees it twice. Other
// messages do nothing here. Never touches a window being destroyed.
LRESULT DefaultWindowProc(QWidget* window, UINT message, WPARAM wParam, LPARAM lParam);
