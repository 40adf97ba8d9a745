#include "Clock.h"

#include <cerrno>
#include <ctime>

double SteadyClock::now()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

void SteadyClock::sleepFor(double seconds)
{
    if (seconds <= 0)
        return;
    timespec req{};
    req.tv_sec = static_cast<time_t>(seconds);
    req.tv_nsec = static_cast<long>((seconds - static_cast<double>(req.tv_sec)) * 1e9);
    while (clock_nanosleep(CLOCK_MONOTONIC, 0, &req, &req) == EINTR) {
    }
}

std::unique_ptr<Clock> makeSteadyClock()
{
    return std::make_unique<SteadyClock>();
}
