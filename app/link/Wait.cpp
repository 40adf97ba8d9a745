#include "Wait.h"

double waitOn(Clock& clock, double seconds)
{
    const double start = clock.now();
    const double deadline = start + seconds;
    double reading = start;
    while ((reading = clock.now()) <= deadline) {
        const double left = deadline - reading;
        if (left > kWaitSpinMargin)
            clock.sleepFor(left - kWaitSpinMargin);
    }
    clock.waitDone(seconds, start, reading);
    return reading;
}
