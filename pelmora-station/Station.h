#pragma once
// The run: one thread per fixture, and this thread reporting what they do
// until every fixture ended. Returns the exit status.

#include "station/Fixture.h"
#include "station/StationView.h"

#include <vector>

int runStation(const QList<FixtureOption>& fixtures, StationShared& shared, const std::vector<StationView*>& views);
