#include "StationRun.h"

#include "Station.h"
#include "console/StopSignal.h"
#include "ledger/CentralForwarder.h"
#include "ledger/CentralLookup.h"
#include "ledger/LocalLedger.h"
#include "link/FileKind.h"
#include "link/PortSelection.h"
#include "link/QtSerialLine.h"
#include "page/StationPage.h"
#include "station/Recipe.h"
#include "station/scan/ScanRouter.h"

#include <QFile>
#include <QFileInfo>
#include <QSysInfo>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
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

// Why the file at path, which is there, is no serial port: "/tmp/x is a
// FIFO, not a serial device".
QString notSerialPort(const QString& path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) == 0 && !S_ISCHR(st.st_mode))
        return QStringLiteral("%1 is %2, not a serial device")
            .arg(path, S_ISREG(st.st_mode) ? QStringLiteral("a regular file") : fileKind(st.st_mode));
    return QStringLiteral("%1 is not a serial port").arg(path);
}

// What this run will do, before it does anything: the operator checks it
// against the work order.
void describeStart(const StationOptions& options, const Recipe& recipe, const QString& ledgerPath, bool ledgerNew,
                   qint64 ledgerUnits)
{
    QStringList lines;
    lines << QStringLiteral("recipe %1 (%2), sha256 %3").arg(recipe.name, recipe.path, recipe.sha256);
    for (const RecipeLabel& l : recipe.labels)
        lines << QStringLiteral("  slot %1: %2, %3 bytes, sha256 %4").arg(l.slot).arg(l.facts.path).arg(l.bytes.size()).arg(l.sha256);
    bool scanned = false;
    for (const FixtureOption& f : options.fixtures) {
        QString scanner;
        if (!f.scanner.isEmpty()) {
            scanned = true;
            QStringList others;
            for (const FixtureOption& g : options.fixtures)
                if (g.scanner == f.scanner && g.name != f.name)
                    others << g.name;
            const QString line = f.scannerSettings.isEmpty() ? QString() : QStringLiteral(" at %1").arg(f.scannerSettings);
            scanner = others.isEmpty() ? QStringLiteral(", units scanned with %1%2").arg(f.scanner, line)
                                       : QStringLiteral(", units scanned with %1%2 (shared with %3: scan %4%5 before the unit)")
                                             .arg(f.scanner, line, others.join(QStringLiteral(", ")),
                                                  QLatin1String(kFixtureBarcodePrefix), f.name);
        }
        lines << QStringLiteral("fixture %1: %2%3%4")
                     .arg(f.name, f.selector,
                          f.presence ? QStringLiteral(", unit present while %1 is asserted")
                                           .arg(QString::fromLatin1(modemLineName(*f.presence)).toUpper())
                                     : QStringLiteral(", unit present while it answers the poll"),
                          scanner);
    }
    if (scanned)
        lines << QStringLiteral("serial: %1").arg(recipe.serial.described());
    else if (recipe.serial.given)
        lines << QStringLiteral("serial: the recipe's [serial] table is unused, no fixture has a scanner");
    lines << (ledgerNew ? QStringLiteral("ledger %1: new").arg(ledgerPath)
                        : QStringLiteral("ledger %1: existing, %2 unit%3")
                              .arg(ledgerPath)
                              .arg(ledgerUnits)
                              .arg(ledgerUnits == 1 ? "" : "s"));
    lines << (options.central.isEmpty() ? QStringLiteral("central ledger: none, records stay in this ledger")
                                        : QStringLiteral("central ledger: %1").arg(options.central));
    for (const QString& line : lines)
        std::fprintf(stderr, "pelmora-station: %s\n", line.toLocal8Bit().constData());
    std::fflush(stderr);
}

}  // namespace

StationRun::StationRun(StationOptions options) : options_(std::move(options)) {}

StationRun::~StationRun() = default;

int StationRun::exec()
{
    for (auto step : {&StationRun::readRecipe, &StationRun::resolvePorts})
        if (const std::optional<int> status = (this->*step)())
            return *status;
    ledgerPath_ = options_.ledger.isEmpty() ? Ledger::LocalLedger::defaultPath() : options_.ledger;
    if (options_.check)
        return check();
    for (auto step : {&StationRun::openLedger, &StationRun::openCentral, &StationRun::openPage, &StationRun::startForwarding})
        if (const std::optional<int> status = (this->*step)())
            return *status;
    return endForwarding(runFixtures());
}

std::optional<int> StationRun::readRecipe()
{
    try {
        shared_.recipe = loadRecipe(options_.recipe);
    } catch (const RecipeError& error) {
        return fail(Status::RecipeRefused, QString::fromLocal8Bit(error.what()));
    }
    return std::nullopt;
}

std::optional<int> StationRun::resolvePorts()
{
    // A port number means the device it is bound to now, for the whole run;
    // a path or a USB identity is looked for whenever a unit may have come.
    for (FixtureOption& f : options_.fixtures) {
        bool number = false;
        f.selector.toInt(&number);
        // A bare name would be taken for one in /dev by the serial port.
        if (!number && !f.selector.startsWith(QStringLiteral("usb:"))) {
            f.selector = QFileInfo(f.selector).absoluteFilePath();
            // A path may be absent until a unit is placed; one that is there
            // must be a serial line.
            if (QFileInfo::exists(f.selector) && !isSerialPort(f.selector))
                return fail(Status::Refused, QStringLiteral("fixture %1: %2").arg(f.name, notSerialPort(f.selector)));
        }
        // A scanner is opened by the name given, so a udev link keeps finding it.
        if (!f.scanner.isEmpty())
            f.scanner = QFileInfo(f.scanner).absoluteFilePath();
        if (!number)
            continue;
        try {
            f.selector = choosePorts({f.selector}).first().path;
        } catch (const SelectorRefused& error) {
            return fail(Status::Refused, QString::fromLocal8Bit(error.what()));
        }
    }
    // A port number may name a device another fixture has by its path.
    if (const QString shared = sharedPortRefusal(options_.fixtures); !shared.isEmpty()) {
        fail(Status::Usage, shared);
        std::fputs("Try 'pelmora-station --help'.\n", stderr);
        return Status::Usage;
    }
    return std::nullopt;
}

int StationRun::check()
{
    // A check leaves no trace: a ledger that is not there is only said,
    // and no scanner is opened (a keyboard scanner would be grabbed).
    if (QFileInfo::exists(ledgerPath_)) {
        try {
            const Ledger::LocalLedger found(ledgerPath_, Ledger::LocalLedger::Access::Reader);
            Ledger::StationOpening opening;
            opening.adopt = options_.adopt;
            found.requireMachine(opening);
            describeStart(options_, shared_.recipe, ledgerPath_, false, found.unitCount());
            if (found.versionFound() < Ledger::LocalLedger::schemaVersion)
                std::fprintf(stderr, "pelmora-station: the ledger's tables are of version %d; a start takes them "
                                     "to version %d, after copying the file beside itself\n",
                             found.versionFound(), Ledger::LocalLedger::schemaVersion);
        } catch (const std::exception& error) {
            return fail(Status::Refused, QStringLiteral("the ledger cannot be used: %1").arg(QString::fromLocal8Bit(error.what())));
        }
    } else {
        describeStart(options_, shared_.recipe, ledgerPath_, true, 0);
    }
    // A page address another program holds would stop the real start.
    if (const auto where = parseListenAddress(options_.listen)) {
        try {
            checkPageCanListen(*where);
        } catch (const PageRefused& error) {
            return fail(Status::Refused, QString::fromLocal8Bit(error.what()));
        }
    }
    std::fputs("pelmora-station: check passed; nothing was sent\n", stderr);
    return Status::Passed;
}

std::optional<int> StationRun::openLedger()
{
    try {
        Ledger::StationOpening opening;
        opening.adopt = options_.adopt;
        ledger_ = std::make_unique<Ledger::LocalLedger>(ledgerPath_, Ledger::LocalLedger::Access::Station, opening);
        if (!ledger_->backup().isEmpty())
            std::fprintf(stderr, "pelmora-station: the ledger's tables were taken from version %d to %d; the file as "
                                 "it was is kept at %s\n",
                         ledger_->versionFound(), Ledger::LocalLedger::schemaVersion,
                         ledger_->backup().toLocal8Bit().constData());
        // Records a station left open when it was killed.
        if (const int open = ledger_->closeInterrupted(QStringLiteral("the station stopped before this unit ended")))
            std::fprintf(stderr, "pelmora-station: %d unit%s left open by an earlier run recorded as interrupted\n",
                         open, open == 1 ? "" : "s");
    } catch (const std::exception& error) {
        return fail(Status::Refused, QStringLiteral("the ledger cannot be used: %1").arg(QString::fromLocal8Bit(error.what())));
    }
    describeStart(options_, shared_.recipe, ledgerPath_, ledger_->created(), ledger_->unitCount());
    return std::nullopt;
}

std::optional<int> StationRun::openCentral()
{
    if (options_.central.isEmpty())
        return std::nullopt;
    try {
        central_ = std::make_unique<Ledger::CentralForwarder>(*ledger_, options_.central);
        // A scanned serial is looked for among every station's passes too.
        if (std::any_of(options_.fixtures.begin(), options_.fixtures.end(), [](const FixtureOption& f) { return !f.scanner.isEmpty(); }))
            lookup_ = std::make_unique<Ledger::CentralLookup>(options_.central);
    } catch (const std::exception& error) {
        return fail(Status::Refused, QStringLiteral("--central: %1").arg(QString::fromLocal8Bit(error.what())));
    }
    return std::nullopt;
}

std::optional<int> StationRun::openPage()
{
    // The page listens before any unit is loaded: an address it cannot have is
    // said now, not found out by an operator later.
    if (const auto where = parseListenAddress(options_.listen)) {
        try {
            page_ = std::make_unique<StationPage>(
                *where, options_.station.isEmpty() ? QSysInfo::machineHostName() : options_.station, options_.pageNames, *ledger_);
        } catch (const PageRefused& error) {
            return fail(Status::Refused, QString::fromLocal8Bit(error.what()));
        }
        std::fprintf(stderr, "pelmora-station: the page is at http://%s/\n", page_->address().shown().toLocal8Bit().constData());
    }
    return std::nullopt;
}

std::optional<int> StationRun::startForwarding()
{
    shared_.settings = options_.settings;
    shared_.goneAfter = options_.goneAfter;
    shared_.unitsLimit = options_.units;
    shared_.host = options_.station.isEmpty() ? QSysInfo::machineHostName() : options_.station;
    shared_.toolVersion = QStringLiteral(PELMORA_VERSION_TEXT);
    shared_.ledger = ledger_.get();
    shared_.central = central_.get();
    shared_.lookup = lookup_.get();
    if (central_) {
        central_->start();
        // A second bench started on a copy of a running station's ledger is
        // refused, when the central ledger answers at once.
        if (central_->waitForFirstAnswer(std::chrono::seconds(3)) && central_->identityInUse()) {
            central_->stop(std::chrono::milliseconds(0));
            return fail(Status::Refused, QStringLiteral("--central: %1").arg(central_->lastProblem()));
        }
    }
    return std::nullopt;
}

int StationRun::runFixtures()
{
    if (options_.json)
        report_ = makeJsonLines(options_.fixtures, shared_.recipe);
    else if (::isatty(STDERR_FILENO))
        report_ = makeLiveBlock(options_.fixtures, shared_.recipe);
    else if (qEnvironmentVariableIsSet("JOURNAL_STREAM"))
        report_ = makeJournalLines(options_.fixtures);
    else
        report_ = makeEventLines(options_.fixtures);
    std::vector<StationView*> views{report_.get()};
    if (page_)
        views.push_back(page_.get());
    service_ = ServiceNotifier::forServiceManager();
    if (service_)
        views.push_back(service_.get());
    return runStation(options_.fixtures, shared_, views);
}

int StationRun::endForwarding(int status)
{
    if (!central_)
        return status;
    // A stop signal ends the run within a second or two, whatever the server does.
    const bool ended = central_->stop(stopSignal() != 0 ? std::chrono::seconds(1) : std::chrono::seconds(5));
    int waiting = -1;
    try {
        waiting = ledger_->outbox().waiting();
    } catch (const std::exception&) {
    }
    if (central_->forwardingStopped()) {
        fail(status, QStringLiteral("records not forwarded (%1 wait in the ledger): %2").arg(waiting).arg(central_->lastProblem()));
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
