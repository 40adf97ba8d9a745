#pragma once
// The clock Bekle waits on. Production reads the monotonic clock and sleeps
// for real; tests put a virtual clock in its place to run long sequences
// quickly and to see every wait that was asked for.

#include <memory>

class Clock {
public:
    virtual ~Clock() = default;
    // Seconds on a monotonic scale; only differences mean anything.
    virtual double now() = 0;
    // Sleeps about this long; may wake late, never early by design of the caller.
    virtual void sleepFor(double seconds) = 0;
    // Sleeps until the reading `deadline`, or until a signal comes; `reading`
    // is the last one taken, for clocks that can only sleep for a while.
    virtual void sleepUntil(double deadline, double reading) { sleepFor(deadline - reading); }
    // Told of every finished wait: what was asked and the readings that
    // bracketed it. Production ignores it.
    virtual void waitDone(double /*asked*/, double /*start*/, double /*end*/) {}
};

class SteadyClock final : public Clock {
public:
    double now() override;
    void sleepFor(double seconds) override;
    // To the deadline itself, with the thread's timer slack made 1 µs (the
    // system's default of 50 µs would make every paced frame that late), aimed
    // early by how late this thread's wake-ups usually are.
    void sleepUntil(double deadline, double reading) override;
};

std::unique_ptr<Clock> makeSteadyClock();
