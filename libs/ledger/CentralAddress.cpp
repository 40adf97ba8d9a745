#include "ledger/CentralAddress.h"

#include "ledger/LocalLedger.h"

#include <QList>
#include <QPair>
#include <QUrl>

namespace Ledger {

namespace {

[[noreturn]] void refuse(const QString& why)
{
    throw LedgerError(QStringLiteral("the central ledger's address: %1").arg(why).toStdString());
}

QString quoted(const QString& value)
{
    QString v = value;
    v.replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace(QLatin1Char('\''), QStringLiteral("\\'"));
    return QLatin1Char('\'') + v + QLatin1Char('\'');
}

QString decoded(const QString& part)
{
    return QUrl::fromPercentEncoding(part.toUtf8());
}

}  // namespace

CentralAddress centralAddress(const QString& text)
{
    // Qt's driver turns every ';' of the options into a space.
    if (text.contains(QLatin1Char(';')))
        refuse(QStringLiteral("';' cannot be passed on"));
    QList<QPair<QString, QString>> keys;
    const bool uri = text.startsWith(QLatin1String("postgresql://")) || text.startsWith(QLatin1String("postgres://"));
    if (uri) {
        QString rest = text.mid(text.indexOf(QLatin1String("://")) + 3);
        QString query;
        if (const qsizetype q = rest.indexOf(QLatin1Char('?')); q >= 0) {
            query = rest.mid(q + 1);
            rest.truncate(q);
        }
        QString dbname;
        if (const qsizetype slash = rest.indexOf(QLatin1Char('/')); slash >= 0) {
            dbname = decoded(rest.mid(slash + 1));
            rest.truncate(slash);
        }
        if (const qsizetype at = rest.lastIndexOf(QLatin1Char('@')); at >= 0) {
            const QString user = rest.left(at);
            if (user.contains(QLatin1Char(':')))
                refuse(QStringLiteral("no password in it; put it in ~/.pgpass (or PGPASSFILE, or a service file)"));
            keys.append({QStringLiteral("user"), decoded(user)});
            rest = rest.mid(at + 1);
        }
        // host[:port][,host[:port]...]; [v6 address] in brackets
        QStringList hosts, ports;
        for (const QString& h : rest.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            QString host = h, port;
            const qsizetype close = host.lastIndexOf(QLatin1Char(']'));
            const qsizetype colon = host.lastIndexOf(QLatin1Char(':'));
            if (colon > close) {
                port = host.mid(colon + 1);
                host.truncate(colon);
            }
            if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
                host = host.mid(1, host.size() - 2);
            hosts << decoded(host);
            ports << port;
        }
        if (!hosts.isEmpty())
            keys.append({QStringLiteral("host"), hosts.join(QLatin1Char(','))});
        if (std::any_of(ports.cbegin(), ports.cend(), [](const QString& p) { return !p.isEmpty(); }))
            keys.append({QStringLiteral("port"), ports.join(QLatin1Char(','))});
        if (!dbname.isEmpty())
            keys.append({QStringLiteral("dbname"), dbname});
        for (const QString& pair : query.split(QLatin1Char('&'), Qt::SkipEmptyParts)) {
            const qsizetype eq = pair.indexOf(QLatin1Char('='));
            if (eq <= 0)
                refuse(QStringLiteral("'%1' is not key=value").arg(pair));
            keys.append({decoded(pair.left(eq)), decoded(pair.mid(eq + 1))});
        }
    } else {
        // keyword=value pairs, values possibly 'quoted'
        qsizetype i = 0;
        while (i < text.size()) {
            while (i < text.size() && text[i].isSpace())
                ++i;
            if (i >= text.size())
                break;
            const qsizetype eq = text.indexOf(QLatin1Char('='), i);
            if (eq < 0)
                refuse(QStringLiteral("'%1' is neither a postgresql:// URI nor key=value pairs").arg(text));
            const QString key = text.mid(i, eq - i).trimmed();
            i = eq + 1;
            while (i < text.size() && text[i].isSpace())
                ++i;
            QString value;
            if (i < text.size() && text[i] == QLatin1Char('\'')) {
                for (++i; i < text.size() && text[i] != QLatin1Char('\''); ++i) {
                    if (text[i] == QLatin1Char('\\') && i + 1 < text.size())
                        ++i;
                    value += text[i];
                }
                if (i >= text.size())
                    refuse(QStringLiteral("a quote is not closed"));
                ++i;
            } else {
                while (i < text.size() && !text[i].isSpace())
                    value += text[i++];
            }
            keys.append({key, value});
        }
        if (keys.isEmpty())
            refuse(QStringLiteral("it is empty"));
    }

    CentralAddress a;
    QStringList shown, given;
    for (const auto& [key, value] : keys) {
        if (key == QLatin1String("password"))
            refuse(QStringLiteral("no password in it; put it in ~/.pgpass (or PGPASSFILE, or a service file)"));
        given << key;
        a.conninfo += key + QLatin1Char('=') + quoted(value) + QLatin1Char(' ');
        shown << key + QLatin1Char('=') + value;
    }
    // An unreachable host, or one gone silent mid-query, gives a clear error
    // in seconds rather than after the system's TCP timeouts of many minutes.
    const QList<QPair<QString, QString>> defaults{{QStringLiteral("connect_timeout"), QStringLiteral("10")},
                                                  {QStringLiteral("keepalives_idle"), QStringLiteral("30")},
                                                  {QStringLiteral("keepalives_interval"), QStringLiteral("10")},
                                                  {QStringLiteral("keepalives_count"), QStringLiteral("3")},
                                                  {QStringLiteral("tcp_user_timeout"), QStringLiteral("60000")}};
    for (const auto& [key, value] : defaults)
        if (!given.contains(key))
            a.conninfo += key + QLatin1Char('=') + quoted(value) + QLatin1Char(' ');
    a.conninfo = a.conninfo.trimmed();
    a.shown = uri ? text : shown.join(QLatin1Char(' '));
    return a;
}

}  // namespace Ledger
