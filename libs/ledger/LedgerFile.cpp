#include "ledger/LedgerFile.h"

#include "ledger/LedgerError.h"
#include "ledger/LocalSchema.h"
#include "ledger/MachineId.h"
#include "ledger/RecordText.h"
#include "ledger/UnitRows.h"

#include <QAtomicInteger>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QUrl>
#include <QUuid>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace Ledger {

namespace {

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

Contents contents(SqliteConnection& c, const QString& path)
{
    QSqlQuery q(c.db());
    // A file that is no SQLite database at all fails here.
    if (!q.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table'")))
        failToOpen(path, QStringLiteral("it is not a Pelmora ledger (%1)").arg(q.lastError().text()));
    QStringList tables;
    while (q.next())
        tables << q.value(0).toString();
    Contents out;
    out.empty = tables.isEmpty();
    if (!tables.contains(QLatin1String("meta")))
        return out;
    QSqlQuery m(c.db());
    if (!m.exec(QStringLiteral("SELECT key, value FROM meta")))
        failToOpen(path, m.lastError().text());
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
            failToOpen(path, v.lastError().text());
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
        failToOpen(path, QStringLiteral("it is not a Pelmora ledger"));
    if (c.version > localSchemaVersion())
        failToOpen(path, QStringLiteral("its tables are of version %1, this Pelmora knows version %2 at most; "
                                  "use the Pelmora that wrote it, or a newer one")
                       .arg(c.version)
                       .arg(localSchemaVersion()));
    requireSameSteps(c.steps, localSchemaSteps(), QStringLiteral("the ledger %1").arg(path));
}

// Each step with its record, under the caller's transaction. A ledger of the
// first release has no schema_version table: its version 1 is recorded as
// the step this program knows, the tables being what that release made.
void applySteps(SqliteConnection& c, const std::vector<SchemaStep>& steps, int from)
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

// Each thread's own token, never reused: a thread made after another ended
// never gets that one's connection.
QAtomicInteger<quint64> threads;
thread_local const quint64 threadToken = threads.fetchAndAddRelaxed(1) + 1;

}  // namespace

LedgerFile::LedgerFile(const QString& path, Access access, const StationOpening& opening)
    : path_(path), access_(access)
{
    try {
        if (access == Access::Reader)
            openAsReader();
        else
            openAsStation(opening);
    } catch (...) {
        // No destructor runs: a refused ledger is not left claimed.
        if (claim_ >= 0)
            ::close(claim_);
        throw;
    }
}

LedgerFile::~LedgerFile()
{
    // Every thread that used the file is done with it by now.
    connections_.clear();
    // Only now: closing any descriptor of the file drops SQLite's own locks
    // on it in this process, so the claim is held, not reopened, until the end.
    if (claim_ >= 0)
        ::close(claim_);
}

void LedgerFile::openAsReader()
{
    const QFileInfo info(path_);
    if (!info.exists())
        throw LedgerError(QStringLiteral("there is no ledger at %1").arg(path_).toStdString());
    if (!info.isFile())
        failToOpen(path_, QStringLiteral("it is not a regular file"));
    // A copy nobody may write (read-only, another user's, on a read-only
    // medium) cannot have SQLite's shared-memory file made beside it: read it
    // as immutable. Not with a write-ahead log beside it, whose records that
    // would leave out.
    const QFileInfo wal(path_ + QStringLiteral("-wal"));
    const bool immutable = (!writable(path_) || !writable(info.absolutePath())) && (!wal.exists() || wal.size() == 0);
    uri_ = sqliteUri(path_, immutable ? QStringLiteral("mode=ro&immutable=1") : QStringLiteral("mode=ro"));
    SqliteConnection c(path_, uri_, true);
    const Contents found = contents(c, path_);
    requireLedger(found, path_);
    station_ = found.station;
    stationName_ = found.name;
    machine_ = found.machine;
    version_ = versionFound_ = found.version;
}

void LedgerFile::openAsStation(const StationOpening& opening)
{
    const QFileInfo info(path_);
    if (info.exists() && !info.isFile())
        failToOpen(path_, QStringLiteral("it is not a regular file"));
    if (!QDir().mkpath(info.absolutePath()))
        failToOpen(path_, QStringLiteral("cannot make the folder %1").arg(info.absolutePath()));
    const QString here = machineIdFrom(opening.machineIdFile);
    SqliteConnection c(path_, sqliteUri(path_, QStringLiteral("mode=rwc")), false);
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
            failToOpen(path_, q.lastError().text());
    }
    struct stat st{};
    if (::stat(QFile::encodeName(path_).constData(), &st) != 0)
        failToOpen(path_, QString::fromLocal8Bit(std::strerror(errno)));
    device_ = st.st_dev;
    inode_ = st.st_ino;
    uri_ = sqliteUri(path_, QStringLiteral("mode=rw"));
    versionFound_ = found.empty ? 0 : found.version;
    if (!found.empty && found.version < localSchemaVersion()) {
        // Nobody else may write the file while its tables change; a copy of
        // it as it was is kept beside it.
        claim();
        backup_ = backupPath(path_, found.version);
        QSqlQuery copy = prepared(c.db(), QStringLiteral("VACUUM INTO ?"), {backup_});
        if (!copy.exec())
            failToOpen(path_, QStringLiteral("could not copy it to %1 before taking its tables forward: %2")
                            .arg(backup_, copy.lastError().text()));
        for (const SchemaStep& step : stepsAfter(localSchemaSteps(), found.version)) {
            WriteTransaction t(c);
            const Contents now = contents(c, path_);
            if (now.version >= step.version)
                continue;
            applySteps(c, {step}, now.version);
            t.commit();
        }
    }
    WriteTransaction t(c);
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
    version_ = localSchemaVersion();
    t.commit();
    // From now on the file is only opened, never made: one removed under the
    // station is not made anew (uri_ above).
}

void LedgerFile::requireMachine(const StationOpening& opening) const
{
    refuseForeignMachine(path_, machine_, machineIdFrom(opening.machineIdFile), opening.adopt);
}

void LedgerFile::requireSameFile() const
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

void LedgerFile::claim()
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

SqliteConnection& LedgerFile::connection() const
{
    const QMutexLocker lock(&connectionsLock_);
    // A connection of a thread that ended is no one's any more.
    for (auto it = connections_.begin(); it != connections_.end();)
        it = it->second.thread.isNull() && it->first != threadToken ? connections_.erase(it) : std::next(it);
    auto& mine = connections_[threadToken];
    if (!mine.connection || mine.connection->broken()) {
        mine.connection.reset();
        mine.connection = std::make_unique<SqliteConnection>(path_, uri_, access_ == Access::Reader);
        mine.thread = QThread::currentThread();
    }
    return *mine.connection;
}

}  // namespace Ledger
