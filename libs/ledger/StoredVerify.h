#pragma once
// verify() and compareCopies() on a ledger as it is stored, read a page at a
// time: memory does not grow with the ledger, however many links and rows
// it holds, and what is found is said as it is found.

#include "ledger/Chain.h"
#include "ledger/UnitRows.h"

#include <QSqlDatabase>
#include <functional>
#include <optional>

namespace Ledger {

// A ledger's connection as these read it.
struct StoredLedger {
    QSqlDatabase db;
    Dialect dialect = Dialect::Sqlite;
    bool serials = true;  // its units have the serials' columns
};

struct VerifyTotals {
    qint64 links = 0, units = 0, stations = 0;
};

using FindingSink = std::function<void(const Finding&)>;

// What verify(chain, units) finds on the whole ledger, in the same order,
// from one snapshot of it. Throws LedgerError.
VerifyTotals verifyStored(const StoredLedger& ledger, const FindingSink& found, int pageRows = 500);

// What compareCopies(own chain, sentUpTo, central chain) finds. The central
// copy is read in a snapshot taken before the station's own, so a link the
// station wrote and sent meanwhile is not taken for one the central ledger
// holds past the station's end. Throws LedgerError.
std::optional<Finding> compareStoredCopies(const StoredLedger& own, qint64 sentUpTo, const StoredLedger& central,
                                           int pageRows = 500);

}  // namespace Ledger
