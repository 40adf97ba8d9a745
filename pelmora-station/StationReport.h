#pragma once
// The station's views for a terminal and for programs, and the words they share.

#include "Options.h"
#include "station/StationView.h"

#include <memory>

std::unique_ptr<StationView> makeLiveBlock(const QList<FixtureOption>& fixtures, const Recipe& recipe);
std::unique_ptr<StationView> makeEventLines(const QList<FixtureOption>& fixtures);
std::unique_ptr<StationView> makeJournalLines(const QList<FixtureOption>& fixtures);
std::unique_ptr<StationView> makeJsonLines(const QList<FixtureOption>& fixtures, const Recipe& recipe);

namespace StationText {
// "0:09", "1:02:09"
QString clock(qint64 wholeSeconds);
// "FAIL slot 3: ..." and the like, for a unit's result.
QString result(const StationEvent& event);
// "slot 1 loaded, slot 3 untouched"
QString slotStates(const std::vector<LabelOutcome>& labels);
// One line for an event: "arrived", "slot 3 (2 of 2, inner.epl): loaded", ...
QString eventText(const StationEvent& event, const Recipe& recipe);
// "units 6  passed 5  failed 1  41.3 units/h"
QString totals(const Tally& tally);
// The central ledger's state in a few words, empty while all goes through.
QString central(const Tally& tally);
}  // namespace StationText
