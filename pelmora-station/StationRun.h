#pragma once
// A station's run once its options are read: the recipe, the fixtures'
// ports, the ledger, the central ledger, the page and the service manager,
// each refused with its exit status before anything is sent; then the
// fixtures' loops, and the forwarding's end.

#include "Options.h"
#include "StationReport.h"
#include "service/ServiceNotifier.h"
#include "station/Fixture.h"

#include <memory>
#include <optional>

namespace Ledger {
class LocalLedger;
class CentralForwarder;
class CentralLookup;
}  // namespace Ledger
class StationPage;

class StationRun {
public:
    explicit StationRun(StationOptions options);
    ~StationRun();
    StationRun(const StationRun&) = delete;
    StationRun& operator=(const StationRun&) = delete;

    // The exit status.
    int exec();

private:
    // Each step returns a status when the run ends there.
    std::optional<int> readRecipe();
    std::optional<int> resolvePorts();
    int check();
    std::optional<int> openLedger();
    std::optional<int> openCentral();
    std::optional<int> openPage();
    std::optional<int> startForwarding();
    int runFixtures();
    int endForwarding(int status);

    StationOptions options_;
    StationShared shared_;
    QString ledgerPath_;
    std::unique_ptr<Ledger::LocalLedger> ledger_;
    std::unique_ptr<Ledger::CentralForwarder> central_;
    std::unique_ptr<Ledger::CentralLookup> lookup_;
    std::unique_ptr<StationPage> page_;
    // Kept to the end, past the forwarding's end, as the views were.
    std::unique_ptr<StationView> report_;
    std::unique_ptr<ServiceNotifier> service_;
};
