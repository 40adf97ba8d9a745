// The station's own ledger: records begun and closed, interrupted ones
// closed at the next start, several fixtures writing at once, and a chain
// that shows what was changed.

#include "ledger/Chain.h"
#include "ledger/LocalLedger.h"
#include "ledger/LocalSchema.h"
#include "ledger/RecordText.h"
#include "ledger/StoredVerify.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <thread>
#include <unistd.h>

using namespace Ledger;

namespace {

UnitRecord unit(const QString& fixture, qint64 number)
{
    UnitRecord r;
    r.id = QUuid::createUuid();
    r.host = QStringLiteral("bench-4");
    r.fixtureName = fixture;
    r.fixturePath = QStringLiteral("/dev/ttyUSB0");
    r.unitNumber = number;
    r.recipeName = QStringLiteral("line 7 labels, rev C");
    r.recipeSha256 = QString(64, QLatin1Char('a'));
    r.toolVersion = QStringLiteral("1.00.0011");
    r.start = QDateTime::currentDateTimeUtc();
    r.labels = {LabelRecord{1, QStringLiteral("ship.epl"), QString(64, QLatin1Char('b')), 300, 0, false, false,
                            QStringLiteral("untouched"), {}},
                LabelRecord{3, QStringLiteral("inner.epl"), QString(64, QLatin1Char('c')), 200, 0, false, false,
                            QStringLiteral("untouched"), {}}};
    return r;
}

QList<Finding> verify(const LocalLedger& ledger)
{
    const QList<ChainEntry> links = ledger.chain();
    return checkChain(ledger.station(), links) + checkRows(links, ledger.units());
}

void sql(const QString& path, const QStringList& statements)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("hand"));
        db.setDatabaseName(path);
        QVERIFY(db.open());
        for (const QString& statement : statements) {
            QSqlQuery q(db);
            QVERIFY2(q.exec(statement), qPrintable(statement + QLatin1Char(' ') + q.lastError().text()));
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("hand"));
}

void sql(const QString& path, const QString& statement)
{
    sql(path, QStringList{statement});
}

QString machineFile(const QTemporaryDir& dir, char id)
{
    const QString path = dir.filePath(QStringLiteral("machine-id-%1").arg(QLatin1Char(id)));
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(QByteArray(32, id) + '\n');
    return path;
}

QStringList texts(const QList<UnitRecord>& units)
{
    QStringList out;
    for (const UnitRecord& r : units)
        out << QString::fromUtf8(canonicalText(toJson(r)));
    return out;
}

// A ledger as the first release left it: its tables (version 1, the step
// pinned to the text that release ran), meta, and three records (one still
// open) whose texts hold no field added since.
QString firstReleaseLedger(const QTemporaryDir& dir)
{
    const QString today = dir.filePath(QStringLiteral("today.sqlite"));
    {
        LocalLedger l(today);
        for (int n = 1; n <= 3; ++n) {
            UnitRecord r = unit(QStringLiteral("A"), n);
            l.begin(r);
            r.result = n == 1 ? QStringLiteral("pass") : QStringLiteral("fail");
            r.why = QStringLiteral("slot 1: no answer");
            if (n < 3)
                l.close(r);
        }
    }
    const QString old = dir.filePath(QStringLiteral("old.sqlite"));
    const SchemaStep& first = localSchemaSteps().front();
    if (first.checksum() != QLatin1String("784169e834bc8004758ce2a052ad6aca03ee2a02814aed9db841cdb59dd1d994"))
        return {};
    const QString v1 = QStringLiteral("id, host, fixture_name, fixture_path, adapter_identity, unit_number, recipe_name, "
                                      "recipe_sha256, tool_version, start_time, end_time, result, why");
    sql(old, first.statements + QStringList{
        QStringLiteral("ATTACH '%1' AS t").arg(today),
        QStringLiteral("INSERT INTO meta SELECT key, value FROM t.meta WHERE key IN ('station', 'station_name')"),
        QStringLiteral("INSERT INTO meta VALUES ('schema_version', '1')"),
        QStringLiteral("INSERT INTO units SELECT %1 FROM t.units").arg(v1),
        QStringLiteral("INSERT INTO labels SELECT unit_id, slot, file, sha256, size, data_frames_sent, file_frame_sent, "
                       "release_confirmed, slot_holds FROM t.labels"),
        QStringLiteral("INSERT INTO chain SELECT * FROM t.chain"),
    });
    return old;
}

}  // namespace

class LocalLedgerTest : public QObject {
    Q_OBJECT
private slots:
    void recordsBegunClosedAndInterrupted()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("state/pelmora/ledger.sqlite"));
        UnitRecord passed = unit(QStringLiteral("A"), 1);
        UnitRecord killed = unit(QStringLiteral("B"), 1);
        {
            LocalLedger ledger(path);
            ledger.begin(passed);
            ledger.begin(killed);
            QVERIFY_THROWS_EXCEPTION(LedgerError, ledger.begin(passed));
            passed.result = QStringLiteral("pass");
            passed.labels[0].slotHolds = passed.labels[1].slotHolds = QStringLiteral("loaded");
            ledger.close(passed);
            QVERIFY_THROWS_EXCEPTION(LedgerError, ledger.close(passed));
        }
        // The next start finds B still open.
        LocalLedger again(path);
        QVERIFY(!again.created());
        QCOMPARE(again.unitCount(), 2);
        QCOMPARE(again.closeInterrupted(QStringLiteral("the station stopped")), 1);
        QCOMPARE(again.closeInterrupted(QStringLiteral("the station stopped")), 0);
        // A second station on the same file would close units still loading.
        QVERIFY_THROWS_EXCEPTION(LedgerError, LocalLedger(path).closeInterrupted(QStringLiteral("x")));
        const QList<UnitRecord> units = again.units();
        QCOMPARE(units.size(), 2);
        for (const UnitRecord& r : units) {
            QCOMPARE(r.labels.size(), 2);
            QVERIFY(r.end.isValid());
            QCOMPARE(r.result, r.id == passed.id ? QStringLiteral("pass") : QStringLiteral("interrupted"));
            QCOMPARE(r.labels[1].slotHolds, r.id == passed.id ? QStringLiteral("loaded") : QStringLiteral("unknown"));
        }
        QCOMPARE(again.outbox().waiting(), 4);
        QVERIFY(verify(again).isEmpty());

        sql(path, QStringLiteral("UPDATE meta SET value = '%1' WHERE key = 'schema_version'").arg(LocalLedger::schemaVersion + 1));
        try {
            LocalLedger newer(path);
            QFAIL("a newer ledger was opened");
        } catch (const LedgerError& e) {
            QVERIFY2(QString::fromUtf8(e.what()).contains(QStringLiteral("version %1").arg(LocalLedger::schemaVersion + 1)), e.what());
        }
    }

    void theClaimAndTheWritesHoldTheFileItself()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("ledger.sqlite"));
        LocalLedger station(path);
        QVERIFY(station.created());
        QCOMPARE(station.unitCount(), 0);
        station.closeInterrupted(QStringLiteral("stopped"));
        const QString symlink = dir.filePath(QStringLiteral("link.sqlite"));
        const QString hardLink = dir.filePath(QStringLiteral("hard.sqlite"));
        QVERIFY(QFile::link(path, symlink));
        QCOMPARE(::link(QFile::encodeName(path).constData(), QFile::encodeName(hardLink).constData()), 0);
        const auto refusal = [](const auto& attempt) {
            try {
                attempt();
            } catch (const LedgerError& e) {
                return QString::fromUtf8(e.what());
            }
            return QString();
        };
        for (const QString& other : {symlink, hardLink})
            QVERIFY(refusal([&] { LocalLedger(other).closeInterrupted({}); }).contains(QStringLiteral("in use by another station")));
        station.begin(unit(QStringLiteral("A"), 1));

        // Another file put in its place: not written, and the write says why.
        const QString copy = dir.filePath(QStringLiteral("copy.sqlite"));
        QVERIFY(QFile::copy(path, copy));
        QCOMPARE(::rename(QFile::encodeName(copy).constData(), QFile::encodeName(path).constData()), 0);
        QFile swapped(path);
        QVERIFY(swapped.open(QIODevice::ReadOnly));
        const QByteArray before = swapped.readAll();
        swapped.close();
        QVERIFY(refusal([&] { station.begin(unit(QStringLiteral("A"), 2)); }).contains(QStringLiteral("another file was put in its place")));
        QVERIFY(swapped.open(QIODevice::ReadOnly));
        QCOMPARE(swapped.readAll(), before);
        QCOMPARE(LocalLedger(path, LocalLedger::Access::Reader).unitCount(), 1);
        QVERIFY(QFile::remove(path));
        QVERIFY_THROWS_EXCEPTION(LedgerError, station.outbox().markSentUpTo(1));
        QVERIFY(!QFile::exists(path));
    }

    void firstReleaseLedgerTakenForward()
    {
        QTemporaryDir dir;
        const QString path = firstReleaseLedger(dir);
        QVERIFY2(!path.isEmpty(), "the step of version 1 is no longer the first release's tables");
        const LocalLedger before(path, LocalLedger::Access::Reader);
        QCOMPARE(before.versionFound(), 1);
        const QList<UnitRecord> was = before.units();
        QCOMPARE(was.size(), 3);
        QVERIFY(verify(before).isEmpty());
        // Each link's text as the first release wrote it: these keys, no other.
        for (const ChainEntry& e : before.chain()) {
            const QJsonObject record = QJsonDocument::fromJson(e.body).object().value(QStringLiteral("record")).toObject();
            QCOMPARE(record.keys().join(QLatin1Char(',')),
                     QStringLiteral("adapterIdentity,end,fixtureName,fixturePath,host,id,labels,recipeName,recipeSha256,"
                                    "result,start,toolVersion,unitNumber,why"));
            QCOMPARE(record.value(QStringLiteral("labels")).toArray().first().toObject().keys().join(QLatin1Char(',')),
                     QStringLiteral("dataFramesSent,file,fileFrameSent,releaseConfirmed,sha256,size,slot,slotHolds"));
        }

        const StationOpening here{machineFile(dir, 'a')};
        LocalLedger after(path, LocalLedger::Access::Station, here);
        QCOMPARE(after.versionFound(), 1);
        QCOMPARE(after.machine(), QString(32, QLatin1Char('a')));
        QCOMPARE(texts(after.units()), texts(was));
        QVERIFY(verify(after).isEmpty());
        // The copy beside it is the file as it was.
        QCOMPARE(after.backup(), path + QStringLiteral(".v1-backup"));
        QCOMPARE(texts(LocalLedger(after.backup(), LocalLedger::Access::Reader).units()), texts(was));

        QCOMPARE(after.closeInterrupted(QStringLiteral("stopped")), 1);
        UnitRecord passed = unit(QStringLiteral("A"), 4), again = unit(QStringLiteral("A"), 5);
        passed.serial = again.serial = QStringLiteral("SN000001");
        again.start = passed.start.addSecs(1);
        after.begin(passed);
        passed.result = QStringLiteral("pass");
        after.close(passed);
        QVERIFY(!after.lastPass(QStringLiteral("SN000001"), QString(64, QLatin1Char('f'))));  // another recipe
        QCOMPARE(after.lastPass(QStringLiteral("SN000001"), passed.recipeSha256)->id, passed.id);
        again.reloadOf = passed.id.toString(QUuid::WithoutBraces);
        after.begin(again);
        again.result = QStringLiteral("fail");
        again.reason = again.labels[0].reason = QStringLiteral("taken_out");
        after.close(again);
        QCOMPARE(after.lastPass(QStringLiteral("SN000001"), passed.recipeSha256)->id, passed.id);
        UnitFilter serial;
        serial.serial = QStringLiteral("SN000001");
        const QList<UnitRecord> found = after.units(serial);
        QCOMPARE(found.size(), 2);
        QCOMPARE(found[1].reloadOf, again.reloadOf);
        QCOMPARE(found[1].labels[0].reason, QStringLiteral("taken_out"));
        QCOMPARE(after.units().value(2).reason, QStringLiteral("interrupted"));
        QVERIFY(verify(after).isEmpty());

        // A step changed after it was applied: the ledger is refused, unchanged.
        sql(path, QStringLiteral("UPDATE schema_version SET checksum = 'edited' WHERE version = 2"));
        QVERIFY_THROWS_EXCEPTION(SchemaChanged, LocalLedger(path, LocalLedger::Access::Station, here));
        QVERIFY_THROWS_EXCEPTION(SchemaChanged, LocalLedger(path, LocalLedger::Access::Reader));
    }

    void aLedgerBelongsToItsMachine()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("ledger.sqlite"));
        const QString a = machineFile(dir, 'a'), b = machineFile(dir, 'b');
        LocalLedger(path, LocalLedger::Access::Station, {a}).begin(unit(QStringLiteral("A"), 1));
        try {
            LocalLedger copied(path, LocalLedger::Access::Station, {b});
            QFAIL("a ledger of another machine was opened");
        } catch (const ForeignMachine& e) {
            const QString why = QString::fromUtf8(e.what());
            QVERIFY2(why.contains(QStringLiteral("new-station")) && why.contains(QStringLiteral("--adopt")), e.what());
        }
        QCOMPARE(LocalLedger(path, LocalLedger::Access::Reader).machine(), QString(32, QLatin1Char('a')));
        QCOMPARE(LocalLedger(path, LocalLedger::Access::Station, {b, true}).machine(), QString(32, QLatin1Char('b')));
        QCOMPARE(LocalLedger(path, LocalLedger::Access::Station, {b}).unitCount(), 1);
        QVERIFY_THROWS_EXCEPTION(ForeignMachine, LocalLedger(path, LocalLedger::Access::Station, {a}));
    }

    void fixturesWriteAtOnce()
    {
        QTemporaryDir dir;
        LocalLedger ledger(dir.filePath(QStringLiteral("ledger.sqlite")));
        std::vector<std::thread> fixtures;
        for (int f = 0; f < 4; ++f)
            fixtures.emplace_back([&ledger, f] {
                for (int n = 1; n <= 10; ++n) {
                    UnitRecord r = unit(QStringLiteral("F%1").arg(f), n);
                    ledger.begin(r);
                    r.result = QStringLiteral("fail");
                    ledger.close(r);
                }
            });
        for (std::thread& t : fixtures)
            t.join();
        QCOMPARE(ledger.units().size(), 40);
        QCOMPARE(ledger.chain().size(), 80);
        QVERIFY(verify(ledger).isEmpty());
    }

    void chainBreaksAreNamed()
    {
        const QString s = QStringLiteral("station");
        QList<ChainEntry> c;
        for (qint64 seq = 1; seq <= 3; ++seq)
            c.append(makeEntry(s, seq, QStringLiteral("begin"), unit(QStringLiteral("A"), seq),
                               seq == 1 ? firstPrevHash() : c.last().hash));
        QVERIFY(checkChain(s, c).isEmpty());
        // Record 1 rewritten with a hash of its own, record 2 pointed at it:
        // record 2's hash covers the hash it points back to, so it no longer holds.
        QList<ChainEntry> repointed = c;
        repointed[0] = makeEntry(s, 1, QStringLiteral("begin"), unit(QStringLiteral("B"), 1), firstPrevHash());
        repointed[1].prevHash = repointed[0].hash;
        // A link put in that points elsewhere, and one that points at the link before it.
        const QList<ChainEntry> unlinked{c[0], makeEntry(s, 2, QStringLiteral("close"), unit(QStringLiteral("A"), 9), QString(64, QLatin1Char('f'))), c[1], c[2]};
        const QList<ChainEntry> linked{c[0], makeEntry(s, 1, QStringLiteral("close"), unit(QStringLiteral("A"), 9), c[0].hash), c[1], c[2]};
        const struct {
            QList<ChainEntry> chain;
            const char* what;
            qint64 seq;
        } cases[] = {{repointed, "changed", 2}, {unlinked, "inserted", 2}, {linked, "inserted", 1}};
        for (const auto& x : cases) {
            const QList<Finding> found = checkChain(s, x.chain);
            QCOMPARE(found.size(), 1);
            QCOMPARE(found[0].what, QLatin1String(x.what));
            QCOMPARE(found[0].seq, x.seq);
        }
    }

    void changesAreNamed()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("ledger.sqlite"));
        LocalLedger ledger(path);
        QList<UnitRecord> units;
        for (int n = 1; n <= 4; ++n) {
            units.append(unit(QStringLiteral("A"), n));
            ledger.begin(units.last());
            units.last().result = QStringLiteral("pass");
            ledger.close(units.last());
        }
        const auto first = [&] { return verify(ledger).value(0); };

        sql(path, QStringLiteral("UPDATE units SET result = 'pass', why = '' WHERE unit_number = 2"));
        QVERIFY(verify(ledger).isEmpty());  // the same values again: nothing changed
        sql(path, QStringLiteral("UPDATE units SET result = 'fail' WHERE unit_number = 2"));
        QCOMPARE(first().what, QStringLiteral("changed"));
        QCOMPARE(first().unit, units[1].id);
        sql(path, QStringLiteral("UPDATE units SET result = 'pass' WHERE unit_number = 2"));

        sql(path, QStringLiteral("UPDATE chain SET body = replace(body, '\"pass\"', '\"fail\"') WHERE seq = 4"));
        QCOMPARE(first().what, QStringLiteral("changed"));
        QCOMPARE(first().seq, 4);
    }

    // Three rows to a page: what the paged read finds on a tampered ledger
    // is what verify() finds in the lists, said in the same order.
    void pagedReadFindsWhatTheListsFind()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("ledger.sqlite"));
        LocalLedger ledger(path);
        for (int n = 1; n <= 7; ++n) {
            UnitRecord r = unit(QStringLiteral("A"), n);
            ledger.begin(r);
            r.result = QStringLiteral("pass");
            if (n != 7)
                ledger.close(r);
        }
        const auto texts = [](const QList<Finding>& found) {
            QStringList out;
            for (const Finding& f : found)
                out << f.text;
            return out;
        };
        const auto paged = [&] {
            QList<Finding> out;
            ledger.read([&](const StoredLedger& l) {
                const VerifyTotals t = verifyStored(l, [&](const Finding& f) { out << f; }, 3);
                QCOMPARE(t.links, ledger.chain().size());
                QCOMPARE(t.units, ledger.units().size());
            });
            return texts(out);
        };
        QVERIFY(paged().isEmpty());
        const QList<ChainEntry> links = ledger.chain();
        const QString other = QUuid::createUuid().toString(QUuid::WithoutBraces);
        for (const QString& edit : {
                 QStringLiteral("UPDATE units SET why = 'edited' WHERE unit_number = 2"),
                 QStringLiteral("UPDATE labels SET file = 'x.epl' WHERE slot = 3 AND unit_id IN (SELECT id FROM units WHERE unit_number = 5)"),
                 QStringLiteral("DELETE FROM labels WHERE unit_id IN (SELECT id FROM units WHERE unit_number = 4)"),
                 QStringLiteral("DELETE FROM units WHERE unit_number = 4"),
                 QStringLiteral("INSERT INTO units SELECT '%1', host, fixture_name, fixture_path, adapter_identity, 99, "
                                "recipe_name, recipe_sha256, tool_version, start_time, end_time, result, why, serial, "
                                "reason, reload_of FROM units WHERE unit_number = 3").arg(other),
                 QStringLiteral("DELETE FROM chain WHERE seq = 9"),
                 // Another station's chain beside this one, broken at its first link.
                 QStringLiteral("INSERT INTO chain SELECT 'other', seq, lower(hex(randomblob(4)) || '-' || hex(randomblob(2)) || '-' || "
                                "hex(randomblob(2)) || '-' || hex(randomblob(2)) || '-' || hex(randomblob(6))), kind, body, "
                                "prev_hash, hash, sent FROM chain "
                                "WHERE seq <= 2"),
             }) {
            sql(path, edit);
            const QList<ChainEntry> now = ledger.chain();
            const QStringList expected = texts(verify(now, ledger.units()));
            QVERIFY(!expected.isEmpty());
            QCOMPARE(paged(), expected);
        }
        QVERIFY(links.size() > 9);
    }
};

QTEST_GUILESS_MAIN(LocalLedgerTest)
#include "tst_local_ledger.moc"
