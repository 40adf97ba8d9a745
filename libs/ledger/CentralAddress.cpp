#include "ledger/CentralAddress.h"

#include "ledger/LedgerError.h"

#include <QList>
#include <QPair>
#include <QSet>
#include <libpq-fe.h>

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

}  // namespace

CentralAddress centralAddress(const QString& text)
{
    // Qt's driver turns every ';' of the options into a space.
    if (text.contains(QLatin1Char(';')))
        refuse(QStringLiteral("';' cannot be passed on"));
    if (text.trimmed().isEmpty())
        refuse(QStringLiteral("it is empty"));
    // libpq's own reading of a URI or of key=value pairs. Its messages name
    // a keyword, never a value.
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(text.toUtf8().constData(), &error);
    if (!options) {
        const QString why = error ? QString::fromUtf8(error).trimmed() : QStringLiteral("libpq cannot read it");
        PQfreemem(error);
        refuse(why);
    }
    CentralAddress a;
    QStringList shown;
    QSet<QString> given;
    bool secret = false;
    for (const PQconninfoOption* o = options; o->keyword; ++o) {
        if (!o->val)
            continue;
        const QString key = QString::fromUtf8(o->keyword);
        if (key == QLatin1String("password") || key == QLatin1String("sslpassword")) {
            secret = true;
            continue;
        }
        given.insert(key);
        a.conninfo += key + QLatin1Char('=') + quoted(QString::fromUtf8(o->val)) + QLatin1Char(' ');
        shown << key + QLatin1Char('=') + QString::fromUtf8(o->val);
    }
    PQconninfoFree(options);
    if (secret)
        refuse(QStringLiteral("no password in it; put it in ~/.pgpass (or PGPASSFILE, or a service file)"));
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
    a.shown = shown.join(QLatin1Char(' '));
    return a;
}

}  // namespace Ledger
