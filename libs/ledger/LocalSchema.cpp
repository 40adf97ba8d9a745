#include "ledger/LocalSchema.h"

namespace Ledger {

const std::vector<SchemaStep>& localSchemaSteps()
{
    // A step once released is never edited: a ledger that ran it records
    // its checksum, and a changed one is refused there. Changes are new steps.
    static const std::vector<SchemaStep> steps{
        {1,
         {
             QStringLiteral("CREATE TABLE meta (key TEXT PRIMARY KEY, value TEXT NOT NULL)"),
             QStringLiteral(
                 "CREATE TABLE units (id TEXT PRIMARY KEY, host TEXT NOT NULL, fixture_name TEXT NOT NULL, "
                 "fixture_path TEXT NOT NULL, adapter_identity TEXT NOT NULL, unit_number INTEGER NOT NULL, "
                 "recipe_name TEXT NOT NULL, recipe_sha256 TEXT NOT NULL, tool_version TEXT NOT NULL, "
                 "start_time TEXT NOT NULL, end_time TEXT, result TEXT, why TEXT NOT NULL)"),
             QStringLiteral("CREATE INDEX units_start ON units (start_time)"),
             QStringLiteral("CREATE INDEX units_open ON units (result) WHERE result IS NULL"),
             QStringLiteral(
                 "CREATE TABLE labels (unit_id TEXT NOT NULL REFERENCES units (id), slot INTEGER NOT NULL, "
                 "file TEXT NOT NULL, sha256 TEXT NOT NULL, size INTEGER NOT NULL, data_frames_sent INTEGER NOT NULL, "
                 "file_frame_sent INTEGER NOT NULL, release_confirmed INTEGER NOT NULL, slot_holds TEXT NOT NULL, "
                 "PRIMARY KEY (unit_id, slot))"),
             QStringLiteral(
                 "CREATE TABLE chain (station TEXT NOT NULL, seq INTEGER NOT NULL, unit_id TEXT NOT NULL, kind TEXT NOT NULL, "
                 "body TEXT NOT NULL, prev_hash TEXT NOT NULL, hash TEXT NOT NULL, sent INTEGER NOT NULL DEFAULT 0, "
                 "PRIMARY KEY (station, seq), UNIQUE (unit_id, kind))"),
             QStringLiteral("CREATE INDEX chain_unsent ON chain (seq) WHERE sent = 0"),
         }},
        {2,
         {
             QStringLiteral("ALTER TABLE units ADD COLUMN serial TEXT NOT NULL DEFAULT ''"),
             QStringLiteral("ALTER TABLE units ADD COLUMN reason TEXT NOT NULL DEFAULT ''"),
             QStringLiteral("ALTER TABLE units ADD COLUMN reload_of TEXT NOT NULL DEFAULT ''"),
             QStringLiteral("ALTER TABLE labels ADD COLUMN reason TEXT NOT NULL DEFAULT ''"),
             QStringLiteral("CREATE INDEX units_serial ON units (serial, recipe_sha256, result) WHERE serial <> ''"),
         }},
    };
    return steps;
}

int localSchemaVersion()
{
    return localSchemaSteps().back().version;
}

}  // namespace Ledger
