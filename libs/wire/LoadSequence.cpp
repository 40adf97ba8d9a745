#include "LoadSequence.h"

#include "link/Errors.h"
#include "link/Wait.h"

#include <QSet>
#include <algorithm>

namespace Wire {

namespace {

// Waits up to this long are slept through in one go.
constexpr double kOneSleepWait = 0.02;

// A label file that is no longer the one checked: while nothing of it went
// out, the file is refused, whatever stage noticed it.
struct FileChanged {
    QString error;
};

// A device's bytes as text that survives every terminal and C string:
// anything but printable ASCII as \xNN.
QString escaped(const QString& bytes)
{
    QString text;
    for (const QChar c : bytes) {
        const ushort code = c.unicode();
        if (code >= 0x20 && code < 0x7f && c != QLatin1Char('\\'))
            text += c;
        else
            text += QStringLiteral("\\x%1").arg(code, 2, 16, QLatin1Char('0'));
    }
    return text;
}

// The first bytes of the replies that were there, quoted, for "the device
// answered "s" to 10 polls".
QString quotedReplies(const QStringList& replies)
{
    QStringList shown;
    QSet<QString> seen;
    for (const QString& reply : replies) {
        const QString text = reply.left(12).trimmed();
        if (text.isEmpty() || seen.contains(text))
            continue;
        seen.insert(text);
        shown << QLatin1Char('"') + escaped(text) + QLatin1Char('"');
        if (shown.size() == 3)
            break;
    }
    return shown.join(QStringLiteral(", "));
}

}  // namespace

const char* stageName(Stage stage)
{
    switch (stage) {
    case Stage::Waiting: return "waiting";
    case Stage::Opening: return "opening";
    case Stage::Polling: return "polling";
    case Stage::Slot: return "slot";
    case Stage::Length: return "length";
    case Stage::Streaming: return "streaming";
    case Stage::Draining: return "draining";
    case Stage::Releasing: return "releasing";
    case Stage::Done: return "done";
    }
    return "?";
}

QString LoadOutcome::result() const
{
    if (stopped)
        return QStringLiteral("interrupted");
    switch (exitStatus) {
    case ExitStatus::Loaded: return QStringLiteral("loaded");
    case ExitStatus::FileRefused: return QStringLiteral("file refused");
    case ExitStatus::PortRefused: return QStringLiteral("port refused");
    // The device that answered something else did answer.
    case ExitStatus::NoAnswer: return replies.isEmpty() ? QStringLiteral("no answer") : QStringLiteral("wrong answer");
    case ExitStatus::NotAcknowledged: return QStringLiteral("not acknowledged");
    case ExitStatus::Incomplete: return QStringLiteral("incomplete");
    case ExitStatus::NotReleased: return QStringLiteral("not released");
    }
    return QStringLiteral("failed");
}

// A stage that ended without the reply that moves on.
struct LoadSequence::Failed {
    QString error;
};

LoadSequence::LoadSequence(Clock& clock, MSCommLib::MSComm& port, LoadPolicy policy, std::function<void()> stop,
                           LoadObserver* observer, DoubtCheck doubt)
    : clock_(clock),
      port_(port),
      policy_(policy),
      stop_(std::move(stop)),
      observer_(observer),
      doubt_(std::move(doubt)),
      wire_(port, [this](double seconds) { wait(seconds); })
{
    if (policy_.readEarly)
        wire_.readAnswersEarly({[this] { return clock_.now(); }, [this](double seconds) { answerWait(seconds); }, doubt_},
                               doubt_);
}

void LoadSequence::wait(double seconds)
{
    answerWait(seconds);
    if (doubt_)
        doubt_();
}

void LoadSequence::answerWait(double seconds)
{
    if (stop_)
        stop_();
    // A wait as short as a byte's is one sleep to its deadline, with the stop
    // check before and after: waking in slices as well would cost a fixture
    // four times the CPU for nothing a stop needs.
    waitOn(clock_, seconds, seconds > kOneSleepWait ? stop_ : WaitServe{});
    if (stop_)
        stop_();
}

double LoadSequence::stageWait() const
{
    switch (outcome_.stage) {
    case Stage::Polling: return kPollWait;
    case Stage::Slot: return kSlotNameWait;
    case Stage::Length: return kLengthWait;
    case Stage::Releasing: return kReleaseWait;
    default: return 0;
    }
}

void LoadSequence::enter(Stage stage)
{
    outcome_.stage = stage;
    if (observer_)
        observer_->entered(stage);
}

template <typename Exchange>
bool LoadSequence::tries(int times, double between, Exchange exchange)
{
    const bool polling = outcome_.stage == Stage::Polling;
    for (int i = 0; i < times; ++i) {
        if (i > 0 && between > 0)
            wait(between);
        const bool accepted = exchange();
        if (!wire_.lastReply().isEmpty()) {
            outcome_.replies << wire_.lastReply();
            if (polling && accepted)
                outcome_.slowestPollAnswer = std::max(outcome_.slowestPollAnswer, wire_.lastLatency());
        } else if (policy_.doubtEndsLoad) {
            // Whoever answers a frame tried again need not be who got the first.
            outcome_.gone = true;
            throw Failed{QStringLiteral("%1: no answer within %2 s: taken out?")
                             .arg(stageWords(), QString::number(stageWait()))};
        }
        if (accepted)
            return true;
    }
    return false;
}

QString LoadSequence::stageWords() const
{
    switch (outcome_.stage) {
    case Stage::Polling: return QStringLiteral("the poll before slot %1").arg(slot_);
    case Stage::Slot: return QStringLiteral("slot %1's name").arg(slot_);
    case Stage::Length: return QStringLiteral("slot %1's length").arg(slot_);
    case Stage::Releasing: return QStringLiteral("slot %1's release").arg(slot_);
    default: return QStringLiteral("slot %1").arg(slot_);
    }
}

LoadOutcome LoadSequence::openAndLoad(const QString& settings, int slot, const Label& label)
{
    outcome_ = {};
    count_ = {};
    enter(Stage::Opening);
    try {
        port_.setSettings(settings);
        port_.setPortOpen(true);
    } catch (const PelmoraError& error) {
        outcome_.exitStatus = ExitStatus::PortRefused;
        outcome_.error = error.report();
        return outcome_;
    }
    LoadOutcome outcome = load(slot, label);
    port_.setPortOpen(false);
    return outcome;
}

LoadOutcome LoadSequence::load(int slot, const Label& label)
{
    outcome_ = {};
    count_ = {};
    dropped_ = -1;
    slot_ = slot;
    int status = ExitStatus::Loaded;
    try {
        run(slot, label);
    } catch (const UnitGone& gone) {
        outcome_.gone = true;
        outcome_.takenOut = true;
        outcome_.goneCode = gone.code;
        // How far the stream got is said with every ending below.
        outcome_.error = QStringLiteral("%1 during %2").arg(gone.why, stageWords());
        status = -1;
    } catch (const Stopped& stopped) {
        outcome_.stopped = true;
        status = stopped.exitStatus;
        outcome_.error = stopped.why;
    } catch (const FileChanged& changed) {
        outcome_.error = changed.error;
        outcome_.fileChanged = true;
        status = count_.sent == 0 ? ExitStatus::FileRefused : ExitStatus::Incomplete;
    } catch (const Failed& failed) {
        outcome_.error = failed.error;
        status = -1;
    } catch (const PelmoraError& error) {
        outcome_.error = error.report();
        status = -1;
    } catch (const std::exception& error) {
        outcome_.error = QString::fromLocal8Bit(error.what());
        status = -1;
    }
    const bool failed = status == -1;
    if (failed) {
        // What a failure at each stage leaves the slot with.
        switch (outcome_.stage) {
        case Stage::Waiting:
        case Stage::Opening: status = ExitStatus::PortRefused; break;
        case Stage::Polling: status = ExitStatus::NoAnswer; break;
        case Stage::Slot:
        case Stage::Length: status = ExitStatus::NotAcknowledged; break;
        case Stage::Streaming:
        case Stage::Draining: status = ExitStatus::Incomplete; break;
        case Stage::Releasing:
        case Stage::Done: status = ExitStatus::NotReleased; break;
        }
    }
    outcome_.exitStatus = status;
    LoadOutcome& out = finish();
    // The file's own errors and a stop already say how far the stream got.
    if (failed && (status == ExitStatus::Incomplete || status == ExitStatus::NotReleased))
        out.error += QStringLiteral("; ") + accountOf(ending()).words;
    return out;
}

Ending LoadSequence::ending() const
{
    Ending e;
    e.announced = count_.announced;
    e.sent = count_.sent;
    e.dataBegun = count_.sent > 0 || outcome_.exitStatus == ExitStatus::Incomplete || outcome_.stage == Stage::Draining;
    e.endSent = count_.endSent;
    e.drained = outcome_.stage >= Stage::Releasing;
    e.dropped = dropped_;
    e.released = outcome_.released;
    e.slotFile = slotFileName(slot_);
    return e;
}

LoadOutcome& LoadSequence::finish()
{
    outcome_.dataSent = count_.sent;
    outcome_.endSent = count_.endSent;
    outcome_.sha256 = count_.sha256;
    outcome_.slot = accountOf(ending()).slot;
    return outcome_;
}

void LoadSequence::run(int slot, const Label& label)
{
    // A stop that came while the port opened sends not even a poll.
    if (stop_)
        stop_();
    const bool held = label.bytes.has_value();
    const auto requireUnchanged = [&] {
        if (held)
            return;
        try {
            requireUnchangedSinceLoad(label.file);
        } catch (const PelmoraError& error) {
            throw FileChanged{error.report()};
        }
    };

    enter(Stage::Polling);
    if (!tries(policy_.polls, 0, [this] { return wire_.poll(); })) {
        const QString answered = quotedReplies(outcome_.replies);
        throw Failed{answered.isEmpty() ? QStringLiteral("no answer to %1 polls").arg(policy_.polls)
                                        : QStringLiteral("the device answered %1 to %2 polls")
                                              .arg(answered)
                                              .arg(policy_.polls)};
    }
    requireUnchanged();

    enter(Stage::Slot);
    const QString name = slotFileName(slot);
    if (!tries(policy_.attempts, policy_.stageRetryWait, [&] { return wire_.chooseSlot(name); }))
        throw Failed{QStringLiteral("the slot name %1 was not taken after %2 tries").arg(name).arg(policy_.attempts)};

    enter(Stage::Length);
    const qint64 size = held ? label.bytes->size() : label.file.size;
    if (!tries(policy_.attempts, policy_.stageRetryWait, [&] {
            requireUnchanged();
            return wire_.announceLength(static_cast<qint32>(size));
        }))
        throw Failed{QStringLiteral("the length %1 was not taken after %2 tries").arg(size).arg(policy_.attempts)};

    enter(Stage::Streaming);
    const auto sent = [this, size](qint64 n) {
        if (observer_)
            observer_->streamed(n, size);
    };
    if (held) {
        wire_.stream(*label.bytes, count_, sent);
    } else {
        try {
            wire_.stream(label.file, count_, sent);
        } catch (const PelmoraError& error) {
            // The reader's own errors are about the file; the line's are not.
            if (error.number() != ErrorNumber::PathFileAccess && error.number() != ErrorNumber::FileNotFound)
                throw;
            throw FileChanged{error.report()};
        }
    }

    enter(Stage::Draining);
    if (const qint64 queued = wire_.drain(stop_); queued > 0) {
        // A device that takes data again later must get nothing more of it.
        port_.discardOutput();
        dropped_ = queued;
        throw Failed{QStringLiteral("the device stopped taking data")};
    }

    enter(Stage::Releasing);
    if (!tries(policy_.attempts, policy_.releaseRetryWait, [this] { return wire_.release(); }))
        throw Failed{QStringLiteral("the release was not confirmed after %1 tries").arg(policy_.attempts)};
    outcome_.released = true;
    enter(Stage::Done);
}

}  // namespace Wire
