#include "ServiceNotifier.h"

#include "link/Clock.h"

#include <QStringList>
#include <cstdlib>
#include <systemd/sd-daemon.h>

namespace {
// The watchdog is fed at most this often; its timeout is a minute.
constexpr double kFeedEvery = 1.0;
}

QString serviceStatus(const StationState& state)
{
    int counts[5] = {};
    for (const FixtureState& f : state.fixtures())
        ++counts[int(f.word)];
    QStringList parts;
    const auto part = [&](FixtureState::Word word, const char* name) {
        if (counts[int(word)])
            parts << QStringLiteral("%1 %2").arg(counts[int(word)]).arg(QLatin1String(name));
    };
    part(FixtureState::Word::Loading, "loading");
    part(FixtureState::Word::Waiting, "waiting");
    part(FixtureState::Word::Pass, "passed");
    part(FixtureState::Word::Fail, "failed");
    part(FixtureState::Word::Halted, "stopped");
    const qsizetype fixtures = qsizetype(state.fixtures().size());
    QString text = QStringLiteral("%1 fixture%2: %3; %4 unit%5, %6 failed")
                       .arg(fixtures)
                       .arg(fixtures == 1 ? "" : "s")
                       .arg(parts.join(QStringLiteral(", ")))
                       .arg(state.tally.units)
                       .arg(state.tally.units == 1 ? "" : "s")
                       .arg(state.tally.failed);
    if (state.tally.centralWaiting >= 0)
        text += QStringLiteral("; %1 record%2 waiting")
                    .arg(state.tally.centralWaiting)
                    .arg(state.tally.centralWaiting == 1 ? "" : "s");
    if (state.tally.centralStopped)
        text += QStringLiteral(", not forwarded: the central ledger holds other records");
    return text;
}

bool everyLoopAlive(const StationState& state, double now, double stuckAfter)
{
    for (const FixtureState& f : state.fixtures())
        if ((f.aliveAt >= 0 && now - f.aliveAt > stuckAfter) ||
            (f.ledgerTroubleSince >= 0 && now - f.ledgerTroubleSince > kLedgerTroubleBound))
            return false;
    return true;
}

ServiceNotifier::ServiceNotifier(Send send, std::function<double()> now) : send_(std::move(send)), now_(std::move(now))
{
}

std::unique_ptr<ServiceNotifier> ServiceNotifier::forServiceManager()
{
    if (!std::getenv("NOTIFY_SOCKET"))
        return nullptr;
    auto clock = std::make_shared<SteadyClock>();
    return std::make_unique<ServiceNotifier>(
        [](const QByteArray& message) { sd_notify(0, message.constData()); }, [clock] { return clock->now(); });
}

void ServiceNotifier::flush(const StationState& state)
{
    if (!ready_) {
        ready_ = true;
        status_ = serviceStatus(state);
        send_("READY=1\nSTATUS=" + status_.toUtf8());
    } else if (const QString status = serviceStatus(state); status != status_) {
        status_ = status;
        send_("STATUS=" + status_.toUtf8());
    }
    const double now = now_();
    if (fed_ >= 0 && now - fed_ < kFeedEvery)
        return;
    // A stuck loop starves the watchdog: the service manager restarts us.
    if (everyLoopAlive(state, now)) {
        send_("WATCHDOG=1");
        fed_ = now;
    }
}

void ServiceNotifier::end(const StationState& state)
{
    send_("STOPPING=1\nSTATUS=stopping: " + serviceStatus(state).toUtf8());
}
