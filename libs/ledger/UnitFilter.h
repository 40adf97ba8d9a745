#pragma once
// Which units a listing, an export or a summary takes.

#include <QDateTime>
#include <QList>
#include <QString>
#include <QUuid>

namespace Ledger {

struct UnitFilter {
    QDateTime since, until;  // start time, UTC; since inclusive, until exclusive
    QString fixture, recipe, result;
    QList<QUuid> ids{};  // these units only
    QString serial{}, recipeSha256{};  // exactly these
    int limit = 0;       // above 0: only the latest this many by start time, still oldest first
};

}  // namespace Ledger
