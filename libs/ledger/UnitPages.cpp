#include "ledger/UnitPages.h"

#include "ledger/LocalLedger.h"
#include "ledger/UnitRows.h"

#include <QAtomicInteger>
#include <QHash>
#include <QSqlError>

namespace Ledger {

namespace {
QAtomicInteger<quint64> pagers;
}

UnitPages::UnitPages(const LocalLedger& ledger)
    : name_(QStringLiteral("pelmora-pages-%1").arg(pagers.fetchAndAddRelaxed(1))), path_(ledger.path()),
      station_(ledger.station())
{
    db_ = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name_);
    db_.setDatabaseName(ledger.readUri());
    db_.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000;QSQLITE_OPEN_URI"));
    const auto refuse = [&](const QString& why) {
        throw LedgerError(QStringLiteral("cannot read the ledger %1: %2").arg(path_, why).toStdString());
    };
    if (!db_.open())
        refuse(db_.lastError().text());
    // Opened as the station opens its file; this reader never writes to it.
    QSqlQuery q(db_);
    if (!q.exec(QStringLiteral("PRAGMA query_only = ON")))
        refuse(q.lastError().text());
}

UnitPages::~UnitPages()
{
    db_.close();
    db_ = QSqlDatabase();
    QSqlDatabase::removeDatabase(name_);
}

QList<UnitRecord> UnitPages::next(int count)
{
    // The order of every export: start time, then id. The first condition
    // lets the start-time index find where the page begins.
    QSqlQuery q = prepared(db_,
                           QStringLiteral("SELECT %1 FROM units%2 ORDER BY start_time, id LIMIT ?")
                               .arg(unitShape().selected(Dialect::Sqlite),
                                    started_ ? QStringLiteral(" WHERE start_time >= ? AND (start_time > ? OR id > ?)")
                                             : QString()),
                           started_ ? QVariantList{lastStart_, lastStart_, lastId_, count} : QVariantList{count});
    q.setForwardOnly(true);
    run(q, "read the units");
    QList<UnitRecord> units;
    QHash<QUuid, qsizetype> index;
    QStringList marks;
    QVariantList ids;
    while (q.next()) {
        UnitRecord r = unitFromRow(q);
        r.station = station_;
        lastId_ = q.value(QStringLiteral("id")).toString();
        lastStart_ = q.value(QStringLiteral("start_time")).toString();
        index.insert(r.id, units.size());
        marks << QStringLiteral("?");
        ids << lastId_;
        units.append(r);
    }
    started_ = started_ || !units.isEmpty();
    if (units.isEmpty())
        return units;
    QSqlQuery l = prepared(db_,
                           QStringLiteral("SELECT %1 FROM labels WHERE unit_id IN (%2) ORDER BY unit_id, slot")
                               .arg(labelShape().selected(Dialect::Sqlite), marks.join(QLatin1Char(','))),
                           ids);
    l.setForwardOnly(true);
    run(l, "read the labels");
    while (l.next()) {
        const auto it = index.constFind(QUuid::fromString(l.value(0).toString()));
        if (it != index.constEnd())
            units[*it].labels.append(labelFromRow(l));
    }
    return units;
}

}  // namespace Ledger
