// Output for logs and pipes: one line per event on standard error, each
// tagged with its fixture and unit; the totals close the run.

#include "StationReport.h"

#include <QDateTime>

namespace {

class EventLines final : public StationView {
public:
    EventLines(const QList<FixtureOption>& fixtures, const Recipe& recipe) : fixtures_(fixtures), recipe_(recipe) {}

    void event(const StationEvent& e, const StationState&) override
    {
        const auto label = [&] {
            const RecipeLabel& l = recipe_.labels[e.label];
            return QStringLiteral("slot %1 (%2 of %3, %4)").arg(l.slot).arg(e.label + 1).arg(recipe_.labels.size()).arg(l.file);
        };
        switch (e.kind) {
        case EventKind::Waiting:
            say(e, e.text.isEmpty() ? QStringLiteral("waiting for a unit")
                                    : QStringLiteral("waiting for a unit: %1").arg(e.text));
            break;
        case EventKind::Arrived: say(e, QStringLiteral("arrived")); break;
        case EventKind::Label: say(e, label() + QStringLiteral(": loading")); break;
        case EventKind::LabelDone: say(e, label() + QStringLiteral(": %1").arg(e.text)); break;
        case EventKind::Result: say(e, StationText::result(e)); break;
        case EventKind::Gone: say(e, QStringLiteral("taken out")); break;
        case EventKind::Halted:
            say(e, e.result.isEmpty() ? QStringLiteral("STOPPED: %1").arg(e.text)
                                      : QStringLiteral("%1, NOT RECORDED: %2").arg(e.result.toUpper(), e.text));
            break;
        }
    }

    

    void end(const StationState& state) override { write(StationText::totals(state.tally) + QLatin1Char('\n')); }

private:
    void say(const StationEvent& e, const QString& text)
    {
        const QString unit = e.unit > 0 ? QStringLiteral(" unit %1").arg(e.unit) : QString();
        write(QStringLiteral("%1 [%2]%3 %4\n")
                  .arg(QDateTime::currentDateTimeUtc().toString(Qt::ISODate), fixtures_[e.fixture].name, unit, text));
    }
    static void write(const QString& text)
    {
        std::fputs(text.toLocal8Bit().constData(), stderr);
        std::fflush(stderr);
    }

    QList<FixtureOption> fixtures_;
    const Recipe& recipe_;
};

}  // namespace

std::unique_ptr<StationView> makeEventLines(const QList<FixtureOption>& fixtures, const Recipe& recipe)
{
    return std::make_unique<EventLines>(fixtures, recipe);
}
