// Dialog units as the Windows dialog toolkit defines them: a horizontal unit
// is a quarter of the font's average letter width, a vertical unit an eighth
// of its height.
#pragma once

#include <QFont>
#include <QRect>
#include <string_view>

class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);

    // The face every dialog font is drawn with: a Song face whose Latin
    // letters are half the width of a Chinese character, like 宋体.
    static constexpr const char* FontFamily = "AR PL UMing CN";
    // The font of a template: its point size at 96 dots per inch, set in
    // pixels so that every platform plugin (offscreen included) measures alike.
    static QFont TemplateFont(std::string_view face, int pointSize);

    int X(int units) const;
    int Y(int units) const;
    QRect ToPixels(int x, int y, int w, int h) const;

    int BaseX() const { return baseX; }
    int BaseY() const { return baseY; }

private:
    int baseX;  // average width of A..Z a..z in pixels, rounded
    int baseY;  // font height in pixels
};
