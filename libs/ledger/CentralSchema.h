#pragma once
// The floor's PostgreSQL ledger, described once: its tables, indexes,
// row-level security and policies as the numbered steps that made every
// version of them, and the policies each table must have.

#include "ledger/SchemaSteps.h"

#include <utility>

namespace Ledger {

// 2: stations bound to roles; units, labels and the chain, each with its
//    row-level security (version 1 bound no station to a role and is not
//    taken forward).
// 3: each unit's serial, reason code and the record it reloads; each
//    label's reason code; the schema_version table; the new columns granted
//    to the station roles already mapped.
// 4: a link's unit unique per station (station, unit_id, kind), not across
//    the floor.
// 5: the views quality reads.
// 6: station leases; per-row size limits.
// 7: a bound on the rows a station inserts in one transaction.
const std::vector<SchemaStep>& centralSchemaSteps();
int centralSchemaVersion();
// The oldest version the steps take forward.
int centralOldestVersion();
// Every table and the names of the policies it must have, comma-separated
// in name order, and no others: a policy added beside them would widen what
// a station may write.
const std::vector<std::pair<QString, QString>>& centralPolicies();
// The set-up lock, taken by whoever makes or takes forward the tables;
// every session bounds its wait for it (lock_timeout).
inline constexpr const char* centralSetupLock = "SELECT pg_advisory_xact_lock(7451327)";
// The tables a station's role reads.
QString centralTables();

}  // namespace Ledger
