// Output for logs and pipes: one line per event on standard error, each
// tagged with its fixture and unit; the totals close the run.

#include "StationReport.h"

#include <QDateTime>

namespace {

class EventLines final : public StationView {
public:
    explicit EventLines(const QList<FixtureOption>& fixtures) : fixtures_(fixtures) {}

    void event(const StationEvent& e, const StationState& state) override { say(e, StationText::eventText(e, state.recipe())); }

    // The central ledger's trouble, once each time it changes.
    void flush(const StationState& state) override
    {
        const Tally& t = state.tally;
        if (t.centralProblem == problem_ && t.centralStopped == stopped_)
            return;
        problem_ = t.centralProblem;
        stopped_ = t.centralStopped;
        const QString now = StationText::central(t);
        write(QStringLiteral("%1 %2\n").arg(QDateTime::currentDateTimeUtc().toString(Qt::ISODate),
                                             now.isEmpty() ? QStringLiteral("central: sending again") : now));
    }

    void end(const StationState& state) override { write(StationText::totals(state.tally) + QLatin1Char('\n')); }

private:
    void say(const StationEvent& e, const QString& text)
    {
        QString unit = e.unit > 0 ? QStringLiteral(" unit %1").arg(e.unit) : QString();
        if (e.unit > 0 && !e.serial.isEmpty())
            unit += QStringLiteral(" (%1)").arg(e.serial);
        write(QStringLiteral("%1 [%2]%3 %4\n")
                  .arg(QDateTime::currentDateTimeUtc().toString(Qt::ISODate), fixtures_[e.fixture].name, unit, text));
    }
    static void write(const QString& text)
    {
        std::fputs(text.toLocal8Bit().constData(), stderr);
        std::fflush(stderr);
    }

    QList<FixtureOption> fixtures_;
    QString problem_;
    bool stopped_ = false;
};

}  // namespace

std::unique_ptr<StationView> makeEventLines(const QList<FixtureOption>& fixtures)
{
    return std::make_unique<EventLines>(fixtures);
}
