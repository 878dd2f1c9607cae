// Pictures of dialogs, rendered offscreen, for the documentation.
#pragma once

#include <QString>

class QWidget;

// Where pictures go: <sourceDir>/docs/screens when TALVENOR_WRITE_SHOTS=1,
// else TALVENOR_SHOT_DIR, else "shots" under the working directory.
QString ShotDirectory(const QString& sourceDir);

// Renders the widget as it is now and writes <directory>/<name>.png.
bool SaveDialogShot(QWidget& dialog, const QString& directory, const QString& name);
// The same with an open popup (a menu, a separate window) drawn over the
// dialog where it stands on the screen.
bool SaveDialogShot(QWidget& dialog, QWidget& popup, const QString& directory, const QString& name);
