#include "StationReport.h"

namespace StationText {

QString clock(qint64 s)
{
    if (s >= 3600)
        return QStringLiteral("%1:%2:%3")
            .arg(s / 3600)
            .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
            .arg(s % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

QString slotStates(const std::vector<LabelOutcome>& labels)
{
    QStringList parts;
    for (const LabelOutcome& l : labels)
        parts << QStringLiteral("slot %1 %2").arg(l.slot).arg(l.slotHolds);
    return parts.join(QStringLiteral(", "));
}

QString result(const StationEvent& e)
{
    if (e.result == QStringLiteral("pass"))
        return QStringLiteral("PASS");
    const QString word = e.result == QStringLiteral("fail") ? QStringLiteral("FAIL") : QStringLiteral("INTERRUPTED");
    return QStringLiteral("%1 %2 (%3)").arg(word, e.text, slotStates(e.labels));
}

QString eventText(const StationEvent& e, const Recipe& recipe)
{
    const auto label = [&] {
        const RecipeLabel& l = recipe.labels[e.label];
        return QStringLiteral("slot %1 (%2 of %3, %4)").arg(l.slot).arg(e.label + 1).arg(recipe.labels.size()).arg(l.file);
    };
    switch (e.kind) {
    case EventKind::Waiting:
        return e.text.isEmpty() ? QStringLiteral("waiting for a unit") : QStringLiteral("waiting for a unit: %1").arg(e.text);
    case EventKind::Arrived: return QStringLiteral("arrived");
    case EventKind::Label: return label() + QStringLiteral(": loading");
    case EventKind::LabelDone: return label() + QStringLiteral(": %1").arg(e.text);
    case EventKind::Result: return result(e);
    case EventKind::Gone: return QStringLiteral("taken out");
    case EventKind::Halted:
        return e.result.isEmpty() ? QStringLiteral("STOPPED: %1").arg(e.text)
                                  : QStringLiteral("%1, NOT RECORDED: %2").arg(e.result.toUpper(), e.text);
    }
    return {};
}

QString totals(const Tally& t)
{
    QString text = QStringLiteral("units %1  passed %2  failed %3").arg(t.units).arg(t.passed).arg(t.failed);
    if (t.interrupted > 0)
        text += QStringLiteral("  interrupted %1").arg(t.interrupted);
    text += QStringLiteral("  %1 units/h  running %2").arg(t.unitsPerHour(), 0, 'f', 1).arg(clock(t.running.elapsed() / 1000));
    if (const QString c = central(t); !c.isEmpty())
        text += QStringLiteral("  ") + c;
    return text;
}

QString central(const Tally& t)
{
    if (t.centralStopped)
        return QStringLiteral("central: RECORDS NOT FORWARDED, %1 waiting (%2)").arg(t.centralWaiting).arg(t.centralProblem);
    QString text;
    if (t.centralWaiting > 0)
        text = QStringLiteral("central: %1 waiting").arg(t.centralWaiting);
    if (!t.centralProblem.isEmpty())
        text += (text.isEmpty() ? QStringLiteral("central: ") : QStringLiteral(" ")) + QStringLiteral("(%1)").arg(t.centralProblem);
    return text;
}

}  // namespace StationText
