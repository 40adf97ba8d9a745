#pragma once
// Which units a listing, an export or a summary takes.

#include <QDateTime>
#include <QString>
#include <QUuid>

namespace Ledger {

struct UnitFilter {
    QDateTime since, until;  // start time, UTC; since inclusive, until exclusive
    QString fixture, recipe, result;
    QUuid id{};  // one unit
};

}  // namespace Ledger
