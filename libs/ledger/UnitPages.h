#pragma once
// A ledger's units a page at a time, oldest first, on a connection of its
// own: an export as long as the ledger in the memory of one page. Each page
// is a short read of its own that starts after the last unit given, so a
// slow reader holds no snapshot that writers or checkpoints wait on.

#include "ledger/UnitRecord.h"

#include <QSqlDatabase>

namespace Ledger {

class LocalLedger;

class UnitPages {
public:
    // Opens its connection on the calling thread, the only one that may use
    // it. Throws LedgerError.
    explicit UnitPages(const LocalLedger& ledger);
    ~UnitPages();
    UnitPages(const UnitPages&) = delete;
    UnitPages& operator=(const UnitPages&) = delete;

    // Up to count units after the last one given, with their labels; empty
    // once every unit was given. Units begun meanwhile come at the end.
    // Throws LedgerError.
    QList<UnitRecord> next(int count);

private:
    QString name_, path_, station_;
    QSqlDatabase db_;
    bool started_ = false;
    QString lastStart_, lastId_;  // as the ledger holds them
};

}  // namespace Ledger
