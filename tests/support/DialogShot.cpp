#include "DialogShot.h"

#include <QDir>
#include <QPainter>
#include <QPixmap>
#include <QWidget>

QString ShotDirectory(const QString& sourceDir) {
    if (qEnvironmentVariableIntValue("TALVENOR_WRITE_SHOTS") == 1)
        return sourceDir + QStringLiteral("/docs/screens");
    const QString configured = qEnvironmentVariable("TALVENOR_SHOT_DIR");
    return configured.isEmpty() ? QDir::current().filePath(QStringLiteral("shots")) : configured;
}

bool SaveDialogShot(QWidget& dialog, const QString& directory, const QString& name) {
    if (!QDir().mkpath(directory)) return false;
    dialog.ensurePolished();
    return dialog.grab().save(QDir(directory).filePath(name + QStringLiteral(".png")), "PNG");
}

bool SaveDialogShot(QWidget& dialog, QWidget& popup, const QString& directory,
                    const QString& name) {
    if (!QDir().mkpath(directory)) return false;
    dialog.ensurePolished();
    QPixmap shot = dialog.grab();
    QPainter painter(&shot);
    painter.drawPixmap(popup.mapToGlobal(QPoint(0, 0)) - dialog.mapToGlobal(QPoint(0, 0)),
                       popup.grab());
    painter.end();
    return shot.save(QDir(directory).filePath(name + QStringLiteral(".png")), "PNG");
}
