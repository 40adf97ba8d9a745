#include "console/StopSignal.h"

#include <atomic>
#include <csignal>

namespace {
constexpr struct {
    int number;
    const char* name;
} kStopSignals[] = {{SIGINT, "SIGINT"},   {SIGTERM, "SIGTERM"}, {SIGHUP, "SIGHUP"},
                    {SIGQUIT, "SIGQUIT"}, {SIGUSR1, "SIGUSR1"}, {SIGUSR2, "SIGUSR2"}};

std::atomic<int> caught{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free flag");

extern "C" void noteStopSignal(int signalNumber)
{
    int none = 0;
    caught.compare_exchange_strong(none, signalNumber);
}
}  // namespace

void installStopHandlers()
{
    struct sigaction action {};
    action.sa_handler = noteStopSignal;
    sigemptyset(&action.sa_mask);
    // Restart interrupted system calls: a frame half written must still go whole.
    action.sa_flags = SA_RESTART;
    for (const auto& s : kStopSignals)
        sigaction(s.number, &action, nullptr);
    // Writes to a closed pipe fail with EPIPE instead, and are dropped.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
}

const char* stopSignalName()
{
    const int signal = caught.load();
    for (const auto& s : kStopSignals)
        if (s.number == signal)
            return s.name;
    return "";
}

int stopSignal()
{
    return caught.load();
}

void throwIfStopRequested()
{
    if (caught.load(std::memory_order_relaxed) != 0)
        throw StopRequested();
}

int stopExitStatus()
{
    return 128 + stopSignal();
}
