#include "ledger/CentralLedger.h"

#include "ledger/LocalLedger.h"
#include "ledger/RecordText.h"
#include "ledger/UnitRows.h"

#include <QAtomicInteger>
#include <QSqlError>
#include <QSqlQuery>

namespace Ledger {

namespace {

QAtomicInteger<quint64> connections;

const char* const schema[] = {
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
    // A station role may close only the units it opened, and only once.
    "ALTER TABLE units ENABLE ROW LEVEL SECURITY",
    "CREATE POLICY units_read ON units FOR SELECT USING (true)",
    "CREATE POLICY units_open ON units FOR INSERT WITH CHECK (writer = current_user)",
    "CREATE POLICY units_close ON units FOR UPDATE USING (writer = current_user AND result IS NULL) "
    "WITH CHECK (writer = current_user)",
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
            exec(QStringLiteral("CREATE TABLE ledger_meta (key text PRIMARY KEY, value text NOT NULL)"), "make the tables");
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
        exec(QStringLiteral("COMMIT"), "commit");
    } catch (...) {
        QSqlQuery(db_).exec(QStringLiteral("ROLLBACK"));
        throw;
    }
}

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
        throw LedgerError(QStringLiteral("the central ledger holds another record %1 for station %2 "
                                         "(two stations share one ledger file, or it was changed)")
                              .arg(e.seq)
                              .arg(e.station)
                              .toStdString());
    QSqlQuery& unit = statement(2, "INSERT INTO units (id, station, host, fixture_name, fixture_path, adapter_identity, "
                                   "unit_number, recipe_name, recipe_sha256, tool_version, start_time, why) "
                                   "VALUES (CAST(? AS uuid), ?, ?, ?, ?, ?, ?, ?, ?, ?, CAST(? AS timestamptz), ?) "
                                   "ON CONFLICT (id) DO NOTHING");
    bind(unit, {id, e.station, notNull(r.host), notNull(r.fixtureName), notNull(r.fixturePath),
                notNull(r.adapterIdentity), r.unitNumber, notNull(r.recipeName), notNull(r.recipeSha256),
                notNull(r.toolVersion), timeText(r.start),
                e.kind == QLatin1String("begin") ? notNull(r.why) : notNull({})});
    run(unit, "store a unit");
    if (e.kind != QLatin1String("close"))
        return;
    QSqlQuery& close = statement(3, "UPDATE units SET end_time = CAST(? AS timestamptz), result = ?, why = ? "
                                    "WHERE id = CAST(? AS uuid) AND result IS NULL");
    bind(close, {timeText(r.end), r.result, notNull(r.why), id});
    run(close, "close a unit");
    for (const LabelRecord& l : r.labels) {
        QSqlQuery& label = statement(4, "INSERT INTO labels (unit_id, slot, file, sha256, size, data_frames_sent, "
                                        "file_frame_sent, release_confirmed, slot_holds) "
                                        "VALUES (CAST(? AS uuid), ?, ?, ?, ?, ?, ?, ?, ?) ON CONFLICT DO NOTHING");
        bind(label, {id, l.slot, notNull(l.file), notNull(l.sha256), l.size, l.dataFramesSent, l.fileFrameSent,
                     l.releaseConfirmed, notNull(l.slotHolds)});
        run(label, "store a label");
    }
}

QList<UnitRecord> CentralLedger::units(const UnitFilter& filter)
{
    return readUnits(db_, Dialect::Postgres, filter);
}

QList<ChainEntry> CentralLedger::chain()
{
    return readChain(db_, Dialect::Postgres);
}

void CentralLedger::grantStation(const QString& role)
{
    const QString r = sqlName(role);
    const QStringList grants{
        QStringLiteral("GRANT SELECT ON ledger_meta TO %1"),
        QStringLiteral("GRANT SELECT, INSERT ON units, labels, chain TO %1"),
        QStringLiteral("GRANT UPDATE (end_time, result, why) ON units TO %1"),
    };
    for (const QString& g : grants)
        exec(g.arg(r), "grant");
}

}  // namespace Ledger
