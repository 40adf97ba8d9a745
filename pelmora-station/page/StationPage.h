#pragma once
// The operator page as one of the station's views: each round it leaves the
// station's state in a snapshot that the page's own thread serves. That
// thread runs its own event loop, so no fixture and no round of the
// station ever waits on a client.

#include "ListenAddress.h"
#include "PageSnapshot.h"
#include "station/StationView.h"

#include <QThread>
#include <memory>
#include <stdexcept>

namespace Ledger {
class LocalLedger;
}

// The page cannot listen where it was asked to; nothing was sent yet.
struct PageRefused : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Whether the page could listen at where, said as StationPage says it: it
// listens and lets go at once. Throws PageRefused.
void checkPageCanListen(const ListenAddress& where);

class StationPage final : public StationView {
public:
    // Listens before it returns; throws PageRefused. stationName heads the
    // page; hostNames are the names besides its address and localhost that
    // a request may give as its Host.
    StationPage(const ListenAddress& where, const QString& stationName, const QStringList& hostNames,
                const Ledger::LocalLedger& ledger);
    ~StationPage() override;

    // Where it listens, with the port the system gave for port 0.
    ListenAddress address() const { return address_; }

    void event(const StationEvent&, const StationState& state) override { publish(state); }
    void flush(const StationState& state) override { publish(state); }
    void end(const StationState& state) override { publish(state); }

private:
    void publish(const StationState& state);

    PageSnapshot snapshot_;
    QString stationName_;
    ListenAddress address_;
    std::unique_ptr<QThread> thread_;
};
