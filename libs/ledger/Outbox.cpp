#include "ledger/Outbox.h"

#include "ledger/LedgerError.h"
#include "ledger/LedgerFile.h"
#include "ledger/UnitRows.h"

#include <QSqlError>
#include <QSqlQuery>

namespace Ledger {

QList<ChainEntry> Outbox::unsent(int limit) const
{
    // What goes to the central ledger comes from the station's own file only.
    file_.requireSameFile();
    QSqlQuery q = prepared(file_.connection().db(),
                           QStringLiteral("SELECT station, seq, unit_id, kind, body, prev_hash, hash FROM chain "
                                          "WHERE sent = 0 ORDER BY seq LIMIT ?"),
                           {limit});
    run(q, "read the chain");
    return chainEntries(q);
}

void Outbox::markSentUpTo(qint64 seq)
{
    file_.requireSameFile();
    QSqlQuery q = prepared(file_.connection().db(), QStringLiteral("UPDATE chain SET sent = 1 WHERE sent = 0 AND seq <= ?"),
                           {seq});
    run(q, "mark a record sent");
}

void Outbox::resendAfter(qint64 seq)
{
    file_.requireSameFile();
    QSqlQuery q = prepared(file_.connection().db(), QStringLiteral("UPDATE chain SET sent = 0 WHERE sent = 1 AND seq > ?"),
                           {seq});
    run(q, "mark records to be sent again");
}

int Outbox::waiting() const
{
    QSqlQuery q(file_.connection().db());
    if (!q.exec(QStringLiteral("SELECT count(*) FROM chain WHERE sent = 0")) || !q.next())
        throw LedgerError(QStringLiteral("could not count the waiting records: %1").arg(q.lastError().text()).toStdString());
    return q.value(0).toInt();
}

qint64 Outbox::sentUpTo() const
{
    QSqlQuery q(file_.connection().db());
    if (!q.exec(QStringLiteral("SELECT coalesce(max(seq), 0) FROM chain WHERE sent = 1")) || !q.next())
        throw LedgerError(QStringLiteral("could not read the chain: %1").arg(q.lastError().text()).toStdString());
    return q.value(0).toLongLong();
}

}  // namespace Ledger
