// The process's one map from a hooked widget to the first (newest) hook of
// its chain. It owns neither the hooks nor the widgets. User-interface
// thread only.
#pragma once

#include <unordered_map>

#include "ui/WindowMessages.h"

class CSubclassWnd;

class SubclassRegistry {
public:
    static SubclassRegistry& Instance();

    CSubclassWnd* Find(QWidget* window) const;
    // hook goes in front of window's chain; the widget's first hook sets its
    // procedure to SubclassProc and keeps the one it replaces.
    void Insert(QWidget* window, CSubclassWnd* hook);
    // Takes hook out of its widget's chain; the last one out puts the
    // widget's procedure back.
    void Erase(CSubclassWnd* hook);
    // Unhooks every hook of window.
    void EraseAll(QWidget* window);

private:
    std::unordered_map<QWidget*, CSubclassWnd*> first;
};
