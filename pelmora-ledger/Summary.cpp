#include "Reports.h"

#include "ledger/RecordText.h"

#include <QMap>
#include <algorithm>

using namespace Ledger;

namespace {

struct Counts {
    qint64 units = 0, pass = 0, fail = 0, interrupted = 0, open = 0;
    void add(const UnitRecord& r)
    {
        ++units;
        if (r.result == QLatin1String("pass"))
            ++pass;
        else if (r.result == QLatin1String("fail"))
            ++fail;
        else if (r.result == QLatin1String("interrupted"))
            ++interrupted;
        else
            ++open;
    }
};

QString table(const QString& title, const QMap<QString, Counts>& groups)
{
    qsizetype width = title.size();
    for (auto it = groups.cbegin(); it != groups.cend(); ++it)
        width = std::max(width, it.key().size());
    QString out = title.leftJustified(width + 2)
                + QStringLiteral("%1 %2 %3 %4 %5\n")
                      .arg(QStringLiteral("units"), 7)
                      .arg(QStringLiteral("pass"), 7)
                      .arg(QStringLiteral("fail"), 7)
                      .arg(QStringLiteral("interr."), 7)
                      .arg(QStringLiteral("open"), 7);
    for (auto it = groups.cbegin(); it != groups.cend(); ++it)
        out += oneLine(it.key()).leftJustified(width + 2)
             + QStringLiteral("%1 %2 %3 %4 %5\n")
                   .arg(it->units, 7)
                   .arg(it->pass, 7)
                   .arg(it->fail, 7)
                   .arg(it->interrupted, 7)
                   .arg(it->open, 7);
    return out + QLatin1Char('\n');
}

}  // namespace

QString summaryText(const QList<UnitRecord>& units, const QDateTime& now)
{
    const QHash<QString, QString> station = stationNames(units);
    QMap<QString, Counts> hosts, fixtures, recipes, hours;
    Counts all;
    QDateTime first, last;
    for (const UnitRecord& r : units) {
        all.add(r);
        hosts[station.value(r.station)].add(r);
        fixtures[station.value(r.station) + QLatin1Char('/') + r.fixtureName].add(r);
        recipes[r.recipeName].add(r);
        hours[r.start.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:00"))].add(r);
        const QDateTime end = r.end.isValid() ? r.end : now;
        if (!first.isValid() || r.start < first)
            first = r.start;
        if (!last.isValid() || end > last)
            last = end;
    }
    QString out = QStringLiteral("%1 units: %2 passed, %3 failed, %4 interrupted, %5 open\n")
                      .arg(all.units)
                      .arg(all.pass)
                      .arg(all.fail)
                      .arg(all.interrupted)
                      .arg(all.open);
    if (all.units > 0) {
        const double hoursSpan = first.msecsTo(last) / 3'600'000.0;
        out += QStringLiteral("from %1 to %2 UTC: ").arg(timeText(first), timeText(last));
        out += hoursSpan >= 1.0 / 60 ? QStringLiteral("%1 units per hour\n").arg(all.units / hoursSpan, 0, 'f', 1)
                                     : QStringLiteral("too short a time for a rate\n");
    }
    out += QLatin1Char('\n');
    if (hosts.size() > 1)
        out += table(QStringLiteral("STATION"), hosts);
    out += table(QStringLiteral("FIXTURE"), fixtures);
    out += table(QStringLiteral("RECIPE"), recipes);
    out += table(QStringLiteral("HOUR (UTC)"), hours);
    return out.trimmed() + QLatin1Char('\n');
}
