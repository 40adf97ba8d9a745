#include "ListenAddress.h"

#include <stdexcept>

QString ListenAddress::shown() const
{
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
                             ? QStringLiteral("[%1]").arg(address.toString())
                             : address.toString();
    return QStringLiteral("%1:%2").arg(host).arg(port);
}

std::optional<ListenAddress> parseListenAddress(const QString& text)
{
    if (text == QLatin1String("off"))
        return std::nullopt;
    const auto refuse = [&] {
        return std::invalid_argument(
            QStringLiteral("--listen takes ADDRESS:PORT (127.0.0.1:8470, [::1]:8470) or off, not '%1'")
                .arg(text)
                .toStdString());
    };
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        throw refuse();
    QString host = text.left(colon);
    // An IPv6 address is written in brackets, so its own colons are not the port's.
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    else if (host.contains(QLatin1Char(':')))
        throw refuse();
    bool ok = false;
    const uint port = text.mid(colon + 1).toUInt(&ok);
    ListenAddress a;
    // Only an address, never a name: a name could resolve anywhere. An IPv4
    // address in full, not a shorthand such as 10.1 that means 10.0.0.1.
    if (!ok || port > 65535 || !a.address.setAddress(host)
        || (a.address.protocol() == QAbstractSocket::IPv4Protocol && a.address.toString() != host))
        throw refuse();
    a.port = quint16(port);
    return a;
}
