#include "Fixture.h"

#include "Presence.h"
#include "UnitLoad.h"
#include "console/StopSignal.h"
#include "ledger/CentralForwarder.h"
#include "ledger/CentralLookup.h"
#include "ledger/LocalLedger.h"
#include "link/Errors.h"
#include "link/MSComm.h"
#include "link/QtSerialLine.h"
#include "link/Wait.h"
#include "scan/ScanInbox.h"

#include <QFileInfo>
#include <algorithm>
#include <cstring>
#include <memory>

namespace {

// How often an absent port found by number or USB identity is looked for
// again: that lists every port. A path is only looked at, so more often.
constexpr double kLookAgain = 1.0;
// A ledger that cannot be written is tried again after this long, then
// twice as long each time, up to the longest.
constexpr double kLedgerRetryFirst = 1.0;
constexpr double kLedgerRetryLongest = 30.0;
// A modem status line is read this often while no load runs.
constexpr double kPinLookEvery = 0.05;
// The presence waits need no fine slices: a stop is seen within this.
constexpr double kCoarseSlice = 0.1;

// The run has all its units: a fixture without a unit ends.
struct RunFull {};
// The fixture starts no more units; already said why.
struct Halt {};

bool isPath(const QString& selector)
{
    bool number = false;
    selector.toInt(&number);
    return !number && !selector.startsWith(QStringLiteral("usb:"));
}

// A reply as the operator can read it: printable ASCII as it is, the rest as \xNN.
QString shownReply(const QString& reply)
{
    QString out;
    for (const QChar c : reply.left(12))
        out += c.unicode() >= 0x20 && c.unicode() < 0x7f ? QString(c)
                                                          : QStringLiteral("\\x%1").arg(c.unicode() & 0xff, 2, 16, QLatin1Char('0'));
    return out;
}

class ProgressFeed final : public Wire::LoadObserver {
public:
    explicit ProgressFeed(FixtureProgress& progress) : progress_(progress) {}
    void entered(Wire::Stage stage) override
    {
        if (stage == Wire::Stage::Polling)
            progress_.sent.store(0, std::memory_order_relaxed);
        progress_.stage.store(int(stage), std::memory_order_relaxed);
    }
    void streamed(qint64 sent, qint64) override { progress_.sent.store(sent, std::memory_order_relaxed); }

private:
    FixtureProgress& progress_;
};

class FixtureLoop {
public:
    FixtureLoop(int index, const FixtureOption& fixture, StationShared& shared, FixtureProgress& progress,
                const FixtureSeams& seams, ScanInbox* scans)
        : index_(index), fixture_(fixture), shared_(shared), progress_(progress), seams_(seams), clock_(*seams.clock),
          feed_(progress), rule_(fixture.presence.has_value(), numbers(shared)), scans_(scans)
    {
    }

    void run()
    {
        try {
            for (;;) {
                const QString wrong = waitForUnit();
                const bool stays = wrong.isEmpty() ? loadUnit() : recordWrongAnswer(wrong);
                if (stays)
                    waitUntilGone();
                say(EventKind::Gone);
                unit_ = 0;
                unitSerial_.clear();
            }
        } catch (const Wire::Stopped&) {
        } catch (const RunFull&) {
        } catch (const Halt&) {
        } catch (const std::exception& error) {
            say(EventKind::Halted, QString::fromLocal8Bit(error.what()));
        }
        closeLine();
    }

private:
    static PresenceNumbers numbers(const StationShared& shared)
    {
        PresenceNumbers n;
        n.goneAfter = shared.goneAfter;
        return n;
    }

    void say(EventKind kind, const QString& text = {}, const QString& result = {})
    {
        StationEvent e;
        e.fixture = index_;
        e.kind = kind;
        e.unit = unit_;
        e.label = int(progress_.label.load());
        e.text = text;
        e.result = result;
        e.serial = unitSerial_;
        shared_.events.push(std::move(e));
    }

    // Runs before and between the slices of every wait.
    void stopCheck()
    {
        progress_.alive.store(clock_.now(), std::memory_order_relaxed);
        if (const int signal = stopSignal(); signal != 0) {
            const char* name = sigabbrev_np(signal);
            throw Wire::Stopped{stopExitStatus(), name ? QStringLiteral("stopped by SIG%1").arg(QLatin1String(name))
                                                       : QStringLiteral("stopped by signal %1").arg(signal)};
        }
        if (seams_.stop)
            seams_.stop();
        // A unit that was begun is loaded to its end; only an empty fixture stops.
        if (!loading_ && !recording_ && shared_.full.load(std::memory_order_relaxed))
            throw RunFull{};
        // While the station did not look, anyone may have been put in.
        if (loading_)
            if (const std::optional<double> gap = rule_.stalled(clock_.now()))
                throw Wire::UnitGone{QStringLiteral("the station stalled for %1 s").arg(*gap, 0, 'f', 1),
                                     QStringLiteral("stalled")};
    }

    // Before every frame of a load and while an answer is due and not in:
    // nothing more goes to a fixture whose unit was taken out.
    void doubtCheck()
    {
        // The operator scanned the next unit: this one is being swapped.
        if (scans_ && scans_->pending())
            throw Wire::UnitGone{QStringLiteral("another unit was scanned"), QStringLiteral("scanned_over")};
        if (!fixture_.presence || !port_)
            return;
        const std::optional<bool> up = port_->modemLineAsserted(*fixture_.presence);
        if (up && rule_.takenOut(clock_.now(), *up))
            throw Wire::UnitGone{QStringLiteral("taken out"), QStringLiteral("taken_out")};
    }

    double lookAgain() const { return isPath(fixture_.selector) ? rule_.numbers().pollEveryEmpty : kLookAgain; }

    bool openLine(QString& why)
    {
        ChosenPort where;
        if (!seams_.locate(fixture_, where, why))
            return false;
        const QString path = where.path;
        const auto open = seams_.open;
        auto port = std::make_unique<MSCommLib::MSComm>(
            [path, open](short, const LineSettings& settings) { return open(path, settings); });
        try {
            port->setSettings(shared_.settings);
            port->setPortOpen(true);
        } catch (const PelmoraError& error) {
            why = error.report();
            return false;
        }
        where_ = where;
        port_ = std::move(port);
        sequence_ = std::make_unique<Wire::LoadSequence>(clock_, *port_, shared_.policy, [this] { stopCheck(); },
                                                         &feed_, [this] { doubtCheck(); });
        presence_ = std::make_unique<PollPresence>(*port_, clock_, [this] { stopCheck(); });
        return true;
    }

    // A wait that wakes ten times a second, not every few milliseconds: an
    // idle fixture costs next to nothing.
    void coarseWait(double seconds)
    {
        const double deadline = clock_.now() + seconds;
        for (double left = seconds; left > kCoarseSlice; left = deadline - clock_.now()) {
            stopCheck();
            clock_.sleepFor(kCoarseSlice);
        }
        stopCheck();
        waitOn(clock_, std::max(0.0, deadline - clock_.now()));
    }

    void closeLine()
    {
        presence_.reset();
        sequence_.reset();
        port_.reset();  // closes the line
    }

    // One poll on the open line. A lost line is closed and counts as silence.
    Sighting look()
    {
        try {
            return presence_->poll(rule_.pollEvery(), rule_.pollWait());
        } catch (const PelmoraError&) {
            closeLine();
            return {};
        }
    }

    // The fixture's presence line; a line that cannot report one halts the fixture.
    bool pinAsserted()
    {
        const std::optional<bool> pin = port_->modemLineAsserted(*fixture_.presence);
        if (!pin) {
            say(EventKind::Halted, QStringLiteral("presence=%1: %2 cannot report its modem status lines; "
                                                  "this fixture starts no units")
                                       .arg(QLatin1String(modemLineName(*fixture_.presence)), where_.path));
            throw Halt{};
        }
        return *pin;
    }

    // The words and the record of an earlier pass of this serial, or
    // nothing. The central ledger is asked too, when it answers within 1 s.
    std::optional<Ledger::UnitRecord> earlierPass(const QString& serial)
    {
        if (std::optional<Ledger::UnitRecord> local = shared_.ledger->lastPass(serial, shared_.recipe.sha256))
            return local;
        if (shared_.lookup) {
            const Ledger::CentralLookup::Answer answer = shared_.lookup->lastPass(serial, shared_.recipe.sha256);
            if (answer.answered)
                return answer.lastPass;
        }
        return std::nullopt;
    }

    // Takes every scan that came: the last good one names the next unit
    // to load, a refused one is said and names none.
    void readScans()
    {
        if (!scans_)
            return;
        const ScannerStatus status = scans_->status();
        if (status.changes != scannerChanges_) {
            scannerChanges_ = status.changes;
            if (status.state == ScannerState::Halted) {
                say(EventKind::Halted, QStringLiteral("scanner %1: %2; this fixture starts no units").arg(fixture_.scanner, status.reason));
                throw Halt{};
            }
            scannerProblem_ = status.state == ScannerState::Gone
                                  ? QStringLiteral("scanner %1 gone (%2): looking for it again").arg(fixture_.scanner, status.reason)
                                  : QString();
        }
        while (std::optional<Scan> scan = scans_->take()) {
            serial_.reset();
            reloadOf_.clear();
            QString refusal = scan->refusal;
            if (refusal.isEmpty())
                refusal = shared_.recipe.serial.refusal(scan->text).value_or(QString());
            std::optional<Ledger::UnitRecord> before;
            if (refusal.isEmpty())
                before = earlierPass(scan->text);
            if (refusal.isEmpty() && before && !shared_.recipe.serial.allowDuplicates)
                refusal = QStringLiteral("%1 already passed this recipe (unit %2 at %3, %4, record %5)")
                              .arg(scan->text)
                              .arg(before->unitNumber)
                              .arg(before->fixtureName, before->start.toString(Qt::ISODate),
                                   before->id.toString(QUuid::WithoutBraces));
            if (!refusal.isEmpty()) {
                scanRefusal_ = QStringLiteral("scan refused: %1").arg(refusal);
                continue;
            }
            scanRefusal_.clear();
            serial_ = *scan;
            if (before)
                reloadOf_ = before->id.toString(QUuid::WithoutBraces);
        }
    }

    // Until a unit is there, as the presence rule tells, and, with a
    // scanner, scanned. Returns why a unit is recorded without a load (it
    // answers the poll wrongly, or a presence line holds one that never
    // answers), empty for a unit to load.
    QString waitForUnit()
    {
        QString shown = QStringLiteral("-");
        const auto show = [&](const QString& why) {
            // What the scanner says comes first: the operator acts on it.
            QString text = !scannerProblem_.isEmpty() ? scannerProblem_ : !scanRefusal_.isEmpty() ? scanRefusal_ : why;
            if (text.isEmpty() && serial_)
                text = QStringLiteral("%1 scanned: place the unit").arg(serial_->text);
            if (text != shown)
                say(EventKind::Waiting, text);
            shown = text;
        };
        for (;;) {
            stopCheck();
            readScans();
            QString why;
            if (!port_ && !openLine(why)) {
                rule_.lineLost();
                show(why);
                coarseWait(lookAgain());
                continue;
            }
            if (fixture_.presence) {
                // Nothing at all goes to a fixture that holds no unit.
                rule_.lineRead(clock_.now(), pinAsserted());
                if (!rule_.lineSteady(clock_.now())) {
                    show({});
                    coarseWait(kPinLookEvery);
                    continue;
                }
            }
            const Sighting seen = look();
            const PresenceRule::Verdict verdict = rule_.polled(clock_.now(), seen);
            const QString wrong =
                QStringLiteral("unit answers \"%1\" to the poll: wrong line settings or a faulty unit").arg(shownReply(seen.reply));
            switch (verdict) {
            case PresenceRule::Verdict::Placed:
                readScans();
                if (!scans_ || serial_)
                    return {};
                // A unit nobody scanned gets nothing but polls.
                show(QStringLiteral("scan the unit"));
                continue;
            case PresenceRule::Verdict::Wrong: unloadedReason_ = QStringLiteral("wrong_answer"); return wrong;
            case PresenceRule::Verdict::Silent:
                unloadedReason_ = QStringLiteral("no_answer");
                return QStringLiteral("a unit is on %1 for %2 s but answers no poll")
                    .arg(QLatin1String(modemLineName(*fixture_.presence)))
                    .arg(rule_.numbers().silentFor);
            default: break;
            }
            show(seen.kind == Sighting::Kind::WrongAnswer ? wrong : QString());
        }
    }

    qint64 takeUnit()
    {
        const qint64 number = shared_.takeUnitNumber();
        if (number == 0)
            throw RunFull{};
        unit_ = number;
        // The identity as it is now, for the record; the line is already open.
        ChosenPort where;
        QString ignored;
        if (seams_.locate(fixture_, where, ignored))
            where_.identity = where.identity;
        return number;
    }

    // Writes to the ledger until it takes the write: a ledger locked a while
    // by another program, or a full disk, is tried again, longer and longer
    // apart, and the fixture says so meanwhile; nothing is lost or skipped.
    template <typename Write>
    void untilWritten(const Write& write, const QString& what)
    {
        double apart = kLedgerRetryFirst;
        // The unit's number is taken: it is recorded and loaded whatever the run's count says.
        const bool wasRecording = std::exchange(recording_, true);
        for (;;) {
            try {
                write();
                break;
            } catch (const std::exception& error) {
                if (progress_.ledgerTroubleSince.load() < 0)
                    progress_.ledgerTroubleSince.store(clock_.now());
                say(EventKind::Waiting, QStringLiteral("the ledger cannot be written (%1); %2: trying again in %3 s")
                                            .arg(QString::fromLocal8Bit(error.what()), what)
                                            .arg(apart));
            }
            coarseWait(apart);
            apart = std::min(apart * 2, kLedgerRetryLongest);
        }
        recording_ = wasRecording;
        if (progress_.ledgerTroubleSince.exchange(-1) >= 0)
            say(EventKind::Waiting, QStringLiteral("the ledger is written again"));
    }

    void begin(const Ledger::UnitRecord& record)
    {
        // No unit without a record: the record is open before the first frame.
        untilWritten([&] { shared_.ledger->begin(record); }, QStringLiteral("no unit is loaded until it is"));
        if (shared_.central)
            shared_.central->wake();
    }

    // Closes the record and tells the unit's result; a record that cannot be
    // closed halts the fixture after the result was told.
    void close(Ledger::UnitRecord& record, UnitOutcome& outcome)
    {
        closeUnitRecord(record, outcome);
        QString notRecorded;
        try {
            shared_.ledger->close(record);
            if (shared_.central)
                shared_.central->wake();
        } catch (const std::exception& error) {
            notRecorded = QString::fromLocal8Bit(error.what());
        }
        const bool stopping = stopSignal() != 0 || outcome.stopped;
        StationEvent e;
        e.fixture = index_;
        e.kind = EventKind::Result;
        e.unit = unit_;
        e.result = outcome.result;
        e.text = record.why;
        e.reason = record.reason;
        e.serial = record.serial;
        e.labels = std::move(outcome.labels);
        shared_.events.push(std::move(e));
        if (notRecorded.isEmpty())
            return;
        // A stop does not wait on the ledger: the next start finds the
        // record open and says it was interrupted.
        if (stopping) {
            say(EventKind::Halted, QStringLiteral("its record cannot be written to the ledger (%1)").arg(notRecorded),
                outcome.result);
            throw Halt{};
        }
        untilWritten([&] { shared_.ledger->close(record); },
                     QStringLiteral("unit %1 %2, NOT RECORDED yet").arg(unit_).arg(outcome.result.toUpper()));
        if (shared_.central)
            shared_.central->wake();
    }

    // Returns whether the unit is still there to be taken out.
    bool loadUnit()
    {
        const qint64 number = takeUnit();
        Ledger::UnitRecord record = openUnitRecord(shared_.recipe, fixture_, where_, number, shared_.host,
                                                   shared_.toolVersion);
        if (serial_) {
            record.serial = serial_->text;
            record.reloadOf = reloadOf_;
            unitSerial_ = serial_->text;
            serial_.reset();
            reloadOf_.clear();
        }
        begin(record);
        say(EventKind::Arrived);

        rule_.loadBegins(clock_.now());
        loading_ = true;
        // What came after the presence poll's reply belongs to no exchange of this load.
        try {
            port_->Input();
        } catch (const PelmoraError&) {
        }
        UnitLoadHooks hooks;
        hooks.labelBegins = [this](int i) {
            progress_.sent.store(0);
            progress_.stage.store(int(Wire::Stage::Waiting));
            progress_.label.store(i);
            say(EventKind::Label);
        };
        hooks.labelDone = [this](int, const LabelOutcome& o) {
            say(EventKind::LabelDone, o.slotHolds);
            // A lost line is closed by the component; the next turn opens it again.
            if (port_ && !port_->PortOpen())
                closeLine();
        };
        UnitOutcome outcome = loadUnitLabels(shared_.recipe, port_ ? sequence_.get() : nullptr, hooks);
        loading_ = false;
        progress_.label.store(-1);
        rule_.answered(outcome.slowestPollAnswer);
        const bool lineUp = fixture_.presence && port_ && port_->modemLineAsserted(*fixture_.presence) == true;
        rule_.loadEnded(clock_.now(), outcome.gone, lineUp);
        // A scan ended it: the scanned unit is the next, whatever the line says.
        if (outcome.reason == QStringLiteral("scanned_over"))
            rule_.lineLost();
        // The unit before this one left in doubt: its record says so, and so does this one.
        if (!after_.isEmpty())
            outcome.why = outcome.why.isEmpty() ? after_ : outcome.why + QStringLiteral("; ") + after_;
        after_.clear();
        if (outcome.gone && rule_.phase() == PresenceRule::Phase::Waiting) {
            const qsizetype cut = outcome.why.indexOf(QStringLiteral(": no answer within"));
            after_ = cut > 0 ? QStringLiteral("after unit %1 stopped answering at %2").arg(unit_).arg(outcome.why.left(cut))
                             : QStringLiteral("after unit %1 ended in doubt (%2)").arg(unit_).arg(outcome.why.section(QStringLiteral("; after unit"), 0, 0));
        }
        const bool stopped = outcome.stopped;
        close(record, outcome);
        if (stopped)
            throw Wire::Stopped{};
        return rule_.phase() == PresenceRule::Phase::Staying;
    }

    // A unit that keeps answering the poll wrong is recorded once, as failed.
    bool recordWrongAnswer(const QString& why)
    {
        const qint64 number = takeUnit();
        Ledger::UnitRecord record = openUnitRecord(shared_.recipe, fixture_, where_, number, shared_.host,
                                                   shared_.toolVersion);
        begin(record);
        say(EventKind::Arrived);
        UnitOutcome outcome;
        for (const RecipeLabel& l : shared_.recipe.labels)
            outcome.labels.push_back({l.slot, QStringLiteral("untouched"), 0, l.bytes.size(), false, false, {}, {}});
        outcome.result = QStringLiteral("fail");
        outcome.why = why;
        outcome.reason = unloadedReason_;
        rule_.recordedWithoutLoad();
        close(record, outcome);
        return true;
    }

    // Until the port vanished, the presence rule says the unit is gone: K
    // polls in a row unanswered, or the presence line down for its debounce.
    // A unit that stays is never loaded again, whatever its result; any
    // answer, even a wrong one, means it stays.
    void waitUntilGone()
    {
        for (;;) {
            stopCheck();
            // The next unit may be scanned before this one is taken out.
            readScans();
            if (!port_) {
                ChosenPort where;
                QString why;
                if (!seams_.locate(fixture_, where, why)) {
                    rule_.lineLost();
                    return;  // the port vanished with the unit
                }
                if (!openLine(why)) {
                    if (rule_.polled(clock_.now(), {}) == PresenceRule::Verdict::Gone)
                        return;
                    coarseWait(lookAgain());
                    continue;
                }
            }
            if (fixture_.presence) {
                if (rule_.lineRead(clock_.now(), pinAsserted()) == PresenceRule::Verdict::Gone)
                    return;
                coarseWait(kPinLookEvery);
                continue;
            }
            if (rule_.polled(clock_.now(), look()) == PresenceRule::Verdict::Gone)
                return;
        }
    }

    int index_;
    FixtureOption fixture_;
    StationShared& shared_;
    FixtureProgress& progress_;
    const FixtureSeams& seams_;
    Clock& clock_;
    ProgressFeed feed_;
    ChosenPort where_;
    std::unique_ptr<MSCommLib::MSComm> port_;
    std::unique_ptr<Wire::LoadSequence> sequence_;
    std::unique_ptr<PollPresence> presence_;
    PresenceRule rule_;
    QString unloadedReason_;  // why a unit recorded without a load was not loaded
    ScanInbox* scans_;
    std::optional<Scan> serial_;  // the next unit, as scanned and accepted
    QString reloadOf_;            // the earlier pass of that serial, when the recipe allows one
    QString unitSerial_;          // the serial of the unit in the fixture
    QString scanRefusal_;         // why the last scan names no unit
    QString scannerProblem_;
    int scannerChanges_ = 0;
    QString after_;  // for the next unit's record: how the one before it ended in doubt
    bool loading_ = false;
    bool recording_ = false;  // a unit's record is being written, however long it takes
    qint64 unit_ = 0;
};

}  // namespace

qint64 StationShared::takeUnitNumber()
{
    if (full.load())
        return 0;
    const qint64 number = ++begun;
    if (unitsLimit > 0 && number >= unitsLimit) {
        full.store(true);
        if (number > unitsLimit)
            return 0;
    }
    return number;
}

Wire::LoadPolicy StationShared::stationPolicy()
{
    Wire::LoadPolicy policy;
    policy.readEarly = true;
    policy.doubtEndsLoad = true;
    return policy;
}

FixtureSeams FixtureSeams::production(Clock& clock)
{
    FixtureSeams seams;
    seams.clock = &clock;
    seams.locate = [](const FixtureOption& fixture, ChosenPort& where, QString& why) {
        // A path is only looked at: listing every port each time costs more.
        if (isPath(fixture.selector) && !QFileInfo::exists(fixture.selector)) {
            why = QStringLiteral("no port at %1").arg(fixture.selector);
            return false;
        }
        try {
            where = choosePorts({fixture.selector}).first();
            return true;
        } catch (const SelectorRefused& refused) {
            why = QString::fromLocal8Bit(refused.what());
            return false;
        }
    };
    seams.open = [](const QString& path, const LineSettings& settings) -> std::unique_ptr<SerialLine> {
        return std::make_unique<QtSerialLine>(path, settings);
    };
    return seams;
}

void runFixture(int index, const FixtureOption& fixture, StationShared& shared, FixtureProgress& progress,
                const FixtureSeams& seams, ScanInbox* scans)
{
    FixtureLoop(index, fixture, shared, progress, seams, scans).run();
}
