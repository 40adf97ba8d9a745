#include "ShiftFigures.h"

#include <QSet>
#include <algorithm>
#include <cmath>

using namespace Ledger;

std::optional<double> GroupFigures::yield() const
{
    return ended() > 0 ? std::optional<double>(double(passed) / double(ended())) : std::nullopt;
}

std::optional<double> GroupFigures::firstPassYield() const
{
    return firstAttemptsEnded > 0 ? std::optional<double>(double(firstAttemptsPassed) / double(firstAttemptsEnded))
                                  : std::nullopt;
}

std::optional<double> GroupFigures::unitsPerHour() const
{
    if (!firstStart.isValid() || !lastEnd.isValid())
        return std::nullopt;
    const double hours = double(firstStart.msecsTo(lastEnd)) / 3'600'000.0;
    return hours >= 1.0 / 60 ? std::optional<double>(double(units) / hours) : std::nullopt;
}

const StationFigures* ShiftFigures::station(const QString& id) const
{
    for (const StationFigures& s : stations)
        if (s.id == id)
            return &s;
    return nullptr;
}

QString failureReason(const UnitRecord& r)
{
    return r.reason.isEmpty() ? QStringLiteral("unrecorded") : r.reason;
}

QDateTime hourOf(const QDateTime& start, const QTimeZone& zone)
{
    // Back from the instant by the minutes past the hour on the zone's clock,
    // so an hour repeated when the clocks go back stays two hours.
    const QTime local = start.toTimeZone(zone).time();
    return start.toUTC().addMSecs(-qint64(local.minute() * 60'000 + local.second() * 1000 + local.msec()));
}

QString stationName(const QHash<QString, QString>& given, const UnitRecord& r)
{
    const QString name = given.value(r.station);
    return name.isEmpty() ? r.host : name;
}

namespace {

void add(GroupFigures& g, const UnitRecord& r, bool firstAttempt)
{
    ++g.units;
    const bool passed = r.result == QLatin1String("pass");
    if (passed)
        ++g.passed;
    else if (r.result == QLatin1String("fail"))
        ++g.failed;
    else if (r.result == QLatin1String("interrupted"))
        ++g.interrupted;
    else
        ++g.open;
    if (firstAttempt) {
        ++g.firstAttempts;
        if (!r.isOpen())
            ++g.firstAttemptsEnded;
        if (passed)
            ++g.firstAttemptsPassed;
    }
    const QDateTime end = r.end.isValid() && !r.isOpen() ? r.end : r.start;
    if (!g.firstStart.isValid() || r.start < g.firstStart)
        g.firstStart = r.start;
    if (!g.lastEnd.isValid() || end > g.lastEnd)
        g.lastEnd = end;
}

// As PostgreSQL's percentile_cont: between the two nearest ranks.
double percentile(const std::vector<double>& sorted, double p)
{
    const double at = p * double(sorted.size() - 1);
    const size_t low = size_t(std::floor(at));
    const size_t high = std::min(low + 1, sorted.size() - 1);
    return sorted[low] + (at - double(low)) * (sorted[high] - sorted[low]);
}

// The units that are not the first of their serial and recipe, over the
// whole ledger: earlier start first, the id breaking a tie.
QSet<QUuid> laterAttempts(const QList<UnitRecord>& all)
{
    QHash<std::pair<QString, QString>, const UnitRecord*> first;
    QSet<QUuid> later;
    const auto before = [](const UnitRecord& a, const UnitRecord& b) {
        if (a.start != b.start)
            return a.start < b.start;
        return a.id.toString(QUuid::WithoutBraces) < b.id.toString(QUuid::WithoutBraces);
    };
    for (const UnitRecord& r : all) {
        if (r.serial.isEmpty())
            continue;
        const UnitRecord*& held = first[{r.serial, r.recipeSha256}];
        if (!held) {
            held = &r;
        } else if (before(r, *held)) {
            later.insert(held->id);
            held = &r;
        } else {
            later.insert(r.id);
        }
    }
    return later;
}

}  // namespace

ShiftFigures shiftFigures(const QList<UnitRecord>& all, const QHash<QString, QString>& names,
                          const QList<ChainEntry>& chain, const ShiftRequest& request, const QDateTime& now)
{
    ShiftFigures f;
    f.request = request;
    f.made = now.toUTC();
    const QSet<QUuid> later = laterAttempts(all);

    // A station asked for by id, else by name.
    bool stationIsId = false;
    for (const UnitRecord& r : all)
        stationIsId = stationIsId || r.station == request.station;
    const auto taken = [&](const UnitRecord& r) {
        if (request.since.isValid() && r.start < request.since)
            return false;
        if (request.until.isValid() && r.start >= request.until)
            return false;
        if (!request.recipe.isEmpty() && r.recipeName != request.recipe)
            return false;
        if (!request.fixture.isEmpty() && r.fixtureName != request.fixture)
            return false;
        if (!request.station.isEmpty()
            && (stationIsId ? r.station != request.station : stationName(names, r) != request.station))
            return false;
        return true;
    };

    QMap<RecipeKey, std::vector<double>> seconds;
    QHash<QString, qint64> reasons;
    QMap<QString, StationFigures> stations;  // by id
    QSet<QDateTime> hours;
    for (const UnitRecord& r : all) {
        if (!taken(r))
            continue;
        const bool firstAttempt = !later.contains(r.id);
        const QDateTime hour = hourOf(r.start, request.zone);
        const RecipeKey recipe{r.station, r.recipeName, r.recipeSha256};
        add(f.totals, r, firstAttempt);
        add(f.byHour[{r.station, r.recipeName, r.recipeSha256, hour}], r, firstAttempt);
        add(f.byRecipe[recipe], r, firstAttempt);
        hours.insert(hour);
        if (!stations.contains(r.station))
            stations.insert(r.station, StationFigures{r.station, stationName(names, r), r.host, 0, {}, true, {}});
        if (!r.isOpen() && r.end.isValid())
            seconds[recipe].push_back(double(r.start.msecsTo(r.end)) / 1000.0);
        if (r.result == QLatin1String("fail") || r.result == QLatin1String("interrupted")) {
            const QString reason = failureReason(r);
            ++reasons[reason];
            ++f.reasonsByHour[{r.station, r.recipeName, r.recipeSha256, hour, reason}];
            f.failures.append(r);
        }
    }
    f.coveredFrom = f.totals.firstStart;
    f.coveredTo = f.totals.lastEnd;
    f.hours = QList<QDateTime>(hours.cbegin(), hours.cend());
    std::sort(f.hours.begin(), f.hours.end());

    for (auto it = seconds.begin(); it != seconds.end(); ++it) {
        std::vector<double>& s = it.value();
        std::sort(s.begin(), s.end());
        f.cycles.insert(it.key(), CycleFigures{qint64(s.size()), s.front(), percentile(s, 0.5), percentile(s, 0.9),
                                               s.back()});
    }
    for (auto it = reasons.cbegin(); it != reasons.cend(); ++it)
        f.reasons.append({it.key(), it.value()});
    std::sort(f.reasons.begin(), f.reasons.end(), [](const auto& a, const auto& b) {
        return a.second != b.second ? a.second > b.second : a.first < b.first;
    });
    std::sort(f.failures.begin(), f.failures.end(), [](const UnitRecord& a, const UnitRecord& b) {
        return a.start != b.start ? a.start < b.start : a.id.toString() < b.id.toString();
    });

    // Each station's chain and rows checked on their own, so one station's
    // break says nothing about another's; a ledger of one station as it is.
    QSet<QString> anywhere;
    for (const ChainEntry& e : chain)
        anywhere.insert(e.station);
    for (const UnitRecord& r : all)
        anywhere.insert(r.station);
    QHash<QString, QList<ChainEntry>> links;
    QHash<QString, QList<UnitRecord>> rows;
    if (anywhere.size() == 1) {
        links.insert(*anywhere.cbegin(), chain);
        rows.insert(*anywhere.cbegin(), all);
    } else {
        for (const ChainEntry& e : chain)
            if (stations.contains(e.station))
                links[e.station].append(e);
        for (const UnitRecord& r : all)
            if (stations.contains(r.station))
                rows[r.station].append(r);
    }
    for (StationFigures& s : stations) {
        const QList<ChainEntry> own = links.value(s.id);
        for (const ChainEntry& e : own)
            if (e.seq >= s.lastSeq) {
                s.lastSeq = e.seq;
                s.lastHash = e.hash;
            }
        const QList<Finding> found = verify(own, rows.value(s.id));
        s.whole = found.isEmpty();
        if (!s.whole)
            s.finding = found.first().text;
    }
    f.stations = stations.values();
    std::sort(f.stations.begin(), f.stations.end(), [](const StationFigures& a, const StationFigures& b) {
        return a.name != b.name ? a.name < b.name : a.id < b.id;
    });
    return f;
}
