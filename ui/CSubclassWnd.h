// A hook on a widget that is not the widget's own object: it sees the
// widget's messages before the widget does. Hooks on one widget form a chain,
// newest first; each passes on what it does not consume, the oldest to the
// procedure the widget had before its first hook.
#pragma once

#include "ui/WindowMessages.h"

class CSubclassWnd {
public:
    CSubclassWnd() = default;
    // A hook still hooked unhooks itself.
    virtual ~CSubclassWnd();
    CSubclassWnd(const CSubclassWnd&) = delete;
    CSubclassWnd& operator=(const CSubclassWnd&) = delete;

    // Puts the hook in front of window's chain, or with nullptr takes it out
    // of its chain. Refused (false) for a hook that is already hooked: it
    // would sit in two chains, or twice in one. True otherwise.
    bool Hook(QWidget* window);
    // The base passes the message on: to the next older hook, or to the
    // widget's previous procedure, and answers that result.
    virtual LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    QWidget* Window() const { return window; }
    bool IsHooked() const { return window != nullptr; }

private:
    friend class SubclassRegistry;
    friend LRESULT SubclassProc(QWidget*, UINT, WPARAM, LPARAM);

    QWidget* window = nullptr;
    WindowProc previousProc = nullptr;
    CSubclassWnd* next = nullptr;
};
