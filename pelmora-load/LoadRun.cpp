#include "LoadRun.h"

#include "ExitStatus.h"
#include "console/StopSignal.h"

#include <chrono>
#include <deque>
#include <QThread>
#include <memory>
#include <thread>

namespace {
constexpr auto kLookEvery = std::chrono::milliseconds(50);
}

int runLoads(const QList<LoadJob>& jobs, Report& report, LoadRecord* record)
{
    // Before the first frame, so even a run killed outright leaves a trace.
    if (record)
        record->begun(jobs);
    std::deque<LoadProgress> progress(jobs.size());
    // QThreads, not bare threads: QSerialPort wants a thread Qt knows.
    std::vector<std::unique_ptr<QThread>> threads;
    for (int i = 0; i < jobs.size(); ++i) {
        threads.emplace_back(QThread::create([&jobs, &progress, i] { runLoad(jobs[i], progress[i]); }));
        threads.back()->start();
    }

    std::vector<bool> reported(jobs.size(), false);
    int left = int(jobs.size());
    while (left > 0) {
        std::this_thread::sleep_for(kLookEvery);
        for (int i = 0; i < jobs.size(); ++i) {
            if (reported[i])
                continue;
            LoadProgress& p = progress[i];
            const bool finished = p.finished.load(std::memory_order_acquire);
            for (Stage s : p.takeStages()) {
                // The stream's last progress comes before the stages after it.
                if (s == Stage::Draining)
                    report.progress(i, p.sent, p.total);
                report.stage(i, s);
            }
            if (p.total > 0)
                report.progress(i, p.sent, p.total);
            if (finished) {
                reported[i] = true;
                --left;
                report.result(i, p.result);
                if (record)
                    record->append(jobs[i], p.result);
            }
        }
    }
    for (const auto& t : threads)
        t->wait();
    report.end();

    // A signal after every load had ended stopped nothing: their statuses stand.
    for (const LoadProgress& p : progress)
        if (p.result.result == QLatin1String("interrupted"))
            return stopExitStatus();
    if (jobs.size() == 1)
        return progress[0].result.exitStatus;
    for (const LoadProgress& p : progress)
        if (p.result.exitStatus != ExitStatus::Loaded)
            return ExitStatus::SomeFailed;
    return ExitStatus::Loaded;
}
