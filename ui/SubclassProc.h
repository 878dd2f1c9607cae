// The one window procedure of every hooked widget: hands each message to the
// first hook of the widget's chain.
#pragma once

#include "ui/WindowMessages.h"

// WM_NCDESTROY unhooks every hook (none sees it) before the widget's
// previous procedure gets it. Reached for a widget without hooks (another
// party put this procedure back later), it passes the message on untouched
// to the widget's own handling.
LRESULT SubclassProc(QWidget* window, UINT message, WPARAM wParam, LPARAM lParam);
