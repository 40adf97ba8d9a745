// pelmora-station against emulators that play fixtures: units arrive, are
// loaded once, leave; what reaches each unit's slots, what the ledger keeps.

#include "EmulatorProcess.h"
#include "Pty.h"
#include "ledger/LocalLedger.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <array>
#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QList<QJsonObject> events(const QByteArray& out)
{
    QList<QJsonObject> list;
    for (const QByteArray& line : out.split('\n'))
        if (!line.isEmpty())
            list << QJsonDocument::fromJson(line).object();
    return list;
}

QList<QJsonObject> only(const QList<QJsonObject>& list, const QString& event)
{
    QList<QJsonObject> out;
    for (const QJsonObject& e : list)
        if (e[QStringLiteral("event")] == event)
            out << e;
    return out;
}

QByteArray read(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(missing)");
}

}  // namespace

class StationTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    Pty pty;
    QByteArray ship, inner;

    QString recipe(const QString& body)
    {
        const QString path = dir.filePath(QStringLiteral("recipe.toml"));
        QFile f(path);
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write(body.toUtf8());
        return path;
    }
    QString twoLabels()
    {
        return recipe(QStringLiteral("name = \"line 7, rev C\"\n[[label]]\nslot = 1\nfile = \"ship.epl\"\n"
                                     "[[label]]\nslot = 3\nfile = \"inner.epl\"\n"));
    }
    QString ledgerPath() const { return dir.filePath(QLatin1String(QTest::currentTestFunction()) + QStringLiteral(".sqlite")); }
    void start(QProcess& p, const QStringList& args)
    {
        p.start(qEnvironmentVariable("PELMORA_STATION"),
                QStringList{QStringLiteral("--json"), QStringLiteral("--listen"), QStringLiteral("off"),
                            QStringLiteral("--ledger"), ledgerPath()} + args);
        QVERIFY(p.waitForStarted());
    }

private slots:
    void initTestCase();
    void recipeRefused_data();
    void recipeRefused();
    void scannersNamed_data();
    void scannersNamed();
    void twoFixturesThreeUnitsEach();
    void failedUnitIsNotTriedAgain();
    void pulledAndSwappedUnitsOnLinesThatStay();
    void scannedUnitsOnALineThatStays();
    void killedMidStreamIsInterruptedAtNextStart();
    void aLockedLedgerHoldsTheUnitUntilItIsFree();
    void refusedAlikeInBothPlaces_data();
    void refusedAlikeInBothPlaces();
    void checkFindsThePageAddressTaken();
};

void StationTest::initTestCase()
{
    for (int i = 0; i < 24; ++i)
        ship += char((i * 37 + 11) & 0xff);  // 0 and 255 among them
    inner = QByteArray("inner label\r\n\x00\xff", 15);
    for (const auto& [name, bytes] : {std::pair{"ship.epl", &ship}, {"inner.epl", &inner}}) {
        QFile f(dir.filePath(QLatin1String(name)));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(*bytes);
    }
}

void StationTest::recipeRefused_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("said");
    QTest::newRow("slot twice") << "name = \"r\"\n[[label]]\nslot = 1\nfile = \"ship.epl\"\n[[label]]\nslot = 1\nfile = \"inner.epl\"\n"
                                << "recipe.toml:6: slot 1 is named twice";
    QTest::newRow("pin differs") << "name = \"r\"\n[[label]]\nslot = 2\nfile = \"ship.epl\"\nsha256 = \"" + QString(64, u'0') + "\"\n"
                                 << "recipe.toml:5: ship.epl is not the pinned file";
    QTest::newRow("misspelt pin") << "name = \"r\"\n[[label]]\nslot = 2\nfile = \"ship.epl\"\nsha265 = \"ab\"\n"
                                  << "recipe.toml:5: unknown key \"sha265\"";
    QTest::newRow("no file") << "name = \"r\"\n[[label]]\nslot = 2\nfile = \"gone.epl\"\n"
                             << "recipe.toml:4: Error 53";
    QTest::newRow("six labels") << "name = \"r\"\n" + QString("[[label]]\nslot = 1\nfile = \"ship.epl\"\n").repeated(6)
                                << "recipe.toml:17: a recipe has at most 5 labels";
    QTest::newRow("not toml") << "name = \"r\n" << "recipe.toml:1:";
    const QString oneLabel = QStringLiteral("name = \"r\"\n[[label]]\nslot = 1\nfile = \"ship.epl\"\n[serial]\n");
    QTest::newRow("serial: misspelt key") << oneLabel + "patern = \"^SN\"\n" << "recipe.toml:6: unknown key \"patern\" in [serial]";
    QTest::newRow("serial: bad pattern") << oneLabel + "pattern = \"^SN(\"\n" << "recipe.toml:6: pattern is not a regular expression";
    QTest::newRow("serial: unknown check") << oneLabel + "check = \"mod11\"\n" << "recipe.toml:6: check takes none, gs1 or luhn";
    QTest::newRow("serial: duplicates") << oneLabel + "duplicates = \"warn\"\n" << "recipe.toml:6: duplicates takes refuse or allow";
}

void StationTest::recipeRefused()
{
    QFETCH(QString, body);
    QFETCH(QString, said);
    QProcess p;
    start(p, {QStringLiteral("--recipe"), recipe(body), QStringLiteral("--fixture"), dir.filePath(QStringLiteral("none"))});
    QVERIFY(p.waitForFinished(20000));
    QCOMPARE(p.exitCode(), 3);
    const QString err = QString::fromLocal8Bit(p.readAllStandardError());
    QVERIFY2(err.contains(said), qPrintable(err));
}

void StationTest::scannersNamed_data()
{
    // A scanner given on the command line or in the configuration, as the
    // check says it back; nothing is opened.
    QTest::addColumn<QStringList>("fixtures");
    QTest::addColumn<QString>("config");
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("said");
    QTest::newRow("option") << QStringList{"A=/dev/rv7k-a,scanner=/dev/ttyACM0,presence=dsr"} << "" << 0
                            << QStringList{"fixture A: /dev/rv7k-a, unit present while DSR is asserted, units scanned with /dev/ttyACM0",
                                           "serial: any scan of printable characters (the recipe has no [serial] table)"};
    QTest::newRow("option, relative") << QStringList{"A=/dev/rv7k-a,presence=cts,scanner=scan-a"} << "" << 0
                                      << QStringList{"CTS is asserted, units scanned with " + dir.filePath("scan-a")};
    QTest::newRow("option, shared") << QStringList{"A=/dev/rv7k-a,scanner=/dev/s", "B=/dev/rv7k-b,scanner=/dev/s"} << ""
                                    << 0 << QStringList{"(shared with B: scan FIXTURE:A before the unit)",
                                                        "(shared with A: scan FIXTURE:B before the unit)"};
    QTest::newRow("option, scanner is a fixture") << QStringList{"A=/dev/rv7k-a", "B=/dev/rv7k-b,scanner=/dev/rv7k-a"} << ""
                                                  << 2 << QStringList{"/dev/rv7k-a is given as a fixture and as a scanner"};
    QTest::newRow("option, line settings") << QStringList{"A=/dev/rv7k-a,scanner=/dev/s,scanner-settings=19200,e,7,1"} << "" << 0
                                           << QStringList{"units scanned with /dev/s at 19200,e,7,1"};
    QTest::newRow("option, bad line settings") << QStringList{"A=/dev/rv7k-a,scanner=/dev/s,scanner-settings=19200,x"} << ""
                                               << 2 << QStringList{"fixture A: scanner settings: Error 380"};
    QTest::newRow("option, empty") << QStringList{"A=/dev/rv7k-a,scanner="} << "" << 2
                                   << QStringList{"scanner needs the scanner's device"};
    QTest::newRow("config, relative to it")
        << QStringList{} << "[[fixture]]\nname = \"A\"\nport = \"/dev/rv7k-a\"\nscanner = \"by-id/scan\"\n" << 0
        << QStringList{"units scanned with " + dir.filePath("conf/by-id/scan")};
    QTest::newRow("config, line settings")
        << QStringList{} << "[[fixture]]\nport = \"/dev/a\"\nscanner = \"/dev/s\"\nscanner_settings = \"4800,n,8,2\"\n" << 0
        << QStringList{"units scanned with /dev/s at 4800,n,8,2"};
    QTest::newRow("config, misspelt") << QStringList{} << "[[fixture]]\nport = \"/dev/rv7k-a\"\nscaner = \"/dev/s\"\n" << 2
                                      << QStringList{"station.toml:3: unknown key \"scaner\" in a fixture"};
}

void StationTest::scannersNamed()
{
    QFETCH(QStringList, fixtures);
    QFETCH(QString, config);
    QFETCH(int, status);
    QFETCH(QStringList, said);
    QStringList args{QStringLiteral("--check"), QStringLiteral("--recipe"), twoLabels()};
    for (const QString& f : fixtures)
        args << QStringLiteral("--fixture") << f;
    if (!config.isEmpty()) {
        QDir(dir.path()).mkpath(QStringLiteral("conf"));
        QFile file(dir.filePath(QStringLiteral("conf/station.toml")));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(config.toUtf8());
        file.close();
        args << QStringLiteral("--config") << file.fileName();
    }
    QProcess p;
    p.setWorkingDirectory(dir.path());
    start(p, args);
    QVERIFY(p.waitForFinished(20000));
    const QString err = QString::fromLocal8Bit(p.readAllStandardError());
    QVERIFY2(p.exitCode() == status, qPrintable(err));
    for (const QString& line : said)
        QVERIFY2(err.contains(line), qPrintable(err));
}

void StationTest::twoFixturesThreeUnitsEach()
{
    // One fixture's line stays and falls silent between units; the other's
    // port vanishes with each unit and comes back with the next.
    EmulatorProcess silent, vanishing;
    const QStringList units{QStringLiteral("--units"), QStringLiteral("3"), QStringLiteral("--present"),
                            QStringLiteral("5"), QStringLiteral("--absent"), QStringLiteral("4")};
    QVERIFY(silent.start(units));
    QVERIFY(vanishing.start(units + QStringList{QStringLiteral("--vanish"), QStringLiteral("--link"),
                                                vanishing.workDir() + QStringLiteral("/fixture")}));
    QProcess p;
    start(p, {QStringLiteral("--recipe"), twoLabels(), QStringLiteral("--units"), QStringLiteral("6"),
              QStringLiteral("--fixture"), QStringLiteral("left=") + silent.ptyPath(), QStringLiteral("--fixture"),
              QStringLiteral("right=") + vanishing.ptyPath()});
    QVERIFY(p.waitForFinished(300000));
    const QList<QJsonObject> run = events(p.readAllStandardOutput());
    QCOMPARE(p.exitCode(), 0);
    QCOMPARE(only(run, QStringLiteral("result")).size(), 6);

    for (const EmulatorProcess* e : {&silent, &vanishing}) {
        for (int unit = 1; unit <= 3; ++unit) {
            const QString out = QStringLiteral("%1/unit-%2/").arg(e->outDir()).arg(unit);
            QCOMPARE(read(out + QStringLiteral("Externl1.ejf")), ship);
            QCOMPARE(read(out + QStringLiteral("Externl3.ejf")), inner);
        }
        int written = 0;
        for (const QJsonObject& line : e->readLog())
            written += line[QStringLiteral("event")] == QStringLiteral("file-written") ? 1 : 0;
        QCOMPARE(written, 6);  // each label into each unit exactly once
    }

    Ledger::LocalLedger ledger(ledgerPath());
    const QList<Ledger::UnitRecord> records = ledger.units();
    QCOMPARE(records.size(), 6);
    QSet<qint64> numbers;
    for (const Ledger::UnitRecord& r : records) {
        QCOMPARE(r.result, QStringLiteral("pass"));
        QCOMPARE(r.labels.size(), 2);
        QCOMPARE(r.labels[1].slotHolds, QStringLiteral("loaded"));
        QCOMPARE(r.labels[1].dataFramesSent, qint64(inner.size()));
        QVERIFY(r.labels[1].fileFrameSent && r.labels[1].releaseConfirmed);
        numbers.insert(r.unitNumber);
    }
    QCOMPARE(numbers, (QSet<qint64>{1, 2, 3, 4, 5, 6}));
}

void StationTest::failedUnitIsNotTriedAgain()
{
    EmulatorProcess e;
    // A refusal the unit says: a silent one would be doubt, and whoever
    // answers after it is loaded anew.
    QVERIFY(e.start({QStringLiteral("--units"), QStringLiteral("1"), QStringLiteral("--present"), QStringLiteral("6"),
                     QStringLiteral("--reply"), QStringLiteral("length=X")}));
    QProcess p;
    start(p, {QStringLiteral("--recipe"), twoLabels(), QStringLiteral("--gone-after"), QStringLiteral("2"),
              QStringLiteral("--fixture"), e.ptyPath()});
    // Once the unit left, the fixture waits for the next; then stop the run.
    QByteArray out;
    QDeadlineTimer deadline(120000);
    while (only(events(out), QStringLiteral("gone")).isEmpty() && !deadline.hasExpired()) {
        p.waitForReadyRead(1000);
        out += p.readAllStandardOutput();
    }
    ::kill(pid_t(p.processId()), SIGTERM);
    QVERIFY(p.waitForFinished(20000));
    out += p.readAllStandardOutput();
    QCOMPARE(p.exitCode(), 143);

    const QList<QJsonObject> results = only(events(out), QStringLiteral("result"));
    QCOMPARE(results.size(), 1);
    QCOMPARE(results[0][QStringLiteral("result")].toString(), QStringLiteral("fail"));
    // While it stayed it was only polled: one slot name, and no frame but polls after its lengths.
    QStringList after;
    int names = 0;
    for (const QJsonObject& f : e.readFrames()) {
        const QString payload = f[QStringLiteral("payload")].toString();
        names += payload == QStringLiteral("#Externl1.ejf#") ? 1 : 0;
        if (names > 0 && !payload.startsWith(u'%') && payload != QStringLiteral("#Externl1.ejf#"))
            after << payload;
    }
    QCOMPARE(names, 1);
    QVERIFY(!after.isEmpty());
    QCOMPARE(after, QStringList(after.size(), QStringLiteral("S")));

    const QList<Ledger::UnitRecord> records = Ledger::LocalLedger(ledgerPath()).units({{}, {}, {}, {}, QStringLiteral("fail")});
    QCOMPARE(records.size(), 1);
    const Ledger::UnitRecord& r = records[0];
    QVERIFY2(r.why.startsWith(QStringLiteral("slot 1: the length 24 was not taken")), qPrintable(r.why));
    QCOMPARE(r.labels[0].slotHolds, QStringLiteral("untouched"));
    QCOMPARE(r.labels[1].slotHolds, QStringLiteral("untouched"));
    QCOMPARE(r.labels[1].dataFramesSent, 0);
}

void StationTest::pulledAndSwappedUnitsOnLinesThatStay()
{
    // Three fixtures whose first unit is taken out while an answer is due,
    // the next placed 1 s later; a fourth whose units are each taken out
    // 0.3 s after their last release and the next placed 0.5 s after that.
    const QStringList pulls{QStringLiteral("#Externl3.ejf#"), QStringLiteral("%24#"), QStringLiteral("#End#")};
    std::array<EmulatorProcess, 4> fixtures;
    QStringList args{QStringLiteral("--recipe"), twoLabels(), QStringLiteral("--units"), QStringLiteral("9")};
    for (int i = 0; i < 4; ++i) {
        const QStringList play = i < 3 ? QStringList{"--present", "3", "--units", "2", "--absent", "1", "--pull-on", pulls[i]}
                                       : QStringList{"--present", "0.3", "--leave-after-releases", "2", "--units", "3", "--absent", "0.5"};
        QVERIFY(fixtures[size_t(i)].start(play));
        args << QStringLiteral("--fixture") << QStringLiteral("f%1=%2").arg(i).arg(fixtures[size_t(i)].ptyPath());
    }
    QProcess p;
    start(p, args);
    QVERIFY(p.waitForFinished(300000));
    QCOMPARE(p.exitCode(), 1);

    QMap<QString, QStringList> byFixture;
    QList<Ledger::UnitRecord> records = Ledger::LocalLedger(ledgerPath()).units();
    std::sort(records.begin(), records.end(), [](const auto& a, const auto& b) { return a.unitNumber < b.unitNumber; });
    for (const Ledger::UnitRecord& r : records)
        byFixture[r.fixtureName] << r.result + QStringLiteral(": ") + r.labels[0].slotHolds + u' ' + r.labels[1].slotHolds;
    QCOMPARE(byFixture[QStringLiteral("f0")], QStringList({"fail: loaded untouched", "pass: loaded loaded"}));
    QCOMPARE(byFixture[QStringLiteral("f1")], QStringList({"fail: untouched untouched", "pass: loaded loaded"}));
    QCOMPARE(byFixture[QStringLiteral("f2")], QStringList({"fail: written untouched", "pass: loaded loaded"}));
    QCOMPARE(byFixture[QStringLiteral("f3")], QStringList(3, QStringLiteral("pass: loaded loaded")));

    for (int i = 0; i < 4; ++i) {
        const EmulatorProcess& e = fixtures[size_t(i)];
        // Each unit that passed got the whole recipe byte-exact.
        for (int unit = i < 3 ? 2 : 1; unit <= (i < 3 ? 2 : 3); ++unit) {
            const QString out = QStringLiteral("%1/unit-%2/").arg(e.outDir()).arg(unit);
            QCOMPARE(read(out + QStringLiteral("Externl1.ejf")), ship);
            QCOMPARE(read(out + QStringLiteral("Externl3.ejf")), inner);
        }
        // No frame but polls reaches a unit before its own first slot name.
        QMap<qint64, QString> firstFrame;
        for (const QJsonObject& f : e.readFrames()) {
            const qint64 unit = f[QStringLiteral("unit")].toInteger();
            const QString payload = f[QStringLiteral("payload")].toString();
            if (unit > 0 && payload != QStringLiteral("S") && !firstFrame.contains(unit))
                firstFrame[unit] = payload;
        }
        for (const QString& first : firstFrame)
            QCOMPARE(first, QStringLiteral("#Externl1.ejf#"));
    }
}

void StationTest::scannedUnitsOnALineThatStays()
{
    // Eight units, each scanned on a serial scanner as it is placed; unit 3
    // is taken out mid-stream and unit 4, scanned at once, placed 1 s later;
    // unit 7 carries unit 2's serial and unit 8 no serial at all.
    EmulatorProcess e;
    QVERIFY(e.start({"--units", "8", "--present", "3", "--absent", "1", "--first-after", "2", "--pull-on", "data@30", "--pull-unit", "3"}));
    Pty scanner;
    QVERIFY(scanner.isValid());
    const QString recipePath = recipe(QStringLiteral("name = \"scanned\"\n[serial]\npattern = \"^SN[0-9]{6}$\"\n"
                                                     "[[label]]\nslot = 1\nfile = \"ship.epl\"\n[[label]]\nslot = 3\nfile = \"inner.epl\"\n"));
    QProcess p;
    start(p, {QStringLiteral("--recipe"), recipePath, QStringLiteral("--fixture"),
              QStringLiteral("A=%1,scanner=%2").arg(e.ptyPath(), scanner.slavePath())});
    const QStringList serials{"SN000001", "SN000002", "SN000003", "SN000004", "SN000005", "SN000006", "SN000002", "BAD"};
    QSet<QString> done;
    // A scan before the station has its scanner open is lost, as it would be
    // on a bench: the first one waits for the station to be waiting.
    QByteArray said;
    QDeadlineTimer deadline(240000);
    while (!deadline.hasExpired() && !done.contains(QStringLiteral("unit-left 8"))) {
        p.waitForReadyRead(100);
        said += p.readAllStandardOutput();
        if (!said.contains("\"event\":\"waiting\""))
            continue;
        for (const QJsonObject& line : e.readLog()) {
            const QString event = line[QStringLiteral("event")].toString();
            const QString key = event + u' ' + QString::number(line[QStringLiteral("unit")].toInteger());
            if ((event != QStringLiteral("unit-arrived") && event != QStringLiteral("unit-left")) || done.contains(key))
                continue;
            done.insert(key);
            const int unit = int(line[QStringLiteral("unit")].toInteger());
            // Unit 4 is scanned as soon as unit 3 is out, before it is placed.
            if ((event == QStringLiteral("unit-arrived") && unit != 4) || (event == QStringLiteral("unit-left") && unit == 3))
                scanner.send(serials[event == QStringLiteral("unit-left") ? 3 : unit - 1].toLatin1() + "\r\n");
        }
    }
    ::kill(pid_t(p.processId()), SIGTERM);
    QVERIFY(p.waitForFinished(20000));
    QCOMPARE(p.exitCode(), 143);

    QList<Ledger::UnitRecord> records = Ledger::LocalLedger(ledgerPath()).units();
    std::sort(records.begin(), records.end(), [](const auto& a, const auto& b) { return a.unitNumber < b.unitNumber; });
    QStringList seen;
    for (const Ledger::UnitRecord& r : records)
        seen << r.serial + u' ' + r.result;
    QCOMPARE(seen, (QStringList{"SN000001 pass", "SN000002 pass", "SN000003 fail", "SN000004 pass", "SN000005 pass", "SN000006 pass"}));
    QCOMPARE(records[2].reason, QStringLiteral("scanned_over"));
    const QString out = e.outDir() + QStringLiteral("/unit-4/");
    QCOMPARE(read(out + QStringLiteral("Externl1.ejf")), ship);
    QCOMPARE(read(out + QStringLiteral("Externl3.ejf")), inner);
    QMap<qint64, QStringList> byUnit;
    for (const QJsonObject& f : e.readFrames())
        if (f[QStringLiteral("payload")].toString() != QStringLiteral("S"))
            byUnit[f[QStringLiteral("unit")].toInteger()] << f[QStringLiteral("payload")].toString();
    QCOMPARE(byUnit.value(4).value(0), QStringLiteral("#Externl1.ejf#"));
    // The duplicate and the unit with no serial got nothing but polls.
    QVERIFY(!byUnit.contains(7) && !byUnit.contains(8));
}

void StationTest::killedMidStreamIsInterruptedAtNextStart()
{
    EmulatorProcess e;
    QVERIFY(e.start());
    const QString recipePath = twoLabels();
    QProcess p;
    start(p, {QStringLiteral("--recipe"), recipePath, QStringLiteral("--fixture"), e.ptyPath()});
    QVERIFY(e.waitForLog([](const QList<QJsonObject>& log) {
        return std::count_if(log.begin(), log.end(), [](const QJsonObject& f) {
                   return f[QStringLiteral("kind")] == QStringLiteral("data");
               }) > 5;
    }, 30000));
    p.kill();
    QVERIFY(p.waitForFinished(10000));
    e.stop();

    // The next start, on a fixture with nothing in it, closes the open record.
    QProcess next;
    start(next, {QStringLiteral("--recipe"), recipePath, QStringLiteral("--fixture"), dir.filePath(QStringLiteral("empty"))});
    QVERIFY(next.waitForReadyRead(20000));
    ::kill(pid_t(next.processId()), SIGTERM);
    QVERIFY(next.waitForFinished(20000));
    QVERIFY(next.readAllStandardError().contains("1 unit left open by an earlier run recorded as interrupted"));
    const QList<Ledger::UnitRecord> records = Ledger::LocalLedger(ledgerPath()).units();
    QCOMPARE(records.size(), 1);
    QCOMPARE(records[0].result, QStringLiteral("interrupted"));
    QCOMPARE(records[0].why, QStringLiteral("the station stopped before this unit ended"));
}

void StationTest::aLockedLedgerHoldsTheUnitUntilItIsFree()
{
    EmulatorProcess e;
    QVERIFY(e.start({QStringLiteral("--units"), QStringLiteral("1"), QStringLiteral("--first-after"), QStringLiteral("3"),
                     QStringLiteral("--present"), QStringLiteral("60")}));
    QProcess p;
    start(p, {QStringLiteral("--recipe"), twoLabels(), QStringLiteral("--fixture"), e.ptyPath(), QStringLiteral("--units"),
              QStringLiteral("1")});
    QVERIFY(p.waitForReadyRead(20000));
    // Once the station runs, another program holds the ledger's write lock
    // for longer than a station waits for it at one go.
    QSqlDatabase holder = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("holder"));
    holder.setDatabaseName(ledgerPath());
    QVERIFY(holder.open());
    QVERIFY(QSqlQuery(holder).exec(QStringLiteral("BEGIN EXCLUSIVE")));
    QByteArray out;
    QDeadlineTimer deadline(60000);
    while (!out.contains("the ledger cannot be written") && !deadline.hasExpired()) {
        p.waitForReadyRead(500);
        out += p.readAllStandardOutput();
    }
    QVERIFY(out.contains("trying again"));
    // The unit answered its polls and got nothing else while no record could be begun.
    for (const QJsonObject& f : e.readFrames())
        QCOMPARE(f[QStringLiteral("payload")].toString(), QStringLiteral("S"));
    QSqlQuery(holder).exec(QStringLiteral("ROLLBACK"));
    holder.close();
    QVERIFY(p.waitForFinished(90000));
    out += p.readAllStandardOutput();
    QCOMPARE(p.exitCode(), 0);
    QVERIFY2(out.contains("the ledger is written again"), out.constData());
    QCOMPARE(only(events(out), QStringLiteral("result")).size(), 1);
    QCOMPARE(Ledger::LocalLedger(ledgerPath()).units().size(), 1);
}


void StationTest::refusedAlikeInBothPlaces_data()
{
    // Each value given on the command line (run in conf/) and in conf/station.toml
    // (run from its parent, so a path taken from the working directory would
    // miss); %1 is the option's name in each place.
    QTest::addColumn<QStringList>("option");
    QTest::addColumn<QString>("config");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("said");
    const QStringList silence{"--silence", "silence"}, goneAfter{"--gone-after", "gone_after"};
    const QString seconds = QStringLiteral("%1 takes seconds from 2 to 3, not '%2'");
    for (const char* value : {"nan", "inf", "-inf", "3.5"})
        QTest::addRow("silence %s", value) << QStringList{"--silence", value} << QStringLiteral("silence = %1\n").arg(value)
                                           << silence << 2 << seconds.arg("%1", value);
    const QString whole = QStringLiteral("%1 takes a whole number from 2 to 100, not '%2'");
    QTest::newRow("gone-after negative") << QStringList{"--gone-after", "-3"} << "gone_after = -3\n" << goneAfter << 2 << whole.arg("%1", "-3");
    QTest::newRow("gone-after above") << QStringList{"--gone-after", "101"} << "gone_after = 101\n" << goneAfter << 2 << whole.arg("%1", "101");
    QTest::newRow("settings") << QStringList{"--settings", "19200,x"} << "settings = \"19200,x\"\n" << QStringList{"--settings", "settings"}
                              << 2 << "%1 takes line settings such as 9600,n,8,1, not '19200,x': Error 380";
    QTest::newRow("listen") << QStringList{"--listen", "nowhere:1"} << "listen = \"nowhere:1\"\n" << QStringList{"--listen", "listen"}
                            << 2 << "%1 takes ADDRESS:PORT (127.0.0.1:8470, [::1]:8470) or off, not 'nowhere:1'";
    QTest::newRow("page name") << QStringList{"--page-name", "a b"} << "page_name = [\"ok\", \"a b\"]\n"
                               << QStringList{"--page-name", "page_name"} << 2
                               << "%1 takes a host name (bench2, bench2.example.com), not 'a b'";
    QTest::newRow("unknown") << QStringList{"--frob"} << "frob = 1\n" << QStringList{"option \"--frob\"", "key \"frob\""} << 2 << "unknown %1";
    // Two names of one device; the configuration's relative to its folder.
    const QString conf = dir.filePath(QStringLiteral("conf/"));
    QTest::newRow("one port, two names") << QStringList{"--fixture", "A=" + pty.slavePath(), "--fixture", "B=link"}
                                         << QStringLiteral("[[fixture]]\nname = \"A\"\nport = \"%1\"\n[[fixture]]\nname = \"B\"\nport = \"link\"\n").arg(pty.slavePath())
                                         << QStringList{"", ""} << 2
                                         << QStringLiteral("%1 and %2link are one port, given to two fixtures (A and B)").arg(pty.slavePath(), conf);
    QTest::newRow("a FIFO") << QStringList{"--fixture", "F=fifo"} << "[[fixture]]\nname = \"F\"\nport = \"fifo\"\n" << QStringList{"", ""}
                            << 4 << QStringLiteral("fixture F: %1fifo is a FIFO, not a serial device").arg(conf);
}

void StationTest::refusedAlikeInBothPlaces()
{
    QFETCH(QStringList, option);
    QFETCH(QString, config);
    QFETCH(QStringList, names);
    QFETCH(int, status);
    QFETCH(QString, said);
    const QString conf = dir.filePath(QStringLiteral("conf"));
    QDir(dir.path()).mkpath(QStringLiteral("conf"));
    if (!QFileInfo::exists(conf + QStringLiteral("/fifo")))
        QVERIFY(::mkfifo(QFile::encodeName(conf + QStringLiteral("/fifo")).constData(), 0600) == 0);
    QFile::remove(conf + QStringLiteral("/link"));
    QVERIFY(QFile::link(pty.slavePath(), conf + QStringLiteral("/link")));
    const QString none = dir.filePath(QStringLiteral("none"));
    QFile file(conf + QStringLiteral("/station.toml"));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(QStringLiteral("recipe = \"%1\"\n%2").arg(twoLabels(), config).toUtf8());
    if (!config.contains(QStringLiteral("[[fixture]]")))
        file.write(QStringLiteral("[[fixture]]\nport = \"%1\"\n").arg(none).toUtf8());
    file.close();
    QStringList commandLine{QStringLiteral("--recipe"), twoLabels()};
    if (!option.contains(QStringLiteral("--fixture")))
        commandLine << QStringLiteral("--fixture") << none;
    commandLine += option;
    if (!option.contains(QStringLiteral("--listen")))
        commandLine << QStringLiteral("--listen") << QStringLiteral("off");
    const QList<std::pair<QStringList, QString>> places{
        {commandLine, conf}, {{QStringLiteral("--config"), file.fileName(), QStringLiteral("--listen"), QStringLiteral("off")}, dir.path()}};
    for (int i = 0; i < 2; ++i) {
        QProcess p;
        p.setWorkingDirectory(places[i].second);
        p.start(qEnvironmentVariable("PELMORA_STATION"),
                QStringList{QStringLiteral("--check"), QStringLiteral("--ledger"), ledgerPath()} + places[i].first);
        QVERIFY(p.waitForFinished(20000));
        const QString err = QString::fromLocal8Bit(p.readAllStandardError());
        const QString expected = QString(said).replace(QStringLiteral("%1"), names[i]);
        QVERIFY2(p.exitCode() == status && err.contains(expected), qPrintable(expected + QStringLiteral(" | ") + err));
    }
}

void StationTest::checkFindsThePageAddressTaken()
{
    // Another program on the page's port: the check says so, as a start would.
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    QVERIFY(::bind(fd, reinterpret_cast<sockaddr*>(&address), size) == 0 && ::listen(fd, 1) == 0);
    QVERIFY(::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0);
    const QString where = QStringLiteral("127.0.0.1:%1").arg(ntohs(address.sin_port));
    QProcess p;
    p.start(qEnvironmentVariable("PELMORA_STATION"),
            {QStringLiteral("--check"), QStringLiteral("--ledger"), ledgerPath(), QStringLiteral("--recipe"), twoLabels(),
             QStringLiteral("--fixture"), dir.filePath(QStringLiteral("none")), QStringLiteral("--listen"), where});
    QVERIFY(p.waitForFinished(20000));
    ::close(fd);
    const QString err = QString::fromLocal8Bit(p.readAllStandardError());
    QVERIFY2(p.exitCode() == 4 && err.contains(QStringLiteral("the page cannot listen on %1").arg(where)), qPrintable(err));
    QVERIFY(!err.contains(QStringLiteral("check passed")));
}

QTEST_GUILESS_MAIN(StationTest)
#include "tst_station.moc"
