#pragma once
// Whether a unit is in the fixture, on a line that says nothing about who is
// on it: a poll answered, or a modem status line the fixture asserts while it
// holds a unit.

#include "link/Clock.h"
#include "link/MSComm.h"

#include <QString>
#include <functional>

// What one look at the fixture saw.
struct Sighting {
    enum class Kind { Answered, WrongAnswer, Silent };
    Kind kind = Kind::Silent;
    QString reply;  // what came back, for a wrong answer

    bool someone() const { return kind != Kind::Silent; }
};

class PollPresence {
public:
    // `stop` runs with every wait and may throw.
    PollPresence(MSCommLib::MSComm& port, Clock& clock, std::function<void()> stop);

    // One poll, at least kPresencePollEvery after the one before. It reads the
    // reply as soon as it is in, so an empty fixture is looked at four times a
    // second; with no reply it waits the poll's whole second. A lost line
    // throws the component's error.
    Sighting poll();

private:
    void wait(double seconds);

    MSCommLib::MSComm& port_;
    Clock& clock_;
    std::function<void()> stop_;
    double lastPoll_ = -1;
};
