#include "LoadReason.h"

#include "ledger/ReasonCode.h"

using namespace Ledger;

QString reasonOf(const Wire::LoadOutcome& o)
{
    if (o.stopped)
        return Reason::text(Reason::Interrupted);
    if (o.loaded())
        return {};
    // Known to have left (its presence line dropped) is taken out; silent
    // while an answer was due is only no answer: a plain line cannot tell
    // a unit pulled from one that stopped answering.
    if (o.takenOut)
        return o.goneCode.isEmpty() ? Reason::text(Reason::TakenOut) : o.goneCode;
    if (o.gone)
        return Reason::text(Reason::NoAnswer);
    if (o.fileChanged)
        return Reason::text(Reason::FileChanged);
    switch (o.exitStatus) {
    case Wire::ExitStatus::FileRefused: return Reason::text(Reason::FileChanged);  // refused before any byte
    case Wire::ExitStatus::PortRefused: return Reason::text(Reason::LineLost);
    case Wire::ExitStatus::NoAnswer:
        return Reason::text(o.replies.isEmpty() ? Reason::NoAnswer : Reason::WrongAnswer);
    case Wire::ExitStatus::NotAcknowledged:
        return Reason::text(o.stage == Wire::Stage::Slot ? Reason::RefusedName : Reason::RefusedLength);
    // A stream cut short with the unit still there: the line went.
    case Wire::ExitStatus::Incomplete: return Reason::text(Reason::LineLost);
    case Wire::ExitStatus::NotReleased: return Reason::text(Reason::NoRelease);
    }
    return Reason::text(Reason::NoAnswer);
}
