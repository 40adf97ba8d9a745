#pragma once
// The exit statuses: each says what state the slot was left in. The load's
// own come from the shared sequence; the run adds the stop signals'.

#include "wire/LoadSequence.h"

namespace ExitStatus {
using namespace Wire::ExitStatus;
inline constexpr int Interrupted = 130;  // SIGINT
inline constexpr int Terminated = 143;   // SIGTERM
}  // namespace ExitStatus
