#include "ledger/CentralSchema.h"

namespace Ledger {

// The tables' owner writes the stations: which role records which station.
// Row-level security on every table lets a station role insert only rows of
// the stations mapped to it, as itself, and close only their open units;
// the owner alone is above it.
#define PELMORA_OWN_STATION "station IN (SELECT s.station FROM stations s WHERE s.role = current_user)"

const std::vector<SchemaStep>& centralSchemaSteps()
{
    // A step once released is never edited: a database that ran it records
    // its checksum, and a changed one is refused there. Changes are new steps.
    static const std::vector<SchemaStep> steps{
        {2,
         {
             QStringLiteral("CREATE TABLE ledger_meta (key text PRIMARY KEY, value text NOT NULL)"),
             QStringLiteral("CREATE TABLE stations (station text PRIMARY KEY, role name NOT NULL, name text NOT NULL "
                            "DEFAULT '', added timestamptz NOT NULL DEFAULT now())"),
             QStringLiteral("CREATE TABLE units (id uuid PRIMARY KEY, station text NOT NULL, host text NOT NULL, "
                            "fixture_name text NOT NULL, fixture_path text NOT NULL, adapter_identity text NOT NULL, "
                            "unit_number bigint NOT NULL, recipe_name text NOT NULL, recipe_sha256 text NOT NULL, "
                            "tool_version text NOT NULL, start_time timestamptz NOT NULL, end_time timestamptz, "
                            "result text CHECK (result IN ('pass', 'fail', 'interrupted')), why text NOT NULL, "
                            "writer name NOT NULL DEFAULT current_user)"),
             QStringLiteral("CREATE INDEX units_start ON units (start_time)"),
             QStringLiteral("CREATE TABLE labels (unit_id uuid NOT NULL REFERENCES units (id), slot integer NOT NULL, "
                            "file text NOT NULL, sha256 text NOT NULL, size bigint NOT NULL, data_frames_sent bigint NOT "
                            "NULL, file_frame_sent boolean NOT NULL, release_confirmed boolean NOT NULL, slot_holds text "
                            "NOT NULL, PRIMARY KEY (unit_id, slot))"),
             QStringLiteral("CREATE TABLE chain (station text NOT NULL, seq bigint NOT NULL, unit_id uuid NOT NULL, "
                            "kind text NOT NULL CHECK (kind IN ('begin', 'close')), body text NOT NULL, prev_hash text "
                            "NOT NULL, hash text NOT NULL, received timestamptz NOT NULL DEFAULT now(), writer name NOT "
                            "NULL DEFAULT current_user, PRIMARY KEY (station, seq), UNIQUE (unit_id, kind))"),
             QStringLiteral("ALTER TABLE ledger_meta ENABLE ROW LEVEL SECURITY"),
             QStringLiteral("CREATE POLICY ledger_meta_read ON ledger_meta FOR SELECT USING (true)"),
             QStringLiteral("ALTER TABLE stations ENABLE ROW LEVEL SECURITY"),
             QStringLiteral("CREATE POLICY stations_read ON stations FOR SELECT USING (true)"),
             QStringLiteral("ALTER TABLE units ENABLE ROW LEVEL SECURITY"),
             QStringLiteral("CREATE POLICY units_read ON units FOR SELECT USING (true)"),
             QStringLiteral("CREATE POLICY units_open ON units FOR INSERT WITH CHECK (writer = current_user AND "
                            PELMORA_OWN_STATION ")"),
             QStringLiteral("CREATE POLICY units_close ON units FOR UPDATE USING (result IS NULL AND " PELMORA_OWN_STATION
                            ") WITH CHECK (writer = current_user AND " PELMORA_OWN_STATION ")"),
             QStringLiteral("ALTER TABLE labels ENABLE ROW LEVEL SECURITY"),
             QStringLiteral("CREATE POLICY labels_read ON labels FOR SELECT USING (true)"),
             QStringLiteral("CREATE POLICY labels_write ON labels FOR INSERT WITH CHECK (unit_id IN (SELECT u.id FROM "
                            "units u JOIN stations s ON s.station = u.station WHERE s.role = current_user))"),
             QStringLiteral("ALTER TABLE chain ENABLE ROW LEVEL SECURITY"),
             QStringLiteral("CREATE POLICY chain_read ON chain FOR SELECT USING (true)"),
             QStringLiteral("CREATE POLICY chain_write ON chain FOR INSERT WITH CHECK (writer = current_user AND "
                            PELMORA_OWN_STATION ")"),
         }},
        {3,
         {
             QStringLiteral("ALTER TABLE units ADD COLUMN serial text NOT NULL DEFAULT '', "
                            "ADD COLUMN reason text NOT NULL DEFAULT '', ADD COLUMN reload_of text NOT NULL DEFAULT ''"),
             QStringLiteral("ALTER TABLE labels ADD COLUMN reason text NOT NULL DEFAULT ''"),
             QStringLiteral("CREATE INDEX units_serial ON units (serial, recipe_sha256) WHERE serial <> ''"),
             QStringLiteral("CREATE TABLE schema_version (version integer PRIMARY KEY, checksum text NOT NULL, "
                            "applied timestamptz NOT NULL DEFAULT now())"),
             QStringLiteral("ALTER TABLE schema_version ENABLE ROW LEVEL SECURITY"),
             QStringLiteral("CREATE POLICY schema_version_read ON schema_version FOR SELECT USING (true)"),
             // The roles granted before: what `grant` gives a station now.
             QStringLiteral("DO $$ DECLARE r name; BEGIN FOR r IN SELECT DISTINCT s.role FROM stations s "
                            "JOIN pg_roles p ON p.rolname = s.role LOOP "
                            "EXECUTE format('GRANT SELECT ON schema_version TO %I', r); "
                            "EXECUTE format('GRANT INSERT (serial, reason, reload_of), UPDATE (reason) ON units TO %I', r); "
                            "END LOOP; END $$"),
         }},
        {4,
         {
             // One station's link never collides with another's: a unit id
             // is unique within its station's chain only.
             QStringLiteral("ALTER TABLE chain DROP CONSTRAINT chain_unit_id_kind_key"),
             QStringLiteral("ALTER TABLE chain ADD CONSTRAINT chain_station_unit_kind UNIQUE (station, unit_id, kind)"),
         }},
        {5,
         {
             // Quality's reading of the floor. The views read the tables as
             // their owner, so a role granted SELECT on them alone reads them.
             // A unit is a first attempt unless the same serial began the
             // same recipe before it; one without a serial always is.
             QStringLiteral(
                 "CREATE VIEW unit_results AS SELECT u.id, NULLIF(u.serial, '') AS serial, u.station, "
                 "COALESCE(NULLIF(s.name, ''), u.host) AS station_name, u.host, u.fixture_name AS fixture, "
                 "u.recipe_name AS recipe, u.recipe_sha256, u.start_time, u.end_time, "
                 "EXTRACT(EPOCH FROM u.end_time - u.start_time)::double precision AS seconds, "
                 "COALESCE(u.result, 'open') AS result, NULLIF(u.reason, '') AS reason, u.why, "
                 "(u.serial = '' OR NOT EXISTS (SELECT 1 FROM units e WHERE e.serial = u.serial AND "
                 "e.recipe_sha256 = u.recipe_sha256 AND (e.start_time, e.id) < (u.start_time, u.id))) AS first_attempt, "
                 "NULLIF(u.reload_of, '') AS reload_of, "
                 "EXTRACT(EPOCH FROM c.received - u.end_time)::double precision AS forwarding_delay "
                 "FROM units u LEFT JOIN stations s ON s.station = u.station "
                 "LEFT JOIN chain c ON c.station = u.station AND c.unit_id = u.id AND c.kind = 'close'"),
             QStringLiteral(
                 "CREATE VIEW label_results AS SELECT l.unit_id, r.serial, r.station, r.station_name, r.fixture, "
                 "r.recipe, r.start_time, l.slot, l.file, l.sha256, l.size, l.data_frames_sent, l.file_frame_sent, "
                 "l.release_confirmed, l.slot_holds, NULLIF(l.reason, '') AS reason, r.result AS unit_result "
                 "FROM labels l JOIN unit_results r ON r.id = l.unit_id"),
             // Whole UTC hours of each unit's start; the rate over the span
             // the hour's units cover, none under a minute.
             QStringLiteral(
                 "CREATE VIEW yield_by_hour AS SELECT station, station_name, recipe, recipe_sha256, "
                 "date_trunc('hour', start_time AT TIME ZONE 'UTC') AT TIME ZONE 'UTC' AS hour, "
                 "count(*) AS units, count(*) FILTER (WHERE result = 'pass') AS passed, "
                 "count(*) FILTER (WHERE result = 'fail') AS failed, "
                 "count(*) FILTER (WHERE result = 'interrupted') AS interrupted, "
                 "count(*) FILTER (WHERE result = 'open') AS open, "
                 "count(*) FILTER (WHERE first_attempt) AS first_attempts, "
                 "count(*) FILTER (WHERE first_attempt AND result <> 'open') AS first_attempts_ended, "
                 "count(*) FILTER (WHERE first_attempt AND result = 'pass') AS first_attempts_passed, "
                 "(count(*) FILTER (WHERE first_attempt AND result = 'pass'))::double precision "
                 "/ NULLIF(count(*) FILTER (WHERE first_attempt AND result <> 'open'), 0) AS first_pass_yield, "
                 "CASE WHEN max(COALESCE(end_time, start_time)) - min(start_time) >= interval '1 minute' "
                 "THEN count(*) / (EXTRACT(EPOCH FROM max(COALESCE(end_time, start_time)) - min(start_time))"
                 "::double precision / 3600) END AS units_per_hour "
                 "FROM unit_results GROUP BY station, station_name, recipe, recipe_sha256, 5"),
             QStringLiteral(
                 "CREATE VIEW failure_reasons AS SELECT station, station_name, recipe, recipe_sha256, "
                 "date_trunc('hour', start_time AT TIME ZONE 'UTC') AT TIME ZONE 'UTC' AS hour, "
                 "COALESCE(reason, 'unrecorded') AS reason, count(*) AS units, "
                 "count(*)::double precision / sum(count(*)) OVER (PARTITION BY station, recipe_sha256, "
                 "date_trunc('hour', start_time AT TIME ZONE 'UTC') AT TIME ZONE 'UTC') AS share "
                 "FROM unit_results WHERE result IN ('fail', 'interrupted') "
                 "GROUP BY station, station_name, recipe, recipe_sha256, 5, 6"),
         }},
        {6,
         {
             // A station's identity is a lease its own role renews, never a
             // lock another role can take: one station's role cannot touch
             // another's lease, and a lease whose holder's connection is gone
             // or which was not renewed for a minute is free again.
             QStringLiteral("CREATE TABLE station_leases (station text PRIMARY KEY, holder text NOT NULL, "
                            "backend integer NOT NULL, backend_start timestamptz, until timestamptz NOT NULL)"),
             QStringLiteral("ALTER TABLE station_leases ENABLE ROW LEVEL SECURITY"),
             QStringLiteral("CREATE POLICY station_leases_read ON station_leases FOR SELECT USING (true)"),
             QStringLiteral("CREATE POLICY station_leases_claim ON station_leases FOR INSERT WITH CHECK (" PELMORA_OWN_STATION ")"),
             QStringLiteral("CREATE POLICY station_leases_renew ON station_leases FOR UPDATE USING (" PELMORA_OWN_STATION
                            ") WITH CHECK (" PELMORA_OWN_STATION ")"),
             QStringLiteral("DO $$ DECLARE r name; BEGIN FOR r IN SELECT DISTINCT s.role FROM stations s "
                            "JOIN pg_roles p ON p.rolname = s.role LOOP "
                            "EXECUTE format('GRANT SELECT, INSERT, UPDATE ON station_leases TO %I', r); "
                            "END LOOP; END $$"),
             // No row a station writes is larger than a station makes: a
             // field of hundreds of megabytes would stall every reader.
             // NOT VALID: rows already stored are left as they are.
             QStringLiteral("ALTER TABLE chain ADD CONSTRAINT chain_sizes CHECK (octet_length(body) <= 65536 AND "
                            "octet_length(station) <= 64 AND octet_length(prev_hash) <= 128 AND octet_length(hash) <= 128) "
                            "NOT VALID"),
             QStringLiteral("ALTER TABLE units ADD CONSTRAINT units_sizes CHECK (octet_length(why) <= 8192 AND "
                            "octet_length(serial) <= 256 AND octet_length(host) <= 1024 AND octet_length(fixture_name) <= 1024 "
                            "AND octet_length(fixture_path) <= 4096 AND octet_length(adapter_identity) <= 1024 AND "
                            "octet_length(recipe_name) <= 1024 AND octet_length(recipe_sha256) <= 128 AND "
                            "octet_length(tool_version) <= 128 AND octet_length(reason) <= 64 AND "
                            "octet_length(reload_of) <= 64) NOT VALID"),
             QStringLiteral("ALTER TABLE labels ADD CONSTRAINT labels_sizes CHECK (octet_length(file) <= 4096 AND "
                            "octet_length(sha256) <= 128 AND octet_length(slot_holds) <= 32 AND octet_length(reason) <= 64) "
                            "NOT VALID"),
         }},
        {7,
         {
             // No transaction of a station's inserts more rows than a station
             // makes in one: the forwarder sends 100 records at a time. The
             // count is kept where the station's role cannot reach it, by
             // transaction, so neither a setting it could reset nor a
             // savepoint escapes it.
             QStringLiteral("CREATE TABLE transaction_rows (role name NOT NULL, xact xid8 NOT NULL, tbl name NOT NULL, "
                            "n bigint NOT NULL, PRIMARY KEY (role, xact, tbl))"),
             QStringLiteral("ALTER TABLE transaction_rows ENABLE ROW LEVEL SECURITY"),
             QStringLiteral(
                 "CREATE FUNCTION bound_transaction_rows() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER "
                 "SET search_path = pg_catalog, pg_temp AS $$ DECLARE added bigint; total bigint; BEGIN "
                 "IF pg_has_role(session_user, (SELECT relowner FROM pg_class WHERE oid = TG_RELID), 'USAGE') THEN "
                 "RETURN NULL; END IF; "
                 "SELECT count(*) INTO added FROM added_rows; "
                 "EXECUTE format('INSERT INTO %I.transaction_rows AS t VALUES ($1, pg_current_xact_id(), $2, $3) "
                 "ON CONFLICT (role, xact, tbl) DO UPDATE SET n = t.n + EXCLUDED.n RETURNING n', TG_TABLE_SCHEMA) "
                 "INTO total USING session_user, TG_TABLE_NAME, added; "
                 // The first count of a transaction sweeps the role's earlier ones.
                 "IF total = added THEN EXECUTE format('DELETE FROM %I.transaction_rows WHERE role = $1 AND "
                 "xact <> pg_current_xact_id()', TG_TABLE_SCHEMA) USING session_user; END IF; "
                 "IF total > TG_ARGV[0]::bigint THEN RAISE EXCEPTION 'a station writes at most % rows of table % in "
                 "one transaction', TG_ARGV[0], TG_TABLE_NAME USING ERRCODE = 'program_limit_exceeded'; END IF; "
                 "RETURN NULL; END $$"),
             QStringLiteral("CREATE TRIGGER chain_rows AFTER INSERT ON chain REFERENCING NEW TABLE AS added_rows "
                            "FOR EACH STATEMENT EXECUTE FUNCTION bound_transaction_rows(10000)"),
             QStringLiteral("CREATE TRIGGER units_rows AFTER INSERT ON units REFERENCING NEW TABLE AS added_rows "
                            "FOR EACH STATEMENT EXECUTE FUNCTION bound_transaction_rows(10000)"),
             QStringLiteral("CREATE TRIGGER labels_rows AFTER INSERT ON labels REFERENCING NEW TABLE AS added_rows "
                            "FOR EACH STATEMENT EXECUTE FUNCTION bound_transaction_rows(50000)"),
         }},
    };
    return steps;
}

#undef PELMORA_OWN_STATION

int centralSchemaVersion()
{
    return centralSchemaSteps().back().version;
}

int centralOldestVersion()
{
    return centralSchemaSteps().front().version;
}

const std::vector<std::pair<QString, QString>>& centralPolicies()
{
    static const std::vector<std::pair<QString, QString>> policies{
        {QStringLiteral("chain"), QStringLiteral("chain_read,chain_write")},
        {QStringLiteral("labels"), QStringLiteral("labels_read,labels_write")},
        {QStringLiteral("ledger_meta"), QStringLiteral("ledger_meta_read")},
        {QStringLiteral("schema_version"), QStringLiteral("schema_version_read")},
        {QStringLiteral("station_leases"), QStringLiteral("station_leases_claim,station_leases_read,station_leases_renew")},
        {QStringLiteral("stations"), QStringLiteral("stations_read")},
        {QStringLiteral("transaction_rows"), QString()},
        {QStringLiteral("units"), QStringLiteral("units_close,units_open,units_read")},
    };
    return policies;
}

QString centralTables()
{
    return QStringLiteral("ledger_meta, schema_version, stations, station_leases, units, labels, chain");
}

}  // namespace Ledger
