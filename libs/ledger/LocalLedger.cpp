#include "ledger/LocalLedger.h"

#include "ledger/RecordText.h"
#include "ledger/UnitRows.h"

#include <QAtomicInteger>
#include <QDir>
#include <QFileInfo>
#include <QMutexLocker>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>

namespace Ledger {

namespace {

QAtomicInteger<quint64> connections;

// A connection for one operation on the calling thread: Qt allows a
// connection only on the thread that made it, and several fixtures write
// from threads of their own.
class Connection {
public:
    explicit Connection(const QString& path)
        : name_(QStringLiteral("pelmora-ledger-%1").arg(connections.fetchAndAddRelaxed(1)))
    {
        db_ = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name_);
        if (!db_.isValid())
            fail(path, QStringLiteral("Qt's SQLite driver is missing (Debian package libqt6sql6-sqlite)"));
        db_.setDatabaseName(path);
        // Another process (a second station, pelmora-ledger) may hold the lock a moment.
        db_.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000"));
        if (!db_.open())
            fail(path, db_.lastError().text());
        exec(QStringLiteral("PRAGMA foreign_keys = ON"), "set up the ledger");
        // A committed unit survives a power cut.
        exec(QStringLiteral("PRAGMA synchronous = FULL"), "set up the ledger");
    }
    ~Connection()
    {
        db_.close();
        db_ = QSqlDatabase();
        QSqlDatabase::removeDatabase(name_);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    QSqlDatabase& db() { return db_; }

    void exec(const QString& sql, const char* what)
    {
        QSqlQuery q(db_);
        if (!q.exec(sql))
            throw LedgerError(QStringLiteral("could not %1: %2")
                                  .arg(QLatin1String(what), q.lastError().text())
                                  .toStdString());
    }

    [[noreturn]] static void fail(const QString& path, const QString& why)
    {
        throw LedgerError(QStringLiteral("cannot open the ledger %1: %2").arg(path, why).toStdString());
    }

private:
    QString name_;
    QSqlDatabase db_;
};

// BEGIN IMMEDIATE takes the write lock at once, so reading the chain's end
// and appending to it cannot interleave with another writer.
class Transaction {
public:
    explicit Transaction(Connection& c) : c_(c) { c_.exec(QStringLiteral("BEGIN IMMEDIATE"), "start a transaction"); }
    ~Transaction()
    {
        if (!done_) {
            QSqlQuery q(c_.db());
            q.exec(QStringLiteral("ROLLBACK"));
        }
    }
    void commit()
    {
        c_.exec(QStringLiteral("COMMIT"), "commit");
        done_ = true;
    }

private:
    Connection& c_;
    bool done_ = false;
};

const char* const schema[] = {
    "CREATE TABLE units (id TEXT PRIMARY KEY, host TEXT NOT NULL, fixture_name TEXT NOT NULL, "
    "fixture_path TEXT NOT NULL, adapter_identity TEXT NOT NULL, unit_number INTEGER NOT NULL, "
    "recipe_name TEXT NOT NULL, recipe_sha256 TEXT NOT NULL, tool_version TEXT NOT NULL, "
    "start_time TEXT NOT NULL, end_time TEXT, result TEXT, why TEXT NOT NULL)",
    "CREATE INDEX units_start ON units (start_time)",
    "CREATE INDEX units_open ON units (result) WHERE result IS NULL",
    "CREATE TABLE labels (unit_id TEXT NOT NULL REFERENCES units (id), slot INTEGER NOT NULL, "
    "file TEXT NOT NULL, sha256 TEXT NOT NULL, size INTEGER NOT NULL, data_frames_sent INTEGER NOT NULL, "
    "file_frame_sent INTEGER NOT NULL, release_confirmed INTEGER NOT NULL, slot_holds TEXT NOT NULL, "
    "PRIMARY KEY (unit_id, slot))",
    "CREATE TABLE chain (station TEXT NOT NULL, seq INTEGER NOT NULL, unit_id TEXT NOT NULL, kind TEXT NOT NULL, "
    "body TEXT NOT NULL, prev_hash TEXT NOT NULL, hash TEXT NOT NULL, sent INTEGER NOT NULL DEFAULT 0, "
    "PRIMARY KEY (station, seq), UNIQUE (unit_id, kind))",
    "CREATE INDEX chain_unsent ON chain (seq) WHERE sent = 0",
};

QString text(const QString& s)
{
    return notNull(s);
}

}  // namespace

QString LocalLedger::defaultPath()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || QDir::isRelativePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/pelmora/ledger.sqlite");
}

LocalLedger::LocalLedger(const QString& path) : path_(path)
{
    const QFileInfo info(path);
    if (!QDir().mkpath(info.absolutePath()))
        Connection::fail(path, QStringLiteral("cannot make the folder %1").arg(info.absolutePath()));
    Connection c(path);
    {
        // Once per file; the journal mode stays with the file.
        QSqlQuery q(c.db());
        if (!q.exec(QStringLiteral("PRAGMA journal_mode = WAL")))
            Connection::fail(path, q.lastError().text());
    }
    Transaction t(c);
    c.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS meta (key TEXT PRIMARY KEY, value TEXT NOT NULL)"),
           "set up the ledger");
    QSqlQuery q(c.db());
    if (!q.exec(QStringLiteral("SELECT key, value FROM meta")))
        Connection::fail(path, q.lastError().text());
    int version = 0;
    while (q.next()) {
        if (q.value(0).toString() == QLatin1String("schema_version"))
            version = q.value(1).toInt();
        else if (q.value(0).toString() == QLatin1String("station"))
            station_ = q.value(1).toString();
    }
    if (version > schemaVersion)
        Connection::fail(path, QStringLiteral("its tables are of version %1, this Pelmora knows version %2 at most; "
                                              "use the Pelmora that wrote it, or a newer one")
                                   .arg(version)
                                   .arg(schemaVersion));
    if (version == 0) {
        for (const char* sql : schema)
            c.exec(QLatin1String(sql), "make the ledger's tables");
        station_ = QUuid::createUuid().toString(QUuid::WithoutBraces);
        QSqlQuery m = prepared(c.db(), QStringLiteral("INSERT INTO meta (key, value) VALUES ('schema_version', ?), ('station', ?)"),
                               {QString::number(schemaVersion), station_});
        run(m, "make the ledger's tables");
    }
    t.commit();
}

void LocalLedger::begin(const UnitRecord& record)
{
    if (record.id.isNull())
        throw LedgerError("a record needs an id");
    if (!record.isOpen())
        throw LedgerError("a record is begun without a result");
    if (!record.start.isValid())
        throw LedgerError("a record needs its start time to begin");
    append(QStringLiteral("begin"), record, true);
}

void LocalLedger::close(const UnitRecord& record)
{
    static const QStringList results{QStringLiteral("pass"), QStringLiteral("fail"), QStringLiteral("interrupted")};
    if (!results.contains(record.result))
        throw LedgerError(QStringLiteral("a record closes as pass, fail or interrupted, not '%1'")
                              .arg(record.result)
                              .toStdString());
    UnitRecord closed = record;
    if (!closed.end.isValid())
        closed.end = QDateTime::currentDateTimeUtc();
    append(QStringLiteral("close"), closed, false);
}

void LocalLedger::append(const QString& kind, const UnitRecord& given, bool opening)
{
    const QMutexLocker lock(&writing_);
    Connection c(path_);
    Transaction t(c);
    const QString id = given.id.toString(QUuid::WithoutBraces);
    QSqlQuery state = prepared(c.db(),
                               QStringLiteral("SELECT result IS NULL, host, fixture_name, fixture_path, adapter_identity, "
                                              "unit_number, recipe_name, recipe_sha256, tool_version, start_time "
                                              "FROM units WHERE id = ?"),
                               {id});
    run(state, "read the unit");
    const bool exists = state.next();
    if (opening && exists)
        throw LedgerError(QStringLiteral("unit %1 is already recorded").arg(id).toStdString());
    if (!opening && !(exists && state.value(0).toBool()))
        throw LedgerError(QStringLiteral("unit %1 has no open record to close").arg(id).toStdString());
    UnitRecord r = given;
    if (!opening) {
        // A close says how the unit ended; which unit it was, its begin said.
        r.host = state.value(1).toString();
        r.fixtureName = state.value(2).toString();
        r.fixturePath = state.value(3).toString();
        r.adapterIdentity = state.value(4).toString();
        r.unitNumber = state.value(5).toLongLong();
        r.recipeName = state.value(6).toString();
        r.recipeSha256 = state.value(7).toString();
        r.toolVersion = state.value(8).toString();
        r.start = parseTime(state.value(9).toString());
    }
    state.finish();

    const QVariantList values{text(r.host), text(r.fixtureName), text(r.fixturePath), text(r.adapterIdentity),
                              r.unitNumber, text(r.recipeName), text(r.recipeSha256), text(r.toolVersion),
                              timeText(r.start),
                              r.end.isValid() ? QVariant(timeText(r.end)) : QVariant(QMetaType(QMetaType::QString)),
                              r.result.isEmpty() ? QVariant(QMetaType(QMetaType::QString)) : QVariant(r.result),
                              text(r.why), id};
    QSqlQuery unit = prepared(
        c.db(),
        opening ? QStringLiteral("INSERT INTO units (host, fixture_name, fixture_path, adapter_identity, unit_number, "
                                 "recipe_name, recipe_sha256, tool_version, start_time, end_time, result, why, id) "
                                 "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")
                : QStringLiteral("UPDATE units SET end_time = ?, result = ?, why = ? WHERE id = ?"),
        opening ? values : values.mid(9));
    run(unit, "write the unit");
    if (!opening) {
        for (const LabelRecord& l : r.labels) {
            QSqlQuery label = prepared(
                c.db(),
                QStringLiteral("INSERT INTO labels (unit_id, slot, file, sha256, size, data_frames_sent, "
                               "file_frame_sent, release_confirmed, slot_holds) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"),
                {id, l.slot, text(l.file), text(l.sha256), l.size, l.dataFramesSent, int(l.fileFrameSent),
                 int(l.releaseConfirmed), text(l.slotHolds)});
            run(label, "write a label");
        }
    }

    QSqlQuery last = prepared(c.db(), QStringLiteral("SELECT seq, hash FROM chain WHERE station = ? ORDER BY seq DESC LIMIT 1"),
                              {station_});
    run(last, "read the chain");
    qint64 seq = 1;
    QString prev = firstPrevHash();
    if (last.next()) {
        seq = last.value(0).toLongLong() + 1;
        prev = last.value(1).toString();
    }
    last.finish();
    const ChainEntry e = makeEntry(station_, seq, kind, r, prev);
    QSqlQuery link = prepared(c.db(),
                              QStringLiteral("INSERT INTO chain (station, seq, unit_id, kind, body, prev_hash, hash) "
                                             "VALUES (?, ?, ?, ?, ?, ?, ?)"),
                              {e.station, e.seq, id, e.kind, QString::fromUtf8(e.body), e.prevHash, e.hash});
    run(link, "append to the chain");
    t.commit();
}

int LocalLedger::closeInterrupted(const QString& why)
{
    if (!claim_) {
        auto claim = std::make_unique<QLockFile>(path_ + QStringLiteral(".station"));
        // Held while the station runs, however long; a killed station's claim
        // is stale as soon as its process is gone.
        claim->setStaleLockTime(0);
        if (!claim->tryLock(0)) {
            qint64 pid = 0;
            QString host, program;
            claim->getLockInfo(&pid, &host, &program);
            throw LedgerError(QStringLiteral("the ledger %1 is in use by another station (%2, process %3 on %4); "
                                             "give each station a ledger of its own (--ledger)")
                                  .arg(path_, program.isEmpty() ? QStringLiteral("a program") : program)
                                  .arg(pid)
                                  .arg(host)
                                  .toStdString());
        }
        claim_ = std::move(claim);
    }
    UnitFilter open;
    open.result = QStringLiteral("open");
    const QList<UnitRecord> units = this->units(open);
    int closed = 0;
    for (UnitRecord r : units) {
        // The labels it was begun with; what each slot holds now nobody saw.
        {
            Connection c(path_);
            QSqlQuery q = prepared(c.db(), QStringLiteral("SELECT body FROM chain WHERE unit_id = ? AND kind = 'begin'"),
                                   {r.id.toString(QUuid::WithoutBraces)});
            run(q, "read the chain");
            if (q.next()) {
                ChainEntry begun;
                begun.body = q.value(0).toString().toUtf8();
                r.labels = entryRecord(begun).labels;
            }
        }
        for (LabelRecord& l : r.labels)
            if (l.slotHolds.isEmpty() || l.slotHolds == QLatin1String("untouched"))
                l.slotHolds = QStringLiteral("unknown");
        r.result = QStringLiteral("interrupted");
        r.why = why;
        r.end = QDateTime::currentDateTimeUtc();
        close(r);
        ++closed;
    }
    return closed;
}

QList<UnitRecord> LocalLedger::units(const UnitFilter& filter) const
{
    Connection c(path_);
    return readUnits(c.db(), Dialect::Sqlite, filter);
}

QList<ChainEntry> LocalLedger::chain() const
{
    Connection c(path_);
    return readChain(c.db(), Dialect::Sqlite);
}

QList<ChainEntry> LocalLedger::unsent(int limit) const
{
    Connection c(path_);
    QSqlQuery q = prepared(c.db(),
                           QStringLiteral("SELECT station, seq, unit_id, kind, body, prev_hash, hash FROM chain "
                                          "WHERE sent = 0 ORDER BY seq LIMIT ?"),
                           {limit});
    run(q, "read the chain");
    return chainEntries(q);
}

void LocalLedger::markSentUpTo(qint64 seq)
{
    Connection c(path_);
    QSqlQuery q = prepared(c.db(), QStringLiteral("UPDATE chain SET sent = 1 WHERE sent = 0 AND seq <= ?"), {seq});
    run(q, "mark a record sent");
}

int LocalLedger::waiting() const
{
    Connection c(path_);
    QSqlQuery q(c.db());
    if (!q.exec(QStringLiteral("SELECT count(*) FROM chain WHERE sent = 0")) || !q.next())
        throw LedgerError(QStringLiteral("could not count the waiting records: %1").arg(q.lastError().text()).toStdString());
    return q.value(0).toInt();
}

qint64 LocalLedger::sentUpTo() const
{
    Connection c(path_);
    QSqlQuery q(c.db());
    if (!q.exec(QStringLiteral("SELECT coalesce(max(seq), 0) FROM chain WHERE sent = 1")) || !q.next())
        throw LedgerError(QStringLiteral("could not read the chain: %1").arg(q.lastError().text()).toStdString());
    return q.value(0).toLongLong();
}

}  // namespace Ledger
