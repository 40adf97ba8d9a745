#include "Reports.h"

#include "ledger/RecordText.h"

using namespace Ledger;

namespace {

QString when(const QDateTime& t)
{
    return t.isValid() ? timeText(t) : QStringLiteral("-");
}

}  // namespace

QString findText(const QString& serial, const QList<UnitRecord>& units)
{
    if (units.isEmpty())
        return QStringLiteral("no record of serial %1\n").arg(oneLine(serial));
    const QHash<QString, QString> station = stationNames(units);
    QString out;
    for (const UnitRecord& r : units) {
        out += QStringLiteral("%1  %2  %3  %4 fixture %5 unit %6\n")
                   .arg(when(r.start), r.isOpen() ? QStringLiteral("open") : r.result.toUpper(),
                        oneLine(r.serial), oneLine(station.value(r.station)), oneLine(r.fixtureName))
                   .arg(r.unitNumber);
        out += QStringLiteral("  record %1, ended %2\n").arg(r.id.toString(QUuid::WithoutBraces), when(r.end));
        out += QStringLiteral("  recipe %1 (sha256 %2), tool %3\n")
                   .arg(oneLine(r.recipeName), r.recipeSha256, oneLine(r.toolVersion));
        if (!r.reloadOf.isEmpty())
            out += QStringLiteral("  a reload: this serial passed before in record %1\n").arg(r.reloadOf);
        if (!r.why.isEmpty() || !r.reason.isEmpty())
            out += QStringLiteral("  why: %1\n")
                       .arg(QStringList{r.reason.isEmpty() ? QString() : QStringLiteral("[%1]").arg(r.reason), oneLine(r.why)}
                                .join(QLatin1Char(' '))
                                .trimmed());
        for (const LabelRecord& l : r.labels)
            out += QStringLiteral("  slot %1  %2  sha256 %3  %4 bytes, %5 sent  %6%7\n")
                       .arg(l.slot)
                       .arg(oneLine(l.file), l.sha256)
                       .arg(l.size)
                       .arg(l.dataFramesSent)
                       .arg(l.slotHolds, l.reason.isEmpty() ? QString() : QStringLiteral(" [%1]").arg(l.reason));
    }
    return out;
}
