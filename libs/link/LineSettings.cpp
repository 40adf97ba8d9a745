#include "LineSettings.h"

#include "Errors.h"

#include <QStringList>

namespace {
[[noreturn]] void refuse(const QString& text, const QString& why)
{
    throw PelmoraError(ErrorNumber::InvalidPropertyValue,
                       QStringLiteral("settings \"%1\": %2").arg(text, why));
}
}  // namespace

LineSettings LineSettings::parse(const QString& text)
{
    const QStringList fields = text.split(QLatin1Char(','));
    if (fields.size() != 4)
        refuse(text, QStringLiteral("expected baud,parity,data,stop"));

    LineSettings s;
    bool ok = false;
    const qlonglong baud = fields[0].trimmed().toLongLong(&ok);
    if (!ok || baud <= 0 || baud > 4000000)
        refuse(text, QStringLiteral("baud rate \"%1\"").arg(fields[0]));
    s.baud = static_cast<qint32>(baud);

    const QString parity = fields[1].trimmed().toLower();
    if (parity == QLatin1String("n"))
        s.parity = Parity::None;
    else if (parity == QLatin1String("e"))
        s.parity = Parity::Even;
    else if (parity == QLatin1String("o"))
        s.parity = Parity::Odd;
    else if (parity == QLatin1String("m"))
        s.parity = Parity::Mark;
    else if (parity == QLatin1String("s"))
        s.parity = Parity::Space;
    else
        refuse(text, QStringLiteral("parity \"%1\"").arg(fields[1]));

    const int data = fields[2].trimmed().toInt(&ok);
    if (!ok || data < 5 || data > 8)
        refuse(text, QStringLiteral("data bits \"%1\"").arg(fields[2]));
    s.dataBits = data;

    const QString stop = fields[3].trimmed();
    if (stop == QLatin1String("1"))
        s.stopBits = StopBits::One;
    else if (stop == QLatin1String("1.5"))
        s.stopBits = StopBits::OneAndHalf;
    else if (stop == QLatin1String("2"))
        s.stopBits = StopBits::Two;
    else
        refuse(text, QStringLiteral("stop bits \"%1\"").arg(fields[3]));
    return s;
}

double LineSettings::bitsPerCharacter() const
{
    const double stop = stopBits == StopBits::One ? 1.0 : stopBits == StopBits::OneAndHalf ? 1.5 : 2.0;
    return 1.0 + dataBits + (parity == Parity::None ? 0.0 : 1.0) + stop;
}
