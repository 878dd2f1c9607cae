// The one crossing between the toolkit's Unicode strings and the program's
// code page 936 text. Everything below the toolkit holds text as GBK bytes.
#pragma once

#include <QString>
#include <string>
#include <string_view>

QString FromGbk(std::string_view gbk);
std::string ToGbk(const QString& text);

// a to z as capitals and nothing else, as the byte-wise rules of the program
// upper-case only ASCII letters.
QString UpperAsciiLetters(QString text);

// The program's own UTF-8 literals.
inline QString FromUtf8(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}
