// pelmora-ledger: lists, exports, sums up and verifies the record of every
// unit the stations loaded, from a station's own ledger or the floor's.

#include "Options.h"
#include "Reports.h"
#include "ledger/CentralLedger.h"
#include "ledger/CentralSetup.h"
#include "ledger/Chain.h"
#include "ledger/LocalLedger.h"
#include "ledger/StoredVerify.h"
#include "console/FrontEnd.h"

#include <QSaveFile>
#include <cstdio>
#include <memory>

using namespace Ledger;

namespace {

enum Status { Done = 0, Broken = 1, Usage = 2, Unreadable = 3, Unwritten = 4 };

constexpr int failuresShown = 500;  // the rest are a list away

void write(const QByteArray& bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
}

int run(const Options& o)
{
    if (o.command == Options::Command::NewStation) {
        LocalLedger::newStation(o.ledger, o.name);
        const LocalLedger made(o.ledger, LocalLedger::Access::Reader);
        std::printf("new station %s: %s, ledger %s\n"
                    "on the central ledger, as its tables' owner: pelmora-ledger --central URI grant ROLE %s %s\n",
                    o.name.toUtf8().constData(), made.station().toUtf8().constData(), o.ledger.toUtf8().constData(),
                    made.station().toUtf8().constData(), o.name.toUtf8().constData());
        return Done;
    }
    std::unique_ptr<LocalLedger> local;
    std::unique_ptr<CentralLedger> central;
    // Reading never makes, changes or takes over a file.
    if (!o.ledger.isEmpty())
        local = std::make_unique<LocalLedger>(o.ledger, LocalLedger::Access::Reader);
    if (!o.central.isEmpty())
        central = std::make_unique<CentralLedger>(o.central);
    const auto units = [&] { return central ? central->units(o.filter) : local->units(o.filter); };

    switch (o.command) {
    case Options::Command::List:
        write(listText(units()).toUtf8());
        return Done;
    case Options::Command::ExportCsv:
        write(csvText(units()));
        return Done;
    case Options::Command::ExportJson:
        write(jsonLines(units()));
        return Done;
    case Options::Command::Find:
    case Options::Command::FindJson: {
        UnitFilter one;
        one.serial = o.serial;
        const QList<UnitRecord> found = central ? central->units(one) : local->units(one);
        write(o.command == Options::Command::FindJson ? jsonLines(found) : findText(o.serial, found).toUtf8());
        return Done;
    }
    case Options::Command::Upgrade: {
        const int was = central->version();
        const QList<int> made = CentralSetup(*central).upgrade();
        if (made.isEmpty())
            std::printf("%s: tables of version %d, this Pelmora's; nothing to do\n", central->shown().toUtf8().constData(),
                        central->version());
        else
            std::printf("%s: tables taken from version %d to %d\n", central->shown().toUtf8().constData(), was,
                        central->version());
        for (const QString& note : CentralSetup(*central).restoreGrants())
            std::printf("%s\n", note.toUtf8().constData());
        return Done;
    }
    case Options::Command::Summary:
        write(summaryText(units(), QDateTime::currentDateTimeUtc()).toUtf8());
        return Done;
    case Options::Command::Report: {
        // Every unit is read, a page at a time: a serial's first attempt may
        // lie before the window, and verify needs every row of a station.
        QHash<QString, QString> names;
        if (central)
            names = central->stationNames();
        else
            names.insert(local->station(), local->stationName());
        const ShiftRequest request{o.filter.since, o.filter.until, o.onlyStation, o.filter.recipe, o.filter.fixture,
                                   o.zone.isEmpty() ? QTimeZone::systemTimeZone() : QTimeZone(o.zone.toUtf8())};
        ShiftFigures figures;
        const auto reading = [&](const StoredLedger& ledger) {
            figures = storedShiftFigures(ledger, central ? QString() : local->station(), names, request,
                                         QDateTime::currentDateTimeUtc());
        };
        if (central)
            central->read(reading);
        else
            local->read(reading);
        QSaveFile file(o.html);
        if (!file.open(QIODevice::WriteOnly) || file.write(reportHtml(figures, failuresShown)) < 0 || !file.commit()) {
            std::fprintf(stderr, "pelmora-ledger: cannot write %s: %s\n", o.html.toUtf8().constData(),
                         file.errorString().toUtf8().constData());
            return Unwritten;
        }
        std::printf("%lld units of %lld stations: %s\n", figures.totals.units, qint64(figures.stations.size()),
                    o.html.toUtf8().constData());
        return Done;
    }
    case Options::Command::Grant: {
        const QStringList notes = CentralSetup(*central).grantStation(o.role, o.station, o.name);
        std::printf("role %s may now record the units of station %s in %s\n", o.role.toUtf8().constData(),
                    o.station.toUtf8().constData(), central->shown().toUtf8().constData());
        for (const QString& note : notes)
            std::printf("%s\n", note.toUtf8().constData());
        return Done;
    }
    case Options::Command::Station:
        std::printf("%s %s\n", local->station().toUtf8().constData(), local->stationName().toUtf8().constData());
        return Done;
    case Options::Command::NewStation:
        return Done;
    case Options::Command::Verify: {
        // Said as found, a page of the ledger in memory at a time.
        qint64 findings = 0;
        const FindingSink say = [&](const Finding& f) {
            std::printf("%s\n", f.text.toUtf8().constData());
            ++findings;
        };
        VerifyTotals totals;
        const auto verifyAll = [&](const StoredLedger& ledger) { totals = verifyStored(ledger, say); };
        if (central) {
            central->read(verifyAll);
            for (const Finding& f : central->strangers())
                say(f);
        } else {
            local->read(verifyAll);
        }
        if (local && central) {
            local->read([&](const StoredLedger& own) { verifyStored(own, say); });
            const qint64 sent = local->outbox().sentUpTo();
            central->read([&](const StoredLedger& copy) {
                local->read([&](const StoredLedger& own) {
                    if (const std::optional<Finding> f = compareStoredCopies(own, sent, copy))
                        say(*f);
                });
            });
        }
        const QString where = central ? central->shown() : o.ledger;
        if (findings == 0) {
            std::printf("%s: %lld records of %lld units in %lld station chains, every chain whole\n",
                        where.toUtf8().constData(), totals.links, totals.units, totals.stations);
            return Done;
        }
        std::printf("%s: %lld findings\n", where.toUtf8().constData(), findings);
        return Broken;
    }
    }
    return Done;
}

}  // namespace

int main(int argc, char** argv)
{
    // Reading only: a stop signal ends it as it ends any program.
    return runFrontEnd<Options>(argc, argv, {"pelmora-ledger", PELMORA_VERSION_TEXT, false}, parseOptions, helpText,
                                [](Options& options) {
                                    try {
                                        return run(options);
                                    } catch (const LedgerError& error) {
                                        std::fprintf(stderr, "pelmora-ledger: %s\n", error.what());
                                        return int(Unreadable);
                                    }
                                });
}
