#pragma once
// verify() and compareCopies() on a ledger as it is stored, read a page at a
// time: memory does not grow with the ledger, however many links and rows
// it holds, and what is found is said as it is found.

#include "ledger/Chain.h"
#include "ledger/UnitRows.h"

#include <QHash>
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

struct ChainHead {
    qint64 seq = 0;
    QString hash;
};

struct VerifyTotals {
    qint64 links = 0, units = 0, stations = 0;
    QHash<QString, ChainHead> heads;  // each station's last link
};

using FindingSink = std::function<void(const Finding&)>;
// Each unit with its labels, by start time then id, before what is found of its row.
using UnitSink = std::function<void(const UnitRecord&)>;

// What verify(chain, units) finds on the whole ledger, in the same order,
// from one snapshot of it; eachUnit, when given, sees every row read on the
// way. Throws LedgerError.
VerifyTotals verifyStored(const StoredLedger& ledger, const FindingSink& found, int pageRows = 500,
                          const UnitSink& eachUnit = {});

// What compareCopies(own chain, sentUpTo, central chain) finds. The central
// copy is read in a snapshot taken before the station's own, so a link the
// station wrote and sent meanwhile is not taken for one the central ledger
// holds past the station's end. Throws LedgerError.
std::optional<Finding> compareStoredCopies(const StoredLedger& own, qint64 sentUpTo, const StoredLedger& central,
                                           int pageRows = 500);

}  // namespace Ledger
