#include "ledger/UnitRows.h"

#include "ledger/LocalLedger.h"
#include "ledger/RecordText.h"

#include <QHash>
#include <QSqlError>

namespace Ledger {

QString notNull(const QString& s)
{
    return s.isNull() ? QStringLiteral("") : s;
}

void run(QSqlQuery& q, const char* what)
{
    if (!q.exec())
        throw LedgerError(QStringLiteral("could not %1: %2")
                              .arg(QLatin1String(what), q.lastError().text())
                              .toStdString());
}

QSqlQuery prepared(QSqlDatabase& db, const QString& sql, const QVariantList& values)
{
    QSqlQuery q(db);
    if (!q.prepare(sql))
        throw LedgerError(QStringLiteral("could not prepare a query: %1").arg(q.lastError().text()).toStdString());
    for (const QVariant& v : values)
        q.addBindValue(v);
    return q;
}

namespace {

QString timeColumn(Dialect d, const char* column)
{
    if (d == Dialect::Sqlite)
        return QLatin1String(column);
    return QStringLiteral("to_char(%1 AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"')").arg(QLatin1String(column));
}

QString idColumn(Dialect d, const char* column)
{
    return d == Dialect::Sqlite ? QLatin1String(column) : QStringLiteral("CAST(%1 AS text)").arg(QLatin1String(column));
}

QString timeParameter(Dialect d)
{
    return d == Dialect::Sqlite ? QStringLiteral("?") : QStringLiteral("CAST(? AS timestamptz)");
}

}  // namespace

QList<UnitRecord> readUnits(QSqlDatabase& db, Dialect d, const UnitFilter& f)
{
    QStringList where;
    QVariantList values;
    if (f.since.isValid()) {
        where << QStringLiteral("start_time >= ") + timeParameter(d);
        values << timeText(f.since);
    }
    if (f.until.isValid()) {
        where << QStringLiteral("start_time < ") + timeParameter(d);
        values << timeText(f.until);
    }
    if (!f.ids.isEmpty()) {
        QStringList one;
        for (const QUuid& id : f.ids) {
            one << (d == Dialect::Sqlite ? QStringLiteral("?") : QStringLiteral("CAST(? AS uuid)"));
            values << id.toString(QUuid::WithoutBraces);
        }
        where << QStringLiteral("id IN (%1)").arg(one.join(QStringLiteral(", ")));
    }
    if (!f.fixture.isEmpty()) {
        where << QStringLiteral("fixture_name = ?");
        values << f.fixture;
    }
    if (!f.recipe.isEmpty()) {
        where << QStringLiteral("recipe_name = ?");
        values << f.recipe;
    }
    if (!f.result.isEmpty()) {
        if (f.result == QLatin1String("open"))
            where << QStringLiteral("result IS NULL");
        else {
            where << QStringLiteral("result = ?");
            values << f.result;
        }
    }
    const QString filter = where.isEmpty() ? QString() : QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));
    QSqlQuery q = prepared(
        db,
        QStringLiteral("SELECT %1, host, fixture_name, fixture_path, adapter_identity, unit_number, recipe_name, "
                       "recipe_sha256, tool_version, %2, %3, result, why, %5 FROM units%4 ORDER BY start_time, id")
            .arg(idColumn(d, "id"), timeColumn(d, "start_time"), timeColumn(d, "end_time"), filter,
                 d == Dialect::Sqlite ? QStringLiteral("''") : QStringLiteral("station")),
        values);
    q.setForwardOnly(true);
    run(q, "read the units");
    QList<UnitRecord> units;
    QHash<QString, qsizetype> index;
    while (q.next()) {
        UnitRecord r;
        const QString id = q.value(0).toString();
        r.id = QUuid::fromString(id);
        r.host = q.value(1).toString();
        r.fixtureName = q.value(2).toString();
        r.fixturePath = q.value(3).toString();
        r.adapterIdentity = q.value(4).toString();
        r.unitNumber = q.value(5).toLongLong();
        r.recipeName = q.value(6).toString();
        r.recipeSha256 = q.value(7).toString();
        r.toolVersion = q.value(8).toString();
        r.start = parseTime(q.value(9).toString());
        r.end = parseTime(q.value(10).toString());
        r.result = q.value(11).toString();
        r.why = q.value(12).toString();
        r.station = q.value(13).toString();
        index.insert(id, units.size());
        units.append(r);
    }
    if (units.isEmpty())
        return units;
    QSqlQuery l = prepared(
        db,
        QStringLiteral("SELECT %1, slot, file, sha256, size, data_frames_sent, file_frame_sent, release_confirmed, "
                       "slot_holds FROM labels WHERE unit_id IN (SELECT id FROM units%2) ORDER BY unit_id, slot")
            .arg(idColumn(d, "unit_id"), filter),
        values);
    l.setForwardOnly(true);
    run(l, "read the labels");
    while (l.next()) {
        const auto it = index.constFind(l.value(0).toString());
        if (it == index.constEnd())
            continue;
        LabelRecord label;
        label.slot = l.value(1).toInt();
        label.file = l.value(2).toString();
        label.sha256 = l.value(3).toString();
        label.size = l.value(4).toLongLong();
        label.dataFramesSent = l.value(5).toLongLong();
        label.fileFrameSent = l.value(6).toBool();
        label.releaseConfirmed = l.value(7).toBool();
        label.slotHolds = l.value(8).toString();
        units[*it].labels.append(label);
    }
    return units;
}

QList<ChainEntry> chainEntries(QSqlQuery& q)
{
    QList<ChainEntry> out;
    while (q.next()) {
        ChainEntry e;
        e.station = q.value(0).toString();
        e.seq = q.value(1).toLongLong();
        e.unit = QUuid::fromString(q.value(2).toString());
        e.kind = q.value(3).toString();
        e.body = q.value(4).toString().toUtf8();
        e.prevHash = q.value(5).toString();
        e.hash = q.value(6).toString();
        out.append(e);
    }
    return out;
}

QList<ChainEntry> readChain(QSqlDatabase& db, Dialect d, const QString& station)
{
    QSqlQuery q = prepared(db,
                           QStringLiteral("SELECT station, seq, %1, kind, body, prev_hash, hash FROM chain%2 "
                                          "ORDER BY station, seq")
                               .arg(idColumn(d, "unit_id"),
                                    station.isEmpty() ? QString() : QStringLiteral(" WHERE station = ?")),
                           station.isEmpty() ? QVariantList{} : QVariantList{station});
    q.setForwardOnly(true);
    run(q, "read the chain");
    return chainEntries(q);
}

}  // namespace Ledger
