#pragma once
// The station's own SQLite ledger, described once: its tables and indexes as
// the numbered steps that made every version of them.

#include "ledger/SchemaSteps.h"

namespace Ledger {

// 1: the units, their labels, the chain and meta (station id and name).
// 2: each unit's serial, reason code and the record it reloads; each
//    label's reason code; units found by serial.
const std::vector<SchemaStep>& localSchemaSteps();
// The version the steps make.
int localSchemaVersion();

}  // namespace Ledger
