// pelmora-station: a production station. Each fixture loads every unit placed
// in it with the recipe's labels, hands-free, and every unit is recorded in
// the ledger.

#include "Options.h"
#include "StationRun.h"
#include "console/FrontEnd.h"
#include "ports/PortsCommand.h"

int main(int argc, char** argv)
{
    return runFrontEnd<StationOptions>(
        argc, argv, {"pelmora-station", PELMORA_VERSION_TEXT, true}, parseStationOptions, stationHelpText,
        [](StationOptions& options) { return StationRun(std::move(options)).exec(); },
        [](const QStringList& arguments) -> std::optional<int> {
            if (arguments.value(1) == QStringLiteral("ports"))
                return runPortsCommand();
            return std::nullopt;
        });
}
