#pragma once
// The timed wait behind Bekle. It holds the thread like a busy wait, but
// sleeps: in slices while there is work to let through, then to the deadline
// itself, and returns at the first reading strictly past start + seconds.
// The clock is monotonic, so a wait across midnight is no special case.
// With PELMORA_WAIT=spin it reads the clock for the last fraction of a
// millisecond instead of sleeping to the deadline, as it once did; the
// pacing benchmark measures both in one run.
//
// Between slices the caller may let other work through (the window's own
// events): never in the final stretch, so that work cannot make the wait late.

#include "Clock.h"

#include <functional>

// Sleeps on this kind of machine wake 0.1 to 0.2 ms late at the median; the
// spinning wait stops sleeping this far before the deadline and reads the
// clock for the rest.
inline constexpr double kWaitSpinMargin = 0.0004;
// The sleeping wait wakes this long past the deadline, so that the reading
// after it lies strictly past.
inline constexpr double kWaitPastDeadline = 0.000001;
// The longest sleep between two turns of the work let through.
inline constexpr double kWaitSlice = 0.004;
// Work is let through only while at least this much of the wait is left, plus
// twice the longest turn seen so far in the wait.
inline constexpr double kWaitServeReserve = 0.003;

// What a wait lets through between its slices. It may throw to end the wait.
using WaitServe = std::function<void()>;

// Returns the reading that ended the wait.
double waitOn(Clock& clock, double seconds, const WaitServe& serve = {});
