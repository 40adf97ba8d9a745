#pragma once
// The timed wait behind Bekle. It holds the thread like a busy wait, but
// sleeps for all of it except the last fraction of a millisecond, then reads
// the clock until the reading lies strictly past start + seconds. The clock is
// monotonic, so a wait across midnight is no special case.

#include "Clock.h"

// Sleeps on this kind of machine wake 0.1 to 0.2 ms late at the median; stop
// sleeping this far before the deadline and read the clock for the rest.
inline constexpr double kWaitSpinMargin = 0.0004;

// Returns the reading that ended the wait.
double waitOn(Clock& clock, double seconds);
