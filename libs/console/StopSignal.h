#pragma once
// SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1 and SIGUSR2 stop every load
// before its next frame. The handler only notes the signal; the device
// threads look at it in their waits. SIGPIPE is ignored: a reader that went
// away costs the output, never the load.

// Thrown out of a wait once a stop signal came.
struct StopRequested {};

void installStopHandlers();
// The signal that came first, 0 while none did.
int stopSignal();
// "SIGHUP"; empty while none came.
const char* stopSignalName();
// Throws StopRequested once a stop signal came.
void throwIfStopRequested();
// As a shell reports a process the signal ended: 128 + the signal.
int stopExitStatus();
