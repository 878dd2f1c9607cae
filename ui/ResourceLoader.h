// Toolkit objects made from the resources that are not dialogs: the popup of
// a menu template and the application icon.
#pragma once

#include <QIcon>

class QMenu;
class QWidget;

// The popup at position 0 of a menu template, as a new QMenu owned by parent.
// Each action's data() is its command number; "\t" in a text puts the rest
// in the shortcut column. nullptr for an unknown menu number.
QMenu* LoadPopupMenu(int menuId, QWidget* parent);

// Icon 128, from its SVG source, at the usual sizes.
QIcon LoadApplicationIcon();
