#include "DeviceLoad.h"

#include "ExitStatus.h"
#include "StopSignal.h"
#include "link/Clock.h"
#include "link/Errors.h"
#include "link/MSComm.h"
#include "link/QtSerialLine.h"
#include "wire/Exchanges.h"

#include <QElapsedTimer>
#include <csignal>

namespace {

// The window's rhythm between two tries: Timer2 for the stages, Timer1 for the release.
constexpr double kStageRetryWait = 0.3;
constexpr double kReleaseRetryWait = 0.1;
// The window polls this often before it gives up.
constexpr int kPolls = 10;

struct Failed {
    int status;
    QString error;
};

// What a failure at `stage` leaves the slot with.
int statusAt(Stage stage)
{
    switch (stage) {
    case Stage::Waiting:
    case Stage::Opening: return ExitStatus::PortRefused;
    case Stage::Polling: return ExitStatus::NoAnswer;
    case Stage::Slot:
    case Stage::Length: return ExitStatus::NotAcknowledged;
    case Stage::Streaming: return ExitStatus::Incomplete;
    case Stage::Draining:
    case Stage::Releasing:
    case Stage::Done: return ExitStatus::NotReleased;
    }
    return ExitStatus::PortRefused;
}

QString slotStateAt(Stage stage, qint64 dataSent)
{
    if (stage < Stage::Streaming || (stage == Stage::Streaming && dataSent == 0))
        return QStringLiteral("untouched");
    if (stage == Stage::Streaming)
        return QStringLiteral("incomplete");
    return QStringLiteral("written");
}

QString resultText(int status)
{
    switch (status) {
    case ExitStatus::Loaded: return QStringLiteral("loaded");
    case ExitStatus::FileRefused: return QStringLiteral("file refused");
    case ExitStatus::PortRefused: return QStringLiteral("port refused");
    case ExitStatus::NoAnswer: return QStringLiteral("no answer");
    case ExitStatus::NotAcknowledged: return QStringLiteral("not acknowledged");
    case ExitStatus::Incomplete: return QStringLiteral("incomplete");
    case ExitStatus::NotReleased: return QStringLiteral("not released");
    case ExitStatus::Interrupted:
    case ExitStatus::Terminated: return QStringLiteral("interrupted");
    }
    return QStringLiteral("failed");
}

class Sequence {
public:
    Sequence(const LoadJob& job, LoadProgress& progress)
        : job_(job), progress_(progress), port_(opener(job.port.path)), wire_(port_, [this](double s) { wait(s); })
    {
    }

    void run()
    {
        enter(Stage::Opening);
        port_.setSettings(job_.settings);
        port_.setPortOpen(true);

        enter(Stage::Polling);
        if (!tries(kPolls, 0, [this] { return wire_.poll(); }))
            throw Failed{ExitStatus::NoAnswer, QStringLiteral("no answer to %1 polls").arg(kPolls)};
        try {
            requireUnchangedSinceLoad(job_.file);
        } catch (const PelmoraError& error) {
            throw Failed{ExitStatus::FileRefused, error.report()};
        }

        enter(Stage::Slot);
        const QString name = Wire::slotFileName(job_.slot);
        if (!tries(job_.attempts, kStageRetryWait, [&] { return wire_.chooseSlot(name); }))
            throw Failed{ExitStatus::NotAcknowledged,
                         QStringLiteral("the slot name %1 was not taken after %2 tries").arg(name).arg(job_.attempts)};

        enter(Stage::Length);
        if (!tries(job_.attempts, kStageRetryWait, [&] {
                requireUnchangedSinceLoad(job_.file);
                return wire_.announceLength(job_.file.length());
            }))
            throw Failed{ExitStatus::NotAcknowledged,
                         QStringLiteral("the length %1 was not taken after %2 tries")
                             .arg(job_.file.size)
                             .arg(job_.attempts)};

        enter(Stage::Streaming);
        progress_.total = job_.file.size;
        wire_.stream(job_.file, count_, [this](qint64 sent) { progress_.sent.store(sent, std::memory_order_relaxed); });

        enter(Stage::Draining);
        wire_.drain([] { throwIfStopRequested(); });

        enter(Stage::Releasing);
        if (!tries(job_.attempts, kReleaseRetryWait, [this] { return wire_.release(); }))
            throw Failed{ExitStatus::NotReleased,
                         QStringLiteral("the release was not confirmed after %1 tries").arg(job_.attempts)};
        enter(Stage::Done);
    }

    Stage stage() const { return stage_; }
    const Wire::StreamCount& count() const { return count_; }
    const QStringList& replies() const { return replies_; }

private:
    static LineOpener opener(const QString& path)
    {
        // The device was chosen before any thread started; this opens that one.
        return [path](short, const LineSettings& settings) { return std::make_unique<QtSerialLine>(path, settings); };
    }

    void enter(Stage stage)
    {
        stage_ = stage;
        progress_.enter(stage);
    }

    // Stops before the next frame once a signal came.
    void wait(double seconds)
    {
        throwIfStopRequested();
        waitOn(clock_, seconds, [] { throwIfStopRequested(); });
        throwIfStopRequested();
    }

    template <typename Exchange>
    bool tries(int times, double between, Exchange exchange)
    {
        for (int i = 0; i < times; ++i) {
            if (i > 0 && between > 0)
                wait(between);
            const bool accepted = exchange();
            if (!wire_.lastReply().isEmpty())
                replies_ << wire_.lastReply();
            if (accepted)
                return true;
        }
        return false;
    }

    const LoadJob& job_;
    LoadProgress& progress_;
    SteadyClock clock_;
    MSCommLib::MSComm port_;
    Wire::Exchanges wire_;
    Wire::StreamCount count_;
    QStringList replies_;
    Stage stage_ = Stage::Waiting;
};

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

void LoadProgress::enter(Stage stage)
{
    std::lock_guard lock(mutex_);
    stages_.push_back(stage);
}

std::vector<Stage> LoadProgress::takeStages()
{
    std::lock_guard lock(mutex_);
    return std::exchange(stages_, {});
}

void runLoad(const LoadJob& job, LoadProgress& progress)
{
    QElapsedTimer timer;
    timer.start();
    LoadResult& r = progress.result;
    Stage reached = Stage::Waiting;
    {
        // Its port closes at the end of this block, whatever happened.
        Sequence sequence(job, progress);
        try {
            sequence.run();
            r.exitStatus = ExitStatus::Loaded;
        } catch (const Failed& failed) {
            r.exitStatus = failed.status;
            r.error = failed.error;
        } catch (const StopRequested&) {
            r.exitStatus = stopExitStatus();
            r.error = stopSignal() == SIGTERM ? QStringLiteral("stopped by SIGTERM") : QStringLiteral("stopped by SIGINT");
        } catch (const PelmoraError& error) {
            r.exitStatus = statusAt(sequence.stage());
            r.error = error.report();
        } catch (const std::exception& error) {
            r.exitStatus = statusAt(sequence.stage());
            r.error = QString::fromLocal8Bit(error.what());
        }
        reached = sequence.stage();
        r.dataSent = sequence.count().sent;
        r.endSent = sequence.count().endSent;
        r.replies = sequence.replies();
    }
    r.result = resultText(r.exitStatus);
    r.slotState = r.exitStatus == ExitStatus::Loaded ? QStringLiteral("loaded")
                  : r.exitStatus == ExitStatus::FileRefused || r.exitStatus == ExitStatus::PortRefused
                      ? QStringLiteral("untouched")
                      : slotStateAt(reached, r.dataSent);
    r.seconds = double(timer.nsecsElapsed()) / 1e9;
    progress.sent = r.dataSent;
    progress.finished.store(true, std::memory_order_release);
}
