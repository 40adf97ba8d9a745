#pragma once
// The one account of how a load ended: what the slot holds, how many data
// bytes were sent, how many at most reached the device, and the words for it.
// The window and both command lines say an ending with it, so the same ending
// reads the same everywhere.

#include <QString>
#include <QtGlobal>

namespace Wire {

// What the slot holds once a load ended.
enum class SlotState {
    Untouched,   // nothing of the file went out
    Incomplete,  // part of the file went out, or the device did not take all of it
    Written,     // the whole file and "#File#" went out; the release was not confirmed
    Loaded,      // written, and the device confirmed its release
};
const char* slotStateName(SlotState state);

// How far a load got, as this machine knows it.
struct Ending {
    qint64 announced = 0;
    qint64 sent = 0;         // data frames handed to the line
    bool dataBegun = false;  // a data frame was begun, even if its write failed
    bool endSent = false;    // "#File#" handed to the line
    bool drained = false;    // everything handed to the line left this machine
    qint64 dropped = -1;     // bytes still queued when the drain gave up, dropped; -1: no drain gave up
    bool released = false;   // the device confirmed the release
    QString slotFile;        // "Externl3.ejf"
};

struct EndingAccount {
    SlotState slot = SlotState::Untouched;
    qint64 reachedAtMost = -1;  // what the line's queue proves at most reached the device; -1: it proves nothing
    // "3 of 600 bytes sent; the slot holds an incomplete file": lower case, no final stop.
    QString words;
};

EndingAccount accountOf(const Ending& ending);

}  // namespace Wire
