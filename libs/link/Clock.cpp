#include "Clock.h"

#include <cerrno>
#include <algorithm>
#include <cmath>
#include <ctime>
#include <sys/prctl.h>

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

namespace {
// How late the system wakes a sleeper, learned per thread: nudged up a step
// by a late wake-up and down three by an early one, it settles where one
// wake-up in four is early, so the clock is read for a while only then.
constexpr double kLatencyStep = 0.000001;
constexpr double kMostLatency = 0.0003;
}  // namespace

void SteadyClock::sleepUntil(double deadline, double reading)
{
    thread_local const bool slackSet = ::prctl(PR_SET_TIMERSLACK, 1000UL, 0UL, 0UL, 0UL) == 0;
    thread_local double latency = 0.0001;
    (void)slackSet;
    // Aimed early by the usual lateness; what is left of an early wake-up is
    // read off the clock.
    const double aim = deadline - latency;
    if (aim <= reading) {
        // Too close to sleep at all; nothing to learn from it.
        while (now() < deadline) {
        }
        return;
    }
    timespec at{};
    const double whole = std::floor(aim);
    at.tv_sec = static_cast<time_t>(whole);
    at.tv_nsec = std::min(999999999L, static_cast<long>((aim - whole) * 1e9));
    // A signal ends the sleep early; the caller reads the clock and decides.
    if (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) != 0)
        return;
    const double woke = now();
    latency = std::clamp(latency + (woke > deadline ? kLatencyStep : -3 * kLatencyStep), 0.0, kMostLatency);
    while (now() < deadline) {
    }
}

std::unique_ptr<Clock> makeSteadyClock()
{
    return std::make_unique<SteadyClock>();
}
