#pragma once
// A unit's row and its labels' rows, and the chain, in SQL: one description
// of each row for the SQLite and the PostgreSQL ledger (their tables have the
// same columns), and the readers of both.

#include "ledger/Chain.h"
#include "ledger/UnitFilter.h"
#include "ledger/UnitRecord.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <initializer_list>
#include <utility>
#include <vector>

namespace Ledger {

enum class Dialect { Sqlite, Postgres };

// The columns of a row, in the one order every statement that writes or
// reads the row uses.
class RowShape {
public:
    enum class Type { Text, Number, Id, Time };
    struct Column {
        const char* name;
        Type type;
        bool serials = false;  // came with the serials; a store of an older version lacks it
    };
    RowShape(std::initializer_list<Column> columns);
    QString names() const;                // "id, host, ..."
    QString parameters(Dialect d) const;  // "CAST(? AS uuid), ?, ..." as the store takes them
    // Ids and times as text, alike from both stores; from a store without
    // the serials' columns, empty text in their place.
    QString selected(Dialect d, bool serials = true) const;

private:
    std::vector<Column> columns_;
};

// id, host, fixture_name, ... start_time, end_time, result, why, serial, reason, reload_of
const RowShape& unitShape();
// unit_id, slot, file, ... slot_holds, reason
const RowShape& labelShape();
QVariantList unitValues(const UnitRecord& r);
QVariantList labelValues(const QUuid& unit, const LabelRecord& l);
// From a query that selected unitShape() (labelShape()) from its first column on.
UnitRecord unitFromRow(const QSqlQuery& q);
LabelRecord labelFromRow(const QSqlQuery& q);

// serials: the store has the serials' columns (local version 2, central 3 on).
QList<UnitRecord> readUnits(QSqlDatabase& db, Dialect dialect, const UnitFilter& filter, bool serials = true);
// Every link, by station and seq; station empty means all.
QList<ChainEntry> readChain(QSqlDatabase& db, Dialect dialect, const QString& station = {});
// The links a query selected as station, seq, unit_id, kind, body, prev_hash, hash.
QList<ChainEntry> chainEntries(QSqlQuery& q);
// "station, seq, unit_id, ..." as text alike from both stores, each name after prefix ("c.").
QString chainColumns(Dialect d, const QString& prefix = {});
// The link a row holds from column `first` on, selected as chainColumns().
ChainEntry chainEntryFromRow(const QSqlQuery& q, int first = 0);

// A null QString binds as NULL; the ledgers' text columns never hold NULL.
QString notNull(const QString& s);
// Runs a prepared statement; throws LedgerError with what the database said.
void run(QSqlQuery& q, const char* what);
QSqlQuery prepared(QSqlDatabase& db, const QString& sql, const QVariantList& values);

}  // namespace Ledger
