#include "ledger/CentralLedger.h"

#include "ledger/LocalLedger.h"
#include "ledger/RecordText.h"
#include "ledger/UnitRows.h"

#include <QAtomicInteger>
#include <QHash>
#include <QSqlError>
#include <QSqlQuery>
#include <algorithm>

namespace Ledger {

namespace {

QAtomicInteger<quint64> connections;

// The tables' owner writes the stations: which role records which station.
// Row-level security on every table lets a station role insert only rows of
// the stations mapped to it, as itself, and close only their open units;
// the owner alone is above it.
#define PELMORA_OWN_STATION "station IN (SELECT s.station FROM stations s WHERE s.role = current_user)"
const char* const schema[] = {
    "CREATE TABLE ledger_meta (key text PRIMARY KEY, value text NOT NULL)",
    "CREATE TABLE stations (station text PRIMARY KEY, role name NOT NULL, name text NOT NULL DEFAULT '', "
    "added timestamptz NOT NULL DEFAULT now())",
    "CREATE TABLE units (id uuid PRIMARY KEY, station text NOT NULL, host text NOT NULL, "
    "fixture_name text NOT NULL, fixture_path text NOT NULL, adapter_identity text NOT NULL, "
    "unit_number bigint NOT NULL, recipe_name text NOT NULL, recipe_sha256 text NOT NULL, "
    "tool_version text NOT NULL, start_time timestamptz NOT NULL, end_time timestamptz, "
    "result text CHECK (result IN ('pass', 'fail', 'interrupted')), why text NOT NULL, "
    "writer name NOT NULL DEFAULT current_user)",
    "CREATE INDEX units_start ON units (start_time)",
    "CREATE TABLE labels (unit_id uuid NOT NULL REFERENCES units (id), slot integer NOT NULL, "
    "file text NOT NULL, sha256 text NOT NULL, size bigint NOT NULL, data_frames_sent bigint NOT NULL, "
    "file_frame_sent boolean NOT NULL, release_confirmed boolean NOT NULL, slot_holds text NOT NULL, "
    "PRIMARY KEY (unit_id, slot))",
    "CREATE TABLE chain (station text NOT NULL, seq bigint NOT NULL, unit_id uuid NOT NULL, "
    "kind text NOT NULL CHECK (kind IN ('begin', 'close')), body text NOT NULL, prev_hash text NOT NULL, "
    "hash text NOT NULL, received timestamptz NOT NULL DEFAULT now(), writer name NOT NULL DEFAULT current_user, "
    "PRIMARY KEY (station, seq), UNIQUE (unit_id, kind))",
    "ALTER TABLE ledger_meta ENABLE ROW LEVEL SECURITY",
    "CREATE POLICY ledger_meta_read ON ledger_meta FOR SELECT USING (true)",
    "ALTER TABLE stations ENABLE ROW LEVEL SECURITY",
    "CREATE POLICY stations_read ON stations FOR SELECT USING (true)",
    "ALTER TABLE units ENABLE ROW LEVEL SECURITY",
    "CREATE POLICY units_read ON units FOR SELECT USING (true)",
    "CREATE POLICY units_open ON units FOR INSERT WITH CHECK (writer = current_user AND " PELMORA_OWN_STATION ")",
    "CREATE POLICY units_close ON units FOR UPDATE USING (result IS NULL AND " PELMORA_OWN_STATION ") "
    "WITH CHECK (writer = current_user AND " PELMORA_OWN_STATION ")",
    "ALTER TABLE labels ENABLE ROW LEVEL SECURITY",
    "CREATE POLICY labels_read ON labels FOR SELECT USING (true)",
    "CREATE POLICY labels_write ON labels FOR INSERT WITH CHECK (unit_id IN (SELECT u.id FROM units u "
    "JOIN stations s ON s.station = u.station WHERE s.role = current_user))",
    "ALTER TABLE chain ENABLE ROW LEVEL SECURITY",
    "CREATE POLICY chain_read ON chain FOR SELECT USING (true)",
    "CREATE POLICY chain_write ON chain FOR INSERT WITH CHECK (writer = current_user AND " PELMORA_OWN_STATION ")",
};
#undef PELMORA_OWN_STATION

// Every table and the policies it must have, and no others: a policy added
// beside them would widen what a station may write.
const char* const policies[][2] = {
    {"chain", "chain_read,chain_write"},
    {"labels", "labels_read,labels_write"},
    {"ledger_meta", "ledger_meta_read"},
    {"stations", "stations_read"},
    {"units", "units_close,units_open,units_read"},
};

QString sqlName(const QString& role)
{
    QString r = role;
    return QLatin1Char('"') + r.replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
}

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
        exec(QStringLiteral("SELECT pg_advisory_xact_lock(7451327)"), "take the set-up lock");
        QSqlQuery again(db_);
        if (!again.exec(QStringLiteral("SELECT to_regclass('ledger_meta') IS NOT NULL")) || !again.next())
            throw LedgerError("could not read the central ledger");
        if (!again.value(0).toBool()) {
            for (const char* sql : schema)
                exec(QLatin1String(sql), "make the tables");
            exec(QStringLiteral("INSERT INTO ledger_meta VALUES ('schema_version', '%1')").arg(schemaVersion),
                 "make the tables");
        }
        exec(QStringLiteral("COMMIT"), "commit");
    }
    QSqlQuery v(db_);
    if (!v.exec(QStringLiteral("SELECT value FROM ledger_meta WHERE key = 'schema_version'")) || !v.next())
        throw LedgerError(QStringLiteral("the central ledger %1 has no schema version").arg(address_.shown).toStdString());
    const int version = v.value(0).toInt();
    if (version > schemaVersion)
        throw LedgerError(QStringLiteral("the central ledger %1 has tables of version %2; this Pelmora knows "
                                         "version %3 at most; use a newer Pelmora here")
                              .arg(address_.shown)
                              .arg(version)
                              .arg(schemaVersion)
                              .toStdString());
    // Version 1 had no stations and no row-level security on the chain: a
    // station could write into another's. Such tables are not written to.
    if (version < schemaVersion)
        throw LedgerError(QStringLiteral("the central ledger %1 has tables of version %2, which do not bind a "
                                         "station to its role; make a new database for this Pelmora")
                              .arg(address_.shown)
                              .arg(version)
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
    if (e.kind != QLatin1String("begin"))
        begun.why.clear();
    static const QByteArray insertUnit = QStringLiteral("INSERT INTO units (station, %1) VALUES (?, %2) ON CONFLICT (id) DO NOTHING")
                                             .arg(unitShape().names(), unitShape().parameters(Dialect::Postgres))
                                             .toLatin1();
    QSqlQuery& unit = statement(2, insertUnit.constData());
    bind(unit, QVariantList{e.station} + unitValues(begun));
    run(unit, "store a unit");
    if (e.kind != QLatin1String("close"))
        return;
    QSqlQuery& close = statement(3, "UPDATE units SET end_time = CAST(? AS timestamptz), result = ?, why = ? "
                                    "WHERE id = CAST(? AS uuid) AND result IS NULL");
    bind(close, {timeText(r.end), r.result, notNull(r.why), id});
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
    for (const UnitRecord& r : readUnits(db_, Dialect::Postgres, these))
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
    return readUnits(db_, Dialect::Postgres, filter);
}

QList<ChainEntry> CentralLedger::chain(const QString& station)
{
    return readChain(db_, Dialect::Postgres, station);
}

void CentralLedger::claimStation(const QString& station)
{
    exec(QStringLiteral("SET statement_timeout = '30s'"), "bound the waits");
    exec(QStringLiteral("SET lock_timeout = '10s'"), "bound the waits");
    QSqlQuery q = prepared(db_, QStringLiteral("SELECT pg_try_advisory_lock(7451328, hashtext(?))"), {station});
    run(q, "claim the station's identity");
    if (!q.next() || !q.value(0).toBool())
        throw IdentityInUse(QStringLiteral("another running station forwards as station %1 (a copy of this "
                                           "station's ledger?); give this station an identity of its own "
                                           "(pelmora-ledger new-station)")
                                .arg(station)
                                .toStdString());
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
    return out;
}

void CentralLedger::grantStation(const QString& role, const QString& station, const QString& name)
{
    if (QUuid::fromString(station).isNull())
        throw LedgerError(QStringLiteral("'%1' is not a station's id; pelmora-ledger --ledger FILE station shows it")
                              .arg(station)
                              .toStdString());
    QSqlQuery q(db_);
    if (!q.exec(QStringLiteral("SELECT c.relname, c.relrowsecurity, coalesce(string_agg(p.polname, ',' "
                               "ORDER BY p.polname), '') FROM pg_class c LEFT JOIN pg_policy p ON p.polrelid = c.oid "
                               "WHERE c.relnamespace = current_schema()::regnamespace AND c.relkind = 'r' "
                               "GROUP BY c.relname, c.relrowsecurity")))
        throw LedgerError(QStringLiteral("could not read the tables' policies: %1").arg(q.lastError().text()).toStdString());
    QHash<QString, QString> found;
    while (q.next())
        found.insert(q.value(0).toString(), q.value(1).toBool() ? q.value(2).toString() : QStringLiteral("(off)"));
    for (const auto& [table, expected] : policies)
        if (found.value(QLatin1String(table)) != QLatin1String(expected))
            throw LedgerError(QStringLiteral("the central ledger's table %1 lacks its row-level security (policies "
                                             "'%2', expected '%3'); a station could write another's records, so "
                                             "nothing is granted")
                                  .arg(QLatin1String(table), found.value(QLatin1String(table)), QLatin1String(expected))
                                  .toStdString());
    const QString r = sqlName(role);
    const QStringList grants{
        QStringLiteral("REVOKE ALL ON ledger_meta, stations, units, labels, chain FROM %1").arg(r),
        QStringLiteral("GRANT SELECT ON ledger_meta, stations, units, labels, chain TO %1").arg(r),
        // writer and received are never the inserter's to say.
        QStringLiteral("GRANT INSERT (station, seq, unit_id, kind, body, prev_hash, hash) ON chain TO %1").arg(r),
        QStringLiteral("GRANT INSERT (station, %1) ON units TO %2").arg(unitShape().names(), r),
        QStringLiteral("GRANT INSERT ON labels TO %1").arg(r),
        QStringLiteral("GRANT UPDATE (end_time, result, why) ON units TO %1").arg(r),
    };
    exec(QStringLiteral("BEGIN"), "start a transaction");
    try {
        for (const QString& g : grants)
            exec(g, "grant");
        QSqlQuery add = prepared(db_,
                                 QStringLiteral("INSERT INTO stations (station, role, name) VALUES (?, ?, ?) "
                                                "ON CONFLICT (station) DO NOTHING"),
                                 {station, role, notNull(name)});
        run(add, "map the station to its role");
        QSqlQuery held = prepared(db_, QStringLiteral("SELECT role FROM stations WHERE station = ?"), {station});
        run(held, "map the station to its role");
        if (!held.next() || held.value(0).toString() != role)
            throw LedgerError(QStringLiteral("station %1 is granted to role %2 already")
                                  .arg(station, held.value(0).toString())
                                  .toStdString());
        exec(QStringLiteral("COMMIT"), "commit");
    } catch (...) {
        QSqlQuery(db_).exec(QStringLiteral("ROLLBACK"));
        throw;
    }
}

}  // namespace Ledger
