#include "UnitLoad.h"

#include "LoadReason.h"
#include "link/Errors.h"

#include <algorithm>

UnitOutcome loadUnitLabels(const Recipe& recipe, Wire::LoadSequence* sequence, const UnitLoadHooks& hooks)
{
    UnitOutcome unit;
    for (const RecipeLabel& l : recipe.labels)
        unit.labels.push_back({l.slot, QStringLiteral("untouched"), 0, l.bytes.size(), false, false, {}, {}});
    for (int i = 0; i < recipe.labels.size(); ++i) {
        const RecipeLabel& l = recipe.labels[i];
        if (hooks.labelBegins)
            hooks.labelBegins(i);
        Wire::LoadOutcome outcome;
        if (sequence) {
            outcome = sequence->load(l.slot, Wire::Label{l.facts, l.bytes});
        } else {
            outcome.exitStatus = Wire::ExitStatus::PortRefused;
            outcome.error = QString::fromLatin1(kLineLostDetail);
        }
        LabelOutcome& o = unit.labels[size_t(i)];
        o.slotHolds = QString::fromLatin1(Wire::slotStateName(outcome.slot));
        o.dataSent = outcome.dataSent;
        o.fileFrameSent = outcome.endSent;
        o.released = outcome.released;
        o.error = outcome.error;
        o.reason = reasonOf(outcome);
        if (hooks.labelDone)
            hooks.labelDone(i, o);
        unit.slowestPollAnswer = std::max(unit.slowestPollAnswer, outcome.slowestPollAnswer);
        if (outcome.loaded())
            continue;
        // The first label that fails ends the unit: the rest stay untouched.
        unit.stopped = outcome.stopped;
        unit.gone = outcome.gone;
        unit.result = outcome.stopped ? QStringLiteral("interrupted") : QStringLiteral("fail");
        // A doubt's words already name the stage they came at.
        const bool named = outcome.error.startsWith(QStringLiteral("slot %1").arg(l.slot)) ||
                           outcome.error.startsWith(QStringLiteral("the poll before"));
        unit.why = named ? outcome.error : QStringLiteral("slot %1: %2").arg(l.slot).arg(outcome.error);
        unit.reason = o.reason;
        break;
    }
    return unit;
}

Ledger::UnitRecord openUnitRecord(const Recipe& recipe, const FixtureOption& fixture, const ChosenPort& where,
                                  qint64 number, const QString& host, const QString& toolVersion)
{
    Ledger::UnitRecord r;
    r.id = QUuid::createUuid();
    r.host = host;
    r.fixtureName = fixture.name;
    r.fixturePath = where.path;
    r.adapterIdentity = describeAdapter(where.identity);
    r.unitNumber = number;
    r.recipeName = recipe.name;
    r.recipeSha256 = recipe.sha256;
    r.toolVersion = toolVersion;
    r.start = QDateTime::currentDateTimeUtc();
    for (const RecipeLabel& l : recipe.labels) {
        Ledger::LabelRecord label;
        label.slot = l.slot;
        label.file = l.facts.path;
        label.sha256 = l.sha256;
        label.size = l.bytes.size();
        label.slotHolds = QStringLiteral("untouched");
        r.labels << label;
    }
    return r;
}

void closeUnitRecord(Ledger::UnitRecord& record, const UnitOutcome& outcome)
{
    for (size_t i = 0; i < outcome.labels.size() && int(i) < record.labels.size(); ++i) {
        const LabelOutcome& o = outcome.labels[i];
        Ledger::LabelRecord& r = record.labels[int(i)];
        r.slotHolds = o.slotHolds;
        r.dataFramesSent = o.dataSent;
        r.fileFrameSent = o.fileFrameSent;
        r.releaseConfirmed = o.released;
        r.reason = o.reason;
    }
    record.end = QDateTime::currentDateTimeUtc();
    record.result = outcome.result;
    record.why = outcome.why;
    record.reason = outcome.reason;
}
