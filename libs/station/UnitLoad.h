#pragma once
// A unit is the recipe's labels loaded one after another, each with the
// whole load sequence, stopping at the first that fails; and its record.

#include "FixtureOption.h"
#include "Recipe.h"
#include "StationEvents.h"
#include "ledger/UnitRecord.h"
#include "link/PortSelection.h"
#include "wire/LoadSequence.h"

#include <functional>
#include <vector>

struct UnitOutcome {
    QString result = QStringLiteral("pass");  // pass|fail|interrupted
    QString why;
    QString reason;        // the stable code beside why
    bool stopped = false;  // by a stop signal: the run ends
    bool gone = false;     // the unit went silent or was taken out during its load
    double slowestPollAnswer = 0;
    std::vector<LabelOutcome> labels;  // every label of the recipe, untouched where never begun
};

struct UnitLoadHooks {
    std::function<void(int index)> labelBegins;
    std::function<void(int index, const LabelOutcome& outcome)> labelDone;
};

UnitOutcome loadUnitLabels(const Recipe& recipe, Wire::LoadSequence* sequence, const UnitLoadHooks& hooks);

// The record of a unit about to be loaded: every label untouched.
Ledger::UnitRecord openUnitRecord(const Recipe& recipe, const FixtureOption& fixture, const ChosenPort& where,
                                  qint64 number, const QString& host, const QString& toolVersion);
// The record with what the unit's load left in each slot, result and why.
void closeUnitRecord(Ledger::UnitRecord& record, const UnitOutcome& outcome);
