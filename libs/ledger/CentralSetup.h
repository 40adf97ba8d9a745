#pragma once
// What only the central tables' owner does, on the owner's connection:
// taking the tables forward, and binding each station to a role of its own.

#include "ledger/CentralLedger.h"

#include <QHash>
#include <QList>
#include <QStringList>

namespace Ledger {

class CentralSetup {
public:
    explicit CentralSetup(CentralLedger& ledger) : ledger_(ledger) {}

    // Takes the tables forward to this version, each step in one
    // transaction under the set-up lock. Returns the versions made.
    QList<int> upgrade();
    // Lets ROLE record the units of STATION (a station's id) and nothing
    // more; refused unless every table has its row-level security. The grant
    // is also recorded on the role, so a database made anew finds it again
    // (restoreGrants()). Returns what the owner should know: what it could
    // not do, and what restoreGrants() did.
    QStringList grantStation(const QString& role, const QString& station, const QString& name = {});
    // Every station its role records in this database's name and these
    // tables lack, granted again; what was done and what could not be, in
    // lines a person reads.
    QStringList restoreGrants();

private:
    void requirePlainLoginRole(const QString& role);
    QHash<QString, QString> policiesIn(const QString& schema);
    void requirePoliciesAsDescribed();
    QStringList grantsFor(const QString& role) const;
    // The role's grants and the station's row, in one transaction; refused
    // when the station is another role's.
    void mapStation(const QString& role, const QString& station, const QString& name);
    QStringList keepOutOfLargeObjects(const QString& role);
    bool recordOnRole(const QString& role, const QString& station, const QString& name);

    CentralLedger& ledger_;
};

}  // namespace Ledger
