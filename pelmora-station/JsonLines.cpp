// JSON Lines on standard output for the program that watches the station:
// one object per event, progress at most once a second per fixture, and a
// result per unit with what each slot holds.

#include "StationReport.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <vector>

namespace {

constexpr qint64 kProgressEveryMs = 1000;

const char* eventName(EventKind kind)
{
    switch (kind) {
    case EventKind::Waiting: return "waiting";
    case EventKind::Arrived: return "arrived";
    case EventKind::Label: return "label";
    case EventKind::LabelDone: return "labelDone";
    case EventKind::Result: return "result";
    case EventKind::Gone: return "gone";
    case EventKind::Halted: return "halted";
    }
    return "?";
}

class JsonLines final : public StationView {
public:
    JsonLines(const QList<FixtureOption>& fixtures, const Recipe& recipe)
        : fixtures_(fixtures), recipe_(recipe), shown_(fixtures.size())
    {
    }

    void event(const StationEvent& e, const StationState& state) override
    {
        QJsonObject o{{QStringLiteral("event"), QLatin1String(eventName(e.kind))}};
        if (!e.serial.isEmpty())
            o.insert(QStringLiteral("serial"), e.serial);
        if (e.label >= 0 && (e.kind == EventKind::Label || e.kind == EventKind::LabelDone))
            o.insert(QStringLiteral("label"), label(e.label));
        switch (e.kind) {
        case EventKind::LabelDone: o.insert(QStringLiteral("slotHolds"), e.text); break;
        case EventKind::Waiting:
        case EventKind::Halted:
            if (!e.text.isEmpty())
                o.insert(QStringLiteral("why"), e.text);
            // The unit whose record could not be written, with its result.
            if (!e.result.isEmpty())
                o.insert(QStringLiteral("notRecorded"), e.result);
            break;
        case EventKind::Result: {
            QJsonArray labels;
            for (const LabelOutcome& l : e.labels)
                labels.append(QJsonObject{{QStringLiteral("slot"), l.slot},
                                          {QStringLiteral("slotHolds"), l.slotHolds},
                                          {QStringLiteral("dataSent"), l.dataSent},
                                          {QStringLiteral("size"), l.size},
                                          {QStringLiteral("fileFrameSent"), l.fileFrameSent},
                                          {QStringLiteral("releaseConfirmed"), l.released}});
            o.insert(QStringLiteral("result"), e.result);
            o.insert(QStringLiteral("why"), e.text);
            if (!e.reason.isEmpty())
                o.insert(QStringLiteral("reason"), e.reason);
            o.insert(QStringLiteral("labels"), labels);
            o.insert(QStringLiteral("units"), state.tally.units);
            o.insert(QStringLiteral("passed"), state.tally.passed);
            o.insert(QStringLiteral("failed"), state.tally.failed);
            if (state.tally.centralWaiting >= 0)
                o.insert(QStringLiteral("centralWaiting"), state.tally.centralWaiting);
            break;
        }
        default: break;
        }
        print(e.fixture, e.unit, o);
    }

    void progress(int i, qint64 unit, const LoadView& v, const StationState&) override
    {
        QElapsedTimer& shown = shown_[size_t(i)];
        if (shown.isValid() && shown.elapsed() < kProgressEveryMs)
            return;
        shown.start();
        print(i, unit, {{QStringLiteral("event"), QStringLiteral("progress")},
                        {QStringLiteral("label"), label(v.label)},
                        {QStringLiteral("stage"), QLatin1String(Wire::stageName(v.stage))},
                        {QStringLiteral("sent"), v.sent},
                        {QStringLiteral("percent"), v.percent},
                        {QStringLiteral("secondsLeft"), v.secondsLeft}});
    }

    void flush(const StationState& state) override
    {
        // The central ledger's trouble, once each time it changes.
        const Tally& t = state.tally;
        if (t.centralProblem == problem_ && t.centralStopped == stopped_)
            return;
        problem_ = t.centralProblem;
        stopped_ = t.centralStopped;
        print(-1, 0, {{QStringLiteral("event"), QStringLiteral("central")},
                      {QStringLiteral("waiting"), t.centralWaiting},
                      {QStringLiteral("forwarding"), t.centralStopped ? QStringLiteral("stopped") : QStringLiteral("on")},
                      {QStringLiteral("problem"), t.centralProblem}});
    }

    void end(const StationState& state) override
    {
        QJsonObject o{{QStringLiteral("event"), QStringLiteral("end")},
                      {QStringLiteral("units"), state.tally.units},
                      {QStringLiteral("passed"), state.tally.passed},
                      {QStringLiteral("failed"), state.tally.failed},
                      {QStringLiteral("interrupted"), state.tally.interrupted}};
        if (state.tally.centralWaiting >= 0)
            o.insert(QStringLiteral("centralWaiting"), state.tally.centralWaiting);
        if (state.tally.centralStopped)
            o.insert(QStringLiteral("forwarding"), QStringLiteral("stopped"));
        print(-1, 0, o);
    }

private:
    QJsonObject label(int index) const
    {
        const RecipeLabel& l = recipe_.labels[index];
        return {{QStringLiteral("index"), index + 1}, {QStringLiteral("slot"), l.slot}, {QStringLiteral("file"), l.file}};
    }

    void print(int fixture, qint64 unit, QJsonObject o)
    {
        o.insert(QStringLiteral("time"), QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs));
        if (fixture >= 0)
            o.insert(QStringLiteral("fixture"), fixtures_[fixture].name);
        if (unit > 0)
            o.insert(QStringLiteral("unit"), unit);
        std::fputs(QJsonDocument(o).toJson(QJsonDocument::Compact).append('\n').constData(), stdout);
        std::fflush(stdout);
    }

    QList<FixtureOption> fixtures_;
    const Recipe& recipe_;
    std::vector<QElapsedTimer> shown_;
    QString problem_;
    bool stopped_ = false;
};

}  // namespace

std::unique_ptr<StationView> makeJsonLines(const QList<FixtureOption>& fixtures, const Recipe& recipe)
{
    return std::make_unique<JsonLines>(fixtures, recipe);
}
