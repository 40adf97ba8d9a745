#pragma once

#include <time.h>

namespace rv7k {

// Nanoseconds on the monotonic clock, the same clock the tests and the program read.
using Instant = long long;

inline Instant now()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<Instant>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

} // namespace rv7k
