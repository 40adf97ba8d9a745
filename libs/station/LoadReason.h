#pragma once
// The reason code (ledger/ReasonCode.h) of a label's load that did not end
// loaded; empty for one that did.

#include "wire/LoadSequence.h"

#include <QString>

QString reasonOf(const Wire::LoadOutcome& outcome);
