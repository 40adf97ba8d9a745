#pragma once
// One fixture's loop, on its own thread: wait for a unit, load the recipe's
// labels one after another with the whole load sequence each, record the
// unit, wait until it is taken out, and again.

#include "Options.h"
#include "Recipe.h"
#include "StationEvents.h"
#include "wire/LoadSequence.h"

#include <atomic>

namespace Ledger {
class CentralForwarder;
class LocalLedger;
}

// What every fixture shares; the fields above `begun` never change once the
// threads run.
struct StationShared {
    Recipe recipe;
    QString settings;
    int goneAfter = 3;
    qint64 unitsLimit = 0;  // 0: no limit
    Wire::LoadPolicy policy;
    QString host;
    Ledger::LocalLedger* ledger = nullptr;
    Ledger::CentralForwarder* central = nullptr;  // null: records stay local
    EventQueue events;

    // Unit numbers are counted across all fixtures, in the order loads begin.
    std::atomic<qint64> begun{0};
    // Set once the last unit of --units began: no fixture starts another.
    std::atomic<bool> full{false};

    // The next unit's number, or 0 when the run has all its units.
    qint64 takeUnitNumber();
};

void runFixture(int index, const FixtureOption& fixture, StationShared& shared, FixtureProgress& progress);
