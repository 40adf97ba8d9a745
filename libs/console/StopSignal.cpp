#include "console/StopSignal.h"


#include <atomic>
#include <csignal>

namespace {
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
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
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
    // As a shell reports a process the signal ended: 130 after SIGINT, 143 after SIGTERM.
    return 128 + stopSignal();
}
