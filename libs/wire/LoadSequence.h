#pragma once
// One label into one slot, start to end, for the front ends that run a load
// in a straight line (pelmora-load, pelmora-station): the stages in order,
// each bounded by the load policy, and for every way a load can end the
// stage, what the slot holds and the exit status. The window keeps its own
// procedures, timers and endless retries, and takes the policy's numbers
// from here.
//
// The clock and the line are injected: the caller owns the MSComm (built
// with its LineOpener) and the Clock the waits read.

#include "Ending.h"
#include "Exchanges.h"
#include "LabelFile.h"
#include "link/Clock.h"
#include "link/MSComm.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace Wire {

// The window's rhythm, which every front end keeps.
struct LoadPolicy {
    int polls = 10;                 // the handshake gives up after this many
    int attempts = 10;              // tries of the slot name, the length, the release
    double stageRetryWait = 0.3;    // between stage tries: the upload timer's period
    double releaseRetryWait = 0.1;  // between release tries: the release timer's period
    // The window waits each stage's whole wait; the command line and the
    // station read a reply as soon as it is in, so each wait is the longest.
    bool readEarly = false;
    // A station: a frame due an answer that gets none within its wait ends
    // the load at once, and nothing of it is sent again; whatever answers
    // after that may be another unit.
    bool doubtEndsLoad = false;
};
inline constexpr LoadPolicy kWindowPolicy{};
inline constexpr int kMinAttempts = 1;
inline constexpr int kMaxAttempts = 1000;

enum class Stage { Waiting, Opening, Polling, Slot, Length, Streaming, Draining, Releasing, Done };
const char* stageName(Stage stage);

// Exit statuses: each says what the slot holds.
namespace ExitStatus {
inline constexpr int Loaded = 0;           // loaded, and the release confirmed
inline constexpr int SomeFailed = 1;       // several devices, at least one failed
inline constexpr int Usage = 2;
inline constexpr int FileRefused = 3;      // nothing of the file sent
inline constexpr int PortRefused = 4;      // nothing sent
inline constexpr int NoAnswer = 5;         // only polls sent
inline constexpr int NotAcknowledged = 6;  // slot name or length refused; no data sent
inline constexpr int Incomplete = 7;       // the slot holds an incomplete file
inline constexpr int NotReleased = 8;      // all data and "#File#" sent, the release not confirmed
}  // namespace ExitStatus

// A label as it goes out: the file as checked and, when the front end holds
// it in memory, its bytes. Held bytes are streamed as they are, whatever
// happens to the file on disk since; otherwise the file is re-checked before
// every length and read frame by frame.
struct Label {
    LabelFileFacts file;
    std::optional<QByteArray> bytes;
};

// Thrown from the stop check or the doubt check when the fixture can no
// longer vouch for its unit: the load ends before its next frame, as a failure.
struct UnitGone {
    QString why;                                   // "taken out"
    QString code = QStringLiteral("taken_out");    // the reason code the record carries
};

// Runs before every frame and whenever an awaited answer is not in yet; may
// throw UnitGone. An answer already in counts before it.
using DoubtCheck = std::function<void()>;

// Thrown from the stop check: the load ends before its next frame.
struct Stopped {
    int exitStatus = 0;
    QString why;  // "stopped by SIGTERM"
};

struct LoadOutcome {
    Stage stage = Stage::Waiting;  // the stage the load ended in (Done when loaded)
    SlotState slot = SlotState::Untouched;
    int exitStatus = ExitStatus::Loaded;
    QString error;  // what went wrong, as the operator reads it; empty when loaded
    qint64 dataSent = 0;
    bool endSent = false;   // "#File#"
    bool released = false;  // the device confirmed the release
    QStringList replies;    // every reply read, in order
    bool stopped = false;   // ended by the stop check
    bool gone = false;      // the unit went silent or was taken out: what answers next is another unit
    double slowestPollAnswer = 0;  // seconds, of the polls answered
    bool fileChanged = false;  // the label on disk was not the file announced
    bool takenOut = false;     // the fixture said its unit left (not only that it fell silent)
    QString goneCode;          // with takenOut: how it knew (taken_out, stalled, scanned_over)
    QByteArray sha256;      // of the data as it went out, once all of it did (hexadecimal)

    bool loaded() const { return exitStatus == ExitStatus::Loaded; }
    // "loaded", "no answer", ...: the result as the reports name it.
    QString result() const;
};

class LoadObserver {
public:
    virtual ~LoadObserver() = default;
    virtual void entered(Stage /*stage*/) {}
    // After every data frame, before its wait.
    virtual void streamed(qint64 /*sent*/, qint64 /*total*/) {}
};

class LoadSequence {
public:
    // `stop` runs before and between the slices of every wait and may throw
    // Stopped; `observer` may be null.
    LoadSequence(Clock& clock, MSCommLib::MSComm& port, LoadPolicy policy = {},
                 std::function<void()> stop = {}, LoadObserver* observer = nullptr, DoubtCheck doubt = {});

    // Opens the port with `settings`, loads, and closes the port again,
    // whatever happened.
    LoadOutcome openAndLoad(const QString& settings, int slot, const Label& label);
    // On the port as it is open now: polls, slot name, length, stream,
    // drain, release. The port stays open.
    LoadOutcome load(int slot, const Label& label);

    // The exchanges on this port, paced by this sequence's waits.
    Exchanges& exchanges() { return wire_; }
    // A wait on this sequence's clock that honours the stop check.
    void wait(double seconds);

private:
    struct Failed;
    void enter(Stage stage);
    void run(int slot, const Label& label);
    template <typename Exchange>
    bool tries(int times, double between, Exchange exchange);
    // A wait for an answer: the stop check, not the doubt check.
    void answerWait(double seconds);
    // How long the exchange of the running stage waits for its answer.
    double stageWait() const;
    // "slot 3's length", for what went silent when.
    QString stageWords() const;
    LoadOutcome& finish();
    // How far the load got, for the one account of its ending.
    Ending ending() const;

    Clock& clock_;
    MSCommLib::MSComm& port_;
    LoadPolicy policy_;
    std::function<void()> stop_;
    LoadObserver* observer_;
    DoubtCheck doubt_;
    Exchanges wire_;
    StreamCount count_;
    qint64 dropped_ = -1;  // bytes still queued when the drain gave up
    int slot_ = 0;
    LoadOutcome outcome_;
};

}  // namespace Wire
