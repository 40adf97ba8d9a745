#pragma once
// Whether a unit is in the fixture, on a line that says nothing about who is
// on it: a poll answered, or a modem status line the fixture asserts while it
// holds a unit.

#include "PresenceRule.h"
#include "link/Clock.h"
#include "link/MSComm.h"

#include <QString>
#include <functional>

class PollPresence {
public:
    // `stop` runs with every wait and may throw.
    PollPresence(MSCommLib::MSComm& port, Clock& clock, std::function<void()> stop);

    // One poll, at least `every` after the one before. It reads the reply as
    // soon as it is in; with no reply it waits `wait`. A lost line throws the
    // component's error.
    Sighting poll(double every, double wait);

private:
    void wait(double seconds);

    MSCommLib::MSComm& port_;
    Clock& clock_;
    std::function<void()> stop_;
    double lastPoll_ = -1;
};
