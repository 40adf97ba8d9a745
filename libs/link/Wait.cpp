#include "Wait.h"

#include <algorithm>

double waitOn(Clock& clock, double seconds, const WaitServe& serve)
{
    const double start = clock.now();
    const double deadline = start + seconds;
    double longestTurn = 0;
    double reading = start;
    while ((reading = clock.now()) <= deadline) {
        double left = deadline - reading;
        if (serve && left > kWaitServeReserve + 2 * longestTurn) {
            serve();
            const double after = clock.now();
            longestTurn = std::max(longestTurn, after - reading);
            if (after > deadline) {
                reading = after;
                break;
            }
            left = deadline - after;
        }
        if (left > kWaitSpinMargin)
            clock.sleepFor(serve ? std::min(left - kWaitSpinMargin, kWaitSlice) : left - kWaitSpinMargin);
    }
    clock.waitDone(seconds, start, reading);
    return reading;
}
