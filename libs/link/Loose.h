#pragma once
// A loosely typed value as the device protocol uses it: text or a whole
// number, and a number joined to text becomes its decimal digits with no
// sign, leading zeros or blanks.

#include <QByteArray>
#include <QString>
#include <concepts>
#include <cstdlib>

class Loose {
public:
    Loose(const QString& text) : text_(text) {}
    Loose(const char* text) : text_(QString::fromLatin1(text)) {}
    template <std::integral N>
        requires(!std::same_as<N, bool> && !std::same_as<N, char>)
    Loose(N number)
        // The magnitude only: the protocol's numbers are never negative and
        // the decimal text carries no sign.
        : text_(QString::number(static_cast<unsigned long long>(
              number < 0 ? -static_cast<long long>(number) : static_cast<long long>(number))))
    {
    }

    const QString& text() const { return text_; }
    // One byte per character in the 8-bit code page.
    QByteArray bytes() const { return text_.toLatin1(); }

private:
    QString text_;
};
