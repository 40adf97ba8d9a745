#include "Fixture.h"

#include "console/StopSignal.h"
#include "ledger/CentralForwarder.h"
#include "ledger/LocalLedger.h"
#include "ledger/UnitRecord.h"
#include "link/Clock.h"
#include "link/Errors.h"
#include "link/MSComm.h"
#include "link/PortSelection.h"
#include "link/QtSerialLine.h"
#include "link/Wait.h"

#include <QFileInfo>
#include <algorithm>
#include <csignal>
#include <cstring>
#include <memory>

namespace {

// How often an absent port, or one that cannot be opened, is looked at again.
constexpr double kLookAgain = 1.0;
// The presence polls' waits need no fine slices: a stop is seen within this.
constexpr double kCoarseSlice = 0.1;

// The run has all its units: a fixture without a unit ends.
struct RunFull {};
// The fixture starts no more units; already said why.
struct Halt {};

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
    FixtureLoop(int index, const FixtureOption& fixture, StationShared& shared, FixtureProgress& progress)
        : index_(index), fixture_(fixture), shared_(shared), progress_(progress), feed_(progress)
    {
    }

    void run()
    {
        try {
            for (;;) {
                waitForUnit();
                loadUnit();
                waitUntilGone();
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
    void say(EventKind kind, const QString& text = {})
    {
        StationEvent e;
        e.fixture = index_;
        e.kind = kind;
        e.unit = unit_;
        e.label = int(progress_.label.load());
        e.text = text;
        shared_.events.push(std::move(e));
    }

    // Runs before and between the slices of every wait.
    void stopCheck()
    {
        if (const int signal = stopSignal(); signal != 0) {
            const char* name = sigabbrev_np(signal);
            throw Wire::Stopped{stopExitStatus(), name ? QStringLiteral("stopped by SIG%1").arg(QLatin1String(name))
                                                       : QStringLiteral("stopped by signal %1").arg(signal)};
        }
        // A unit that was begun is loaded to its end; only an empty fixture stops.
        if (!loading_ && shared_.full.load(std::memory_order_relaxed))
            throw RunFull{};
    }

    bool isPath() const
    {
        bool number = false;
        fixture_.selector.toInt(&number);
        return !number && !fixture_.selector.startsWith(QStringLiteral("usb:"));
    }

    // Where the fixture's line is now; false with why while there is none.
    bool locate(ChosenPort& where, QString& why) const
    {
        // A path is only looked at: listing every port each second costs more.
        if (isPath() && !QFileInfo::exists(fixture_.selector)) {
            why = QStringLiteral("no port at %1").arg(fixture_.selector);
            return false;
        }
        try {
            where = choosePorts({fixture_.selector}).first();
            return true;
        } catch (const SelectorRefused& refused) {
            why = QString::fromLocal8Bit(refused.what());
            return false;
        }
    }

    bool openLine(QString& why)
    {
        ChosenPort where;
        if (!locate(where, why))
            return false;
        const QString path = where.path;
        auto port = std::make_unique<MSCommLib::MSComm>(
            [path](short, const LineSettings& settings) { return std::make_unique<QtSerialLine>(path, settings); });
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
                                                         &feed_);
        presence_ = std::make_unique<Wire::Exchanges>(*port_, [this](double seconds) { coarseWait(seconds); });
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

    // One poll on the open line: whether it was answered. A lost line is closed.
    bool pollOnce()
    {
        try {
            return presence_->poll();
        } catch (const PelmoraError&) {
            closeLine();
            return false;
        }
    }

    void waitForUnit()
    {
        QString shown = QStringLiteral("-");
        for (;;) {
            stopCheck();
            QString why;
            if (!port_ && !openLine(why)) {
                if (why != shown)
                    say(EventKind::Waiting, why);
                shown = why;
                coarseWait(kLookAgain);
                continue;
            }
            if (!shown.isEmpty())
                say(EventKind::Waiting);
            shown.clear();
            // Nothing but the poll goes to an empty fixture.
            if (pollOnce())
                return;
        }
    }

    Ledger::UnitRecord openRecord(qint64 number) const
    {
        Ledger::UnitRecord r;
        r.id = QUuid::createUuid();
        r.host = shared_.host;
        r.fixtureName = fixture_.name;
        r.fixturePath = where_.path;
        r.adapterIdentity = describeAdapter(where_.identity);
        r.unitNumber = number;
        r.recipeName = shared_.recipe.name;
        r.recipeSha256 = shared_.recipe.sha256;
        r.toolVersion = QStringLiteral(PELMORA_VERSION_TEXT);
        r.start = QDateTime::currentDateTimeUtc();
        for (const RecipeLabel& l : shared_.recipe.labels) {
            Ledger::LabelRecord label;
            label.slot = l.slot;
            label.file = l.facts.path;
            label.sha256 = l.sha256;
            label.size = l.bytes.size();
            label.slotHolds = QStringLiteral("untouched");
            r.labels << label;
        }
        return r;
    }

    void loadUnit()
    {
        const qint64 number = shared_.takeUnitNumber();
        if (number == 0)
            throw RunFull{};
        unit_ = number;
        // The identity as it is now, for the record; the line is already open.
        ChosenPort where;
        QString ignored;
        if (locate(where, ignored))
            where_.identity = where.identity;

        Ledger::UnitRecord record = openRecord(number);
        // No unit without a record: the record is open before the first frame.
        try {
            shared_.ledger->begin(record);
        } catch (const std::exception& error) {
            say(EventKind::Halted, QStringLiteral("the ledger cannot be written (%1); this fixture starts no more units")
                                       .arg(QString::fromLocal8Bit(error.what())));
            throw Halt{};
        }
        if (shared_.central)
            shared_.central->wake();
        say(EventKind::Arrived);

        std::vector<LabelOutcome> outcomes;
        for (const RecipeLabel& l : shared_.recipe.labels)
            outcomes.push_back({l.slot, QStringLiteral("untouched"), 0, l.bytes.size(), false, false, {}});
        QString result = QStringLiteral("pass");
        QString why;
        bool stopped = false;
        loading_ = true;
        for (int i = 0; i < shared_.recipe.labels.size(); ++i) {
            const RecipeLabel& l = shared_.recipe.labels[i];
            progress_.sent.store(0);
            progress_.stage.store(int(Wire::Stage::Waiting));
            progress_.label.store(i);
            say(EventKind::Label);
            Wire::LoadOutcome outcome;
            if (port_) {
                outcome = sequence_->load(l.slot, Wire::Label{l.facts, l.bytes});
            } else {
                outcome.exitStatus = Wire::ExitStatus::PortRefused;
                outcome.error = QString::fromLatin1(kLineLostDetail);
            }
            LabelOutcome& o = outcomes[size_t(i)];
            o.slotHolds = QString::fromLatin1(Wire::slotStateName(outcome.slot));
            o.dataSent = outcome.dataSent;
            o.fileFrameSent = outcome.endSent;
            o.released = outcome.released;
            o.error = outcome.error;
            Ledger::LabelRecord& r = record.labels[i];
            r.slotHolds = o.slotHolds;
            r.dataFramesSent = o.dataSent;
            r.fileFrameSent = o.fileFrameSent;
            r.releaseConfirmed = o.released;
            say(EventKind::LabelDone, o.slotHolds);
            // A lost line is closed by the component; the next turn opens it again.
            if (port_ && !port_->PortOpen())
                closeLine();
            if (outcome.loaded())
                continue;
            stopped = outcome.stopped;
            result = stopped ? QStringLiteral("interrupted") : QStringLiteral("fail");
            why = QStringLiteral("slot %1: %2").arg(l.slot).arg(outcome.error);
            break;
        }
        loading_ = false;
        progress_.label.store(-1);

        record.end = QDateTime::currentDateTimeUtc();
        record.result = result;
        record.why = why;
        bool recorded = true;
        try {
            shared_.ledger->close(record);
            if (shared_.central)
                shared_.central->wake();
        } catch (const std::exception& error) {
            recorded = false;
            why = QStringLiteral("the ledger cannot be written (%1); this fixture starts no more units")
                      .arg(QString::fromLocal8Bit(error.what()));
        }
        StationEvent e;
        e.fixture = index_;
        e.kind = EventKind::Result;
        e.unit = unit_;
        e.result = result;
        e.text = record.why;
        e.labels = std::move(outcomes);
        shared_.events.push(std::move(e));
        if (!recorded) {
            say(EventKind::Halted, why);
            throw Halt{};
        }
        if (stopped)
            throw Wire::Stopped{};
    }

    // Until the port vanished, or K polls in a row went unanswered. A unit
    // that stays is never loaded again, whatever its result.
    void waitUntilGone()
    {
        int unanswered = 0;
        while (unanswered < shared_.goneAfter) {
            stopCheck();
            if (!port_) {
                ChosenPort where;
                QString why;
                if (!locate(where, why))
                    break;  // the port vanished with the unit
                if (!openLine(why)) {
                    ++unanswered;
                    coarseWait(kLookAgain);
                    continue;
                }
            }
            unanswered = pollOnce() ? 0 : unanswered + 1;
        }
        say(EventKind::Gone);
        unit_ = 0;
    }

    int index_;
    FixtureOption fixture_;
    StationShared& shared_;
    FixtureProgress& progress_;
    ProgressFeed feed_;
    SteadyClock clock_;
    ChosenPort where_;
    std::unique_ptr<MSCommLib::MSComm> port_;
    std::unique_ptr<Wire::LoadSequence> sequence_;
    std::unique_ptr<Wire::Exchanges> presence_;
    bool loading_ = false;
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

void runFixture(int index, const FixtureOption& fixture, StationShared& shared, FixtureProgress& progress)
{
    FixtureLoop(index, fixture, shared, progress).run();
}
