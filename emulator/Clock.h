#pragma once

#include <time.h>

namespace rv7k {

// Seconds on the monotonic clock, the same clock the tests and the program read.
struct Instant {
    long long sec = 0;
    long nsec = 0;

    double seconds() const { return static_cast<double>(sec) + static_cast<double>(nsec) * 1e-9; }
};

inline Instant now()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return Instant{static_cast<long long>(ts.tv_sec), ts.tv_nsec};
}

} // namespace rv7k
