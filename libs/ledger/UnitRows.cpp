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

QString timeParameter(Dialect d)
{
    return d == Dialect::Sqlite ? QStringLiteral("?") : QStringLiteral("CAST(? AS timestamptz)");
}

QVariant nullIfEmpty(const QString& s)
{
    return s.isEmpty() ? QVariant(QMetaType(QMetaType::QString)) : QVariant(s);
}

}  // namespace

RowShape::RowShape(std::initializer_list<Column> columns) : columns_(columns) {}

QString RowShape::names() const
{
    QStringList out;
    for (const Column& c : columns_)
        out << QLatin1String(c.name);
    return out.join(QStringLiteral(", "));
}

QString RowShape::parameters(Dialect d) const
{
    QStringList out;
    for (const Column& c : columns_)
        out << (d == Dialect::Sqlite || c.type == Type::Text || c.type == Type::Number ? QStringLiteral("?")
                : c.type == Type::Id                                                   ? QStringLiteral("CAST(? AS uuid)")
                                                                                       : timeParameter(d));
    return out.join(QStringLiteral(", "));
}

QString RowShape::selected(Dialect d, bool withSerials) const
{
    QStringList out;
    for (const Column& c : columns_) {
        const QLatin1String name(c.name);
        out << (c.serials && !withSerials ? QStringLiteral("''")
                : d == Dialect::Sqlite || c.type == Type::Text || c.type == Type::Number ? QString(name)
                : c.type == Type::Id ? QStringLiteral("CAST(%1 AS text)").arg(name)
                                     : QStringLiteral("to_char(%1 AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"')")
                                           .arg(name));
    }
    return out.join(QStringLiteral(", "));
}

const RowShape& unitShape()
{
    using T = RowShape::Type;
    static const RowShape shape{{"id", T::Id},
                                {"host", T::Text},
                                {"fixture_name", T::Text},
                                {"fixture_path", T::Text},
                                {"adapter_identity", T::Text},
                                {"unit_number", T::Number},
                                {"recipe_name", T::Text},
                                {"recipe_sha256", T::Text},
                                {"tool_version", T::Text},
                                {"start_time", T::Time},
                                {"end_time", T::Time},
                                {"result", T::Text},
                                {"why", T::Text},
                                {"serial", T::Text, true},
                                {"reason", T::Text, true},
                                {"reload_of", T::Text, true}};
    return shape;
}

const RowShape& labelShape()
{
    using T = RowShape::Type;
    static const RowShape shape{{"unit_id", T::Id},        {"slot", T::Number},
                                {"file", T::Text},         {"sha256", T::Text},
                                {"size", T::Number},       {"data_frames_sent", T::Number},
                                {"file_frame_sent", T::Number}, {"release_confirmed", T::Number},
                                {"slot_holds", T::Text}, {"reason", T::Text, true}};
    return shape;
}

QVariantList unitValues(const UnitRecord& r)
{
    return {r.id.toString(QUuid::WithoutBraces), notNull(r.host), notNull(r.fixtureName), notNull(r.fixturePath),
            notNull(r.adapterIdentity), r.unitNumber, notNull(r.recipeName), notNull(r.recipeSha256),
            notNull(r.toolVersion), timeText(r.start), nullIfEmpty(timeText(r.end)), nullIfEmpty(r.result),
            notNull(r.why), notNull(r.serial), notNull(r.reason), notNull(r.reloadOf)};
}

QVariantList labelValues(const QUuid& unit, const LabelRecord& l)
{
    return {unit.toString(QUuid::WithoutBraces), l.slot, notNull(l.file), notNull(l.sha256), l.size, l.dataFramesSent,
            l.fileFrameSent, l.releaseConfirmed, notNull(l.slotHolds), notNull(l.reason)};
}

UnitRecord unitFromRow(const QSqlQuery& q)
{
    UnitRecord r;
    r.id = QUuid::fromString(q.value(0).toString());
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
    r.serial = q.value(13).toString();
    r.reason = q.value(14).toString();
    r.reloadOf = q.value(15).toString();
    return r;
}

LabelRecord labelFromRow(const QSqlQuery& q)
{
    LabelRecord l;
    l.slot = q.value(1).toInt();
    l.file = q.value(2).toString();
    l.sha256 = q.value(3).toString();
    l.size = q.value(4).toLongLong();
    l.dataFramesSent = q.value(5).toLongLong();
    l.fileFrameSent = q.value(6).toBool();
    l.releaseConfirmed = q.value(7).toBool();
    l.slotHolds = q.value(8).toString();
    l.reason = q.value(9).toString();
    return l;
}

QList<UnitRecord> readUnits(QSqlDatabase& db, Dialect d, const UnitFilter& f, bool serials)
{
    if (!serials && !f.serial.isEmpty())
        return {};  // no record of a ledger that old has a serial
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
    if (!f.serial.isEmpty()) {
        // Spelt out so the partial index by serial serves the query.
        where << QStringLiteral("serial = ? AND serial <> ''");
        values << f.serial;
    }
    if (!f.recipeSha256.isEmpty()) {
        where << QStringLiteral("recipe_sha256 = ?");
        values << f.recipeSha256;
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
    // The latest few are found through the start-time index, not by reading every unit.
    QString from = QStringLiteral("units") + filter;
    if (f.limit > 0) {
        // Named, as SQLite without statistics would rather scan and sort every unit.
        from = QStringLiteral("(SELECT * FROM units%1%2 ORDER BY start_time DESC, id DESC LIMIT ?) AS latest")
                   .arg(d == Dialect::Sqlite ? QStringLiteral(" INDEXED BY units_start") : QString(), filter);
        values << f.limit;
    }
    QSqlQuery q = prepared(db,
                           QStringLiteral("SELECT %1, %2 FROM %3 ORDER BY start_time, id")
                               .arg(unitShape().selected(d, serials),
                                    d == Dialect::Sqlite ? QStringLiteral("''") : QStringLiteral("station"), from),
                           values);
    q.setForwardOnly(true);
    run(q, "read the units");
    QList<UnitRecord> units;
    QHash<QUuid, qsizetype> index;
    while (q.next()) {
        UnitRecord r = unitFromRow(q);
        r.station = q.value(16).toString();
        index.insert(r.id, units.size());
        units.append(r);
    }
    if (units.isEmpty())
        return units;
    QSqlQuery l = prepared(db,
                           QStringLiteral("SELECT %1 FROM labels WHERE unit_id IN (SELECT id FROM %2) "
                                          "ORDER BY unit_id, slot")
                               .arg(labelShape().selected(d, serials), from),
                           values);
    l.setForwardOnly(true);
    run(l, "read the labels");
    while (l.next()) {
        const auto it = index.constFind(QUuid::fromString(l.value(0).toString()));
        if (it != index.constEnd())
            units[*it].labels.append(labelFromRow(l));
    }
    return units;
}

QString chainColumns(Dialect d, const QString& prefix)
{
    const QString unit = prefix + QStringLiteral("unit_id");
    return QStringLiteral("%1station, %1seq, %2, %1kind, %1body, %1prev_hash, %1hash")
        .arg(prefix, d == Dialect::Sqlite ? unit : QStringLiteral("CAST(%1 AS text)").arg(unit));
}

ChainEntry chainEntryFromRow(const QSqlQuery& q, int first)
{
    ChainEntry e;
    e.station = q.value(first).toString();
    e.seq = q.value(first + 1).toLongLong();
    e.unit = QUuid::fromString(q.value(first + 2).toString());
    e.kind = q.value(first + 3).toString();
    e.body = q.value(first + 4).toString().toUtf8();
    e.prevHash = q.value(first + 5).toString();
    e.hash = q.value(first + 6).toString();
    return e;
}

QList<ChainEntry> chainEntries(QSqlQuery& q)
{
    QList<ChainEntry> out;
    while (q.next())
        out.append(chainEntryFromRow(q));
    return out;
}

QList<ChainEntry> readChain(QSqlDatabase& db, Dialect d, const QString& station)
{
    QSqlQuery q = prepared(db,
                           QStringLiteral("SELECT %1 FROM chain%2 ORDER BY station, seq")
                               .arg(chainColumns(d), station.isEmpty() ? QString() : QStringLiteral(" WHERE station = ?")),
                           station.isEmpty() ? QVariantList{} : QVariantList{station});
    q.setForwardOnly(true);
    run(q, "read the chain");
    return chainEntries(q);
}

}  // namespace Ledger
