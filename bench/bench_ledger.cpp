// The ledger's costs: how long a unit's begin and close take (each one
// committed, synchronous transaction) from 1 and from 32 fixtures at once,
// what the forwarder costs while it has nothing to send, how fast it
// catches up with a central ledger that was away, on a throwaway PostgreSQL,
// and the memory and time of `pelmora-ledger verify` and `report` on a small
// and a large ledger, local and central. `bench_ledger verify [PROGRAM...]`
// measures these alone, of each program given (another build, for a
// baseline).

#include "PostgresServer.h"
#include "ledger/CentralAddress.h"
#include "ledger/CentralForwarder.h"
#include "ledger/CentralLedger.h"
#include "ledger/LocalLedger.h"
#include "ledger/LocalSchema.h"
#include "ledger/UnitRows.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <mutex>
#include <thread>
#include <vector>

using namespace Ledger;
using Clock = std::chrono::steady_clock;

namespace {

double processCpu()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

UnitRecord unit(int fixture, int n)
{
    UnitRecord r;
    r.id = QUuid::createUuid();
    r.host = QStringLiteral("bench-pc");
    r.fixtureName = QStringLiteral("F%1").arg(fixture);
    r.fixturePath = QStringLiteral("/dev/ttyUSB%1").arg(fixture);
    r.unitNumber = n;
    r.recipeName = QStringLiteral("line 7 labels, rev C");
    r.recipeSha256 = QString(64, QLatin1Char('a'));
    r.toolVersion = QStringLiteral("1.00.0011");
    r.start = QDateTime::currentDateTimeUtc();
    for (int slot = 1; slot <= 5; ++slot)
        r.labels.append(LabelRecord{slot, QStringLiteral("label%1.epl").arg(slot), QString(64, QLatin1Char('b')),
                                    30000, 0, false, false, QStringLiteral("untouched"), {}});
    return r;
}

void writeUnits(LocalLedger& ledger, int fixtures, int perFixture)
{
    std::vector<double> ms;
    std::mutex m;
    const auto start = Clock::now();
    std::vector<std::thread> threads;
    for (int f = 0; f < fixtures; ++f)
        threads.emplace_back([&, f] {
            for (int n = 1; n <= perFixture; ++n) {
                UnitRecord r = unit(f, n);
                const auto t0 = Clock::now();
                ledger.begin(r);
                const auto t1 = Clock::now();
                r.result = QStringLiteral("pass");
                ledger.close(r);
                const auto t2 = Clock::now();
                const std::lock_guard lock(m);
                ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
                ms.push_back(std::chrono::duration<double, std::milli>(t2 - t1).count());
            }
        });
    for (std::thread& t : threads)
        t.join();
    const double total = std::chrono::duration<double>(Clock::now() - start).count();
    std::sort(ms.begin(), ms.end());
    std::printf("%2d fixture(s) at once, %4zu begins and closes: median %.2f ms, p99 %.2f ms, max %.2f ms, %.0f per s\n",
                fixtures, ms.size(), ms[ms.size() / 2], ms[ms.size() * 99 / 100], ms.back(), double(ms.size()) / total);
}

// A first-release ledger of `units` units (five labels, two links each, of
// the size a station writes), taken forward as a station does at start; and
// how long the look-up of a serial takes in it afterwards.
void upgradeFigures(const QString& path, int units)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("first-release"));
        db.setDatabaseName(path);
        db.open();
        QSqlQuery q(db);
        for (const QString& sql : localSchemaSteps().front().statements)
            q.exec(sql);
        const QString n = QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) ").arg(units);
        for (const QString& sql : {
                 QStringLiteral("PRAGMA journal_mode = WAL"), QStringLiteral("BEGIN"),
                 QStringLiteral("INSERT INTO meta VALUES ('schema_version', '1'), ('station', 'bench')"),
                 n + QStringLiteral("INSERT INTO units SELECT 'u' || i, 'bench-pc', 'F1', '/dev/ttyUSB1', '', i, 'line 7', "
                                    "hex(randomblob(32)), '1.00.0011', strftime('%Y-%m-%dT%H:%M:%fZ', 'now'), "
                                    "strftime('%Y-%m-%dT%H:%M:%fZ', 'now'), 'pass', '' FROM n"),
                 n + QStringLiteral("INSERT INTO labels SELECT 'u' || i, s, 'label.epl', hex(randomblob(32)), 30000, 30000, "
                                    "1, 1, 'loaded' FROM n, (SELECT 1 AS s UNION SELECT 2 UNION SELECT 3 UNION SELECT 4 "
                                    "UNION SELECT 5)"),
                 n + QStringLiteral("INSERT INTO chain SELECT 'bench', 2 * i - k, 'u' || i, CASE k WHEN 1 THEN 'begin' "
                                    "ELSE 'close' END, hex(randomblob(500)), hex(randomblob(32)), hex(randomblob(32)), 1 "
                                    "FROM n, (SELECT 0 AS k UNION SELECT 1)"),
                 QStringLiteral("COMMIT")})
            q.exec(sql);
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("first-release"));
    const double mb = double(QFileInfo(path).size() + QFileInfo(path + QStringLiteral("-wal")).size()) / 1e6;
    const auto t0 = Clock::now();
    LocalLedger ledger(path);
    const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    std::printf("a first-release ledger of %d units (%.0f MB) taken forward at start, its copy made: %.2f s\n", units, mb,
                seconds);
    UnitRecord r = unit(1, units + 1);
    r.serial = QStringLiteral("SN004711");
    ledger.begin(r);
    r.result = QStringLiteral("pass");
    ledger.close(r);
    const auto t1 = Clock::now();
    const bool found = ledger.lastPass(r.serial, r.recipeSha256).has_value();
    std::printf("the last pass of a serial among %d units: %.2f ms%s\n", units + 1,
                std::chrono::duration<double, std::milli>(Clock::now() - t1).count(), found ? "" : " (NOT FOUND)");
}

// Rows written many to a statement, in one transaction: a ledger of a
// few hundred thousand units in seconds, not the hours a station takes.
class BulkWriter {
public:
    BulkWriter(QSqlDatabase db, Dialect d) : db_(std::move(db)), dialect_(d) { QSqlQuery(db_).exec(QStringLiteral("BEGIN")); }
    void add(const QString& table, const QString& columns, const QString& marks, const QVariantList& values)
    {
        if (!pending_.contains(table))
            order_ << table;
        Pending& p = pending_[table];
        p.columns = columns;
        p.marks << QLatin1Char('(') + marks + QLatin1Char(')');
        p.values += values;
        if (p.marks.size() == 200)
            flushAll();
    }
    bool commit()
    {
        flushAll();
        return QSqlQuery(db_).exec(QStringLiteral("COMMIT")) && ok_;
    }
    Dialect dialect() const { return dialect_; }

private:
    struct Pending {
        QString columns;
        QStringList marks;
        QVariantList values;
    };
    // In the order the tables were first given: a unit before its labels.
    void flushAll()
    {
        for (const QString& table : order_)
            flush(table, pending_[table]);
    }
    void flush(const QString& table, Pending& p)
    {
        if (p.marks.isEmpty())
            return;
        QSqlQuery q(db_);
        const bool made = q.prepare(QStringLiteral("INSERT INTO %1 (%2) VALUES %3").arg(table, p.columns, p.marks.join(',')));
        for (const QVariant& v : p.values)
            q.addBindValue(v);
        if (!(made && q.exec()) && ok_) {
            ok_ = false;
            std::fprintf(stderr, "writing %s: %s\n", qPrintable(table), qPrintable(q.lastError().text()));
        }
        p.marks.clear();
        p.values.clear();
    }
    QSqlDatabase db_;
    Dialect dialect_;
    bool ok_ = true;
    QHash<QString, Pending> pending_;
    QStringList order_;
};

// `units` closed units of one station, each chained as a station chains it,
// into every writer given.
void writeLedger(const QString& station, int units, const std::vector<BulkWriter*>& writers)
{
    const QString chainColumns = QStringLiteral("station, seq, unit_id, kind, body, prev_hash, hash");
    QString prev = firstPrevHash();
    qint64 seq = 0;
    const QDateTime start = QDateTime::currentDateTimeUtc().addSecs(-units);
    for (int n = 1; n <= units; ++n) {
        UnitRecord r = unit(n % 32, n);
        r.start = start.addSecs(n);
        for (LabelRecord& l : r.labels)
            l.slotHolds = QStringLiteral("loaded");
        UnitRecord begun = r;
        begun.labels.clear();
        const ChainEntry b = makeEntry(station, ++seq, QStringLiteral("begin"), begun, prev);
        r.end = r.start.addMSecs(900);
        r.result = QStringLiteral("pass");
        const ChainEntry c = makeEntry(station, ++seq, QStringLiteral("close"), r, b.hash);
        prev = c.hash;
        for (BulkWriter* w : writers) {
            const bool pg = w->dialect() == Dialect::Postgres;
            const QString linkMarks = pg ? QStringLiteral("?, ?, CAST(? AS uuid), ?, ?, ?, ?") : QStringLiteral("?, ?, ?, ?, ?, ?, ?");
            for (const ChainEntry& e : {b, c})
                w->add(QStringLiteral("chain"), chainColumns, linkMarks,
                       {e.station, e.seq, e.unit.toString(QUuid::WithoutBraces), e.kind, QString::fromUtf8(e.body),
                        e.prevHash, e.hash});
            w->add(QStringLiteral("units"), (pg ? QStringLiteral("station, ") : QString()) + unitShape().names(),
                   (pg ? QStringLiteral("?, ") : QString()) + unitShape().parameters(w->dialect()),
                   (pg ? QVariantList{station} : QVariantList{}) + unitValues(r));
            for (const LabelRecord& l : r.labels)
                w->add(QStringLiteral("labels"), labelShape().names(), labelShape().parameters(w->dialect()),
                       labelValues(r.id, l));
        }
    }
}

struct ChildRun {
    int status = -1;
    double seconds = 0, peakMb = 0;
    QByteArray lastLine;
};

// A program run to its end, its peak resident memory its own (wait4), not
// that of every child this process had.
ChildRun runChild(const QString& program, const QStringList& arguments, const QString& outFile)
{
    std::vector<QByteArray> words{program.toLocal8Bit()};
    for (const QString& a : arguments)
        words.push_back(a.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, outFile.toLocal8Bit().constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ChildRun out;
    const auto t0 = Clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &files, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        rusage usage{};
        if (wait4(pid, &status, 0, &usage) == pid && WIFEXITED(status))
            out.status = WEXITSTATUS(status);
        out.peakMb = double(usage.ru_maxrss) / 1024;
    }
    out.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    posix_spawn_file_actions_destroy(&files);
    QFile f(outFile);
    if (f.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> lines = f.readAll().trimmed().split('\n');
        out.lastLine = lines.last();
    }
    return out;
}

void verifyRun(const QString& program, const QString& what, const QStringList& arguments, const QString& outFile)
{
    const ChildRun r = runChild(program, arguments, outFile);
    std::printf("  %-22s %6.1f MB peak, %6.2f s, exit %d: %s\n", qPrintable(what), r.peakMb, r.seconds, r.status,
                r.lastLine.left(100).constData());
}

// Verify's and the report's memory should not grow with the ledger: the
// same run on a small one is the baseline.
void verifyFigures(const QStringList& programs, const QTemporaryDir& dir, PostgresServer* server)
{
    const QList<int> sizes{2000, 50000};
    for (int units : sizes) {
        const QString path = dir.filePath(QStringLiteral("verify-%1.sqlite").arg(units));
        QString station;
        {
            LocalLedger made(path);
            station = made.station();
        }
        const auto t0 = Clock::now();
        bool written = false;
        QString central;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bulk"));
            db.setDatabaseName(path);
            db.open();
            BulkWriter local(db, Dialect::Sqlite);
            std::vector<BulkWriter*> writers{&local};
            std::unique_ptr<BulkWriter> floor;
            QSqlDatabase pg;
            if (server) {
                central = server->socketUri();
                // A database of its own for each size.
                const QString name = QStringLiteral("verify_%1").arg(units);
                server->sql(QStringLiteral("CREATE DATABASE %1 OWNER pelmora_admin").arg(name));
                central.replace(QStringLiteral("@/pelmora"), QStringLiteral("@/") + name);
                { CentralLedger made(central); }
                pg = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("bulk-pg"));
                pg.setConnectOptions(centralAddress(central).conninfo);
                pg.open();
                QSqlQuery(pg).exec(QStringLiteral("INSERT INTO stations (station, role) VALUES ('%1', current_user)").arg(station));
                floor = std::make_unique<BulkWriter>(pg, Dialect::Postgres);
                writers.push_back(floor.get());
            }
            writeLedger(station, units, writers);
            written = local.commit() && (!floor || floor->commit());
            QSqlQuery(db).exec(QStringLiteral("UPDATE chain SET sent = 1"));
            db.close();
            pg.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("bulk"));
        QSqlDatabase::removeDatabase(QStringLiteral("bulk-pg"));
        std::printf("verify, a ledger of %d units, %d links (%.0f MB), written in %.1f s%s\n", units, 2 * units,
                    double(QFileInfo(path).size()) / 1e6, std::chrono::duration<double>(Clock::now() - t0).count(),
                    written ? "" : " (NOT WRITTEN WHOLE)");
        const QString out = dir.filePath(QStringLiteral("verify.out"));
        const QStringList report{QStringLiteral("report"), QStringLiteral("--html"), dir.filePath(QStringLiteral("report.html"))};
        for (const QString& program : programs) {
            std::printf(" %s\n", qPrintable(program));
            verifyRun(program, QStringLiteral("--ledger"), {QStringLiteral("--ledger"), path, QStringLiteral("verify")}, out);
            verifyRun(program, QStringLiteral("report --ledger"), QStringList{QStringLiteral("--ledger"), path} + report, out);
            if (server) {
                verifyRun(program, QStringLiteral("--central"), {QStringLiteral("--central"), central, QStringLiteral("verify")}, out);
                verifyRun(program, QStringLiteral("--ledger and --central"),
                          {QStringLiteral("--ledger"), path, QStringLiteral("--central"), central, QStringLiteral("verify")}, out);
                verifyRun(program, QStringLiteral("report --central"), QStringList{QStringLiteral("--central"), central} + report, out);
            }
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/pelmora-ledger");
    if (argc > 1 && QLatin1String(argv[1]) == QLatin1String("verify")) {
        QStringList programs;
        for (int i = 2; i < argc; ++i)
            programs << QString::fromLocal8Bit(argv[i]);
        PostgresServer server;
        const bool floor = server.start();
        verifyFigures(programs.isEmpty() ? QStringList{beside} : programs, dir, floor ? &server : nullptr);
        return 0;
    }
    const QString path = dir.filePath(QStringLiteral("ledger.sqlite"));
    LocalLedger ledger(path);
    writeUnits(ledger, 1, 100);
    writeUnits(ledger, 32, 10);
    upgradeFigures(dir.filePath(QStringLiteral("first-release.sqlite")), 100000);

    PostgresServer server;
    if (!server.start()) {
        std::printf("no PostgreSQL here (%s); forwarding and the central verify not measured\n",
                    qPrintable(server.errorString()));
        verifyFigures({beside}, dir, nullptr);
        return 0;
    }
    {
        CentralForwarder f(ledger, server.socketUri());
        const int records = ledger.outbox().waiting();
        const double cpu0 = processCpu();
        const auto t0 = Clock::now();
        f.start();
        while (f.waiting() > 0 || f.sent() == 0)
            QThread::msleep(5);
        const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
        std::printf("forwarding %d waiting records: %.2f s, %.0f records per s, %.2f s CPU in this process\n", records,
                    seconds, records / seconds, processCpu() - cpu0);
        const double cpu1 = processCpu();
        QThread::sleep(10);
        std::printf("forwarder with nothing to send: %.3f %% of a core\n", (processCpu() - cpu1) / 10 * 100);
        f.stop();
    }
    verifyFigures({beside}, dir, &server);
    server.stop();
    return 0;
}
