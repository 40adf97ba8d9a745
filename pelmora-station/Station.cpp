#include "Station.h"

#include "station/UnitTime.h"
#include "station/scan/Scanners.h"
#include "console/StopSignal.h"
#include "ledger/CentralForwarder.h"
#include "wire/StreamPacing.h"

#include <QThread>
#include <chrono>
#include <deque>
#include <memory>
#include <thread>

namespace {
constexpr auto kLookEvery = std::chrono::milliseconds(100);
}

int runStation(const QList<FixtureOption>& fixtures, StationShared& shared, const std::vector<StationView*>& views)
{
    const Recipe& recipe = shared.recipe;
    std::deque<FixtureProgress> progress(size_t(fixtures.size()));
    std::deque<std::atomic<bool>> ended(size_t(fixtures.size()));
    std::vector<qint64> units(size_t(fixtures.size()), 0);
    // QThreads, not bare threads: QSerialPort wants a thread Qt knows.
    std::vector<std::unique_ptr<QThread>> threads;
    SteadyClock clock;
    const FixtureSeams seams = FixtureSeams::production(clock);
    // A scanner that cannot be opened halts its fixtures, with the reason.
    Scanners scanners(fixtures, clock);
    scanners.start();
    for (int i = 0; i < fixtures.size(); ++i) {
        threads.emplace_back(QThread::create([&, i] {
            runFixture(i, fixtures[i], shared, progress[size_t(i)], seams, scanners.inbox(i));
            ended[size_t(i)].store(true);
        }));
        threads.back()->start();
    }

    StationState state(fixtures, recipe);
    Tally& tally = state.tally;
    const double whole = unitSeconds(recipe);
    for (bool running = true; running;) {
        std::this_thread::sleep_for(kLookEvery);
        running = false;
        for (const std::atomic<bool>& e : ended)
            running = running || !e.load();
        for (const StationEvent& e : shared.events.take()) {
            units[size_t(e.fixture)] = e.kind == EventKind::Gone ? 0 : e.unit;
            state.apply(e);
            for (StationView* view : views)
                view->event(e, state);
        }
        for (int i = 0; i < fixtures.size(); ++i)
            state.heartbeat(i, ended[size_t(i)].load() ? -1 : progress[size_t(i)].alive.load(),
                            progress[size_t(i)].ledgerTroubleSince.load());
        for (int i = 0; i < fixtures.size(); ++i) {
            const FixtureProgress& p = progress[size_t(i)];
            const int label = p.label.load();
            if (label < 0)
                continue;
            LoadView v;
            v.label = label;
            v.slot = recipe.labels[label].slot;
            v.stage = Wire::Stage(p.stage.load());
            v.sent = p.sent.load();
            const double left = unitSecondsLeft(recipe, label, v.stage, v.sent);
            v.secondsLeft = wholeSecondsLeft(left);
            v.percent = whole > 0 ? std::clamp(int((whole - left) * 100 / whole), 0, 99) : 0;
            state.progress(i, units[size_t(i)], v);
            for (StationView* view : views)
                view->progress(i, units[size_t(i)], v, state);
        }
        if (shared.central) {
            tally.centralWaiting = shared.central->waiting();
            tally.centralProblem = shared.central->lastProblem();
            tally.centralStopped = shared.central->forwardingStopped();
        }
        for (StationView* view : views)
            view->flush(state);
    }
    for (const auto& t : threads)
        t->wait();
    scanners.stop();
    for (StationView* view : views)
        view->end(state);

    if (stopSignal() != 0)
        return stopExitStatus();
    return tally.failed > 0 || tally.interrupted > 0 || state.halted ? 1 : 0;
}
