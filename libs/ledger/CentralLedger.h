#pragma once
// The floor's ledger in PostgreSQL: every station's chain and units. It is
// written only by inserting links and units and by a station closing its
// own open units; a link sent twice is stored once.

#include "ledger/CentralAddress.h"
#include "ledger/Chain.h"
#include "ledger/UnitFilter.h"

#include <QSqlDatabase>
#include <QString>

namespace Ledger {

class CentralLedger {
public:
    static constexpr int schemaVersion = 1;

    // Connects on the calling thread, which alone uses this object; makes
    // the tables when there are none. Throws LedgerError.
    explicit CentralLedger(const QString& address);
    ~CentralLedger();
    CentralLedger(const CentralLedger&) = delete;
    CentralLedger& operator=(const CentralLedger&) = delete;

    QString shown() const { return address_.shown; }

    // Stores one link and what it says about its unit, in one transaction.
    void store(const ChainEntry& e);
    QList<UnitRecord> units(const UnitFilter& filter = {});
    QList<ChainEntry> chain();
    // Lets ROLE record units and nothing more.
    void grantStation(const QString& role);

private:
    void ensureTables();
    void exec(const QString& sql, const char* what);

    CentralAddress address_;
    QString name_;
    QSqlDatabase db_;
};

}  // namespace Ledger
