// pelmora-station: a production station. Each fixture loads every unit placed
// in it with the recipe's labels, hands-free, and every unit is recorded in
// the ledger.

#include "Fixture.h"
#include "Options.h"
#include "Recipe.h"
#include "Station.h"
#include "console/StopSignal.h"
#include "ledger/CentralForwarder.h"
#include "ledger/LocalLedger.h"
#include "link/PortSelection.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSysInfo>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <unistd.h>

namespace {

namespace Status {
constexpr int Passed = 0;
constexpr int Usage = 2;
constexpr int RecipeRefused = 3;
constexpr int Refused = 4;
constexpr int RecordsNotForwarded = 5;
}  // namespace Status

int fail(int status, const QString& text)
{
    std::fprintf(stderr, "pelmora-station: %s\n", text.toLocal8Bit().constData());
    return status;
}

}  // namespace

int main(int argc, char** argv)
{
    // Before anything can be sent, so no signal finds a frame half decided.
    installStopHandlers();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("pelmora-station"));

    StationOptions options;
    try {
        options = parseStationOptions(QCoreApplication::arguments());
    } catch (const UsageError& error) {
        fail(Status::Usage, QString::fromLocal8Bit(error.what()));
        std::fputs("Try 'pelmora-station --help'.\n", stderr);
        return Status::Usage;
    }
    if (options.help) {
        std::fputs(stationHelpText().toLocal8Bit().constData(), stdout);
        return Status::Passed;
    }
    if (options.version) {
        std::printf("pelmora-station %s\n", PELMORA_VERSION_TEXT);
        return Status::Passed;
    }

    StationShared shared;
    try {
        shared.recipe = loadRecipe(options.recipe);
    } catch (const RecipeError& error) {
        return fail(Status::RecipeRefused, QString::fromLocal8Bit(error.what()));
    }
    // A port number means the device it is bound to now, for the whole run;
    // a path or a USB identity is looked for whenever a unit may have come.
    for (FixtureOption& f : options.fixtures) {
        bool number = false;
        f.selector.toInt(&number);
        // A bare name would be taken for one in /dev by the serial port.
        if (!number && !f.selector.startsWith(QStringLiteral("usb:")))
            f.selector = QFileInfo(f.selector).absoluteFilePath();
        if (!number)
            continue;
        try {
            f.selector = choosePorts({f.selector}).first().path;
        } catch (const SelectorRefused& error) {
            return fail(Status::Refused, QString::fromLocal8Bit(error.what()));
        }
    }

    std::unique_ptr<Ledger::LocalLedger> ledger;
    std::unique_ptr<Ledger::CentralForwarder> central;
    try {
        ledger = std::make_unique<Ledger::LocalLedger>(options.ledger.isEmpty() ? Ledger::LocalLedger::defaultPath()
                                                                                 : options.ledger);
        // Records a station left open when it was killed.
        if (const int open = ledger->closeInterrupted(QStringLiteral("the station stopped before this unit ended")))
            std::fprintf(stderr, "pelmora-station: %d unit%s left open by an earlier run recorded as interrupted\n",
                         open, open == 1 ? "" : "s");
    } catch (const std::exception& error) {
        return fail(Status::Refused, QStringLiteral("the ledger cannot be used: %1").arg(QString::fromLocal8Bit(error.what())));
    }
    if (!options.central.isEmpty()) {
        try {
            central = std::make_unique<Ledger::CentralForwarder>(*ledger, options.central);
        } catch (const std::exception& error) {
            return fail(Status::Refused, QStringLiteral("--central: %1").arg(QString::fromLocal8Bit(error.what())));
        }
    }

    shared.settings = options.settings;
    shared.goneAfter = options.goneAfter;
    shared.unitsLimit = options.units;
    shared.host = QSysInfo::machineHostName();
    shared.ledger = ledger.get();
    shared.central = central.get();
    if (central) {
        central->start();
        // A second bench started on a copy of a running station's ledger is
        // refused, when the central ledger answers at once.
        if (central->waitForFirstAnswer(std::chrono::seconds(3)) && central->identityInUse()) {
            central->stop(std::chrono::milliseconds(0));
            return fail(Status::Refused, QStringLiteral("--central: %1").arg(central->lastProblem()));
        }
    }

    std::unique_ptr<StationReport> report;
    if (options.json)
        report = makeJsonLines(options.fixtures, shared.recipe);
    else if (::isatty(STDERR_FILENO))
        report = makeLiveBlock(options.fixtures, shared.recipe);
    else
        report = makeEventLines(options.fixtures, shared.recipe);
    int status = runStation(options.fixtures, shared, *report);
    if (!central)
        return status;
    // A stop signal ends the run within a second or two, whatever the server does.
    const bool ended = central->stop(stopSignal() != 0 ? std::chrono::seconds(1) : std::chrono::seconds(5));
    int waiting = -1;
    try {
        waiting = ledger->waiting();
    } catch (const std::exception&) {
    }
    if (central->forwardingStopped()) {
        fail(status, QStringLiteral("records not forwarded (%1 wait in the ledger): %2").arg(waiting).arg(central->lastProblem()));
        if (status == Status::Passed || status == 1)
            status = Status::RecordsNotForwarded;
    } else if (waiting > 0) {
        fail(status, QStringLiteral("%1 record%2 not in the central ledger yet; the next start sends them")
                         .arg(waiting)
                         .arg(waiting == 1 ? "" : "s"));
    }
    if (!ended) {
        // The forwarder is held in the network: nothing of it may be torn down.
        std::fflush(nullptr);
        std::_Exit(status);
    }
    return status;
}
