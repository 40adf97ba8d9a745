#include "Wait.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {
bool spinning()
{
    static const bool spin = [] {
        const char* how = std::getenv("PELMORA_WAIT");
        return how != nullptr && std::strcmp(how, "spin") == 0;
    }();
    return spin;
}
}  // namespace

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
        if (!spinning()) {
            // Slices between turns of work need no precision; the deadline does.
            if (serve && left > kWaitSlice + kWaitSpinMargin)
                clock.sleepFor(kWaitSlice);
            else
                clock.sleepUntil(deadline + kWaitPastDeadline, deadline - left);
        } else if (left > kWaitSpinMargin) {
            clock.sleepFor(serve ? std::min(left - kWaitSpinMargin, kWaitSlice) : left - kWaitSpinMargin);
        }
    }
    clock.waitDone(seconds, start, reading);
    return reading;
}
