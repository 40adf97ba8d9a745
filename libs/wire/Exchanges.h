#pragma once
// What the program says to the device, and when: each exchange with its
// frame, its wait and the reply that moves on, and the stream with its pacing,
// "#File#" and the drain. The window and the command line both talk to the
// device through this, each with its own wait: the window's keeps the window
// alive and stops when it closes, the command line's stops on a signal.
//
// Only the first character of everything read counts. The frames an exchange
// repeats are identical (the slot and the file are fixed for the whole load),
// so an acceptance that comes late can only answer that same frame.

#include "LabelFile.h"
#include "link/Loose.h"
#include "link/MSComm.h"
#include "link/Wait.h"

#include <QString>
#include <functional>
#include <optional>

namespace Wire {

inline constexpr double kPollWait = 1.0;
inline constexpr double kSlotNameWait = 2.0;
inline constexpr double kLengthWait = 1.0;
inline constexpr double kReleaseWait = 1.8;

// Waits this many seconds; may throw to end the running sequence.
using Wait = std::function<void(double seconds)>;

// How far a stream got; kept up to date frame by frame, so it still tells
// after the stream ended in an error or was stopped.
struct StreamCount {
    qint64 announced = 0;
    qint64 sent = 0;  // data frames written
    bool endSent = false;  // "#File#" written
    QByteArray sha256;     // of the data as it went out, in hexadecimal, once all of it did
};

// An answer is looked for this often while it is due, and once it began the
// rest of it is given this long, so that none of it is left for the next exchange.
inline constexpr double kAnswerSlice = 0.01;
inline constexpr double kAnswerSettle = 0.02;

// How an exchange that reads its answer as soon as it is in keeps time.
struct EarlyAnswers {
    std::function<double()> now;
    Wait slice;                       // a wait while the answer is due
    std::function<void()> nothingYet;  // after each look that found nothing; may throw
};

class Exchanges {
public:
    Exchanges(MSCommLib::MSComm& port, Wait wait);

    // From now on each exchange ends as soon as its answer is in: its wait
    // is the longest, never cut short while nothing came. `beforeFrame`
    // runs before every frame and may throw.
    void readAnswersEarly(EarlyAnswers early, std::function<void()> beforeFrame = {});

    // One frame, one write.
    void send(const Loose& payload);

    // "S", 1 s: the device answers "S".
    bool poll();
    // "#Externl1.ejf#", 2 s: the device takes the slot file name with "D".
    bool chooseSlot(const QString& deviceFileName);
    // "%1234#", 1 s: the device takes the length with "U".
    bool announceLength(qint32 length);
    // 1 s, then one frame per byte of the announced file, 0.015 s after each
    // and once more after every hundredth, then "#File#". `frameSent` runs
    // right after each data frame, before its wait, with the count so far.
    // A file that is no longer the announced one stops it before the next
    // frame, and bytes that are not the ones Load hashed stop it before
    // "#File#" (75, with how far it got).
    void stream(const LabelFileFacts& announced, StreamCount& count,
                const std::function<void(qint64 sent)>& frameSent = {});
    // The same for bytes held in memory: what goes out is exactly `bytes`.
    void stream(const QByteArray& bytes, StreamCount& count,
                const std::function<void(qint64 sent)>& frameSent = {});
    // Lets the written frames leave the machine; `between` runs meanwhile.
    // Returns the bytes still queued when its bound ran out.
    qint64 drain(const WaitServe& between = {});
    // "#End#", 1.8 s: the device confirms the release with "T".
    bool release();

    // Everything read after the last exchange's wait.
    const QString& lastReply() const { return lastReply_; }
    // Seconds from the last exchange's frame to the first of its answer (read
    // early), else its wait.
    double lastLatency() const { return lastLatency_; }

private:
    // The paced frames of `size` bytes, each taken from `next` just before it goes out.
    void streamFrames(qint64 size, StreamCount& count, const std::function<unsigned char(qint64 sent)>& next,
                      const std::function<void(qint64 sent)>& frameSent);
    bool exchange(const Loose& payload, double seconds, QChar accepted);

    MSCommLib::MSComm& port_;
    Wait wait_;
    std::optional<EarlyAnswers> early_;
    std::function<void()> beforeFrame_;
    QString lastReply_;
    double lastLatency_ = 0;
};

// The slot file name of slot 1 to 5, "Externl1.ejf".
QString slotFileName(int slot);

}  // namespace Wire
