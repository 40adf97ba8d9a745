#include "ledger/LocalLedger.h"

#include "ledger/LocalSchema.h"
#include "ledger/MachineId.h"
#include "ledger/ReasonCode.h"
#include "ledger/RecordText.h"
#include "ledger/StoredVerify.h"
#include "ledger/UnitRows.h"

#include <QAtomicInteger>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QUrl>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace Ledger {

namespace {

QAtomicInteger<quint64> connections;

[[noreturn]] void fail(const QString& path, const QString& why)
{
    throw LedgerError(QStringLiteral("cannot open the ledger %1: %2").arg(path, why).toStdString());
}

// A connection for one operation on the calling thread: Qt allows a
// connection only on the thread that made it, and several fixtures write
// from threads of their own.
class Connection {
public:
    Connection(const QString& path, const QString& uri, bool readOnly)
        : name_(QStringLiteral("pelmora-ledger-%1").arg(connections.fetchAndAddRelaxed(1)))
    {
        db_ = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name_);
        if (!db_.isValid())
            fail(path, QStringLiteral("Qt's SQLite driver is missing (Debian package libqt6sql6-sqlite)"));
        db_.setDatabaseName(uri);
        // Another process (a second station, pelmora-ledger) may hold the lock a moment.
        db_.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000;QSQLITE_OPEN_URI")
                              + (readOnly ? QStringLiteral(";QSQLITE_OPEN_READONLY") : QString()));
        if (!db_.open())
            fail(path, db_.lastError().text());
        if (readOnly)
            return;
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

QString text(const QString& s)
{
    return notNull(s);
}

// SQLite's URI for a file: the mode says whether it may be written, and
// whether it may be made.
QString sqliteUri(const QString& path, const QString& query)
{
    return QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toString(QUrl::FullyEncoded) + QLatin1Char('?')
         + query;
}

bool writable(const QString& path)
{
    return ::access(QFile::encodeName(path).constData(), W_OK) == 0;
}

// What a file holds: nothing yet, a Pelmora ledger, or something else.
struct Contents {
    bool empty = true;    // no table at all
    bool ledger = false;  // our tables and the meta keys
    int version = 0;
    QString station, name, machine;
    QList<AppliedStep> steps;  // as the schema_version table records them
};

Contents contents(Connection& c, const QString& path)
{
    QSqlQuery q(c.db());
    // A file that is no SQLite database at all fails here.
    if (!q.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table'")))
        fail(path, QStringLiteral("it is not a Pelmora ledger (%1)").arg(q.lastError().text()));
    QStringList tables;
    while (q.next())
        tables << q.value(0).toString();
    Contents out;
    out.empty = tables.isEmpty();
    if (!tables.contains(QLatin1String("meta")))
        return out;
    QSqlQuery m(c.db());
    if (!m.exec(QStringLiteral("SELECT key, value FROM meta")))
        fail(path, m.lastError().text());
    while (m.next()) {
        if (m.value(0).toString() == QLatin1String("schema_version"))
            out.version = m.value(1).toInt();
        else if (m.value(0).toString() == QLatin1String("station"))
            out.station = m.value(1).toString();
        else if (m.value(0).toString() == QLatin1String("station_name"))
            out.name = m.value(1).toString();
        else if (m.value(0).toString() == QLatin1String("machine"))
            out.machine = m.value(1).toString();
    }
    if (tables.contains(QLatin1String("schema_version"))) {
        QSqlQuery v(c.db());
        if (!v.exec(QStringLiteral("SELECT version, checksum FROM schema_version ORDER BY version")))
            fail(path, v.lastError().text());
        while (v.next())
            out.steps.append(AppliedStep{v.value(0).toInt(), v.value(1).toString()});
    }
    out.ledger = out.version > 0 && !out.station.isEmpty();
    for (const char* table : {"units", "labels", "chain"})
        out.ledger = out.ledger && tables.contains(QLatin1String(table));
    return out;
}

// A file given as the ledger that is some other program's data is never
// taken over, nor read as a ledger.
void requireLedger(const Contents& c, const QString& path)
{
    if (!c.ledger)
        fail(path, QStringLiteral("it is not a Pelmora ledger"));
    if (c.version > LocalLedger::schemaVersion)
        fail(path, QStringLiteral("its tables are of version %1, this Pelmora knows version %2 at most; "
                                  "use the Pelmora that wrote it, or a newer one")
                       .arg(c.version)
                       .arg(LocalLedger::schemaVersion));
    requireSameSteps(c.steps, localSchemaSteps(), QStringLiteral("the ledger %1").arg(path));
}

// Each step with its record, under the caller's transaction. A ledger of the
// first release has no schema_version table: its version 1 is recorded as
// the step this program knows, the tables being what that release made.
void applySteps(Connection& c, const std::vector<SchemaStep>& steps, int from)
{
    c.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER PRIMARY KEY, "
                          "checksum TEXT NOT NULL, applied TEXT NOT NULL)"),
           "record the ledger's version");
    const QString now = timeText(QDateTime::currentDateTimeUtc());
    for (const SchemaStep& s : localSchemaSteps())
        if (s.version <= from) {
            QSqlQuery q = prepared(c.db(), QStringLiteral("INSERT OR IGNORE INTO schema_version VALUES (?, ?, ?)"),
                                   {s.version, s.checksum(), now});
            run(q, "record the ledger's version");
        }
    for (const SchemaStep& s : steps) {
        for (const QString& sql : s.statements)
            c.exec(sql, "take the ledger's tables forward");
        QSqlQuery q = prepared(c.db(), QStringLiteral("INSERT INTO schema_version VALUES (?, ?, ?)"),
                               {s.version, s.checksum(), now});
        run(q, "record the ledger's version");
        // Older Pelmoras read this key and refuse tables newer than theirs.
        QSqlQuery m = prepared(c.db(), QStringLiteral("INSERT OR REPLACE INTO meta (key, value) VALUES ('schema_version', ?)"),
                               {QString::number(s.version)});
        run(m, "record the ledger's version");
    }
}

void refuseForeignMachine(const QString& path, const QString& recorded, const QString& here, bool adopt)
{
    if (recorded.isEmpty() || here.isEmpty() || recorded == here || adopt)
        return;
    throw ForeignMachine(
        QStringLiteral("the ledger %1 belongs to another machine (machine id %2; this one is %3): a copy of "
                       "another station's ledger would record and forward as that station. For a new station "
                       "here: pelmora-ledger --ledger NEWFILE new-station NAME, and start with --ledger NEWFILE; "
                       "if this machine now is that station (its disk moved, the old one retired): start once "
                       "with --adopt")
            .arg(path, recorded, here)
            .toStdString());
}

// The first name free of FILE.v1-backup, FILE.v1-backup-2 ...
QString backupPath(const QString& path, int version)
{
    const QString base = QStringLiteral("%1.v%2-backup").arg(path).arg(version);
    QString candidate = base;
    for (int n = 2; QFileInfo::exists(candidate); ++n)
        candidate = QStringLiteral("%1-%2").arg(base).arg(n);
    return candidate;
}

// Who holds the station's lock on the file, from the kernel's list of
// locks: "7: FLOCK  ADVISORY  WRITE 4711 08:01:1234 0 EOF".
QString holder(const struct stat& st)
{
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly))
        return {};
    const QString file = QStringLiteral("%1:%2:%3")
                             .arg(major(st.st_dev), 2, 16, QLatin1Char('0'))
                             .arg(minor(st.st_dev), 2, 16, QLatin1Char('0'))
                             .arg(quint64(st.st_ino));
    for (const QByteArray& line : locks.readAll().split('\n')) {
        const QStringList f = QString::fromLatin1(line).simplified().split(QLatin1Char(' '));
        if (f.value(1) != QLatin1String("FLOCK") || f.value(5) != file)
            continue;
        QFile comm(QStringLiteral("/proc/%1/comm").arg(f.value(4)));
        const QString program = comm.open(QIODevice::ReadOnly) ? QString::fromUtf8(comm.readAll()).trimmed()
                                                                : QStringLiteral("a program");
        return QStringLiteral("%1, process %2").arg(program, f.value(4));
    }
    return {};
}

}  // namespace

QString LocalLedger::defaultPath()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || QDir::isRelativePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/pelmora/ledger.sqlite");
}

LocalLedger::LocalLedger(const QString& path, Access access, const StationOpening& opening)
    : path_(path), access_(access)
{
    if (access == Access::Reader)
        openAsReader();
    else
        openAsStation(opening);
}

LocalLedger::~LocalLedger()
{
    // Only now: closing any descriptor of the file drops SQLite's own locks
    // on it in this process, so the claim is held, not reopened, until the end.
    if (claim_ >= 0)
        ::close(claim_);
}

void LocalLedger::openAsReader()
{
    const QFileInfo info(path_);
    if (!info.exists())
        throw LedgerError(QStringLiteral("there is no ledger at %1").arg(path_).toStdString());
    if (!info.isFile())
        fail(path_, QStringLiteral("it is not a regular file"));
    // A copy nobody may write (read-only, another user's, on a read-only
    // medium) cannot have SQLite's shared-memory file made beside it: read it
    // as immutable. Not with a write-ahead log beside it, whose records that
    // would leave out.
    const QFileInfo wal(path_ + QStringLiteral("-wal"));
    const bool immutable = (!writable(path_) || !writable(info.absolutePath())) && (!wal.exists() || wal.size() == 0);
    uri_ = sqliteUri(path_, immutable ? QStringLiteral("mode=ro&immutable=1") : QStringLiteral("mode=ro"));
    Connection c(path_, uri_, true);
    const Contents found = contents(c, path_);
    requireLedger(found, path_);
    station_ = found.station;
    stationName_ = found.name;
    machine_ = found.machine;
    version_ = versionFound_ = found.version;
}

void LocalLedger::openAsStation(const StationOpening& opening)
{
    const QFileInfo info(path_);
    if (info.exists() && !info.isFile())
        fail(path_, QStringLiteral("it is not a regular file"));
    if (!QDir().mkpath(info.absolutePath()))
        fail(path_, QStringLiteral("cannot make the folder %1").arg(info.absolutePath()));
    const QString here = machineIdFrom(opening.machineIdFile);
    Connection c(path_, sqliteUri(path_, QStringLiteral("mode=rwc")), false);
    // Looked at before anything is written: another program's file stays as
    // it was, and so does another machine's ledger.
    Contents found = contents(c, path_);
    const auto requireThisMachine = [&](const Contents& f) { refuseForeignMachine(path_, f.machine, here, opening.adopt); };
    if (!found.empty) {
        requireLedger(found, path_);
        requireThisMachine(found);
    }
    {
        // Once per file; the journal mode stays with the file.
        QSqlQuery q(c.db());
        if (!q.exec(QStringLiteral("PRAGMA journal_mode = WAL")))
            fail(path_, q.lastError().text());
    }
    struct stat st{};
    if (::stat(QFile::encodeName(path_).constData(), &st) != 0)
        fail(path_, QString::fromLocal8Bit(std::strerror(errno)));
    device_ = st.st_dev;
    inode_ = st.st_ino;
    uri_ = sqliteUri(path_, QStringLiteral("mode=rw"));
    versionFound_ = found.empty ? 0 : found.version;
    if (!found.empty && found.version < schemaVersion) {
        // Nobody else may write the file while its tables change; a copy of
        // it as it was is kept beside it.
        claim();
        backup_ = backupPath(path_, found.version);
        QSqlQuery copy = prepared(c.db(), QStringLiteral("VACUUM INTO ?"), {backup_});
        if (!copy.exec())
            fail(path_, QStringLiteral("could not copy it to %1 before taking its tables forward: %2")
                            .arg(backup_, copy.lastError().text()));
        for (const SchemaStep& step : stepsAfter(localSchemaSteps(), found.version)) {
            Transaction t(c);
            const Contents now = contents(c, path_);
            if (now.version >= step.version)
                continue;
            applySteps(c, {step}, now.version);
            t.commit();
        }
    }
    Transaction t(c);
    // Again under the write lock: another station may have made the tables meanwhile.
    found = contents(c, path_);
    if (found.empty) {
        applySteps(c, localSchemaSteps(), 0);
        found.station = QUuid::createUuid().toString(QUuid::WithoutBraces);
        QSqlQuery m = prepared(c.db(), QStringLiteral("INSERT INTO meta (key, value) VALUES ('station', ?)"),
                               {found.station});
        run(m, "make the ledger's tables");
        created_ = true;
    } else {
        requireLedger(found, path_);
        requireThisMachine(found);
    }
    // A ledger from before machines were recorded, a new one, or one adopted:
    // from now on it is this machine's.
    if (!here.isEmpty() && found.machine != here) {
        QSqlQuery m = prepared(c.db(), QStringLiteral("INSERT OR REPLACE INTO meta (key, value) VALUES ('machine', ?)"),
                               {here});
        run(m, "record the ledger's machine");
        if (!found.machine.isEmpty()) {
            QSqlQuery was = prepared(c.db(),
                                     QStringLiteral("INSERT OR REPLACE INTO meta (key, value) VALUES ('adopted', ?)"),
                                     {QStringLiteral("%1 from machine %2")
                                          .arg(timeText(QDateTime::currentDateTimeUtc()), found.machine)});
            run(was, "record the ledger's machine");
        }
        found.machine = here;
    }
    station_ = found.station;
    stationName_ = found.name;
    machine_ = found.machine;
    version_ = schemaVersion;
    t.commit();
    // From now on the file is only opened, never made: one removed under the
    // station is not made anew (uri_ above).
}

void LocalLedger::requireMachine(const StationOpening& opening) const
{
    refuseForeignMachine(path_, machine_, machineIdFrom(opening.machineIdFile), opening.adopt);
}

void LocalLedger::newStation(const QString& path, const QString& name)
{
    if (QFileInfo::exists(path))
        throw LedgerError(QStringLiteral("%1 exists; a new station gets a new ledger file (keep the old one for audit)")
                              .arg(path)
                              .toStdString());
    LocalLedger ledger(path);
    ledger.claim();
    Connection c(path, ledger.uri_, false);
    QSqlQuery q = prepared(c.db(), QStringLiteral("INSERT INTO meta (key, value) VALUES ('station_name', ?)"), {name});
    run(q, "name the station");
}

void LocalLedger::requireSameFile() const
{
    if (access_ == Access::Reader)
        throw LedgerError(QStringLiteral("the ledger %1 is open for reading only").arg(path_).toStdString());
    struct stat st{};
    const bool there = ::stat(QFile::encodeName(path_).constData(), &st) == 0;
    if (there && quint64(st.st_dev) == device_ && quint64(st.st_ino) == inode_)
        return;
    throw LedgerError(QStringLiteral("the ledger %1 is no longer the file this station opened (%2); "
                                     "nothing more is written to it")
                          .arg(path_, there ? QStringLiteral("another file was put in its place")
                                            : QStringLiteral("it was removed or moved"))
                          .toStdString());
}

void LocalLedger::claim()
{
    if (claim_ >= 0)
        return;
    requireSameFile();
    const int fd = ::open(QFile::encodeName(path_).constData(), O_RDONLY | O_CLOEXEC);
    struct stat st{};
    if (fd < 0 || ::fstat(fd, &st) != 0 || quint64(st.st_dev) != device_ || quint64(st.st_ino) != inode_) {
        if (fd >= 0)
            ::close(fd);
        requireSameFile();
        throw LedgerError(QStringLiteral("cannot claim the ledger %1: %2")
                              .arg(path_, QString::fromLocal8Bit(std::strerror(errno)))
                              .toStdString());
    }
    // A lock on the file itself, whatever path led to it (a symlink, a hard
    // link); the kernel drops it when the station's process ends, however.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const QString who = holder(st);
        ::close(fd);
        throw LedgerError(QStringLiteral("the ledger %1 is in use by another station (%2); "
                                         "give each station a ledger of its own (--ledger)")
                              .arg(path_, who.isEmpty() ? QStringLiteral("another process") : who)
                              .toStdString());
    }
    claim_ = fd;
}

qint64 LocalLedger::unitCount() const
{
    Connection c(path_, uri_, access_ == Access::Reader);
    QSqlQuery q(c.db());
    if (!q.exec(QStringLiteral("SELECT count(*) FROM units")) || !q.next())
        throw LedgerError(QStringLiteral("could not count the units: %1").arg(q.lastError().text()).toStdString());
    return q.value(0).toLongLong();
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
    requireSameFile();
    Connection c(path_, uri_, false);
    Transaction t(c);
    // Under the write lock too: the file may have been swapped while it opened.
    requireSameFile();
    const QString id = given.id.toString(QUuid::WithoutBraces);
    QSqlQuery state = prepared(c.db(), QStringLiteral("SELECT %1 FROM units WHERE id = ?").arg(unitShape().selected(Dialect::Sqlite)),
                               {id});
    run(state, "read the unit");
    const bool exists = state.next();
    const UnitRecord begun = exists ? unitFromRow(state) : UnitRecord{};
    state.finish();
    if (opening && exists)
        throw LedgerError(QStringLiteral("unit %1 is already recorded").arg(id).toStdString());
    if (!opening && !(exists && begun.isOpen()))
        throw LedgerError(QStringLiteral("unit %1 has no open record to close").arg(id).toStdString());
    UnitRecord r = given;
    if (opening) {
        QSqlQuery unit = prepared(c.db(),
                                  QStringLiteral("INSERT INTO units (%1) VALUES (%2)")
                                      .arg(unitShape().names(), unitShape().parameters(Dialect::Sqlite)),
                                  unitValues(r));
        run(unit, "write the unit");
    } else {
        // A close says how the unit ended; which unit it was, its begin said.
        r = begun;
        r.end = given.end;
        r.result = given.result;
        r.why = given.why;
        r.reason = given.reason;
        r.labels = given.labels;
        QSqlQuery unit = prepared(c.db(),
                                  QStringLiteral("UPDATE units SET end_time = ?, result = ?, why = ?, reason = ? WHERE id = ?"),
                                  {timeText(r.end), r.result, text(r.why), text(r.reason), id});
        run(unit, "write the unit");
        for (const LabelRecord& l : r.labels) {
            QSqlQuery label = prepared(c.db(),
                                       QStringLiteral("INSERT INTO labels (%1) VALUES (%2)")
                                           .arg(labelShape().names(), labelShape().parameters(Dialect::Sqlite)),
                                       labelValues(r.id, l));
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
    claim();
    UnitFilter open;
    open.result = QStringLiteral("open");
    const QList<UnitRecord> units = this->units(open);
    int closed = 0;
    for (UnitRecord r : units) {
        // The labels it was begun with; what each slot holds now nobody saw.
        {
            Connection c(path_, uri_, false);
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
        r.reason = Reason::text(Reason::Interrupted);
        r.end = QDateTime::currentDateTimeUtc();
        close(r);
        ++closed;
    }
    return closed;
}

QList<UnitRecord> LocalLedger::units(const UnitFilter& filter) const
{
    Connection c(path_, uri_, access_ == Access::Reader);
    QList<UnitRecord> out = readUnits(c.db(), Dialect::Sqlite, filter, version_ >= 2);
    for (UnitRecord& r : out)
        r.station = station_;  // one station per ledger
    return out;
}

std::optional<UnitRecord> LocalLedger::lastPass(const QString& serial, const QString& recipeSha256) const
{
    if (serial.isEmpty())
        return std::nullopt;
    UnitFilter f;
    f.serial = serial;
    f.recipeSha256 = recipeSha256;
    f.result = QStringLiteral("pass");
    const QList<UnitRecord> passed = units(f);
    if (passed.isEmpty())
        return std::nullopt;
    return passed.last();
}

QList<ChainEntry> LocalLedger::chain() const
{
    Connection c(path_, uri_, access_ == Access::Reader);
    return readChain(c.db(), Dialect::Sqlite);
}

QList<ChainEntry> LocalLedger::unsent(int limit) const
{
    // What goes to the central ledger comes from the station's own file only.
    requireSameFile();
    Connection c(path_, uri_, false);
    QSqlQuery q = prepared(c.db(),
                           QStringLiteral("SELECT station, seq, unit_id, kind, body, prev_hash, hash FROM chain "
                                          "WHERE sent = 0 ORDER BY seq LIMIT ?"),
                           {limit});
    run(q, "read the chain");
    return chainEntries(q);
}

void LocalLedger::markSentUpTo(qint64 seq)
{
    requireSameFile();
    Connection c(path_, uri_, false);
    QSqlQuery q = prepared(c.db(), QStringLiteral("UPDATE chain SET sent = 1 WHERE sent = 0 AND seq <= ?"), {seq});
    run(q, "mark a record sent");
}

void LocalLedger::resendAfter(qint64 seq)
{
    requireSameFile();
    Connection c(path_, uri_, false);
    QSqlQuery q = prepared(c.db(), QStringLiteral("UPDATE chain SET sent = 0 WHERE sent = 1 AND seq > ?"), {seq});
    run(q, "mark records to be sent again");
}

std::optional<ChainEntry> LocalLedger::link(qint64 seq) const
{
    Connection c(path_, uri_, access_ == Access::Reader);
    QSqlQuery q = prepared(c.db(),
                           QStringLiteral("SELECT station, seq, unit_id, kind, body, prev_hash, hash FROM chain "
                                          "WHERE station = ? AND seq = ?"),
                           {station_, seq});
    run(q, "read the chain");
    const QList<ChainEntry> found = chainEntries(q);
    return found.isEmpty() ? std::nullopt : std::optional<ChainEntry>(found.first());
}

int LocalLedger::waiting() const
{
    Connection c(path_, uri_, access_ == Access::Reader);
    QSqlQuery q(c.db());
    if (!q.exec(QStringLiteral("SELECT count(*) FROM chain WHERE sent = 0")) || !q.next())
        throw LedgerError(QStringLiteral("could not count the waiting records: %1").arg(q.lastError().text()).toStdString());
    return q.value(0).toInt();
}

qint64 LocalLedger::sentUpTo() const
{
    Connection c(path_, uri_, access_ == Access::Reader);
    QSqlQuery q(c.db());
    if (!q.exec(QStringLiteral("SELECT coalesce(max(seq), 0) FROM chain WHERE sent = 1")) || !q.next())
        throw LedgerError(QStringLiteral("could not read the chain: %1").arg(q.lastError().text()).toStdString());
    return q.value(0).toLongLong();
}

void LocalLedger::read(const std::function<void(const StoredLedger&)>& reading) const
{
    Connection c(path_, uri_, access_ == Access::Reader);
    reading(StoredLedger{c.db(), Dialect::Sqlite, version_ >= 2});
}

}  // namespace Ledger
