#include "ui/DialogUnits.h"

#include <QFontMetrics>

namespace {

// a * b / c rounded half away from zero, as the Windows MulDiv.
int MulDiv(int a, int b, int c) {
    const long long p = static_cast<long long>(a) * b;
    return static_cast<int>(p >= 0 ? (p + c / 2) / c : (p - c / 2) / c);
}

}  // namespace

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    baseX = (letters / 26 + 1) / 2;
    baseY = metrics.height();
}

QFont DialogUnits::TemplateFont(std::string_view, int pointSize) {
    // 宋体, "System" and the system font all map to the one Song face.
    QFont font(QString::fromLatin1(FontFamily));
    font.setPixelSize(MulDiv(pointSize, 96, 72));
    font.setStyleHint(QFont::Serif);
    return font;
}

int DialogUnits::X(int units) const { return MulDiv(units, baseX, 4); }

int DialogUnits::Y(int units) const { return MulDiv(units, baseY, 8); }

QRect DialogUnits::ToPixels(int x, int y, int w, int h) const {
    // Size is mapped on its own, as the dialog manager creates controls.
    return QRect(X(x), Y(y), X(w), Y(h));
}
