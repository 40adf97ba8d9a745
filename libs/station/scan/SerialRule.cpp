#include "SerialRule.h"

#include <QStringList>

namespace {

bool allDigits(const QString& s)
{
    for (const QChar c : s)
        if (c < u'0' || c > u'9')
            return false;
    return !s.isEmpty();
}

// The check digit the digits before it call for, by weights from the right:
// GS1 3,1,3,...; Luhn doubles every second digit, the first from the right.
int expectedCheckDigit(const QString& body, SerialRule::Check check)
{
    int sum = 0;
    bool odd = true;  // the digit just left of the check digit
    for (qsizetype i = body.size() - 1; i >= 0; --i, odd = !odd) {
        const int d = body[i].digitValue();
        if (check == SerialRule::Check::Gs1) {
            sum += odd ? 3 * d : d;
        } else {
            const int twice = 2 * d;
            sum += odd ? (twice > 9 ? twice - 9 : twice) : d;
        }
    }
    return (10 - sum % 10) % 10;
}

QString shown(const QString& scan)
{
    QString s;
    for (const QChar c : scan)
        s += c.unicode() == 29 ? QStringLiteral("<GS>")
             : c.unicode() < 32 || c.unicode() == 127 ? QStringLiteral("<%1>").arg(c.unicode(), 2, 16, QLatin1Char('0'))
                                                    : QString(c);
    return s;
}

}  // namespace

const char* checkName(SerialRule::Check check)
{
    switch (check) {
    case SerialRule::Check::None: return "none";
    case SerialRule::Check::Gs1: return "gs1";
    case SerialRule::Check::Luhn: return "luhn";
    }
    return "?";
}

std::optional<SerialRule::Check> checkNamed(const QString& name)
{
    for (SerialRule::Check c : {SerialRule::Check::None, SerialRule::Check::Gs1, SerialRule::Check::Luhn})
        if (name == QLatin1String(checkName(c)))
            return c;
    return std::nullopt;
}

std::optional<QString> SerialRule::refusal(const QString& scan) const
{
    if (scan.trimmed().isEmpty())
        return QStringLiteral("an empty scan is no serial");
    for (const QChar c : scan)
        if ((c.unicode() < 32 && c.unicode() != 29) || c.unicode() == 127 || c == QChar::ReplacementCharacter
            || (c.unicode() >= 0x80 && c.unicode() < 0xa0))
            return QStringLiteral("%1 holds a character that is not printable (code %2)").arg(shown(scan)).arg(c.unicode());
    if (!patternText.isEmpty() && !pattern.match(scan).hasMatch())
        return QStringLiteral("%1 does not match %2").arg(shown(scan), patternText);
    if (check != Check::None) {
        if (!allDigits(scan) || scan.size() < 2)
            return QStringLiteral("%1 is not a number of digits, so it has no %2 check digit")
                .arg(shown(scan), QLatin1String(check == Check::Gs1 ? "GS1" : "Luhn"));
        const int given = scan.back().digitValue();
        const int expected = expectedCheckDigit(scan.left(scan.size() - 1), check);
        if (given != expected)
            return QStringLiteral("check digit %1 should be %2").arg(given).arg(expected);
    }
    return std::nullopt;
}

QString SerialRule::described() const
{
    if (!given)
        return QStringLiteral("any scan of printable characters (the recipe has no [serial] table)");
    QStringList parts;
    if (!patternText.isEmpty())
        parts << QStringLiteral("matches %1").arg(patternText);
    if (check != Check::None)
        parts << QStringLiteral("%1 check digit").arg(QLatin1String(check == Check::Gs1 ? "GS1" : "Luhn"));
    parts << (allowDuplicates ? QStringLiteral("a serial that passed may be loaded again")
                              : QStringLiteral("a serial that passed is refused"));
    return parts.join(QStringLiteral(", "));
}
