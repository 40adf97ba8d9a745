#pragma once
// One fixture's loop, on its own thread: wait for a unit, load the recipe's
// labels one after another with the whole load sequence each, record the
// unit, wait until it is taken out, and again. It runs on the same line and
// clock seams as the load sequence, so its unit rules are testable in
// virtual time.

#include "FixtureOption.h"
#include "Recipe.h"
#include "StationEvents.h"
#include "link/Clock.h"
#include "link/LineSettings.h"
#include "link/PortSelection.h"
#include "wire/LoadSequence.h"

#include <atomic>
#include <functional>

namespace Ledger {
class CentralForwarder;
class CentralLookup;
class LocalLedger;
}
class ScanInbox;

// The range --silence once took; it is still read so that older
// configurations start, and changes nothing: an unanswered frame now ends
// the unit at once.
inline constexpr double kShortestSilence = 2.0, kLongestSilence = 3.0;

// What every fixture shares; the fields above `begun` never change once the
// threads run.
struct StationShared {
    Recipe recipe;
    QString settings;
    int goneAfter = 2;
    qint64 unitsLimit = 0;  // 0: no limit
    Wire::LoadPolicy policy = stationPolicy();
    QString host;
    QString toolVersion;
    Ledger::LocalLedger* ledger = nullptr;
    Ledger::CentralForwarder* central = nullptr;  // null: records stay local
    Ledger::CentralLookup* lookup = nullptr;      // null: serials are checked in the local ledger only
    EventQueue events;

    // Unit numbers are counted across all fixtures, in the order loads begin.
    std::atomic<qint64> begun{0};
    // Set once the last unit of --units began: no fixture starts another.
    std::atomic<bool> full{false};

    // The next unit's number, or 0 when the run has all its units.
    qint64 takeUnitNumber();
    static Wire::LoadPolicy stationPolicy();
};

// How a fixture reaches its line and its time. Production: the monotonic
// clock, the selector looked up among the system's ports, QSerialPort.
struct FixtureSeams {
    Clock* clock = nullptr;
    // Where the fixture's line is now; false with why while there is none.
    std::function<bool(const FixtureOption& fixture, ChosenPort& where, QString& why)> locate;
    // Opens the line at a path, or throws a numbered error.
    std::function<std::unique_ptr<SerialLine>(const QString& path, const LineSettings& settings)> open;
    // Runs with every stop check; may throw Wire::Stopped.
    std::function<void()> stop;

    static FixtureSeams production(Clock& clock);
};

// With `scans`, the fixture loads a unit only once it was scanned and is
// present, and a scan during a load ends that load before its next frame.
void runFixture(int index, const FixtureOption& fixture, StationShared& shared, FixtureProgress& progress,
                const FixtureSeams& seams, ScanInbox* scans = nullptr);
