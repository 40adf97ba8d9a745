// One fixture's loop in virtual time, on the virtual line: units placed,
// pulled and swapped as operators do, and what each unit got and what the
// ledger says of it.

#include "VirtualLink.h"
#include "ledger/LocalLedger.h"
#include "station/Fixture.h"
#include "station/PresenceRule.h"
#include "station/scan/ScanInbox.h"
#include "station/LoadReason.h"
#include "wire/LabelFile.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>

namespace {

// Units one after another on one fixture. A unit leaves `stays` seconds
// after its last frame other than a poll, or when its pull rule says so; the
// next arrives `absent` seconds after.
struct Player {
    struct Unit {
        // Pulled when this frame comes, given what the unit got so far; it
        // gets that frame only if `after` is set.
        std::function<bool(const QStringList& got, const QByteArray& frame)> pull;
        bool after = false;
    };
    QList<Unit> units;
    double firstAt = 0, absent = 3, stays = 5;
    // Set: a unit leaves this long after its last release (the recipe's second).
    double staysAfterLoad = -1;
    int present = 0, next = 0, releases = 0;
    double changeAt = 0, lastActivity = 0, loadedAt = -1;
    int lost = 0;  // frames written while the fixture was empty

    void leave(double t)
    {
        present = 0;
        changeAt = t + absent;
    }
    int at(double t)
    {
        if (present > 0 && staysAfterLoad < 0 && t - lastActivity > stays)
            leave(lastActivity + stays);
        if (present > 0 && staysAfterLoad >= 0 && loadedAt >= 0 && t - loadedAt > staysAfterLoad)
            leave(loadedAt + staysAfterLoad);
        if (present == 0 && next < units.size() && t >= changeAt) {
            present = ++next;
            lastActivity = t;
            releases = 0;
            loadedAt = -1;
        }
        return present;
    }
    void frame(const QStringList& got, const QByteArray& payload, double t)
    {
        if (at(t) == 0) {
            ++lost;
            return;
        }
        if (payload != "S")
            lastActivity = t;
        if (payload == "#End#" && ++releases == 2)
            loadedAt = t;
        const Unit& u = units[present - 1];
        if (u.pull && !u.after && u.pull(got, payload))
            leave(t);
    }
    void framed(const QStringList& got, double t)
    {
        if (present == 0 || got.isEmpty())
            return;
        const Unit& u = units[present - 1];
        if (u.pull && u.after && u.pull(got.mid(0, got.size() - 1), got.last().toLatin1()))
            leave(t);
    }
};

bool isData(const QString& p)
{
    return !p.isEmpty() && p[0].isDigit();
}

struct Rig {
    std::shared_ptr<Timeline> timeline = std::make_shared<Timeline>();
    std::shared_ptr<DeviceScript> script = std::make_shared<DeviceScript>();
    VirtualClock clock{timeline};
    Player player;
    QTemporaryDir dir;
    std::unique_ptr<Ledger::LocalLedger> ledger;
    StationShared shared;
    FixtureProgress progress;
    FixtureOption fixture{QStringLiteral("A"), QStringLiteral("/virtual/a"), std::nullopt};
    std::function<void()> onStop;  // with every stop check of the loop
    ScanInbox* scans = nullptr;    // set: units are scanned
    double start = timeline->now;

    Rig()
    {
        ledger = std::make_unique<Ledger::LocalLedger>(dir.filePath(QStringLiteral("ledger.sqlite")));
        shared.ledger = ledger.get();
        shared.settings = QStringLiteral("9600,n,8,1");
        for (const auto& [slot, bytes] : {std::pair{1, QByteArray("ship label 24 bytes long")},
                                          {3, QByteArray("inner\r\n\x00\xff label", 15)}}) {
            RecipeLabel l;
            l.slot = slot;
            l.file = QStringLiteral("slot%1.epl").arg(slot);
            l.facts.path = l.file;
            l.facts.size = bytes.size();
            l.bytes = bytes;
            shared.recipe.labels << l;
        }
        script->onFrame = [this](const QByteArray& payload) {
            const int unit = player.at(timeline->now);
            player.frame(unit ? script->framesByUnit.value(unit) : QStringList(), payload, timeline->now);
        };
        script->unitAt = [this](double t) { return player.at(t); };
    }

    // Runs the loop until `seconds` of virtual time went by with no load running.
    void run(double seconds)
    {
        FixtureSeams seams;
        seams.clock = &clock;
        seams.locate = [](const FixtureOption& f, ChosenPort& where, QString&) {
            where.path = f.selector;
            return true;
        };
        seams.open = [this](const QString&, const LineSettings&) -> std::unique_ptr<SerialLine> {
            return std::make_unique<VirtualLine>(timeline, script);
        };
        seams.stop = [this, seconds] {
            // Frames the far end got are credited to the unit that got them;
            // a pull after a frame happens here, once it was received.
            if (player.present > 0)
                player.framed(script->framesByUnit.value(player.present), timeline->now);
            if (onStop)
                onStop();
            if (timeline->now - start > seconds && progress.label.load() < 0)
                throw Wire::Stopped{};
        };
        player.changeAt = start + player.firstAt;
        runFixture(0, fixture, shared, progress, seams, scans);
    }

    // "pass" or "fail: slot 1 loaded, slot 3 untouched", by unit number.
    QStringList records() const
    {
        QList<Ledger::UnitRecord> units = ledger->units();
        std::sort(units.begin(), units.end(), [](const auto& a, const auto& b) { return a.unitNumber < b.unitNumber; });
        QStringList out;
        for (const Ledger::UnitRecord& r : units) {
            QStringList held;
            for (const Ledger::LabelRecord& l : r.labels)
                held << QStringLiteral("slot %1 %2").arg(l.slot).arg(l.slotHolds);
            out << (r.result == QStringLiteral("pass") ? r.result : r.result + QStringLiteral(": ") + held.join(QStringLiteral(", ")));
        }
        return out;
    }

    // What a unit gets from a whole recipe, polls left out.
    QStringList wholeRecipe() const
    {
        QStringList out;
        for (const RecipeLabel& l : shared.recipe.labels) {
            out << QStringLiteral("#Externl%1.ejf#").arg(l.slot) << QStringLiteral("%%1#").arg(l.bytes.size());
            for (const char c : l.bytes)
                out << QString::number(quint8(c));
            out << QStringLiteral("#File#") << QStringLiteral("#End#");
        }
        return out;
    }
};

using Pull = std::function<bool(const QStringList&, const QByteArray&)>;

Pull atFrame(const QString& payload, int nth)
{
    return [payload, nth](const QStringList& got, const QByteArray& frame) {
        return frame == payload.toLatin1() && got.count(payload) == nth - 1;
    };
}

Pull withBytesToGo(int toGo)
{
    // Of the last label, slot 3: 15 bytes.
    return [toGo](const QStringList& got, const QByteArray& frame) {
        const qsizetype from = got.lastIndexOf(QStringLiteral("#Externl3.ejf#"));
        if (from < 0 || !isData(QString::fromLatin1(frame)))
            return false;
        const auto sent = std::count_if(got.begin() + from, got.end(), isData);
        return sent == 15 - toGo;
    };
}

}  // namespace

class FixtureLoopTest : public QObject {
    Q_OBJECT

private slots:
    void unitsAsOperatorsHandleThem_data();
    void unitsAsOperatorsHandleThem();
    void aUnitAnsweringWrongIsRecordedOnce();
    void noDoubtCrossesUnits_data();
    void noDoubtCrossesUnits();
    void theRunEndsWithItsLastUnit();
    void scansNameTheUnits();
    void theRuleInMilliseconds_data();
    void theRuleInMilliseconds();
    void eachEndingHasItsReasonCode_data();
    void eachEndingHasItsReasonCode();
};

void FixtureLoopTest::unitsAsOperatorsHandleThem_data()
{
    QTest::addColumn<QList<Player::Unit>>("units");
    QTest::addColumn<double>("absent");
    QTest::addColumn<bool>("presenceLine");
    QTest::addColumn<QStringList>("records");
    QTest::addColumn<QString>("why");  // in the first record

    const Player::Unit whole;
    QTest::newRow("swapped 0.5 s apart, each taken out 0.3 s after its last release")
        << QList<Player::Unit>{whole, whole, whole, whole} << 0.5 << false << QStringList{"pass", "pass", "pass", "pass"} << "";
    QTest::newRow("pulled at its second slot name, next 3 s later")
        << QList<Player::Unit>{{atFrame("#Externl3.ejf#", 1), false}, whole} << 3.0 << false
        << QStringList{"fail: slot 1 loaded, slot 3 untouched", "pass"} << "slot 3's name: no answer within 2 s: taken out?";
    QTest::newRow("pulled at its first length, next 3 s later")
        << QList<Player::Unit>{{atFrame("%24#", 1), false}, whole} << 3.0 << false
        << QStringList{"fail: slot 1 untouched, slot 3 untouched", "pass"} << "slot 1's length: no answer within 1 s";
    QTest::newRow("pulled with two bytes to go, next 3 s later")
        << QList<Player::Unit>{{withBytesToGo(2), false}, whole} << 3.0 << false
        << QStringList{"fail: slot 1 loaded, slot 3 written", "pass"} << "slot 3's release: no answer within 1.8 s: taken out?";
    // A swap as fast as an operator's: the retried frame would go to the next unit.
    QTest::newRow("pulled at its second slot name, next 1 s later")
        << QList<Player::Unit>{{atFrame("#Externl3.ejf#", 1), false}, whole} << 1.0 << false
        << QStringList{"fail: slot 1 loaded, slot 3 untouched", "pass"} << "slot 3's name: no answer within 2 s";
    QTest::newRow("pulled at its first length, next 1 s later")
        << QList<Player::Unit>{{atFrame("%24#", 1), false}, whole} << 1.0 << false
        << QStringList{"fail: slot 1 untouched, slot 3 untouched", "pass"} << "slot 1's length: no answer within 1 s";
    QTest::newRow("pulled at its first release, next 1 s later")
        << QList<Player::Unit>{{atFrame("#End#", 1), false}, whole} << 1.0 << false
        << QStringList{"fail: slot 1 written, slot 3 untouched", "pass"} << "slot 1's release: no answer within 1.8 s";
    QTest::newRow("refusing its first slot name: slot 3 never tried, never loaded again while it stays")
        << QList<Player::Unit>{{[](const QStringList& got, const QByteArray&) { return got.count(QStringLiteral("S")) > 60; }, false}, whole}
        << 1.0 << false << QStringList{"fail: slot 1 untouched, slot 3 untouched", "pass"} << "slot 1: the slot name Externl1.ejf was not taken after 10 tries";
    // The drop counts once it lasted 0.1 s: seven more frames go out meanwhile.
    QTest::newRow("presence line: pulled mid-stream, next 0.5 s later")
        << QList<Player::Unit>{{withBytesToGo(12), true}, whole} << 0.5 << true
        << QStringList{"fail: slot 1 loaded, slot 3 incomplete", "pass"} << "slot 3: taken out during slot 3; 11 of 15 bytes sent; the slot holds an incomplete file";
    // Its "T" was in before the line dropped: that answer counts.
    QTest::newRow("presence line: pulled right after its last release, next 0.5 s later")
        << QList<Player::Unit>{{atFrame("#End#", 2), true}, whole} << 0.5 << true << QStringList{"pass", "pass"} << "";
}

void FixtureLoopTest::unitsAsOperatorsHandleThem()
{
    QFETCH(QList<Player::Unit>, units);
    QFETCH(double, absent);
    QFETCH(bool, presenceLine);
    QFETCH(QStringList, records);
    QFETCH(QString, why);
    Rig rig;
    rig.player.units = units;
    rig.player.absent = absent;
    rig.player.firstAt = 0.5;
    rig.script->presenceLine = presenceLine;
    const QByteArray tag = QTest::currentDataTag();
    if (tag.startsWith("swapped 0.5 s apart"))
        rig.player.staysAfterLoad = 0.3;  // taken out 0.3 s after the last release
    if (presenceLine)
        rig.fixture.presence = ModemLine::Dsr;
    if (QByteArray(QTest::currentDataTag()).startsWith("refusing"))
        rig.script->replies[QStringLiteral("name")] = QStringLiteral("x");
    // The first unit's refusal is its own: the next one takes names.
    if (QByteArray(QTest::currentDataTag()).startsWith("refusing"))
        rig.script->onFrame = [&rig, inner = rig.script->onFrame](const QByteArray& payload) {
            inner(payload);
            if (rig.player.present == 2)
                rig.script->replies.remove(QStringLiteral("name"));
        };
    rig.run(120);

    QCOMPARE(rig.records(), records);
    const QList<Ledger::UnitRecord> all = rig.ledger->units();
    const auto first = std::min_element(all.begin(), all.end(), [](const auto& a, const auto& b) { return a.unitNumber < b.unitNumber; });
    QVERIFY2(first->why.contains(why), qPrintable(first->why));
    for (int unit = 1; unit <= units.size(); ++unit) {
        QStringList got = rig.script->framesByUnit.value(unit);
        got.removeAll(QStringLiteral("S"));
        // Every unit that passed got the whole recipe once, from its first slot name.
        if (records.value(unit - 1) == QStringLiteral("pass"))
            QCOMPARE(got, rig.wholeRecipe());
        // No frame of a load reaches a unit before its own slot name.
        QVERIFY2(got.isEmpty() || got.first().startsWith(QStringLiteral("#Extern")), qPrintable(got.join(u' ')));
    }
    // On a presence line nothing but the frames of one debounce goes out
    // while the fixture is empty.
    if (presenceLine)
        QVERIFY2(rig.player.lost <= 7, qPrintable(QString::number(rig.player.lost)));
}

void FixtureLoopTest::aUnitAnsweringWrongIsRecordedOnce()
{
    Rig rig;
    rig.player.units = {Player::Unit{}};
    rig.player.stays = 10;  // polls do not keep it: it leaves 10 s after arriving
    rig.script->replies[QStringLiteral("poll")] = QStringLiteral("\x15x");
    rig.run(40);
    QCOMPARE(rig.records(), QStringList{"fail: slot 1 untouched, slot 3 untouched"});
    QCOMPARE(rig.ledger->units().first().why,
             QStringLiteral("unit answers \"\\x15x\" to the poll: wrong line settings or a faulty unit"));
    QStringList got = rig.script->framesByUnit.value(1);
    got.removeAll(QStringLiteral("S"));
    QCOMPARE(got, QStringList());
}

void FixtureLoopTest::noDoubtCrossesUnits_data()
{
    QTest::addColumn<QStringList>("records");
    QTest::addColumn<QString>("why");  // in the first record
    QTest::newRow("one poll reply lost while a passed unit stays") << QStringList{"pass"} << "";
    QTest::newRow("the station stalls 5 s mid-stream while the unit is swapped")
        << QStringList{"fail: slot 1 incomplete, slot 3 untouched", "pass"} << "the station stalled for 5.0 s during slot 1";
}

void FixtureLoopTest::noDoubtCrossesUnits()
{
    QFETCH(QStringList, records);
    QFETCH(QString, why);
    Rig rig;
    const bool stall = QByteArray(QTest::currentDataTag()).startsWith("the station stalls");
    rig.player.units = stall ? QList<Player::Unit>{Player::Unit{}, Player::Unit{}} : QList<Player::Unit>{Player::Unit{}};
    rig.player.stays = stall ? 5 : 20;
    rig.player.absent = 1;
    int pollsAfterLoad = 0;
    bool stalled = false;
    rig.onStop = [&rig, &stalled, stall] {
        const QStringList got = rig.script->framesByUnit.value(1);
        if (stall && !stalled && std::count_if(got.begin(), got.end(), isData) == 4) {
            stalled = true;
            rig.player.leave(rig.timeline->now);
            rig.timeline->now += 5.0;
        }
    };
    rig.script->onFrame = [&rig, &pollsAfterLoad, stall, inner = rig.script->onFrame](const QByteArray& payload) {
        inner(payload);
        const QStringList got = rig.script->framesByUnit.value(1);
        if (!stall && got.count(QStringLiteral("#End#")) == 2 && payload == "S") {
            // The third poll after the load goes unanswered once.
            if (++pollsAfterLoad == 3)
                rig.script->replies[QStringLiteral("poll")] = QString();
            else
                rig.script->replies.remove(QStringLiteral("poll"));
        }
    };
    rig.run(60);
    QCOMPARE(rig.records(), records);
    QVERIFY2(rig.ledger->units().first().why.contains(why), qPrintable(rig.ledger->units().first().why));
    if (!stall)
        QVERIFY(pollsAfterLoad > 10);
    QStringList last = rig.script->framesByUnit.value(int(records.size()));
    last.removeAll(QStringLiteral("S"));
    QCOMPARE(last, rig.wholeRecipe());
}

void FixtureLoopTest::theRunEndsWithItsLastUnit()
{
    Rig rig;
    rig.shared.unitsLimit = 2;
    rig.player.units = {Player::Unit{}, Player::Unit{}, Player::Unit{}};
    rig.player.absent = 0.5;
    rig.player.staysAfterLoad = 0.3;
    rig.run(300);
    QCOMPARE(rig.records(), (QStringList{"pass", "pass"}));
    QVERIFY(rig.timeline->now - rig.start < 60);
}

void FixtureLoopTest::scansNameTheUnits()
{
    // Unit 1 scanned as it comes; unit 2 placed unscanned and scanned 2 s
    // later, then pulled mid-stream while unit 3 is scanned; unit 4 scanned
    // with unit 1's serial, unit 5 with no serial at all.
    Rig rig;
    ScanInbox inbox;
    rig.scans = &inbox;
    rig.shared.recipe.serial.given = true;
    rig.shared.recipe.serial.patternText = QStringLiteral("^SN[0-9]{6}$");
    rig.shared.recipe.serial.pattern = QRegularExpression(QStringLiteral("^SN[0-9]{6}$"));
    rig.player.units = QList<Player::Unit>(5, Player::Unit{});
    rig.player.absent = 1;
    const QStringList serials{"SN000001", "SN000002", "SN000003", "SN000001", "BAD"};
    int arrived = 0;
    double arrivedAt = 0;
    bool pulled = false;
    rig.onStop = [&] {
        const double now = rig.timeline->now;
        if (rig.player.present > arrived) {
            arrived = rig.player.present;
            arrivedAt = now;
            if (arrived != 2 && arrived != 3)
                inbox.push({serials[arrived - 1], now, {}});
        }
        if (arrived == 2 && now - arrivedAt >= 2.0 && now - arrivedAt < 2.01)
            inbox.push({serials[1], now, {}});
        const QStringList got = rig.script->framesByUnit.value(2);
        if (!pulled && arrived == 2 && std::count_if(got.begin(), got.end(), isData) == 10) {
            pulled = true;
            rig.player.leave(now);
            inbox.push({serials[2], now, {}});
        }
    };
    rig.run(60);

    QList<Ledger::UnitRecord> units = rig.ledger->units();
    std::sort(units.begin(), units.end(), [](const auto& a, const auto& b) { return a.unitNumber < b.unitNumber; });
    QStringList records;
    for (const Ledger::UnitRecord& r : units)
        records << r.serial + u' ' + r.result + u' ' + r.reason;
    QCOMPARE(records, (QStringList{"SN000001 pass ", "SN000002 fail scanned_over", "SN000003 pass "}));
    QVERIFY2(units[1].why.contains(QStringLiteral("another unit was scanned during slot 1; 10 of 24 bytes sent")), qPrintable(units[1].why));
    // Unscanned, refused or a duplicate: nothing but polls.
    for (int unit : {4, 5}) {
        QStringList got = rig.script->framesByUnit.value(unit);
        QVERIFY(!got.isEmpty());
        got.removeAll(QStringLiteral("S"));
        QCOMPARE(got, QStringList());
    }
    QStringList third = rig.script->framesByUnit.value(3);
    third.removeAll(QStringLiteral("S"));
    QCOMPARE(third, rig.wholeRecipe());
}

// The presence rule alone. A script of "<ms><what>" steps: S answered, x
// wrong, - silent poll; ^ v a presence line read up or down; L a load
// begins, t a stop check of it, o O whether it is taken out with the line
// down or up; E a load ends, D it ends in doubt (with the line as last read).
void FixtureLoopTest::theRuleInMilliseconds_data()
{
    QTest::addColumn<bool>("line");
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("verdicts");
    QTest::addColumn<int>("pollWait");  // ms, after the script

    QTest::newRow("placed after two answers, not one") << false << "0- 250S 500- 750S 1000S" << "1000:placed" << 1000;
    QTest::newRow("wrong for 3 s, recorded once") << false << "0x 1000x 2000x 2999x 3000x" << "3000:wrong" << 250;
    QTest::newRow("a wrong answer between right ones resets")
        << false << "0x 1000x 2000S 3000x 4000x" << "" << 1000;
    QTest::newRow("stays through one lost reply, gone after two")
        << false << "0L 5000E 5150- 5400S 5550- 5800S 5950- 6200-" << "6200:gone" << 1000;
    QTest::newRow("a unit that stays is waited for 250 ms, not the poll's second")
        << false << "0S 250S 500L 5000E" << "250:placed" << 250;
    QTest::newRow("a stall is a gap since the last stop check, not since the load began")
        << false << "0L 400t 800t 1200t 1800t" << "1800:stall" << 1000;
    QTest::newRow("a plain line's doubt: whoever answers next is placed anew")
        << false << "0L 3000D 3250S 3500S" << "3500:placed" << 1000;
    QTest::newRow("presence: one answer on a steady line places")
        << true << "0^ 50^ 100^ 150S" << "150:placed" << 1000;
    QTest::newRow("presence: a dropout shorter than the debounce is no drop")
        << true << "0^ 200L 300o 350o 399O 500o 590o 610o" << "610:out" << 1000;
    QTest::newRow("presence: silent but present fails once, stays failed until the line drops")
        << true << "0^ 100^ 1100- 2100- 3100- 4100- 5100v 5150v 5200v" << "3100:silent 5200:gone" << 1000;
    // Read every 50 ms, as the loop does; polled whenever steady, never answered.
    QStringList bouncing;
    for (int ms = 0; ms < 5000; ms += 50)
        bouncing << QString::number(ms) + (ms % 400 < 200 ? (ms % 400 == 150 ? "-" : "^") : "v");
    QTest::newRow("presence: a line bouncing every 200 ms with nobody answering makes nothing")
        << true << bouncing.join(u' ') << "" << 1000;
    QTest::newRow("presence: a doubt while the line stays up is the same unit")
        << true << "0^ 150S 200L 3000D 3250S 3500S 4000v 4150v" << "150:placed 4150:gone" << 1000;
}

void FixtureLoopTest::theRuleInMilliseconds()
{
    QFETCH(bool, line);
    QFETCH(QString, script);
    QFETCH(QString, verdicts);
    QFETCH(int, pollWait);
    PresenceRule rule(line);
    QStringList said;
    bool up = false;
    const char* names[] = {"", "placed", "wrong", "silent", "gone"};
    for (const QString& step : script.split(u' ')) {
        const double at = step.chopped(1).toInt() / 1000.0;
        const QChar what = step.back();
        PresenceRule::Verdict v = PresenceRule::Verdict::None;
        if (what == u'S' || what == u'x' || what == u'-') {
            Sighting seen;
            seen.kind = what == u'S' ? Sighting::Kind::Answered : what == u'x' ? Sighting::Kind::WrongAnswer : Sighting::Kind::Silent;
            seen.latency = 0.02;
            v = rule.polled(at, seen);
        } else if (what == u'^' || what == u'v') {
            up = what == u'^';
            v = rule.lineRead(at, up);
        } else if (what == u'L') {
            rule.loadBegins(at);
        } else if (what == u't') {
            if (rule.stalled(at))
                said << step.chopped(1) + QStringLiteral(":stall");
        } else if (what == u'o' || what == u'O') {
            if (rule.takenOut(at, what == u'O'))
                said << step.chopped(1) + QStringLiteral(":out");
        } else if (what == u'E' || what == u'D') {
            rule.loadEnded(at, what == u'D', up);
        }
        if (v == PresenceRule::Verdict::Wrong || v == PresenceRule::Verdict::Silent)
            rule.recordedWithoutLoad();
        if (v != PresenceRule::Verdict::None)
            said << step.chopped(1) + u':' + QLatin1String(names[int(v)]);
    }
    QCOMPARE(said.join(u' '), verdicts);
    QCOMPARE(qRound(rule.pollWait() * 1000), pollWait);
}

void FixtureLoopTest::eachEndingHasItsReasonCode_data()
{
    QTest::addColumn<QString>("kind");  // the command the unit answers otherwise
    QTest::addColumn<QString>("reply");
    QTest::addColumn<int>("failAfterWrites");
    QTest::addColumn<QString>("event");  // silent|pulled|stop|changed: what happens 1 s in
    QTest::addColumn<QString>("reason");
    QTest::newRow("loaded") << "" << "" << 0 << "" << "";
    QTest::newRow("silent") << "poll" << "" << 0 << "" << "no_answer";
    QTest::newRow("wrong poll answer") << "poll" << "s" << 0 << "" << "wrong_answer";
    QTest::newRow("name refused") << "name" << "X" << 0 << "" << "refused_name";
    QTest::newRow("length refused") << "length" << "X" << 0 << "" << "refused_length";
    QTest::newRow("line lost mid-stream") << "" << "" << 4 << "" << "line_lost";
    QTest::newRow("no release") << "end" << "X" << 0 << "" << "no_release";
    QTest::newRow("silent mid-load") << "" << "" << 0 << "silent" << "no_answer";
    QTest::newRow("its presence line dropped") << "" << "" << 0 << "pulled" << "taken_out";
    QTest::newRow("stop signal") << "" << "" << 0 << "stop" << "interrupted";
    QTest::newRow("file changed") << "" << "" << 0 << "changed" << "file_changed";
}

void FixtureLoopTest::eachEndingHasItsReasonCode()
{
    QFETCH(QString, kind);
    QFETCH(QString, reply);
    QFETCH(int, failAfterWrites);
    QFETCH(QString, event);
    QFETCH(QString, reason);
    auto timeline = std::make_shared<Timeline>();
    auto script = std::make_shared<DeviceScript>();
    if (!kind.isEmpty())
        script->replies[kind] = reply;
    script->failAfterWrites = failAfterWrites;
    const double start = timeline->now;
    if (event == QLatin1String("silent"))
        script->unitAt = [start](double at) { return at < start + 1 ? 1 : 0; };
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("label.bin"));
    const auto write = [&](const QByteArray& bytes) {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    };
    write(QByteArray(200, 'a'));
    const LabelFileFacts facts = checkLabelFile(file);
    if (event == QLatin1String("changed"))
        script->onFrame = [&](const QByteArray& payload) {
            if (payload.startsWith('#'))
                write("other");
        };
    VirtualClock clock(timeline);
    MSCommLib::MSComm port([&](short, const LineSettings&) -> std::unique_ptr<SerialLine> {
        return std::make_unique<VirtualLine>(timeline, script);
    });
    Wire::LoadPolicy policy;
    policy.readEarly = true;
    policy.doubtEndsLoad = true;
    Wire::LoadSequence sequence(clock, port, policy, [&] {
        if (event == QLatin1String("stop") && timeline->now > start + 1)
            throw Wire::Stopped{4, QStringLiteral("stopped by SIGTERM")};
        if (event == QLatin1String("pulled") && timeline->now > start + 1)
            throw Wire::UnitGone{QStringLiteral("taken out"), QStringLiteral("taken_out")};
    });
    const Wire::LoadOutcome out = sequence.openAndLoad(QStringLiteral("9600,n,8,1"), 3, Wire::Label{facts, std::nullopt});
    QCOMPARE(reasonOf(out), reason);
    QCOMPARE(reason.isEmpty(), out.loaded());
}

QTEST_GUILESS_MAIN(FixtureLoopTest)
#include "tst_fixture_loop.moc"
