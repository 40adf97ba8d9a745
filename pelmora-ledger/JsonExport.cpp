#include "Reports.h"

#include "ledger/RecordText.h"

using namespace Ledger;

QByteArray jsonLines(const QList<UnitRecord>& units)
{
    QByteArray out;
    for (const UnitRecord& r : units)
        out += canonicalText(toJson(r)) + '\n';
    return out;
}
