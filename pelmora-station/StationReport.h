#pragma once
// What the station shows while it runs. Every call comes from the main
// thread, which watches the fixtures.

#include "Options.h"
#include "station/Recipe.h"
#include "station/StationEvents.h"
#include "wire/LoadSequence.h"

#include <QElapsedTimer>
#include <memory>

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
    QElapsedTimer running;
    double unitsPerHour() const;
    void count(const QString& result);
};

class StationReport {
public:
    virtual ~StationReport() = default;
    virtual void event(const StationEvent& event, const Tally& tally) = 0;
    // Several times a second for each fixture that is loading.
    virtual void progress(int fixture, qint64 unit, const LoadView& load) = 0;
    // After each round of events and progress.
    virtual void flush(const Tally&) {}
    // Once, after every fixture ended.
    virtual void end(const Tally& tally) = 0;
};

std::unique_ptr<StationReport> makeLiveBlock(const QList<FixtureOption>& fixtures, const Recipe& recipe);
std::unique_ptr<StationReport> makeEventLines(const QList<FixtureOption>& fixtures, const Recipe& recipe);
std::unique_ptr<StationReport> makeJsonLines(const QList<FixtureOption>& fixtures, const Recipe& recipe);

namespace StationText {
// "0:09", "1:02:09"
QString clock(qint64 wholeSeconds);
// "FAIL slot 3: ..." and the like, for a unit's result.
QString result(const StationEvent& event);
// "slot 1 loaded, slot 3 untouched"
QString slotStates(const std::vector<LabelOutcome>& labels);
// "units 6  passed 5  failed 1  41.3 units/h"
QString totals(const Tally& tally);
}  // namespace StationText
