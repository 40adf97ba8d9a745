#pragma once
// Reading units and chains from SQL, the same for the SQLite and the
// PostgreSQL ledger (their tables have the same columns).

#include "ledger/Chain.h"
#include "ledger/UnitFilter.h"
#include "ledger/UnitRecord.h"

#include <QSqlDatabase>
#include <QSqlQuery>

namespace Ledger {

enum class Dialect { Sqlite, Postgres };

QList<UnitRecord> readUnits(QSqlDatabase& db, Dialect dialect, const UnitFilter& filter);
// Every link, by station and seq; station empty means all.
QList<ChainEntry> readChain(QSqlDatabase& db, Dialect dialect, const QString& station = {});
// The links a query selected as station, seq, unit_id, kind, body, prev_hash, hash.
QList<ChainEntry> chainEntries(QSqlQuery& q);

// A null QString binds as NULL; the ledgers' text columns never hold NULL.
QString notNull(const QString& s);
// Runs a prepared statement; throws LedgerError with what the database said.
void run(QSqlQuery& q, const char* what);
QSqlQuery prepared(QSqlDatabase& db, const QString& sql, const QVariantList& values);

}  // namespace Ledger
