#include "ledger/CentralLedger.h"

#include "ledger/CentralSchema.h"
#include "ledger/LocalLedger.h"
#include "ledger/RecordText.h"
#include "ledger/StoredVerify.h"
#include "ledger/UnitRows.h"

#include <QAtomicInteger>
#include <QHash>
#include <QSqlError>
#include <QSqlQuery>
#include <algorithm>

namespace Ledger {

namespace {

QAtomicInteger<quint64> connections;

}  // namespace

CentralLedger::CentralLedger(const QString& address)
    : address_(centralAddress(address)),
      name_(QStringLiteral("pelmora-central-%1").arg(connections.fetchAndAddRelaxed(1)))
{
    db_ = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name_);
    try {
        if (!db_.isValid())
            throw LedgerError("Qt's PostgreSQL driver is missing (Debian package libqt6sql6-psql)");
        db_.setConnectOptions(address_.conninfo);
        if (!db_.open()) {
            const QString why = db_.lastError().databaseText().trimmed();
            throw LedgerError(QStringLiteral("cannot reach the central ledger %1: %2")
                                  .arg(address_.shown, why.isEmpty() ? db_.lastError().text() : why)
                                  .toStdString());
        }
        // No lock another session holds keeps this one waiting for long:
        // not the set-up, not a grant, not a link a station inserts.
        exec(QStringLiteral("SET lock_timeout = '10s'"), "bound the waits");
        ensureTables();
    } catch (...) {
        // No destructor runs for a constructor that throws; a forwarder
        // retrying all shift must not leave a connection behind each time.
        disconnect();
        throw;
    }
}

CentralLedger::~CentralLedger()
{
    disconnect();
}

void CentralLedger::disconnect()
{
    for (auto& q : statements_)
        q.reset();
    db_.close();
    db_ = QSqlDatabase();
    QSqlDatabase::removeDatabase(name_);
}

void CentralLedger::exec(const QString& sql, const char* what)
{
    QSqlQuery q(db_);
    if (!q.exec(sql))
        throw LedgerError(QStringLiteral("could not %1 in the central ledger: %2")
                              .arg(QLatin1String(what), q.lastError().databaseText().trimmed())
                              .toStdString());
}

void CentralLedger::ensureTables()
{
    QSqlQuery q(db_);
    if (!q.exec(QStringLiteral("SELECT to_regclass('ledger_meta') IS NOT NULL")) || !q.next())
        throw LedgerError(QStringLiteral("could not read the central ledger: %1").arg(q.lastError().text()).toStdString());
    if (!q.value(0).toBool()) {
        // Two stations starting at once: one makes the tables, the other waits and finds them.
        exec(QStringLiteral("BEGIN"), "start a transaction");
        try {
            exec(QStringLiteral("SET LOCAL lock_timeout = '10s'"), "bound the waits");
            exec(QLatin1String(centralSetupLock), "take the set-up lock");
            QSqlQuery again(db_);
            if (!again.exec(QStringLiteral("SELECT to_regclass('ledger_meta') IS NOT NULL")) || !again.next())
                throw LedgerError("could not read the central ledger");
            if (!again.value(0).toBool()) {
                for (const SchemaStep& step : centralSchemaSteps())
                    for (const QString& sql : step.statements)
                        exec(sql, "make the tables");
                for (const SchemaStep& step : centralSchemaSteps()) {
                    QSqlQuery v = prepared(db_, QStringLiteral("INSERT INTO schema_version (version, checksum) VALUES (?, ?)"),
                                           {step.version, step.checksum()});
                    run(v, "make the tables");
                }
                exec(QStringLiteral("INSERT INTO ledger_meta VALUES ('schema_version', '%1')").arg(centralSchemaVersion()),
                     "make the tables");
            }
            exec(QStringLiteral("COMMIT"), "commit");
        } catch (...) {
            QSqlQuery(db_).exec(QStringLiteral("ROLLBACK"));
            throw;
        }
    }
    readVersion();
}

void CentralLedger::readVersion()
{
    QSqlQuery v(db_);
    if (!v.exec(QStringLiteral("SELECT value FROM ledger_meta WHERE key = 'schema_version'")) || !v.next())
        throw LedgerError(QStringLiteral("the central ledger %1 has no schema version").arg(address_.shown).toStdString());
    version_ = v.value(0).toInt();
    if (version_ > centralSchemaVersion())
        throw SchemaMismatch(QStringLiteral("the central ledger %1 has tables of version %2; this Pelmora knows "
                                            "version %3 at most; use a newer Pelmora here")
                                 .arg(address_.shown)
                                 .arg(version_)
                                 .arg(centralSchemaVersion())
                                 .toStdString());
    // Version 1 had no stations and no row-level security on the chain: a
    // station could write into another's. Such tables are not written to.
    if (version_ < centralOldestVersion())
        throw LedgerError(QStringLiteral("the central ledger %1 has tables of version %2, which do not bind a "
                                         "station to its role; make a new database for this Pelmora")
                              .arg(address_.shown)
                              .arg(version_)
                              .toStdString());
    QSqlQuery has(db_);
    if (!has.exec(QStringLiteral("SELECT to_regclass('schema_version') IS NOT NULL")) || !has.next())
        throw LedgerError(QStringLiteral("could not read the central ledger: %1").arg(has.lastError().text()).toStdString());
    if (!has.value(0).toBool())
        return;
    QSqlQuery steps(db_);
    if (!steps.exec(QStringLiteral("SELECT version, checksum FROM schema_version ORDER BY version")))
        throw LedgerError(QStringLiteral("could not read the central ledger's schema steps: %1")
                              .arg(steps.lastError().databaseText().trimmed())
                              .toStdString());
    QList<AppliedStep> applied;
    while (steps.next())
        applied.append(AppliedStep{steps.value(0).toInt(), steps.value(1).toString()});
    requireSameSteps(applied, centralSchemaSteps(), QStringLiteral("the central ledger %1").arg(address_.shown));
}

void CentralLedger::requireCurrent() const
{
    if (version_ < centralSchemaVersion())
        throw SchemaMismatch(QStringLiteral("the central ledger %1 has tables of version %2 and this Pelmora writes "
                                            "version %3: its owner takes them forward with pelmora-ledger --central "
                                            "URI upgrade; until then records wait in the station's ledger")
                                 .arg(address_.shown)
                                 .arg(version_)
                                 .arg(centralSchemaVersion())
                                 .toStdString());
}

QSqlQuery& CentralLedger::statement(int which, const char* sql)
{
    if (!statements_[which]) {
        statements_[which] = std::make_unique<QSqlQuery>(db_);
        if (!statements_[which]->prepare(QLatin1String(sql)))
            throw LedgerError(QStringLiteral("could not prepare a query in the central ledger: %1")
                                  .arg(statements_[which]->lastError().text())
                                  .toStdString());
    }
    return *statements_[which];
}

namespace {

void bind(QSqlQuery& q, const QVariantList& values)
{
    for (qsizetype i = 0; i < values.size(); ++i)
        q.bindValue(int(i), values[i]);
}

}  // namespace

void CentralLedger::store(const QList<ChainEntry>& links)
{
    requireCurrent();
    exec(QStringLiteral("BEGIN"), "start a transaction");
    try {
        for (const ChainEntry& e : links)
            storeOne(e);
        // What is there now must be what the links say: a row planted ahead
        // of them, or one closed otherwise, is a difference, never "sent".
        checkStored(links);
        exec(QStringLiteral("COMMIT"), "commit");
    } catch (const ChainConflict&) {
        QSqlQuery(db_).exec(QStringLiteral("ROLLBACK"));
        throw;
    } catch (const LedgerError& error) {
        QSqlQuery(db_).exec(QStringLiteral("ROLLBACK"));
        const QString why = QString::fromUtf8(error.what());
        if (!why.contains(QLatin1String("row-level security")) && !why.contains(QLatin1String("permission denied")))
            throw;
        throw LedgerError(QStringLiteral("%1 (is this station granted to the role? as the tables' owner: "
                                         "pelmora-ledger --central URI grant ROLE %2)")
                              .arg(why, links.value(0).station)
                              .toStdString());
    } catch (...) {
        QSqlQuery(db_).exec(QStringLiteral("ROLLBACK"));
        throw;
    }
}

namespace {

// Two views of a unit alike, labels in slot order.
QByteArray unitText(UnitRecord r)
{
    std::sort(r.labels.begin(), r.labels.end(), [](const LabelRecord& a, const LabelRecord& b) { return a.slot < b.slot; });
    return canonicalText(toJson(r));
}

}  // namespace

void CentralLedger::storeOne(const ChainEntry& e)
{
    const UnitRecord r = entryRecord(e);
    const QString id = r.id.toString(QUuid::WithoutBraces);
    QSqlQuery& link = statement(0, "INSERT INTO chain (station, seq, unit_id, kind, body, prev_hash, hash) "
                                   "VALUES (?, ?, CAST(? AS uuid), ?, ?, ?, ?) ON CONFLICT DO NOTHING");
    bind(link, {e.station, e.seq, id, e.kind, QString::fromUtf8(e.body), e.prevHash, e.hash});
    run(link, "store a record");
    // Sent twice is stored once; but a different link in its place is not ours to overwrite.
    QSqlQuery& held = statement(1, "SELECT hash FROM chain WHERE station = ? AND seq = ?");
    bind(held, {e.station, e.seq});
    run(held, "store a record");
    const bool same = held.next() && held.value(0).toString() == e.hash;
    held.finish();
    if (!same)
        throw ChainConflict(QStringLiteral("the central ledger holds another record %1 for station %2: the station's "
                                          "ledger and the central copy differ from there on (a restored or "
                                          "cloned station ledger?)")
                               .arg(e.seq)
                               .arg(e.station)
                               .toStdString());
    // The row as the unit began: its close, if this is one, follows.
    UnitRecord begun = r;
    begun.end = {};
    begun.result.clear();
    if (e.kind != QLatin1String("begin")) {
        begun.why.clear();
        begun.reason.clear();
    }
    static const QByteArray insertUnit = QStringLiteral("INSERT INTO units (station, %1) VALUES (?, %2) ON CONFLICT (id) DO NOTHING")
                                             .arg(unitShape().names(), unitShape().parameters(Dialect::Postgres))
                                             .toLatin1();
    QSqlQuery& unit = statement(2, insertUnit.constData());
    bind(unit, QVariantList{e.station} + unitValues(begun));
    run(unit, "store a unit");
    if (e.kind != QLatin1String("close"))
        return;
    QSqlQuery& close = statement(3, "UPDATE units SET end_time = CAST(? AS timestamptz), result = ?, why = ?, reason = ? "
                                    "WHERE id = CAST(? AS uuid) AND result IS NULL");
    bind(close, {timeText(r.end), r.result, notNull(r.why), notNull(r.reason), id});
    run(close, "close a unit");
    static const QByteArray insertLabel = QStringLiteral("INSERT INTO labels (%1) VALUES (%2) ON CONFLICT DO NOTHING")
                                              .arg(labelShape().names(), labelShape().parameters(Dialect::Postgres))
                                              .toLatin1();
    for (const LabelRecord& l : r.labels) {
        QSqlQuery& label = statement(4, insertLabel.constData());
        bind(label, labelValues(r.id, l));
        run(label, "store a label");
    }
}

void CentralLedger::checkStored(const QList<ChainEntry>& links)
{
    // The last link of each unit in the batch says what its row must be.
    QHash<QUuid, const ChainEntry*> last;
    UnitFilter these;
    for (const ChainEntry& e : links) {
        if (!last.contains(e.unit))
            these.ids.append(e.unit);
        last.insert(e.unit, &e);
    }
    QHash<QUuid, UnitRecord> stored;
    for (const UnitRecord& r : readUnits(db_, Dialect::Postgres, these, true))
        stored.insert(r.id, r);
    for (const QUuid& id : these.ids) {
        const ChainEntry& e = *last.value(id);
        UnitRecord expected = entryRecord(e);
        const auto it = stored.constFind(id);
        if (e.kind == QLatin1String("begin")) {
            expected.labels.clear();  // a unit's labels come with its close
            if (it != stored.constEnd() && !it->isOpen()) {
                // Its close went before: the begin vouches for which unit it was.
                expected.end = it->end;
                expected.result = it->result;
                expected.why = it->why;
                expected.reason = it->reason;
                expected.labels = it->labels;
            }
        }
        if (it == stored.constEnd() || unitText(*it) != unitText(expected))
            throw ChainConflict(QStringLiteral("the central ledger holds unit %1 (record %2 of station %3) otherwise "
                                               "than the station recorded it")
                                    .arg(id.toString(QUuid::WithoutBraces))
                                    .arg(e.seq)
                                    .arg(e.station)
                                    .toStdString());
    }
}

QList<UnitRecord> CentralLedger::units(const UnitFilter& filter)
{
    return readUnits(db_, Dialect::Postgres, filter, version_ >= 3);
}

std::optional<UnitRecord> CentralLedger::lastPass(const QString& serial, const QString& recipeSha256, int withinMs)
{
    if (serial.isEmpty() || version_ < 3)
        return std::nullopt;  // no serials before version 3
    exec(QStringLiteral("BEGIN"), "start a transaction");
    try {
        exec(QStringLiteral("SET LOCAL statement_timeout = %1").arg(qMax(1, withinMs)), "bound the wait");
        QSqlQuery q = prepared(db_,
                               QStringLiteral("SELECT CAST(id AS text) FROM units WHERE serial = ? AND recipe_sha256 = ? "
                                              "AND result = 'pass' ORDER BY start_time DESC, id DESC LIMIT 1"),
                               {serial, recipeSha256});
        run(q, "look the serial up");
        const QString id = q.next() ? q.value(0).toString() : QString();
        q.finish();
        std::optional<UnitRecord> found;
        if (!id.isEmpty()) {
            UnitFilter one;
            one.ids = {QUuid::fromString(id)};
            const QList<UnitRecord> rows = readUnits(db_, Dialect::Postgres, one, true);
            if (!rows.isEmpty())
                found = rows.first();
        }
        exec(QStringLiteral("COMMIT"), "commit");
        return found;
    } catch (...) {
        QSqlQuery(db_).exec(QStringLiteral("ROLLBACK"));
        throw;
    }
}

QList<ChainEntry> CentralLedger::chain(const QString& station)
{
    return readChain(db_, Dialect::Postgres, station);
}

void CentralLedger::read(const std::function<void(const StoredLedger&)>& reading)
{
    reading(StoredLedger{db_, Dialect::Postgres, version_ >= 3});
}

void CentralLedger::claimStation(const QString& station, const QString& holder)
{
    requireCurrent();
    exec(QStringLiteral("SET statement_timeout = '30s'"), "bound the waits");
    exec(QStringLiteral("SET lock_timeout = '10s'"), "bound the waits");
    // The server finds a connection gone within about a minute, not after
    // its two-hour default; the settings a server lacks are left alone.
    exec(QStringLiteral("SELECT set_config(v.name, v.value, false) FROM (VALUES ('tcp_keepalives_idle', '20'), "
                        "('tcp_keepalives_interval', '5'), ('tcp_keepalives_count', '4'), ('tcp_user_timeout', '40000'), "
                        "('idle_session_timeout', '300000')) v(name, value) JOIN pg_settings s ON s.name = v.name"),
         "bound the waits");
    QSqlQuery q = prepared(
        db_,
        QStringLiteral("INSERT INTO station_leases AS l (station, holder, backend, backend_start, until) "
                       "SELECT ?, ?, pg_backend_pid(), (SELECT a.backend_start FROM pg_stat_activity a WHERE a.pid = "
                       "pg_backend_pid()), now() + interval '%1 seconds' "
                       "ON CONFLICT (station) DO UPDATE SET holder = EXCLUDED.holder, backend = EXCLUDED.backend, "
                       "backend_start = EXCLUDED.backend_start, until = EXCLUDED.until "
                       "WHERE l.holder = EXCLUDED.holder OR l.until < now() OR NOT EXISTS (SELECT 1 FROM "
                       "pg_stat_activity a WHERE a.pid = l.backend AND a.backend_start = l.backend_start) "
                       "RETURNING l.holder")
            .arg(kLeaseSeconds),
        {station, holder});
    run(q, "claim the station's identity");
    if (q.next())
        return;
    QSqlQuery held = prepared(db_, QStringLiteral("SELECT until FROM station_leases WHERE station = ?"), {station});
    run(held, "claim the station's identity");
    const QDateTime until = held.next() ? held.value(0).toDateTime().toUTC() : QDateTime();
    throw IdentityInUse(QStringLiteral("another running station forwards as station %1 (a copy of this "
                                       "station's ledger?), its claim renewed until %2; give this station an "
                                       "identity of its own (pelmora-ledger new-station)")
                            .arg(station, timeText(until))
                            .toStdString());
}

void CentralLedger::releaseStation(const QString& station, const QString& holder)
{
    QSqlQuery q = prepared(db_,
                           QStringLiteral("UPDATE station_leases SET until = now() - interval '1 second' "
                                          "WHERE station = ? AND holder = ?"),
                           {station, holder});
    run(q, "give the station's identity back");
}

qint64 CentralLedger::firstGap(const QString& station, qint64 end)
{
    if (end <= 0)
        return 0;
    QSqlQuery q = prepared(db_,
                           QStringLiteral("SELECT CASE WHEN NOT EXISTS (SELECT 1 FROM chain WHERE station = ? AND seq = 1) "
                                          "THEN 1 ELSE (SELECT min(c.seq) + 1 FROM chain c WHERE c.station = ? AND "
                                          "c.seq < ? AND NOT EXISTS (SELECT 1 FROM chain d WHERE d.station = c.station "
                                          "AND d.seq = c.seq + 1)) END"),
                           {station, station, end});
    run(q, "look for gaps in the station's chain");
    return q.next() ? q.value(0).toLongLong() : 0;
}

ChainEntry CentralLedger::chainEnd(const QString& station)
{
    QSqlQuery q = prepared(db_,
                           QStringLiteral("SELECT station, seq, CAST(unit_id AS text), kind, body, prev_hash, hash "
                                          "FROM chain WHERE station = ? ORDER BY seq DESC LIMIT 1"),
                           {station});
    run(q, "read the chain's end");
    const QList<ChainEntry> last = chainEntries(q);
    return last.isEmpty() ? ChainEntry{} : last.first();
}

QHash<QString, QString> CentralLedger::stationNames()
{
    QSqlQuery q = prepared(db_, QStringLiteral("SELECT station, name FROM stations"), {});
    run(q, "read the stations' names");
    QHash<QString, QString> names;
    while (q.next())
        names.insert(q.value(0).toString(), q.value(1).toString());
    return names;
}

QList<Finding> CentralLedger::strangers()
{
    QList<Finding> out;
    for (const char* table : {"chain", "units"}) {
        const bool chain = QLatin1String(table) == QLatin1String("chain");
        QSqlQuery q = prepared(
            db_,
            QStringLiteral("SELECT DISTINCT ON (t.station) t.station, %1, t.writer, coalesce(s.role::text, '') "
                           "FROM %2 t LEFT JOIN stations s ON s.station = t.station "
                           "WHERE t.writer <> coalesce(s.role, (SELECT tableowner FROM pg_tables WHERE schemaname = "
                           "current_schema() AND tablename = '%2')) ORDER BY t.station, %3")
                .arg(chain ? QStringLiteral("t.seq") : QStringLiteral("0::bigint"), QLatin1String(table),
                     chain ? QStringLiteral("t.seq") : QStringLiteral("t.start_time")),
            {});
        run(q, "read who wrote the ledger");
        while (q.next()) {
            const QString station = q.value(0).toString();
            const QString role = q.value(3).toString();
            out.append(Finding{station, {}, q.value(1).toLongLong(), QStringLiteral("forged"),
                               QStringLiteral("station %1: %2 written by role %3, %4")
                                   .arg(station,
                                        chain ? QStringLiteral("record %1 was").arg(q.value(1).toLongLong())
                                            : QStringLiteral("a unit row was"),
                                        q.value(2).toString(),
                                        role.isEmpty() ? QStringLiteral("and the station is granted to no role")
                                                       : QStringLiteral("not by the station's role %1").arg(role))});
        }
    }
    // A station stores no large object; one its role made is no record.
    QSqlQuery lo(db_);
    if (!lo.exec(QStringLiteral("SELECT DISTINCT ON (m.oid) s.station, m.oid::bigint, r.rolname FROM "
                                "pg_largeobject_metadata m JOIN pg_roles r ON r.oid = m.lomowner JOIN stations s ON "
                                "s.role = r.rolname ORDER BY m.oid, s.station")))
        throw LedgerError(QStringLiteral("could not read the large objects: %1").arg(lo.lastError().databaseText()).toStdString());
    while (lo.next())
        out.append(Finding{lo.value(0).toString(), {}, 0, QStringLiteral("inserted"),
                           QStringLiteral("station %1: large object %2 stored by its role %3, which a station never "
                                          "does (a superuser removes it: SELECT lo_unlink(%2))")
                               .arg(lo.value(0).toString(), lo.value(1).toString(), lo.value(2).toString())});
    return out;
}

}  // namespace Ledger
