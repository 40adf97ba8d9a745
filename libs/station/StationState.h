#pragma once
// The station as its views show it: each fixture's state and its last unit,
// the totals of the run and of the last hour, the central ledger's backlog.
// The thread that watches the fixtures keeps it from their events; every
// view (terminal, event lines, JSON, the page, the service manager) reads
// this one model.

#include "FixtureOption.h"
#include "Recipe.h"
#include "StationEvents.h"
#include "wire/LoadSequence.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <deque>
#include <optional>
#include <vector>

// A fixture's load at a glance: which label, and how far the unit is.
struct LoadView {
    int label = 0;
    int slot = 0;
    Wire::Stage stage = Wire::Stage::Waiting;
    qint64 sent = 0;
    int percent = 0;         // of the unit's whole load time
    qint64 secondsLeft = 0;  // whole seconds, rounded up
};

// Units so far, for the totals line and the end.
struct Tally {
    qint64 units = 0, passed = 0, failed = 0, interrupted = 0;
    int centralWaiting = -1;  // records not yet in the central ledger; -1: none is used
    QString centralProblem;   // why the last try to send failed
    bool centralStopped = false;  // the copies differ: the run's records are not forwarded
    QElapsedTimer running;
    double unitsPerHour() const;
    void count(const QString& result);
};

struct FixtureState {
    enum class Word { Waiting, Loading, Pass, Fail, Halted };
    QString name;
    Word word = Word::Waiting;
    qint64 unit = 0;          // the unit in the fixture, or the one whose verdict shows
    QString serial;           // that unit's serial, when it was scanned
    bool unitIn = false;      // a unit is in the fixture (loading, or ended and not taken out)
    QString why;              // why it waits, failed or halted
    QString line;             // why its line cannot be used now, also under a verdict still on show
    std::optional<LoadView> load;
    qint64 lastUnit = 0;      // the last unit that ended here, and how
    QString lastResult;
    // When the fixture's loop last looked up from its work (steady seconds);
    // -1 once the loop ended.
    double aliveAt = 0;
    // Since when it cannot write its ledger and keeps trying; -1: it can.
    double ledgerTroubleSince = -1;
};

class StationState {
public:
    StationState(const QList<FixtureOption>& fixtures, const Recipe& recipe);

    void apply(const StationEvent& event);
    void progress(int fixture, qint64 unit, const LoadView& load);
    void heartbeat(int fixture, double aliveAt, double ledgerTroubleSince = -1)
    {
        fixtures_[size_t(fixture)].aliveAt = aliveAt;
        fixtures_[size_t(fixture)].ledgerTroubleSince = ledgerTroubleSince;
    }

    const Recipe& recipe() const { return recipe_; }
    const std::vector<FixtureState>& fixtures() const { return fixtures_; }
    Tally tally;
    bool halted = false;  // some fixture starts no more units

    // Units that ended in the last hour: units, passed, failed.
    struct Hour {
        qint64 units = 0, passed = 0, failed = 0;
    };
    Hour lastHour() const;

    // The whole model as JSON, for the page and scripts.
    QJsonObject toJson() const;

private:
    const Recipe& recipe_;
    std::vector<FixtureState> fixtures_;
    // When each unit of the last hour ended (ms on the run's clock) and how.
    mutable std::deque<std::pair<qint64, QString>> recent_;
};

// "WAITING", "LOADING", "PASS", "FAIL", "STOPPED"
const char* stateWord(FixtureState::Word word);
