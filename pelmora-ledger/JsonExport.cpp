#include "Reports.h"

#include "ledger/RecordText.h"

using namespace Ledger;

QByteArray jsonLines(const QList<UnitRecord>& units)
{
    QByteArray out;
    for (const UnitRecord& r : units) {
        QJsonObject o = toJson(r);
        o.insert(QStringLiteral("station"), r.station);
        // Every record says its serial and reason, empty where there is none.
        o.insert(QStringLiteral("serial"), r.serial);
        o.insert(QStringLiteral("reason"), r.reason);
        out += canonicalText(o) + '\n';
    }
    return out;
}
