// Stations on emulated fixtures recording into one PostgreSQL ledger, as a
// floor runs them: every unit once, chains whole, a central server that goes
// away mid-shift, and a station killed and started again.

#include "EmulatorProcess.h"
#include "PostgresServer.h"
#include "ledger/CentralLedger.h"
#include "ledger/LocalLedger.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

using namespace Ledger;

class FloorTest : public QObject {
    Q_OBJECT
    PostgresServer server;
    QTemporaryDir dir;
    QString recipe;
    const QStringList threeUnits{QStringLiteral("--units"), QStringLiteral("3"), QStringLiteral("--present"),
                                 QStringLiteral("5"), QStringLiteral("--absent"), QStringLiteral("4")};

    void station(QProcess& p, const QString& ledger, const QString& fixture, const QStringList& more = {})
    {
        p.start(qEnvironmentVariable("PELMORA_BIN_DIR") + QStringLiteral("/pelmora-station"),
                QStringList{QStringLiteral("--json"), QStringLiteral("--listen"), QStringLiteral("off"),
                            QStringLiteral("--recipe"), recipe, QStringLiteral("--ledger"),
                            dir.filePath(ledger), QStringLiteral("--central"), server.socketUri(),
                            QStringLiteral("--fixture"), fixture} + more);
        QVERIFY(p.waitForStarted());
    }
    int verifyCommand(const QString& ledger)
    {
        QProcess p;
        p.start(qEnvironmentVariable("PELMORA_BIN_DIR") + QStringLiteral("/pelmora-ledger"),
                {QStringLiteral("--ledger"), dir.filePath(ledger), QStringLiteral("--central"), server.socketUri(),
                 QStringLiteral("verify")});
        p.waitForFinished(30000);
        return p.exitCode();
    }
    // The station's own chain, all of it in the central ledger and nothing more.
    void sameChains(const QString& ledger)
    {
        LocalLedger local(dir.filePath(ledger));
        QList<ChainEntry> there;
        for (const ChainEntry& e : CentralLedger(server.socketUri()).chain())
            if (e.station == local.station())
                there << e;
        const QList<ChainEntry> own = local.chain();
        QCOMPARE(there.size(), own.size());
        for (qsizetype i = 0; i < own.size(); ++i)
            QCOMPARE(there[i].hash, own[i].hash);
        QCOMPARE(verifyCommand(ledger), 0);
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(server.start(), qPrintable(server.errorString()));
        QFile label(dir.filePath(QStringLiteral("ship.epl")));
        QVERIFY(label.open(QIODevice::WriteOnly));
        label.write("ship label, rev C\r\n");
        QFile r(recipe = dir.filePath(QStringLiteral("recipe.toml")));
        QVERIFY(r.open(QIODevice::WriteOnly));
        r.write("name = \"line 7\"\n[[label]]\nslot = 1\nfile = \"ship.epl\"\n");
    }
    void cleanupTestCase() { QVERIFY(server.stop()); }

    void twoStationsOneLedger()
    {
        EmulatorProcess a, b;
        QVERIFY(a.start(threeUnits));
        QVERIFY(b.start(threeUnits));
        QProcess one, two;
        station(one, QStringLiteral("one.sqlite"), a.ptyPath(), {QStringLiteral("--units"), QStringLiteral("3")});
        station(two, QStringLiteral("two.sqlite"), b.ptyPath(), {QStringLiteral("--units"), QStringLiteral("3")});
        QVERIFY(one.waitForFinished(180000) && two.waitForFinished(180000));
        QCOMPARE(one.exitCode(), 0);
        QCOMPARE(two.exitCode(), 0);
        UnitFilter passed;
        passed.result = QStringLiteral("pass");
        QCOMPARE(CentralLedger(server.socketUri()).units(passed).size(), 6);
        sameChains(QStringLiteral("one.sqlite"));
        sameChains(QStringLiteral("two.sqlite"));
    }

    void centralAwayMidShiftThenStationKilled()
    {
        EmulatorProcess fixture;
        QVERIFY(fixture.start(threeUnits));
        QProcess p;
        station(p, QStringLiteral("away.sqlite"), fixture.ptyPath(), {QStringLiteral("--units"), QStringLiteral("3")});
        QByteArray out;
        while (!out.contains("\"event\":\"result\"") && p.waitForReadyRead(60000))
            out += p.readAllStandardOutput();
        QVERIFY(server.stop());
        QVERIFY(p.waitForFinished(180000));  // loading goes on without it
        out += p.readAllStandardOutput();
        QCOMPARE(p.exitCode(), 0);
        QList<QJsonObject> results;
        bool troubleSaid = false;
        for (const QByteArray& line : out.split('\n')) {
            const QJsonObject e = QJsonDocument::fromJson(line).object();
            troubleSaid |= e[QStringLiteral("event")] == QStringLiteral("central")
                           && !e[QStringLiteral("problem")].toString().isEmpty();
            if (e[QStringLiteral("event")] == QStringLiteral("result"))
                results << e;
        }
        QCOMPARE(results.size(), 3);
        QVERIFY(troubleSaid);
        QVERIFY(results.last()[QStringLiteral("centralWaiting")].toInt() > 0);

        // Started again with the server back, and killed once it forwarded;
        // then started once more: nothing lost, nothing twice.
        QVERIFY2(server.start(), qPrintable(server.errorString()));
        EmulatorProcess empty;
        QVERIFY(empty.start({QStringLiteral("--units"), QStringLiteral("1"), QStringLiteral("--first-after"),
                             QStringLiteral("600")}));
        for (int run = 0; run < 2; ++run) {
            QProcess again;
            station(again, QStringLiteral("away.sqlite"), empty.ptyPath());
            LocalLedger local(dir.filePath(QStringLiteral("away.sqlite")));
            QVERIFY(QTest::qWaitFor([&] { return local.outbox().waiting() == 0; }, 60000));
            ::kill(pid_t(again.processId()), run == 0 ? SIGKILL : SIGTERM);
            QVERIFY(again.waitForFinished(30000));
        }
        QCOMPARE(CentralLedger(server.socketUri()).units().size(), 9);
        sameChains(QStringLiteral("away.sqlite"));
    }

    void restoredLedgerForksAndIsSaid()
    {
        // A bench PC restored from an image taken after its first unit, while
        // the central ledger already holds its second.
        const auto oneUnit = [&](const QString& ledger) {
            EmulatorProcess fixture;
            [&] { QVERIFY(fixture.start({QStringLiteral("--units"), QStringLiteral("1"), QStringLiteral("--present"), QStringLiteral("3")})); }();
            QProcess p;
            station(p, ledger, fixture.ptyPath(), {QStringLiteral("--units"), QStringLiteral("1")});
            p.waitForFinished(120000);
            return std::pair{p.exitCode(), p.readAllStandardOutput()};
        };
        const QString ledger = QStringLiteral("restored.sqlite");
        QCOMPARE(oneUnit(ledger).first, 0);
        const QString image = dir.filePath(QStringLiteral("image"));
        QDir().mkpath(image);
        for (const QString& part : {QString(), QStringLiteral("-wal")})
            if (QFile::exists(dir.filePath(ledger + part)))
                QVERIFY(QFile::copy(dir.filePath(ledger + part), image + QLatin1Char('/') + ledger + part));
        QCOMPARE(oneUnit(ledger).first, 0);
        for (const QString& part : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")})
            QFile::remove(dir.filePath(ledger + part));
        for (const QString& part : {QString(), QStringLiteral("-wal")})
            if (QFile::exists(image + QLatin1Char('/') + ledger + part))
                QVERIFY(QFile::copy(image + QLatin1Char('/') + ledger + part, dir.filePath(ledger + part)));

        const auto [status, out] = oneUnit(ledger);
        QCOMPARE(status, 5);  // records not forwarded
        bool said = false;
        for (const QByteArray& line : out.split('\n')) {
            const QJsonObject e = QJsonDocument::fromJson(line).object();
            said |= e[QStringLiteral("forwarding")] == QStringLiteral("stopped");
        }
        QVERIFY2(said, out.constData());
        QProcess verify;
        verify.start(qEnvironmentVariable("PELMORA_BIN_DIR") + QStringLiteral("/pelmora-ledger"),
                     {QStringLiteral("--ledger"), dir.filePath(ledger), QStringLiteral("--central"), server.socketUri(),
                      QStringLiteral("verify")});
        QVERIFY(verify.waitForFinished(30000));
        QVERIFY(verify.exitCode() != 0);
        const QByteArray report = verify.readAllStandardOutput() + verify.readAllStandardError();
        QVERIFY2(report.contains("the copies differ first at record 3"), report.constData());
    }
};

QTEST_GUILESS_MAIN(FloorTest)
#include "tst_floor.moc"
