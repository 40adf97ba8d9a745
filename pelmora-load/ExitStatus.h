#pragma once
// The exit statuses: each says what state the slot was left in. The load's
// own come from the shared sequence; the run adds the record's and the stop
// signals' (128 + the signal).

#include "wire/LoadSequence.h"

namespace ExitStatus {
using namespace Wire::ExitStatus;
inline constexpr int RecordFailed = 9;  // the load's result stands; its record could not be written
}  // namespace ExitStatus
