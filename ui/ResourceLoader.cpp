#include "ui/ResourceLoader.h"

#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

#include "resources/ApplicationIcon.h"
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

// Rendered from the SVG source at the sizes window managers ask for, so that
// the small sizes come out of the 16-unit grid sharp rather than scaled down.
QIcon LoadApplicationIcon() {
    static const QIcon icon = [] {
        const std::string_view svg = ApplicationIconSvg();
        QSvgRenderer renderer(QByteArray(svg.data(), static_cast<qsizetype>(svg.size())));
        QIcon rendered;
        for (int size : {16, 24, 32, 48, 64, 128, 256}) {
            QPixmap pixmap(size, size);
            pixmap.fill(Qt::transparent);
            QPainter painter(&pixmap);
            renderer.render(&painter);
            painter.end();
            rendered.addPixmap(pixmap);
        }
        return rendered;
    }();
    return icon;
}
