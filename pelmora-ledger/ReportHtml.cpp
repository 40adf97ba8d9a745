// The shift report as one HTML file that needs nothing outside itself: one
// inline style, inline SVG charts each with its figures in a table below,
// no script. Everything a station or a scanner wrote is escaped.

#include "Reports.h"

#include <QStringList>
#include <algorithm>
#include <cmath>

using namespace Ledger;

namespace {

const char* const palette[] = {"#3b6ea5", "#d9822b", "#4f9a5b", "#8e5ea7", "#b84a4a", "#8c6d46", "#c5609b", "#5f7f8f"};
constexpr double chartWidth = 900;

QString esc(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '&': out += QLatin1String("&amp;"); break;
        case '<': out += QLatin1String("&lt;"); break;
        case '>': out += QLatin1String("&gt;"); break;
        case '"': out += QLatin1String("&quot;"); break;
        case '\'': out += QLatin1String("&#39;"); break;
        default: out += c.category() == QChar::Other_Control ? QChar(QLatin1Char(' ')) : c;
        }
    }
    return out;
}

// A long name cut for a chart's label; the table below holds it whole.
QString label(const QString& text, qsizetype most = 38)
{
    return esc(text.size() > most ? text.left(most - 1) + QChar(0x2026) : text);
}

QString num(double v, int decimals = 1)
{
    return QString::number(v, 'f', decimals);
}

QString percent(const std::optional<double>& v)
{
    return v ? num(*v * 100) + QStringLiteral(" %") : QStringLiteral("-");
}

// The figure itself beside the text, for a program that compares.
QString valueCell(const char* cls, const std::optional<double>& v, const QString& shown)
{
    return QStringLiteral("<td class=\"n %1\" data-value=\"%2\">%3</td>")
        .arg(QLatin1String(cls), v ? QString::number(*v, 'g', 12) : QString(), shown);
}

QString countCell(const char* cls, qint64 v)
{
    return QStringLiteral("<td class=\"n %1\">%2</td>").arg(QLatin1String(cls)).arg(v);
}

class Times {
public:
    explicit Times(const QTimeZone& zone) : zone_(zone) {}
    // "2026-12-09 14:02:11 CET (UTC+01:00)"
    QString full(const QDateTime& t) const { return shown(t, QStringLiteral("yyyy-MM-dd HH:mm:ss")); }
    QString hour(const QDateTime& t) const { return shown(t, QStringLiteral("yyyy-MM-dd HH:mm")); }
    QString clock(const QDateTime& t) const { return t.toTimeZone(zone_).toString(QStringLiteral("HH:mm")); }
    QString day(const QDateTime& t) const { return t.toTimeZone(zone_).toString(QStringLiteral("MM-dd")); }
    QString zoneOf(const QDateTime& t) const
    {
        const int offset = zone_.offsetFromUtc(t);
        const int minutes = std::abs(offset) / 60;
        return QStringLiteral("%1 (UTC%2%3:%4)")
            .arg(esc(zone_.abbreviation(t)), offset < 0 ? QStringLiteral("-") : QStringLiteral("+"))
            .arg(minutes / 60, 2, 10, QLatin1Char('0'))
            .arg(minutes % 60, 2, 10, QLatin1Char('0'));
    }

private:
    QString shown(const QDateTime& t, const QString& format) const
    {
        if (!t.isValid())
            return QStringLiteral("-");
        return t.toTimeZone(zone_).toString(format) + QLatin1Char(' ') + zoneOf(t);
    }
    QTimeZone zone_;
};

// A round, whole step for about `count` gridlines up to `most`: the axes
// are labelled in whole units and seconds, so 2.5 would be shown as 3.
double step(double most, int count = 5)
{
    if (most <= count)
        return 1;
    const double raw = most / count;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double m : {1.0, 2.0, 2.5, 5.0, 10.0})
        if (raw <= m * magnitude && std::floor(m * magnitude) == m * magnitude)
            return m * magnitude;
    return 10 * magnitude;
}

QString svgOpen(double height, const QString& title)
{
    return QStringLiteral("<svg viewBox=\"0 0 %1 %2\" role=\"img\" "
                          "aria-label=\"%3\">")
        .arg(chartWidth)
        .arg(height)
        .arg(esc(title));
}

QString text(double x, double y, const QString& escaped, const char* anchor = "start", const QString& extra = {})
{
    return QStringLiteral("<text x=\"%1\" y=\"%2\" text-anchor=\"%3\"%4>%5</text>")
        .arg(num(x), num(y), QLatin1String(anchor), extra, escaped);
}

QString rect(double x, double y, double w, double h, const char* fill)
{
    return QStringLiteral("<rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" fill=\"%5\"/>")
        .arg(num(x), num(y), num(std::max(w, 0.0)), num(std::max(h, 0.0)), QLatin1String(fill));
}

QString line(double x1, double y1, double x2, double y2, const char* stroke, double width = 1)
{
    return QStringLiteral("<line x1=\"%1\" y1=\"%2\" x2=\"%3\" y2=\"%4\" stroke=\"%5\" stroke-width=\"%6\"/>")
        .arg(num(x1), num(y1), num(x2), num(y2), QLatin1String(stroke), num(width));
}

QString stationCell(const ShiftFigures& f, const QString& id)
{
    const StationFigures* s = f.station(id);
    return QStringLiteral("<td class=\"station\" data-station=\"%1\">%2</td>").arg(esc(id), esc(s ? s->name : id));
}

QString recipeLabel(const ShiftFigures& f, const RecipeKey& k)
{
    const StationFigures* s = f.station(std::get<0>(k));
    return (f.stations.size() > 1 && s ? s->name + QStringLiteral(" \u00b7 ") : QString()) + std::get<1>(k);
}

QString header(const ShiftFigures& f, const Times& t)
{
    const ShiftRequest& q = f.request;
    QString out = QStringLiteral("<header><h1>Shift report</h1><table class=\"meta\" id=\"header\">");
    QStringList stations;
    for (const StationFigures& s : f.stations)
        stations << QStringLiteral("%1 <span class=\"id\">(%2)</span>").arg(esc(s.name), esc(s.id));
    out += QStringLiteral("<tr><th>Stations</th><td id=\"stations\">%1</td></tr>")
               .arg(stations.isEmpty() ? QStringLiteral("none with units in this window") : stations.join(QStringLiteral(", ")));
    out += QStringLiteral("<tr><th>Window asked</th><td id=\"window-asked\">%1 to %2</td></tr>")
               .arg(q.since.isValid() ? t.full(q.since) : QStringLiteral("the first unit"),
                    q.until.isValid() ? t.full(q.until) + QStringLiteral(" (not included)") : QStringLiteral("the last unit"));
    out += QStringLiteral("<tr><th>Units cover</th><td id=\"window-covered\">%1 to %2</td></tr>")
               .arg(t.full(f.coveredFrom), t.full(f.coveredTo));
    QStringList only;
    if (!q.station.isEmpty())
        only << QStringLiteral("station %1").arg(esc(q.station));
    if (!q.recipe.isEmpty())
        only << QStringLiteral("recipe %1").arg(esc(q.recipe));
    if (!q.fixture.isEmpty())
        only << QStringLiteral("fixture %1").arg(esc(q.fixture));
    if (!only.isEmpty())
        out += QStringLiteral("<tr><th>Only</th><td>%1</td></tr>").arg(only.join(QStringLiteral(", ")));
    out += QStringLiteral("<tr><th>Made</th><td id=\"made\">%1</td></tr>").arg(t.full(f.made));
    out += QStringLiteral("<tr><th>Time zone</th><td id=\"zone\">%1, shown as %2</td></tr>")
               .arg(esc(QString::fromUtf8(q.zone.id())), t.zoneOf(f.coveredFrom.isValid() ? f.coveredFrom : f.made));
    return out + QStringLiteral("</table></header>\n");
}

QString totals(const ShiftFigures& f)
{
    const GroupFigures& g = f.totals;
    QString out = QStringLiteral("<section><h2>Totals</h2><table id=\"totals\"><thead><tr><th>units</th><th>passed</th>"
                                 "<th>failed</th><th>interrupted</th><th>open</th><th>first attempts</th>"
                                 "<th>first-pass yield</th><th>yield</th><th>units per hour</th></tr></thead><tbody><tr>");
    out += countCell("units", g.units) + countCell("passed", g.passed) + countCell("failed", g.failed)
         + countCell("interrupted", g.interrupted) + countCell("open", g.open) + countCell("first-attempts", g.firstAttempts)
         + valueCell("first-pass-yield", g.firstPassYield(), percent(g.firstPassYield()))
         + valueCell("yield", g.yield(), percent(g.yield()))
         + valueCell("units-per-hour", g.unitsPerHour(), g.unitsPerHour() ? num(*g.unitsPerHour()) : QStringLiteral("-"));
    return out + QStringLiteral("</tr></tbody></table><p class=\"note\">First-pass yield: of the units that were the "
                                "first of their serial and recipe in the whole ledger (a unit without a serial always "
                                "is), those that passed, over those that ended.</p></section>\n");
}

QString unitsPerHour(const ShiftFigures& f, const Times& t)
{
    QString out = QStringLiteral("<section><h2>Units per hour</h2>");
    if (f.hours.isEmpty())
        return out + QStringLiteral("<p>No units in this window.</p></section>\n");
    QHash<QString, QHash<QDateTime, qint64>> count;
    double most = 0;
    for (auto it = f.byHour.cbegin(); it != f.byHour.cend(); ++it) {
        qint64& c = count[std::get<0>(it.key())][std::get<3>(it.key())];
        c += it->units;
        most = std::max(most, double(c));
    }
    const double left = 50, top = f.stations.size() > 1 ? 30 : 12, plotH = 180, height = top + plotH + 44;
    const double plotW = chartWidth - left - 10;
    const double slot = plotW / double(f.hours.size());
    const double bar = slot * 0.8 / double(f.stations.size());
    const double s = step(most), axis = std::ceil(most / s) * s;
    out += svgOpen(height, QStringLiteral("units per hour and station"));
    for (double v = 0; v <= axis + s / 2; v += s) {
        const double y = top + plotH - v / axis * plotH;
        out += line(left, y, left + plotW, y, "#ddd") + text(left - 4, y + 4, num(v, 0), "end");
    }
    for (qsizetype si = 0; si < f.stations.size(); ++si) {
        const char* colour = palette[si % std::size(palette)];
        if (f.stations.size() > 1)
            out += rect(left + double(si) * 180, 6, 10, 10, colour) + text(left + double(si) * 180 + 14, 15, label(f.stations[si].name, 24));
        for (qsizetype hi = 0; hi < f.hours.size(); ++hi) {
            const double v = double(count[f.stations[si].id].value(f.hours[hi]));
            const double h = v / axis * plotH;
            out += rect(left + double(hi) * slot + slot * 0.1 + double(si) * bar, top + plotH - h, bar, h, colour);
        }
    }
    // As many hour labels as fit, a day's date under its first.
    const qsizetype every = std::max<qsizetype>(1, qsizetype(std::ceil(44.0 / slot)));
    QString lastDay;
    for (qsizetype hi = 0; hi < f.hours.size(); hi += every) {
        const double x = left + (double(hi) + 0.5) * slot;
        out += text(x, top + plotH + 14, t.clock(f.hours[hi]), "middle");
        if (t.day(f.hours[hi]) != lastDay)
            out += text(x, top + plotH + 27, t.day(f.hours[hi]), "middle", QStringLiteral(" class=\"small\""));
        lastDay = t.day(f.hours[hi]);
    }
    out += text(left + plotW, top + plotH + 40, QStringLiteral("hour of start, %1").arg(t.zoneOf(f.hours.first())), "end",
                QStringLiteral(" class=\"small\""));
    out += QStringLiteral("</svg>\n<table id=\"units-per-hour\"><thead><tr><th>hour</th><th>station</th><th>recipe</th>"
                          "<th>units</th><th>passed</th><th>failed</th><th>interrupted</th><th>open</th>"
                          "<th>first attempts</th><th>first-pass yield</th><th>units per hour</th></tr></thead><tbody>\n");
    // Read down the shift: by hour, then station and recipe.
    QList<HourKey> rows = f.byHour.keys();
    const auto nameOf = [&](const QString& id) { return f.station(id) ? f.station(id)->name : id; };
    std::stable_sort(rows.begin(), rows.end(), [&](const HourKey& a, const HourKey& b) {
        return std::tuple(std::get<3>(a), nameOf(std::get<0>(a)), std::get<1>(a))
             < std::tuple(std::get<3>(b), nameOf(std::get<0>(b)), std::get<1>(b));
    });
    for (const HourKey& key : rows) {
        const auto it = f.byHour.constFind(key);
        const auto& [station, recipe, sha, hour] = key;
        out += QStringLiteral("<tr data-hour=\"%1\" data-recipe-sha256=\"%2\"><td>%3</td>")
                   .arg(hour.toUTC().toString(Qt::ISODate), esc(sha), t.hour(hour))
             + stationCell(f, station) + QStringLiteral("<td>%1</td>").arg(esc(recipe)) + countCell("units", it->units)
             + countCell("passed", it->passed) + countCell("failed", it->failed)
             + countCell("interrupted", it->interrupted) + countCell("open", it->open)
             + countCell("first-attempts", it->firstAttempts)
             + valueCell("first-pass-yield", it->firstPassYield(), percent(it->firstPassYield()))
             + valueCell("units-per-hour", it->unitsPerHour(), it->unitsPerHour() ? num(*it->unitsPerHour()) : QStringLiteral("-"))
             + QStringLiteral("</tr>\n");
    }
    return out + QStringLiteral("</tbody></table></section>\n");
}

QString yields(const ShiftFigures& f)
{
    QString out = QStringLiteral("<section><h2>Yield and first-pass yield per station and recipe</h2>");
    if (f.byRecipe.isEmpty())
        return out + QStringLiteral("<p>No units in this window.</p></section>\n");
    const double left = 280, top = 24, row = 30, plotW = chartWidth - left - 60;
    const double height = top + row * double(f.byRecipe.size()) + 22;
    out += svgOpen(height, QStringLiteral("yield and first-pass yield"));
    out += rect(left, 6, 10, 10, palette[0]) + text(left + 14, 15, QStringLiteral("yield"));
    out += rect(left + 80, 6, 10, 10, palette[1]) + text(left + 94, 15, QStringLiteral("first-pass yield"));
    for (int p = 0; p <= 100; p += 20) {
        const double x = left + plotW * p / 100;
        out += line(x, top, x, height - 20, "#ddd") + text(x, height - 6, QStringLiteral("%1 %").arg(p), "middle");
    }
    double y = top;
    for (auto it = f.byRecipe.cbegin(); it != f.byRecipe.cend(); ++it, y += row) {
        out += text(left - 6, y + 17, label(recipeLabel(f, it.key())), "end");
        const std::optional<double> yv = it->yield(), fv = it->firstPassYield();
        out += rect(left, y + 3, plotW * yv.value_or(0), 11, palette[0])
             + text(left + plotW * yv.value_or(0) + 4, y + 13, percent(yv), "start", QStringLiteral(" class=\"small\""));
        out += rect(left, y + 15, plotW * fv.value_or(0), 11, palette[1])
             + text(left + plotW * fv.value_or(0) + 4, y + 25, percent(fv), "start", QStringLiteral(" class=\"small\""));
    }
    out += QStringLiteral("</svg>\n<table id=\"yields\"><thead><tr><th>station</th><th>recipe</th><th>units</th>"
                          "<th>passed</th><th>failed</th><th>interrupted</th><th>open</th><th>yield</th>"
                          "<th>first attempts</th><th>first-pass yield</th><th>units per hour</th></tr></thead><tbody>\n");
    for (auto it = f.byRecipe.cbegin(); it != f.byRecipe.cend(); ++it)
        out += QStringLiteral("<tr data-recipe-sha256=\"%1\">").arg(esc(std::get<2>(it.key())))
             + stationCell(f, std::get<0>(it.key())) + QStringLiteral("<td>%1</td>").arg(esc(std::get<1>(it.key())))
             + countCell("units", it->units) + countCell("passed", it->passed) + countCell("failed", it->failed)
             + countCell("interrupted", it->interrupted) + countCell("open", it->open)
             + valueCell("yield", it->yield(), percent(it->yield())) + countCell("first-attempts", it->firstAttempts)
             + valueCell("first-pass-yield", it->firstPassYield(), percent(it->firstPassYield()))
             + valueCell("units-per-hour", it->unitsPerHour(), it->unitsPerHour() ? num(*it->unitsPerHour()) : QStringLiteral("-"))
             + QStringLiteral("</tr>\n");
    return out + QStringLiteral("</tbody></table></section>\n");
}

QString pareto(const ShiftFigures& f)
{
    QString out = QStringLiteral("<section><h2>Failure reasons</h2>");
    if (f.reasons.isEmpty())
        return out + QStringLiteral("<p>No unit failed or was interrupted in this window.</p></section>\n");
    qint64 all = 0;
    for (const auto& r : f.reasons)
        all += r.second;
    const double left = 50, right = 50, top = 14, plotH = 170, height = top + plotH + 66;
    const double plotW = chartWidth - left - right;
    const double slot = plotW / double(f.reasons.size());
    const double most = double(f.reasons.first().second);
    const double s = step(most), axis = std::ceil(most / s) * s;
    out += svgOpen(height, QStringLiteral("failure reasons by count, with their cumulative share"));
    for (double v = 0; v <= axis + s / 2; v += s) {
        const double y = top + plotH - v / axis * plotH;
        out += line(left, y, left + plotW, y, "#ddd") + text(left - 4, y + 4, num(v, 0), "end");
    }
    for (int p = 0; p <= 100; p += 25)
        out += text(left + plotW + 4, top + plotH - plotH * p / 100 + 4, QStringLiteral("%1 %").arg(p));
    QStringList points;
    qint64 running = 0;
    for (qsizetype i = 0; i < f.reasons.size(); ++i) {
        const double x = left + double(i) * slot;
        const double h = double(f.reasons[i].second) / axis * plotH;
        out += rect(x + slot * 0.15, top + plotH - h, slot * 0.7, h, palette[4]);
        const double cx = x + slot / 2, ly = top + plotH + 12;
        out += text(cx, ly, label(f.reasons[i].first, 20), "end",
                    QStringLiteral(" transform=\"rotate(-35 %1 %2)\"").arg(num(cx), num(ly)));
        running += f.reasons[i].second;
        points << QStringLiteral("%1,%2").arg(num(cx), num(top + plotH - double(running) / double(all) * plotH));
    }
    out += QStringLiteral("<polyline points=\"%1\" fill=\"none\" stroke=\"%2\" stroke-width=\"2\"/>")
               .arg(points.join(QLatin1Char(' ')), QLatin1String(palette[0]));
    for (const QString& p : points) {
        const QStringList xy = p.split(QLatin1Char(','));
        out += QStringLiteral("<circle cx=\"%1\" cy=\"%2\" r=\"3\" fill=\"%3\"/>").arg(xy[0], xy[1], QLatin1String(palette[0]));
    }
    out += QStringLiteral("</svg>\n<table id=\"reasons\"><thead><tr><th>reason</th><th>units</th><th>share</th>"
                          "<th>cumulative</th></tr></thead><tbody>\n");
    running = 0;
    for (const auto& [reason, units] : f.reasons) {
        running += units;
        const double share = double(units) / double(all), cumulative = double(running) / double(all);
        out += QStringLiteral("<tr><td class=\"reason\">%1</td>").arg(esc(reason)) + countCell("units", units)
             + valueCell("share", share, percent(share)) + valueCell("cumulative", cumulative, percent(cumulative))
             + QStringLiteral("</tr>\n");
    }
    return out + QStringLiteral("</tbody></table></section>\n");
}

QString cycleTimes(const ShiftFigures& f)
{
    QString out = QStringLiteral("<section><h2>Cycle time (seconds, ended units)</h2>");
    if (f.cycles.isEmpty())
        return out + QStringLiteral("<p>No unit ended in this window.</p></section>\n");
    double most = 0;
    for (const CycleFigures& c : f.cycles)
        most = std::max(most, c.max);
    const double s = step(most), axis = std::max(s, std::ceil(most / s) * s);
    const double left = 280, top = 24, row = 28, plotW = chartWidth - left - 30;
    const double height = top + row * double(f.cycles.size()) + 22;
    const auto x = [&](double v) { return left + std::max(0.0, v) / axis * plotW; };
    out += svgOpen(height, QStringLiteral("cycle time per station and recipe"));
    out += line(left, 11, left + 20, 11, "#333") + text(left + 24, 15, QStringLiteral("min to max"));
    out += rect(left + 110, 5, 20, 12, palette[2]) + text(left + 134, 15, QStringLiteral("median to 90th percentile"));
    out += line(left + 320, 4, left + 320, 18, "#111", 2) + text(left + 326, 15, QStringLiteral("median"));
    for (double v = 0; v <= axis + s / 2; v += s)
        out += line(x(v), top, x(v), height - 20, "#ddd") + text(x(v), height - 6, num(v, s < 1 ? 1 : 0), "middle");
    double y = top;
    for (auto it = f.cycles.cbegin(); it != f.cycles.cend(); ++it, y += row) {
        const double mid = y + row / 2;
        out += text(left - 6, mid + 4, label(recipeLabel(f, it.key())), "end");
        out += line(x(it->min), mid, x(it->max), mid, "#333") + line(x(it->min), mid - 6, x(it->min), mid + 6, "#333")
             + line(x(it->max), mid - 6, x(it->max), mid + 6, "#333");
        out += rect(x(it->median), mid - 8, x(it->p90) - x(it->median), 16, palette[2]);
        out += line(x(it->median), mid - 9, x(it->median), mid + 9, "#111", 2);
    }
    out += QStringLiteral("</svg>\n<table id=\"cycle-times\"><thead><tr><th>station</th><th>recipe</th><th>ended units</th>"
                          "<th>min</th><th>median</th><th>90th percentile</th><th>max</th></tr></thead><tbody>\n");
    for (auto it = f.cycles.cbegin(); it != f.cycles.cend(); ++it)
        out += QStringLiteral("<tr data-recipe-sha256=\"%1\">").arg(esc(std::get<2>(it.key())))
             + stationCell(f, std::get<0>(it.key())) + QStringLiteral("<td>%1</td>").arg(esc(std::get<1>(it.key())))
             + countCell("units", it->units) + valueCell("min", it->min, num(it->min))
             + valueCell("median", it->median, num(it->median)) + valueCell("p90", it->p90, num(it->p90))
             + valueCell("max", it->max, num(it->max)) + QStringLiteral("</tr>\n");
    return out + QStringLiteral("</tbody></table></section>\n");
}

QString chains(const ShiftFigures& f)
{
    QString out = QStringLiteral("<section><h2>Chains</h2><table id=\"chains\"><thead><tr><th>station</th><th>id</th>"
                                 "<th>last record</th><th>its hash</th><th>verify</th></tr></thead><tbody>\n");
    for (const StationFigures& s : f.stations)
        out += QStringLiteral("<tr data-station=\"%1\"><td>%2</td><td class=\"id\">%1</td><td class=\"n seq\">%3</td>"
                              "<td class=\"hash\" title=\"%4\">%5</td><td class=\"%6\">%7</td></tr>\n")
                   .arg(esc(s.id), esc(s.name))
                   .arg(s.lastSeq)
                   .arg(esc(s.lastHash), s.lastHash.isEmpty() ? QStringLiteral("-") : esc(s.lastHash.left(12)) + QChar(0x2026),
                        s.whole ? QStringLiteral("whole") : QStringLiteral("broken"),
                        s.whole ? QStringLiteral("whole") : QStringLiteral("broken: ") + esc(s.finding));
    return out + QStringLiteral("</tbody></table><p class=\"note\">As <code>pelmora-ledger verify</code> checks each "
                                "station's chain and unit rows, over the whole ledger.</p></section>\n");
}

QString failures(const ShiftFigures& f, const Times& t, int most)
{
    QString out = QStringLiteral("<section><h2>Failed and interrupted units</h2>");
    if (f.failures.isEmpty())
        return out + QStringLiteral("<p>None in this window.</p></section>\n");
    out += QStringLiteral("<table id=\"failures\"><thead><tr><th>start</th><th>station</th><th>fixture</th><th>serial</th>"
                          "<th>recipe</th><th>result</th><th>reason</th><th>why</th></tr></thead><tbody>\n");
    const qsizetype shown = std::min<qsizetype>(f.failures.size(), most);
    for (qsizetype i = 0; i < shown; ++i) {
        const UnitRecord& r = f.failures[i];
        out += QStringLiteral("<tr data-unit=\"%1\"><td class=\"time\">%2</td>").arg(esc(r.id.toString(QUuid::WithoutBraces)), t.full(r.start))
             + stationCell(f, r.station)
             + QStringLiteral("<td>%1</td><td class=\"serial\">%2</td><td>%3</td><td>%4</td><td class=\"reason\">%5</td>"
                              "<td class=\"why\">%6</td></tr>\n")
                   .arg(esc(r.fixtureName), r.serial.isEmpty() ? QStringLiteral("-") : esc(r.serial), esc(r.recipeName),
                        esc(r.result), esc(failureReason(r)), esc(r.why));
    }
    out += QStringLiteral("</tbody></table>");
    if (f.failures.size() > shown)
        out += QStringLiteral("<p id=\"failures-more\">%1 more: <code>pelmora-ledger list --result fail</code>, "
                              "<code>pelmora-ledger list --result interrupted</code></p>")
                   .arg(f.failures.size() - shown);
    return out + QStringLiteral("</section>\n");
}

const char* const style = R"(
:root { color-scheme: light; }
body { font: 13px/1.35 system-ui, "DejaVu Sans", sans-serif; color: #111; background: #fff; margin: 0 auto; max-width: 1300px; padding: 8px 18px; }
h1 { font-size: 20px; margin: 4px 0 6px; }
h2 { font-size: 15px; margin: 18px 0 4px; border-bottom: 2px solid #3b6ea5; padding-bottom: 2px; }
svg { display: block; width: 100%; max-width: 900px; height: auto; font-size: 11px; }
svg text { fill: #222; }
svg .small { font-size: 10px; fill: #555; }
table { border-collapse: collapse; margin: 6px 0 10px; font-size: 12px; }
th, td { text-align: left; padding: 2px 7px; border-bottom: 1px solid #ddd; vertical-align: top; }
th { background: #f2f4f7; font-weight: 600; }
td.n { text-align: right; font-variant-numeric: tabular-nums; white-space: nowrap; }
td.why { max-width: 28em; overflow-wrap: anywhere; }
td.serial, td.id, td.hash, code { font-family: "DejaVu Sans Mono", monospace; font-size: 11px; overflow-wrap: break-word; }
table.meta th { background: none; padding-left: 0; }
td.broken { color: #a40000; font-weight: 600; }
span.id { color: #555; font-size: 11px; }
.note { color: #555; font-size: 11px; margin: 0 0 6px; }
@page { size: A4; margin: 12mm; }
@media print {
  body { max-width: none; padding: 0; font-size: 9pt; }
  svg { max-width: 100%; break-inside: avoid; }
  h2 { break-after: avoid; }
  table { max-width: 100%; font-size: 8pt; }
  th, td { padding: 1px 4px; }
  #failures, #units-per-hour { width: 100%; }
  thead { display: table-header-group; }
  tr { break-inside: avoid; }
  td.why { max-width: none; }
}
)";

}  // namespace

QByteArray reportHtml(const ShiftFigures& f, int failuresShown)
{
    const Times t(f.request.zone);
    QString out = QStringLiteral(
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
        "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src 'unsafe-inline'; img-src data:\">\n"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>Shift report</title>\n<style>");
    out += QLatin1String(style);
    out += QStringLiteral("</style></head><body>\n");
    out += header(f, t) + totals(f) + unitsPerHour(f, t) + yields(f) + pareto(f) + cycleTimes(f) + chains(f)
         + failures(f, t, failuresShown);
    out += QStringLiteral("</body></html>\n");
    return out.toUtf8();
}
