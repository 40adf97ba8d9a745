#pragma once
// Units as CSV, one row each, the same wherever they are exported from
// (pelmora-ledger export --csv, the station's page).

#include "ledger/UnitRecord.h"

#include <QByteArray>
#include <QList>

namespace Ledger {

QByteArray csvText(const QList<UnitRecord>& units);
// The same text in parts, for an export written as it is read: the head
// line once, then the rows of each part of the units in turn.
QByteArray csvHead();
QByteArray csvRows(const QList<UnitRecord>& units);

}  // namespace Ledger
