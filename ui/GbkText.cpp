#include "ui/GbkText.h"

#include <QByteArray>

#include "tools/TextCodec.h"

QString FromGbk(std::string_view gbk) { return FromUtf8(GbkToUtf8(gbk)); }

std::string ToGbk(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    return Utf8ToGbk(std::string_view(utf8.constData(), static_cast<size_t>(utf8.size())));
}

QString UpperAsciiLetters(QString text) {
    for (QChar& c : text)
        if (c >= QLatin1Char('a') && c <= QLatin1Char('z')) c = QChar(c.unicode() - 'a' + 'A');
    return text;
}
