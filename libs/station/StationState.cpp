#include "StationState.h"

#include <QJsonArray>

namespace {
constexpr qint64 kHourMs = 3600 * 1000;
}

double Tally::unitsPerHour() const
{
    const double hours = double(running.elapsed()) / 3.6e6;
    return hours > 0 ? double(units) / hours : 0;
}

void Tally::count(const QString& result)
{
    ++units;
    if (result == QStringLiteral("pass"))
        ++passed;
    else if (result == QStringLiteral("fail"))
        ++failed;
    else
        ++interrupted;
}

const char* stateWord(FixtureState::Word word)
{
    switch (word) {
    case FixtureState::Word::Waiting: return "WAITING";
    case FixtureState::Word::Loading: return "LOADING";
    case FixtureState::Word::Pass: return "PASS";
    case FixtureState::Word::Fail: return "FAIL";
    case FixtureState::Word::Halted: return "STOPPED";
    }
    return "?";
}

StationState::StationState(const QList<FixtureOption>& fixtures, const Recipe& recipe) : recipe_(recipe)
{
    for (const FixtureOption& f : fixtures) {
        FixtureState s;
        s.name = f.name;
        fixtures_.push_back(s);
    }
    tally.running.start();
}

void StationState::apply(const StationEvent& e)
{
    FixtureState& f = fixtures_[size_t(e.fixture)];
    using Word = FixtureState::Word;
    switch (e.kind) {
    case EventKind::Waiting:
        f.line = e.text;
        // A verdict stays on show until the next unit starts.
        if (f.word == Word::Waiting || f.word == Word::Loading) {
            f.word = Word::Waiting;
            f.why = e.text;
        }
        break;
    case EventKind::Arrived:
        f.word = Word::Loading;
        f.unit = e.unit;
        f.serial = e.serial;
        f.unitIn = true;
        f.why.clear();
        f.line.clear();
        f.load.reset();
        break;
    case EventKind::Label:
    case EventKind::LabelDone: break;
    case EventKind::Result:
        f.word = e.result == QStringLiteral("pass") ? Word::Pass : Word::Fail;
        f.why = e.text;
        f.load.reset();
        f.lastUnit = e.unit;
        f.lastResult = e.result;
        tally.count(e.result);
        recent_.emplace_back(tally.running.elapsed(), e.result);
        break;
    case EventKind::Gone:
        f.unitIn = false;
        // A failed unit's verdict stays until it is taken out; a pass until the next unit.
        if (f.word == Word::Fail) {
            f.word = Word::Waiting;
            f.why.clear();
        }
        break;
    case EventKind::Halted:
        f.word = Word::Halted;
        f.why = e.text;
        f.load.reset();
        halted = true;
        break;
    }
}

void StationState::progress(int fixture, qint64 unit, const LoadView& load)
{
    FixtureState& f = fixtures_[size_t(fixture)];
    f.word = FixtureState::Word::Loading;
    f.unit = unit;
    f.load = load;
}

StationState::Hour StationState::lastHour() const
{
    const qint64 now = tally.running.elapsed();
    while (!recent_.empty() && now - recent_.front().first > kHourMs)
        recent_.pop_front();
    Hour h;
    for (const auto& [at, result] : recent_) {
        ++h.units;
        h.passed += result == QStringLiteral("pass") ? 1 : 0;
        h.failed += result == QStringLiteral("fail") ? 1 : 0;
    }
    return h;
}

QJsonObject StationState::toJson() const
{
    QJsonArray labels;
    for (const RecipeLabel& l : recipe_.labels)
        labels.append(QJsonObject{{QStringLiteral("slot"), l.slot},
                                  {QStringLiteral("file"), l.file},
                                  {QStringLiteral("size"), l.bytes.size()},
                                  {QStringLiteral("sha256"), l.sha256}});
    QJsonArray fixtures;
    for (const FixtureState& f : fixtures_) {
        QJsonObject o{{QStringLiteral("name"), f.name},
                      {QStringLiteral("state"), QLatin1String(stateWord(f.word))},
                      {QStringLiteral("unit"), f.unit},
                      {QStringLiteral("serial"), f.serial},
                      {QStringLiteral("unitIn"), f.unitIn},
                      {QStringLiteral("why"), f.why},
                      {QStringLiteral("line"), f.line},
                      {QStringLiteral("lastUnit"), f.lastUnit},
                      {QStringLiteral("lastResult"), f.lastResult}};
        if (f.load)
            o.insert(QStringLiteral("load"), QJsonObject{{QStringLiteral("slot"), f.load->slot},
                                                         {QStringLiteral("label"), f.load->label + 1},
                                                         {QStringLiteral("labels"), recipe_.labels.size()},
                                                         {QStringLiteral("stage"), QLatin1String(Wire::stageName(f.load->stage))},
                                                         {QStringLiteral("percent"), f.load->percent},
                                                         {QStringLiteral("secondsLeft"), f.load->secondsLeft}});
        fixtures.append(o);
    }
    const auto totals = [](qint64 units, qint64 passed, qint64 failed) {
        return QJsonObject{{QStringLiteral("units"), units},
                           {QStringLiteral("passed"), passed},
                           {QStringLiteral("failed"), failed},
                           {QStringLiteral("yield"), units > 0 ? double(passed) / double(units) : 0.0}};
    };
    QJsonObject run = totals(tally.units, tally.passed, tally.failed);
    run.insert(QStringLiteral("interrupted"), tally.interrupted);
    run.insert(QStringLiteral("unitsPerHour"), tally.unitsPerHour());
    const Hour h = lastHour();
    QJsonObject hour = totals(h.units, h.passed, h.failed);
    hour.insert(QStringLiteral("unitsPerHour"), double(h.units) * 3.6e6 / double(std::clamp<qint64>(tally.running.elapsed(), 1, kHourMs)));
    QJsonObject o{{QStringLiteral("recipe"), QJsonObject{{QStringLiteral("name"), recipe_.name},
                                                         {QStringLiteral("sha256"), recipe_.sha256},
                                                         {QStringLiteral("labels"), labels}}},
                  {QStringLiteral("fixtures"), fixtures},
                  {QStringLiteral("run"), run},
                  {QStringLiteral("lastHour"), hour}};
    if (tally.centralWaiting >= 0)
        o.insert(QStringLiteral("central"),
                 QJsonObject{{QStringLiteral("waiting"), tally.centralWaiting},
                             {QStringLiteral("forwarding"), tally.centralStopped ? QStringLiteral("stopped") : QStringLiteral("on")},
                             {QStringLiteral("problem"), tally.centralProblem}});
    return o;
}
