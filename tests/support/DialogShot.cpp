#include "DialogShot.h"

#include <QDir>
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
