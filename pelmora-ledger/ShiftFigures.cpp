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

// The units taken into the figures, one at a time.
class Tally {
public:
    Tally(const QHash<QString, QString>& names, const QTimeZone& zone) : names_(names), zone_(zone) {}

    void take(const UnitRecord& r, bool firstAttempt)
    {
        const QDateTime hour = hourOf(r.start, zone_);
        const RecipeKey recipe{r.station, r.recipeName, r.recipeSha256};
        add(f_.totals, r, firstAttempt);
        add(f_.byHour[{r.station, r.recipeName, r.recipeSha256, hour}], r, firstAttempt);
        add(f_.byRecipe[recipe], r, firstAttempt);
        hours_.insert(hour);
        if (!stations_.contains(r.station))
            stations_.insert(r.station, StationFigures{r.station, stationName(names_, r), r.host, 0, {}, true, {}});
        if (!r.isOpen() && r.end.isValid())
            seconds_[recipe].push_back(double(r.start.msecsTo(r.end)) / 1000.0);
        if (r.result == QLatin1String("fail") || r.result == QLatin1String("interrupted")) {
            const QString reason = failureReason(r);
            ++reasons_[reason];
            ++f_.reasonsByHour[{r.station, r.recipeName, r.recipeSha256, hour, reason}];
            f_.failures.append(r);
        }
    }

    // first: what verify found first of each station's chain and rows.
    ShiftFigures finish(const QHash<QString, ChainHead>& heads, const QHash<QString, QString>& first) &&
    {
        f_.coveredFrom = f_.totals.firstStart;
        f_.coveredTo = f_.totals.lastEnd;
        f_.hours = QList<QDateTime>(hours_.cbegin(), hours_.cend());
        std::sort(f_.hours.begin(), f_.hours.end());
        for (auto it = seconds_.begin(); it != seconds_.end(); ++it) {
            std::vector<double>& s = it.value();
            std::sort(s.begin(), s.end());
            f_.cycles.insert(it.key(), CycleFigures{qint64(s.size()), s.front(), percentile(s, 0.5), percentile(s, 0.9),
                                                   s.back()});
        }
        for (auto it = reasons_.cbegin(); it != reasons_.cend(); ++it)
            f_.reasons.append({it.key(), it.value()});
        std::sort(f_.reasons.begin(), f_.reasons.end(), [](const auto& a, const auto& b) {
            return a.second != b.second ? a.second > b.second : a.first < b.first;
        });
        std::sort(f_.failures.begin(), f_.failures.end(), [](const UnitRecord& a, const UnitRecord& b) {
            return a.start != b.start ? a.start < b.start : a.id.toString() < b.id.toString();
        });
        for (StationFigures& s : stations_) {
            const ChainHead head = heads.value(s.id);
            s.lastSeq = head.seq;
            s.lastHash = head.hash;
            s.whole = !first.contains(s.id);
            s.finding = first.value(s.id);
        }
        f_.stations = stations_.values();
        std::sort(f_.stations.begin(), f_.stations.end(), [](const StationFigures& a, const StationFigures& b) {
            return a.name != b.name ? a.name < b.name : a.id < b.id;
        });
        return std::move(f_);
    }

private:
    ShiftFigures f_;
    const QHash<QString, QString>& names_;
    QTimeZone zone_;
    QMap<RecipeKey, std::vector<double>> seconds_;
    QHash<QString, qint64> reasons_;
    QMap<QString, StationFigures> stations_;  // by id
    QSet<QDateTime> hours_;
};

}  // namespace

ShiftFigures storedShiftFigures(const StoredLedger& ledger, const QString& ownStation, const QHash<QString, QString>& names,
                                const ShiftRequest& request, const QDateTime& now, int pageRows)
{
    // A station asked for by id, else by name: which one is known only once
    // every unit was read, so both are tallied.
    Tally byId(names, request.zone), byName(names, request.zone);
    bool stationIsId = request.station.isEmpty();
    const auto window = [&](const UnitRecord& r) {
        return (!request.since.isValid() || r.start >= request.since) && (!request.until.isValid() || r.start < request.until)
            && (request.recipe.isEmpty() || r.recipeName == request.recipe)
            && (request.fixture.isEmpty() || r.fixtureName == request.fixture);
    };
    // A serial's first unit of a recipe is its first attempt; the units come
    // by start, then id, so the first one met. Units after the window cannot
    // come before one in it.
    QHash<QString, int> recipes;
    QSet<std::pair<QString, int>> begun;
    QString unitStation;
    QUuid unit;
    QHash<QString, QString> first;  // each station's first finding
    const auto found = [&](const Finding& f) {
        QString station = ownStation.isEmpty() ? f.station : ownStation;
        if (station.isEmpty() && f.unit == unit)
            station = unitStation;  // a row without a link names no station: the unit just read
        if (!first.contains(station))
            first.insert(station, f.text);
    };
    const VerifyTotals totals = verifyStored(ledger, found, pageRows, [&](const UnitRecord& read) {
        UnitRecord r = read;
        if (!ownStation.isEmpty())
            r.station = ownStation;
        unit = r.id;
        unitStation = r.station;
        bool firstAttempt = true;
        if (!r.serial.isEmpty() && (!request.until.isValid() || r.start < request.until)) {
            auto recipe = recipes.constFind(r.recipeSha256);
            if (recipe == recipes.constEnd())
                recipe = recipes.insert(r.recipeSha256, int(recipes.size()));
            firstAttempt = !begun.contains({r.serial, *recipe});
            begun.insert({r.serial, *recipe});
        }
        stationIsId = stationIsId || r.station == request.station;
        if (!window(r))
            return;
        if (request.station.isEmpty() || r.station == request.station)
            byId.take(r, firstAttempt);
        if (!request.station.isEmpty() && stationName(names, r) == request.station)
            byName.take(r, firstAttempt);
    });
    // A ledger of one station: its links count as its own whatever they say.
    QHash<QString, ChainHead> heads = totals.heads;
    if (!ownStation.isEmpty()) {
        ChainHead last;
        for (const ChainHead& h : std::as_const(totals.heads))
            if (h.seq >= last.seq)
                last = h;
        heads = {{ownStation, last}};
    }
    ShiftFigures f = std::move(stationIsId ? byId : byName).finish(heads, first);
    f.request = request;
    f.made = now.toUTC();
    return f;
}
