// The ledger's costs: how long a unit's begin and close take (each one
// committed, synchronous transaction) from 1 and from 32 fixtures at once,
// what the forwarder costs while it has nothing to send, and how fast it
// catches up with a central ledger that was away, on a throwaway PostgreSQL.

#include "PostgresServer.h"
#include "ledger/CentralForwarder.h"
#include "ledger/LocalLedger.h"
#include "ledger/LocalSchema.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
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

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ledger.sqlite"));
    LocalLedger ledger(path);
    writeUnits(ledger, 1, 100);
    writeUnits(ledger, 32, 10);
    upgradeFigures(dir.filePath(QStringLiteral("first-release.sqlite")), 100000);

    PostgresServer server;
    if (!server.start()) {
        std::printf("no PostgreSQL here (%s); forwarding not measured\n", qPrintable(server.errorString()));
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
    server.stop();
    return 0;
}
