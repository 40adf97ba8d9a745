#pragma once
// The stream's fixed pacing, and how long a stream still needs. The pacing
// does not depend on the line or the device, so the time left follows exactly
// from the bytes and pauses still to come.

#include <QtGlobal>

inline constexpr double kStreamStartWait = 1.0;  // before the first byte
inline constexpr double kByteWait = 0.015;       // after every byte
inline constexpr qint64 kPauseEvery = 100;       // one more byte wait after every hundredth byte

// Seconds of waiting still to come once `sent` of `announced` bytes have gone
// out with their waits; never negative (a file that grew has none left).
double streamSecondsLeft(qint64 announced, qint64 sent);

// The time left as the bar shows it: whole seconds, rounded up.
qint64 wholeSecondsLeft(double secondsLeft);
