// The timed wait. It holds the thread like a busy wait would, but sleeps for
// all of it except the last fraction of a millisecond, then reads the clock
// until the reading lies strictly past start + nekadar. Monotonic, so a wait
// across midnight is no special case.

#include "Form1.h"

namespace {
// Sleeps here wake 0.1 to 0.2 ms late at the median; stop sleeping this far
// before the deadline and read the clock for the rest.
constexpr double kSpinMargin = 0.0004;
}  // namespace

void Form1::Bekle(double nekadar)
{
    Clock& clock = *seams_.clock;
    const double start = clock.now();
    const double deadline = start + nekadar;
    double reading = start;
    while ((reading = clock.now()) <= deadline) {
        const double left = deadline - reading;
        if (left > kSpinMargin)
            clock.sleepFor(left - kSpinMargin);
    }
    clock.waitDone(nekadar, start, reading);
}
