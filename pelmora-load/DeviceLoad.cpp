#include "DeviceLoad.h"

#include "console/StopSignal.h"
#include "link/Clock.h"
#include "link/MSComm.h"
#include "link/QtSerialLine.h"

#include <QElapsedTimer>

namespace {

// Hands the sequence's stages and stream counts to the reporting thread.
class ProgressFeed final : public Wire::LoadObserver {
public:
    ProgressFeed(LoadProgress& progress, qint64 size) : progress_(progress), size_(size) {}
    void entered(Stage stage) override
    {
        // The bar starts at 0 % with the stream's first wait.
        if (stage == Stage::Streaming)
            progress_.total = size_;
        progress_.enter(stage);
    }
    void streamed(qint64 sent, qint64) override { progress_.sent.store(sent, std::memory_order_relaxed); }

private:
    LoadProgress& progress_;
    qint64 size_;
};

void stopOnSignal()
{
    if (stopSignal() == 0)
        return;
    throw Wire::Stopped{stopExitStatus(), QStringLiteral("stopped by %1").arg(QLatin1String(stopSignalName()))};
}

}  // namespace

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
    Wire::LoadOutcome outcome;
    {
        // The device was chosen before any thread started; this opens that one.
        const QString path = job.port.path;
        MSCommLib::MSComm port([path](short, const LineSettings& settings) {
            return std::make_unique<QtSerialLine>(path, settings);
        });
        SteadyClock clock;
        ProgressFeed feed(progress, job.file.size);
        Wire::LoadPolicy policy;
        policy.attempts = job.attempts;
        policy.readEarly = true;
        Wire::LoadSequence sequence(clock, port, policy, stopOnSignal, &feed);
        outcome = sequence.openAndLoad(job.settings, job.slot, Wire::Label{job.file, std::nullopt});
    }  // the port is closed here, whatever happened
    LoadResult& r = progress.result;
    r.exitStatus = outcome.exitStatus;
    r.result = outcome.result();
    r.slotState = QString::fromLatin1(Wire::slotStateName(outcome.slot));
    r.error = outcome.error;
    r.dataSent = outcome.dataSent;
    r.endSent = outcome.endSent;
    r.sha256 = outcome.sha256;
    r.replies = outcome.replies;
    r.seconds = double(timer.nsecsElapsed()) / 1e9;
    progress.sent = r.dataSent;
    progress.finished.store(true, std::memory_order_release);
}
