#include "Ending.h"

#include <algorithm>

namespace Wire {

namespace {
constexpr qint64 kEndFrameBytes = 8;     // "#File#", its check byte, CR
constexpr qint64 kLongestDataFrame = 5;  // "255", its check byte, CR
}  // namespace

const char* slotStateName(SlotState state)
{
    switch (state) {
    case SlotState::Untouched: return "untouched";
    case SlotState::Incomplete: return "incomplete";
    case SlotState::Written: return "written";
    case SlotState::Loaded: return "loaded";
    }
    return "?";
}

EndingAccount accountOf(const Ending& e)
{
    EndingAccount a;
    if (e.released) {
        a.slot = SlotState::Loaded;
        a.words = QStringLiteral("the file was delivered to %1").arg(e.slotFile);
    } else if (e.dropped >= 0) {
        // Bytes still queued are whole frames of at most five bytes each, the
        // end frame among them if it was handed over: so many frames at least
        // never left.
        const qint64 dataQueued = std::max<qint64>(e.dropped - (e.endSent ? kEndFrameBytes : 0), 0);
        const qint64 framesLeft = (dataQueued + kLongestDataFrame - 1) / kLongestDataFrame;
        a.slot = SlotState::Incomplete;
        a.reachedAtMost = std::max<qint64>(e.sent - framesLeft, 0);
        a.words = QStringLiteral("at most %1 of %2 bytes reached the device; %3 bytes still queued for the line were "
                                 "dropped; the slot may hold an incomplete file")
                      .arg(a.reachedAtMost)
                      .arg(e.announced)
                      .arg(e.dropped);
    } else if (e.endSent && e.drained) {
        a.slot = SlotState::Written;
        a.words = QStringLiteral("the file was sent to %1, but the device did not confirm it; the slot may hold an "
                                 "incomplete file")
                      .arg(e.slotFile);
    } else if (e.sent > 0 || e.dataBegun || e.endSent) {
        a.slot = SlotState::Incomplete;
        a.words = QStringLiteral("%1 of %2 bytes sent; the slot holds an incomplete file").arg(e.sent).arg(e.announced);
    } else {
        a.words = QStringLiteral("no data was sent; the slot is untouched");
    }
    return a;
}

}  // namespace Wire
