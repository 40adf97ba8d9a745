#include "Reports.h"

#include "ledger/RecordText.h"

#include <QSet>
#include <QStringList>
#include <algorithm>

using namespace Ledger;

namespace {

QString shortTime(const QDateTime& t)
{
    return t.isValid() ? t.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : QStringLiteral("-");
}

}  // namespace

QString oneLine(const QString& text)
{
    QString out = text;
    for (QChar& c : out)
        if (c.category() == QChar::Other_Control)
            c = QLatin1Char(' ');
    return out;
}

QHash<QString, QString> stationNames(const QList<UnitRecord>& units)
{
    QHash<QString, QSet<QString>> stationsOfHost;
    for (const UnitRecord& r : units)
        stationsOfHost[r.host].insert(r.station);
    QHash<QString, QString> names;
    for (const UnitRecord& r : units)
        names.insert(r.station, stationsOfHost.value(r.host).size() > 1
                                    ? QStringLiteral("%1 #%2").arg(r.host, r.station.left(8))
                                    : r.host);
    return names;
}

QString listText(const QList<UnitRecord>& units)
{
    const QHash<QString, QString> station = stationNames(units);
    QList<QStringList> rows{{QStringLiteral("START (UTC)"), QStringLiteral("END"), QStringLiteral("STATION"),
                             QStringLiteral("FIXTURE"), QStringLiteral("UNIT"), QStringLiteral("SERIAL"),
                             QStringLiteral("RECIPE"), QStringLiteral("RESULT"), QStringLiteral("SLOTS"),
                             QStringLiteral("WHY")}};
    for (const UnitRecord& r : units) {
        QStringList held;
        for (const LabelRecord& l : r.labels)
            held << QStringLiteral("%1:%2").arg(l.slot).arg(l.slotHolds);
        // A name with a line break in it must not break the table.
        rows.append({shortTime(r.start), shortTime(r.end), oneLine(station.value(r.station)), oneLine(r.fixtureName),
                     QString::number(r.unitNumber), r.serial.isEmpty() ? QStringLiteral("-") : oneLine(r.serial),
                     oneLine(r.recipeName), r.isOpen() ? QStringLiteral("open") : r.result,
                     oneLine(held.join(QLatin1Char(' '))),
                     oneLine(r.reason.isEmpty() ? r.why : QStringLiteral("[%1] %2").arg(r.reason, r.why))});
    }
    QList<qsizetype> widths(rows.first().size(), 0);
    for (const QStringList& row : rows)
        for (qsizetype i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], row[i].size());
    QString out;
    for (const QStringList& row : rows) {
        QString line;
        for (qsizetype i = 0; i < row.size(); ++i)
            line += i + 1 < row.size() ? row[i].leftJustified(widths[i] + 2) : row[i];
        out += line.trimmed() + QLatin1Char('\n');
    }
    return out;
}
