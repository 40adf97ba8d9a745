#pragma once
// Tells the service manager the truth about the station: ready only once the
// recipe, the ledger and the configuration checked out; one status line kept
// current; the watchdog fed only while every fixture loop still looks up from
// its work, so a stuck loop gets the service restarted.

#include "station/StationView.h"

#include <QByteArray>
#include <functional>
#include <memory>

// A loop that has not looked up for this long is stuck: longer than anything
// a loop waits on (a ledger locked by another program: 10 s; a line that
// stopped taking data: 5 s).
inline constexpr double kLoopStuckAfter = 30.0;

// A fixture that cannot write its ledger keeps trying; after this long the
// service is no longer well and the watchdog goes unfed: the service
// manager restarts it, and says so in the journal.
inline constexpr double kLedgerTroubleBound = 120.0;

// "3 fixtures: 2 loading, 1 waiting; 41 units, 2 failed; 0 records waiting"
QString serviceStatus(const StationState& state);
// Every fixture loop that still runs looked up within `stuckAfter` of `now`,
// and none has been unable to write its ledger for longer than its bound.
bool everyLoopAlive(const StationState& state, double now, double stuckAfter = kLoopStuckAfter);

class ServiceNotifier final : public StationView {
public:
    using Send = std::function<void(const QByteArray& message)>;
    // `now` reads the clock the fixture loops stamp their liveness with.
    ServiceNotifier(Send send, std::function<double()> now);
    // Through sd_notify; null when the station does not run as a notify service.
    // The first flush, once every check passed and the fixtures run, says READY.
    static std::unique_ptr<ServiceNotifier> forServiceManager();

    void event(const StationEvent&, const StationState&) override {}
    void flush(const StationState& state) override;
    void end(const StationState& state) override;

private:
    Send send_;
    std::function<double()> now_;
    QString status_;
    bool ready_ = false;
    double fed_ = -1;
};
