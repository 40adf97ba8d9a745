#pragma once
// What shows the station while it runs: the terminal's block, event lines,
// JSON Lines, the page, the service manager. Every call comes from the one
// thread that watches the fixtures, with the model as it is after the change.

#include "StationState.h"

class StationView {
public:
    virtual ~StationView() = default;
    virtual void event(const StationEvent& event, const StationState& state) = 0;
    // Several times a second for each fixture that is loading.
    virtual void progress(int /*fixture*/, qint64 /*unit*/, const LoadView& /*load*/, const StationState&) {}
    // After each round of events and progress.
    virtual void flush(const StationState&) {}
    // Once, after every fixture ended.
    virtual void end(const StationState& state) = 0;
};
