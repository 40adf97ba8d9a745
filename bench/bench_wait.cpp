// Pacing of the 0.015 s wait: how late it returns and what it costs in CPU,
// next to a plain sleep and a spin on the clock, measured in the same run.

#include "link/Clock.h"
#include "link/Wait.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <vector>

namespace {

double monotonic()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

double threadCpu()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

void report(const char* name, int waits, double seconds, const std::function<void()>& wait)
{
    std::vector<double> overshoot;
    overshoot.reserve(size_t(waits));
    double waited = 0;
    const double cpuStart = threadCpu();
    for (int i = 0; i < waits; ++i) {
        const double start = monotonic();
        wait();
        const double took = monotonic() - start;
        overshoot.push_back((took - seconds) * 1000.0);
        waited += took;
    }
    const double cpu = threadCpu() - cpuStart;
    std::sort(overshoot.begin(), overshoot.end());
    auto at = [&](double q) { return overshoot[std::min(overshoot.size() - 1, size_t(q * double(overshoot.size())))]; };
    std::printf("%-12s waits=%d  overshoot ms: min %.4f  median %.4f  p99 %.4f  max %.4f  early=%d  cpu %.4f s per s waited\n",
                name, waits, overshoot.front(), at(0.5), at(0.99), overshoot.back(),
                int(std::count_if(overshoot.begin(), overshoot.end(), [](double o) { return o < 0; })), cpu / waited);
}

}  // namespace

int main(int argc, char** argv)
{
    const int waits = argc > 1 ? std::max(500, std::atoi(argv[1])) : 500;
    constexpr double kSeconds = 0.015;
    SteadyClock clock;

    std::printf("wait of %.3f s, %d times each\n", kSeconds, waits);
    report("Bekle", waits, kSeconds, [&] { waitOn(clock, kSeconds); });
    report("plain sleep", waits, kSeconds, [&] { clock.sleepFor(kSeconds); });
    report("spin", waits, kSeconds, [&] {
        const double end = clock.now() + kSeconds;
        while (clock.now() <= end) {
        }
    });
    return 0;
}
