#include "ledger/CentralSetup.h"

#include "ledger/CentralSchema.h"
#include "ledger/LedgerError.h"
#include "ledger/RecordText.h"
#include "ledger/UnitRows.h"

#include <QHash>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

namespace Ledger {

namespace {

QString sqlName(const QString& role)
{
    QString r = role;
    return QLatin1Char('"') + r.replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
}

}  // namespace

namespace {

// A station's grant is also written on its role, which outlives the
// database: a database made anew finds its stations there. A role's comment
// is one only a role administrator may write, never the station's own role.
const QString mappingLine = QStringLiteral("pelmora station %1 in database %2: %3");
const QRegularExpression mappingPattern(QStringLiteral("^pelmora station (\\S+) in database (\\S+): (.*)$"));

// Creating a large object needs no privilege on any table: only taking
// these functions from PUBLIC keeps a station from storing any.
const QStringList largeObjectFunctions{QStringLiteral("pg_catalog.lo_creat(integer)"),
                                       QStringLiteral("pg_catalog.lo_create(oid)"),
                                       QStringLiteral("pg_catalog.lo_from_bytea(oid, bytea)")};

}  // namespace

QList<int> CentralSetup::upgrade()
{
    QList<int> made;
    for (const SchemaStep& step : stepsAfter(centralSchemaSteps(), ledger_.version_)) {
        ledger_.exec(QStringLiteral("BEGIN"), "start a transaction");
        try {
            ledger_.exec(QStringLiteral("SET LOCAL lock_timeout = '10s'"), "bound the waits");
            ledger_.exec(QLatin1String(centralSetupLock), "take the set-up lock");
            ledger_.readVersion();
            if (ledger_.version_ >= step.version) {
                ledger_.exec(QStringLiteral("COMMIT"), "commit");
                continue;
            }
            for (const QString& sql : step.statements)
                ledger_.exec(sql, "take the tables forward");
            QSqlQuery has(ledger_.db_);
            if (has.exec(QStringLiteral("SELECT to_regclass('schema_version') IS NOT NULL")) && has.next()
                && has.value(0).toBool()) {
                // The versions before it, as the steps this program knows.
                for (const SchemaStep& s : centralSchemaSteps())
                    if (s.version <= step.version) {
                        QSqlQuery v = prepared(ledger_.db_,
                                               QStringLiteral("INSERT INTO schema_version (version, checksum) VALUES (?, ?) "
                                                              "ON CONFLICT (version) DO NOTHING"),
                                               {s.version, s.checksum()});
                        run(v, "record the version");
                    }
            }
            QSqlQuery meta = prepared(ledger_.db_, QStringLiteral("UPDATE ledger_meta SET value = ? WHERE key = 'schema_version'"),
                                      {QString::number(step.version)});
            run(meta, "record the version");
            ledger_.exec(QStringLiteral("COMMIT"), "commit");
            ledger_.version_ = step.version;
            made << step.version;
        } catch (...) {
            QSqlQuery(ledger_.db_).exec(QStringLiteral("ROLLBACK"));
            throw;
        }
    }
    return made;
}

QHash<QString, QString> CentralSetup::policiesIn(const QString& schema)
{
    // As the server itself prints them, so two policies compare alike
    // whatever spacing or parentheses they were written with.
    QSqlQuery q = prepared(ledger_.db_,
                           QStringLiteral("SELECT tablename, string_agg(policyname || ' ' || permissive || ' ' || cmd || ' "
                                          "to ' || roles::text || ' using ' || coalesce(qual, '-') || ' check ' || "
                                          "coalesce(with_check, '-'), E'\\n' ORDER BY policyname) FROM pg_policies "
                                          "WHERE schemaname = ? GROUP BY tablename"),
                           {schema});
    run(q, "read the tables' policies");
    QHash<QString, QString> out;
    while (q.next())
        out.insert(q.value(0).toString(), q.value(1).toString());
    return out;
}

void CentralSetup::requirePoliciesAsDescribed()
{
    // What this program's steps make, made where nothing is kept: a
    // schema of its own, in a transaction rolled back once read.
    QHash<QString, QString> expected;
    ledger_.exec(QStringLiteral("BEGIN"), "start a transaction");
    try {
        ledger_.exec(QStringLiteral("SET LOCAL lock_timeout = '10s'"), "bound the waits");
        ledger_.exec(QStringLiteral("CREATE SCHEMA pelmora_described"), "describe the tables");
        ledger_.exec(QStringLiteral("SET LOCAL search_path = pelmora_described"), "describe the tables");
        for (const SchemaStep& step : centralSchemaSteps())
            for (const QString& sql : step.statements)
                ledger_.exec(sql, "describe the tables");
        expected = policiesIn(QStringLiteral("pelmora_described"));
    } catch (...) {
        QSqlQuery(ledger_.db_).exec(QStringLiteral("ROLLBACK"));
        throw;
    }
    ledger_.exec(QStringLiteral("ROLLBACK"), "describe the tables");
    QSqlQuery schema(ledger_.db_);
    if (!schema.exec(QStringLiteral("SELECT current_schema()")) || !schema.next())
        throw LedgerError("could not read the central ledger's schema");
    const QHash<QString, QString> found = policiesIn(schema.value(0).toString());
    for (auto it = expected.cbegin(); it != expected.cend(); ++it)
        if (found.value(it.key()) != it.value()) {
            const QStringList want = it.value().split(QLatin1Char('\n')), have = found.value(it.key()).split(QLatin1Char('\n'));
            QString differs;
            for (const QString& line : have)
                if (!want.contains(line)) {
                    differs = line;
                    break;
                }
            throw LedgerError(QStringLiteral("the central ledger's table %1 has a policy other than this Pelmora's "
                                             "(%2); a station could write another's records, so nothing is granted")
                                  .arg(it.key(), differs.isEmpty() ? QStringLiteral("one is missing") : differs)
                                  .toStdString());
        }
}

void CentralSetup::requirePlainLoginRole(const QString& role)
{
    // A station's rights given to every role, to a group its members
    // inherit, or to a role above row-level security would let others write
    // as that station, or let it write as any.
    if (role.compare(QLatin1String("public"), Qt::CaseInsensitive) == 0)
        throw LedgerError("PUBLIC is every role of the database: a station is granted to a role of its own");
    QSqlQuery q = prepared(ledger_.db_,
                           QStringLiteral("SELECT rolcanlogin, rolsuper OR rolbypassrls, rolcreaterole OR rolcreatedb OR "
                                          "rolreplication, EXISTS (SELECT 1 FROM pg_auth_members m WHERE m.roleid = "
                                          "r.oid) FROM pg_roles r WHERE rolname = ?"),
                           {role});
    run(q, "read the role");
    const auto refuse = [&](const char* why) {
        throw LedgerError(QStringLiteral("role %1 %2: a station is granted to a plain login role of its own, which "
                                         "nothing else is")
                              .arg(role, QLatin1String(why))
                              .toStdString());
    };
    if (!q.next())
        refuse("does not exist (CREATE ROLE ... LOGIN first)");
    if (!q.value(0).toBool())
        refuse("cannot log in");
    if (q.value(1).toBool())
        refuse("is a superuser or bypasses row-level security");
    if (q.value(2).toBool())
        refuse("may create roles or databases, or replicate");
    if (q.value(3).toBool())
        refuse("has other roles as members, which would write as it");
}

QStringList CentralSetup::grantStation(const QString& role, const QString& station, const QString& name)
{
    if (QUuid::fromString(station).isNull())
        throw LedgerError(QStringLiteral("'%1' is not a station's id; pelmora-ledger --ledger FILE station shows it")
                              .arg(station)
                              .toStdString());
    QSqlQuery q(ledger_.db_);
    if (!q.exec(QStringLiteral("SELECT c.relname, c.relrowsecurity, coalesce(string_agg(p.polname, ',' "
                               "ORDER BY p.polname), '') FROM pg_class c LEFT JOIN pg_policy p ON p.polrelid = c.oid "
                               "WHERE c.relnamespace = current_schema()::regnamespace AND c.relkind = 'r' "
                               "GROUP BY c.relname, c.relrowsecurity")))
        throw LedgerError(QStringLiteral("could not read the tables' policies: %1").arg(q.lastError().text()).toStdString());
    QHash<QString, QString> found;
    while (q.next())
        found.insert(q.value(0).toString(), q.value(1).toBool() ? q.value(2).toString() : QStringLiteral("(off)"));
    ledger_.requireCurrent();
    for (const auto& [table, expected] : centralPolicies())
        if (found.value(table) != expected)
            throw LedgerError(QStringLiteral("the central ledger's table %1 lacks its row-level security (policies "
                                             "'%2', expected '%3'); a station could write another's records, so "
                                             "nothing is granted")
                                  .arg(table, found.value(table), expected)
                                  .toStdString());
    requirePoliciesAsDescribed();
    requirePlainLoginRole(role);
    mapStation(role, station, notNull(name));
    QStringList notes = keepOutOfLargeObjects(role);
    if (!recordOnRole(role, station, name))
        notes << QStringLiteral("role %1's comment could not be written (only a role administrator may): should this "
                                "database be made anew, grant each station again")
                     .arg(role);
    notes += restoreGrants();
    return notes;
}

void CentralSetup::mapStation(const QString& role, const QString& station, const QString& name)
{
    ledger_.exec(QStringLiteral("BEGIN"), "start a transaction");
    try {
        for (const QString& g : grantsFor(role))
            ledger_.exec(g, "grant");
        QSqlQuery add = prepared(ledger_.db_,
                                 QStringLiteral("INSERT INTO stations (station, role, name) VALUES (?, ?, ?) "
                                                "ON CONFLICT (station) DO NOTHING"),
                                 {station, role, name});
        run(add, "map the station to its role");
        QSqlQuery held = prepared(ledger_.db_, QStringLiteral("SELECT role FROM stations WHERE station = ?"), {station});
        run(held, "map the station to its role");
        if (!held.next() || held.value(0).toString() != role)
            throw LedgerError(QStringLiteral("station %1 is granted to role %2 already")
                                  .arg(station, held.value(0).toString())
                                  .toStdString());
        ledger_.exec(QStringLiteral("COMMIT"), "commit");
    } catch (...) {
        QSqlQuery(ledger_.db_).exec(QStringLiteral("ROLLBACK"));
        throw;
    }
}

QStringList CentralSetup::grantsFor(const QString& role) const
{
    const QString r = sqlName(role);
    return {
        QStringLiteral("REVOKE ALL ON %1 FROM %2").arg(centralTables(), r),
        QStringLiteral("GRANT SELECT ON %1 TO %2").arg(centralTables(), r),
        // writer and received are never the inserter's to say.
        QStringLiteral("GRANT INSERT (station, seq, unit_id, kind, body, prev_hash, hash) ON chain TO %1").arg(r),
        QStringLiteral("GRANT INSERT (station, %1) ON units TO %2").arg(unitShape().names(), r),
        QStringLiteral("GRANT INSERT ON labels TO %1").arg(r),
        QStringLiteral("GRANT UPDATE (end_time, result, why, reason) ON units TO %1").arg(r),
        QStringLiteral("GRANT INSERT, UPDATE ON station_leases TO %1").arg(r),
    };
}

QStringList CentralSetup::keepOutOfLargeObjects(const QString& role)
{
    const QString functions = largeObjectFunctions.join(QStringLiteral(", "));
    // Without the right to (a superuser's), the server only warns.
    QSqlQuery(ledger_.db_).exec(QStringLiteral("REVOKE EXECUTE ON FUNCTION %1 FROM PUBLIC, %2").arg(functions, sqlName(role)));
    QStringList may;
    QVariantList values;
    for (const QString& f : largeObjectFunctions) {
        may << QStringLiteral("has_function_privilege(?, ?, 'EXECUTE')");
        values << role << f;
    }
    QSqlQuery q = prepared(ledger_.db_, QStringLiteral("SELECT ") + may.join(QStringLiteral(" OR ")), values);
    run(q, "read the role's rights");
    if (!q.next() || !q.value(0).toBool())
        return {};
    return {QStringLiteral("role %1 may still store large objects, which no table limits; as a superuser, once per "
                           "database: REVOKE EXECUTE ON FUNCTION %2 FROM PUBLIC")
                .arg(role, functions)};
}

bool CentralSetup::recordOnRole(const QString& role, const QString& station, const QString& name)
{
    QSqlQuery q = prepared(ledger_.db_,
                           QStringLiteral("SELECT current_database(), coalesce(shobj_description(oid, 'pg_authid'), '') "
                                          "FROM pg_roles WHERE rolname = ?"),
                           {role});
    run(q, "read the role");
    if (!q.next())
        return false;
    const QString database = q.value(0).toString();
    QStringList lines;
    for (const QString& line : q.value(1).toString().split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch m = mappingPattern.match(line);
        if (!(m.hasMatch() && m.captured(1) == station && m.captured(2) == database))
            lines << line;
    }
    lines << mappingLine.arg(station, database, QString(name).replace(QLatin1Char('\n'), QLatin1Char(' ')));
    QString comment = lines.join(QLatin1Char('\n'));
    comment.replace(QLatin1Char('\''), QStringLiteral("''"));
    // A statement of its own: refused, it must not undo the grant.
    QSqlQuery c(ledger_.db_);
    return c.exec(QStringLiteral("COMMENT ON ROLE %1 IS '%2'").arg(sqlName(role), comment));
}

QStringList CentralSetup::restoreGrants()
{
    ledger_.requireCurrent();
    QSqlQuery q(ledger_.db_);
    if (!q.exec(QStringLiteral("SELECT r.rolname, shobj_description(r.oid, 'pg_authid'), current_database() "
                               "FROM pg_roles r WHERE shobj_description(r.oid, 'pg_authid') LIKE '%pelmora station %'")))
        throw LedgerError(QStringLiteral("could not read the roles: %1").arg(q.lastError().databaseText()).toStdString());
    struct Named {
        QString role, name;
    };
    QHash<QString, QList<Named>> named;  // by station
    while (q.next())
        for (const QString& line : q.value(1).toString().split(QLatin1Char('\n'))) {
            const QRegularExpressionMatch m = mappingPattern.match(line);
            if (m.hasMatch() && m.captured(2) == q.value(2).toString() && !QUuid::fromString(m.captured(1)).isNull())
                named[m.captured(1)].append(Named{q.value(0).toString(), m.captured(3)});
        }
    const QHash<QString, QString> mapped = ledger_.stationNames();
    QStringList notes;
    for (auto it = named.cbegin(); it != named.cend(); ++it) {
        if (mapped.contains(it.key()))
            continue;
        if (it.value().size() > 1) {
            QStringList roles;
            for (const Named& n : it.value())
                roles << n.role;
            notes << QStringLiteral("station %1 is named by the roles %2: grant it again to the one it is")
                         .arg(it.key(), roles.join(QStringLiteral(", ")));
            continue;
        }
        const Named& n = it.value().first();
        try {
            requirePlainLoginRole(n.role);
        } catch (const LedgerError& e) {
            notes << QStringLiteral("station %1 not granted again: %2").arg(it.key(), QString::fromUtf8(e.what()));
            continue;
        }
        mapStation(n.role, it.key(), n.name);
        keepOutOfLargeObjects(n.role);
        notes << QStringLiteral("station %1 granted again to role %2, as its role records").arg(it.key(), n.role);
    }
    notes.sort();
    return notes;
}

}  // namespace Ledger
