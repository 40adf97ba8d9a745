#pragma once
// SIGINT and SIGTERM stop every load before its next frame. The handler only
// notes the signal; the device threads look at it in their waits.

// Thrown out of a wait once a stop signal came.
struct StopRequested {};

void installStopHandlers();
// The signal that came (SIGINT, SIGTERM), 0 while none did.
int stopSignal();
// Throws StopRequested once a stop signal came.
void throwIfStopRequested();
// 130 after SIGINT, 143 after SIGTERM.
int stopExitStatus();
