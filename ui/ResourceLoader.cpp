#include "ui/ResourceLoader.h"

#include <QMenu>
#include <QPainter>
#include <QPixmap>

#include "resources/DialogTemplate.h"
#include "ui/DialogUnits.h"
#include "ui/GbkText.h"

QMenu* LoadPopupMenu(int menuId, QWidget* parent) {
    const MenuTemplate* menu = FindMenuTemplate(menuId);
    if (!menu) return nullptr;
    auto* popup = new QMenu(FromUtf8(menu->popupText), parent);
    for (const MenuItemTemplate& item : menu->items) {
        if (item.command == 0) {
            popup->addSeparator();
            continue;
        }
        QAction* action = popup->addAction(FromUtf8(item.text));
        action->setData(item.command);
    }
    return popup;
}

// A line-monitor glyph: a dark blue tile with a square wave across it.
QIcon LoadApplicationIcon() {
    QIcon icon;
    for (int size : {16, 32, 48}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0x1F, 0x4E, 0x79));
        painter.drawRoundedRect(QRectF(0.5, 0.5, size - 1, size - 1), size / 6.0, size / 6.0);
        const qreal u = size / 8.0;
        QPen wave(QColor(0xFF, 0xD2, 0x4A), std::max(1.0, size / 14.0));
        wave.setJoinStyle(Qt::MiterJoin);
        painter.setPen(wave);
        painter.setBrush(Qt::NoBrush);
        const QPointF points[] = {{1 * u, 5 * u}, {2 * u, 5 * u}, {2 * u, 3 * u}, {4 * u, 3 * u},
                                  {4 * u, 5 * u}, {5 * u, 5 * u}, {5 * u, 3 * u}, {7 * u, 3 * u}};
        painter.drawPolyline(points, 8);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}
