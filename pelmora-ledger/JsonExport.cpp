#include "Reports.h"

#include "ledger/RecordText.h"

using namespace Ledger;

QByteArray jsonLines(const QList<UnitRecord>& units)
{
    QByteArray out;
    for (const UnitRecord& r : units) {
        QJsonObject o = toJson(r);
        o.insert(QStringLiteral("station"), r.station);
        out += canonicalText(o) + '\n';
    }
    return out;
}
