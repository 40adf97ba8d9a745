#include "AllowedHosts.h"

#include <QRegularExpression>

namespace {

QString folded(QString name)
{
    name = name.toLower();
    if (name.endsWith(QLatin1Char('.')))
        name.chop(1);
    return name;
}

}  // namespace

bool isHostName(const QString& name)
{
    static const QRegularExpression label(QStringLiteral("^(?!-)[A-Za-z0-9-]{1,63}(?<!-)$"));
    static const QRegularExpression digits(QStringLiteral("^[0-9.]+$"));
    const QString n = name.endsWith(QLatin1Char('.')) ? name.chopped(1) : name;
    if (n.isEmpty() || n.size() > 253 || digits.match(n).hasMatch())
        return false;
    for (const QString& part : n.split(QLatin1Char('.')))
        if (!label.match(part).hasMatch())
            return false;
    return true;
}

AllowedHosts::AllowedHosts(const QStringList& names, quint16 port) : port_(port)
{
    names_ << QStringLiteral("localhost");
    for (const QString& n : names)
        names_ << folded(n);
}

bool AllowedHosts::allows(const QByteArray& host, const QHostAddress& reached) const
{
    QString name = QString::fromLatin1(host).trimmed();
    QString port;
    if (name.startsWith(QLatin1Char('['))) {
        const qsizetype close = name.indexOf(QLatin1Char(']'));
        if (close < 0)
            return false;
        port = name.mid(close + 1);
        name = name.mid(1, close - 1);
        if (!port.isEmpty() && !port.startsWith(QLatin1Char(':')))
            return false;
        port = port.mid(1);
    } else if (const qsizetype colon = name.lastIndexOf(QLatin1Char(':')); colon >= 0) {
        port = name.mid(colon + 1);
        name = name.left(colon);
        if (name.contains(QLatin1Char(':')))
            return false;
    }
    if (!port.isEmpty() && port != QString::number(port_))
        return false;
    if (isHostName(name))
        return names_.contains(folded(name));
    // An address in full, as a browser writes one.
    const QHostAddress address(name);
    return !address.isNull() && address.isEqual(reached, QHostAddress::ConvertV4MappedToIPv4)
           && (address.protocol() != QAbstractSocket::IPv4Protocol || address.toString() == name);
}
