// pelmora-station: a production station. Each fixture loads every unit placed
// in it with the recipe's labels, hands-free, and every unit is recorded in
// the ledger.

#include "Options.h"
#include "StationRun.h"
#include "console/StopSignal.h"
#include "ports/PortsCommand.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char** argv)
{
    // Before anything can be sent, so no signal finds a frame half decided.
    installStopHandlers();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("pelmora-station"));

    if (QCoreApplication::arguments().value(1) == QStringLiteral("ports"))
        return runPortsCommand();

    StationOptions options;
    try {
        options = parseStationOptions(QCoreApplication::arguments());
    } catch (const UsageError& error) {
        std::fprintf(stderr, "pelmora-station: %s\nTry 'pelmora-station --help'.\n", error.what());
        return 2;
    }
    if (options.help) {
        std::fputs(stationHelpText().toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("pelmora-station %s\n", PELMORA_VERSION_TEXT);
        return 0;
    }
    return StationRun(std::move(options)).exec();
}
