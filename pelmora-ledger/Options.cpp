#include "Options.h"

#include "ledger/LocalLedger.h"

#include <QCommandLineParser>
#include <QTimeZone>

namespace {

QDateTime utcTime(const QString& text, const char* option)
{
    QDateTime t = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!t.isValid()) {
        const QDate day = QDate::fromString(text, Qt::ISODate);
        if (day.isValid())
            t = day.startOfDay(Qt::UTC);
    } else if (t.timeSpec() == Qt::LocalTime) {
        t.setTimeSpec(Qt::UTC);  // times without a zone are UTC, as the ledger's are
    }
    if (!t.isValid())
        throw UsageError(QStringLiteral("--%1 takes a UTC time such as 2026-12-09T14:00Z, not '%2'")
                             .arg(QLatin1String(option), text)
                             .toStdString());
    return t.toUTC();
}

}  // namespace

Options parseOptions(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption ledger(QStringLiteral("ledger"), {}, QStringLiteral("FILE"));
    const QCommandLineOption central(QStringLiteral("central"), {}, QStringLiteral("URI"));
    const QCommandLineOption since(QStringLiteral("since"), {}, QStringLiteral("TIME"));
    const QCommandLineOption until(QStringLiteral("until"), {}, QStringLiteral("TIME"));
    const QCommandLineOption fixture(QStringLiteral("fixture"), {}, QStringLiteral("NAME"));
    const QCommandLineOption recipe(QStringLiteral("recipe"), {}, QStringLiteral("NAME"));
    const QCommandLineOption result(QStringLiteral("result"), {}, QStringLiteral("R"));
    const QCommandLineOption html(QStringLiteral("html"), {}, QStringLiteral("FILE"));
    const QCommandLineOption station(QStringLiteral("station"), {}, QStringLiteral("STATION"));
    const QCommandLineOption timezone(QStringLiteral("timezone"), {}, QStringLiteral("ZONE"));
    const QCommandLineOption csv(QStringLiteral("csv"));
    const QCommandLineOption json(QStringLiteral("json"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version"));
    parser.addOptions({ledger, central, since, until, fixture, recipe, result, html, station, timezone, csv, json, help, version});
    parser.addPositionalArgument(QStringLiteral("COMMAND"), {});
    if (!parser.parse(arguments))
        throw UsageError(parser.errorText().toStdString());

    Options o;
    o.help = parser.isSet(help);
    o.version = parser.isSet(version);
    if (o.help || o.version)
        return o;
    for (const QCommandLineOption* once :
         {&ledger, &central, &since, &until, &fixture, &recipe, &result, &html, &station, &timezone})
        if (parser.values(*once).size() > 1)
            throw UsageError(QStringLiteral("--%1 is given once").arg(once->names().first()).toStdString());
    o.central = parser.value(central);
    if (o.central.isEmpty() || parser.isSet(ledger))
        o.ledger = parser.isSet(ledger) ? parser.value(ledger) : Ledger::LocalLedger::defaultPath();

    const QStringList words = parser.positionalArguments();
    const QString command = words.value(0);
    const bool csvSet = parser.isSet(csv), jsonSet = parser.isSet(json);
    if (command == QLatin1String("list"))
        o.command = Options::Command::List;
    else if (command == QLatin1String("export")) {
        if (csvSet == jsonSet)
            throw UsageError("export takes --csv or --json");
        o.command = csvSet ? Options::Command::ExportCsv : Options::Command::ExportJson;
    } else if (command == QLatin1String("summary"))
        o.command = Options::Command::Summary;
    else if (command == QLatin1String("verify"))
        o.command = Options::Command::Verify;
    else if (command == QLatin1String("report")) {
        if (!parser.isSet(html) || parser.value(html).isEmpty())
            throw UsageError("report takes --html FILE");
        o.command = Options::Command::Report;
        o.html = parser.value(html);
        o.onlyStation = parser.value(station);
        o.zone = parser.value(timezone);
        if (parser.isSet(timezone) && !QTimeZone(o.zone.toUtf8()).isValid())
            throw UsageError(QStringLiteral("--timezone takes a time zone such as Europe/Berlin or UTC, not '%1'")
                                 .arg(o.zone)
                                 .toStdString());
        if (parser.isSet(result))
            throw UsageError("report shows every result: --result goes with list, export and summary");
    }
    else if (command == QLatin1String("grant")) {
        if (o.central.isEmpty())
            throw UsageError("grant is for the central ledger: give --central");
        o.command = Options::Command::Grant;
        o.role = words.value(1);
        o.station = words.value(2);
        o.name = words.value(3);
        if (o.role.isEmpty() || o.station.isEmpty())
            throw UsageError("grant takes the station's role and the station's id: grant ROLE STATION [NAME]");
    } else if (command == QLatin1String("find")) {
        o.command = jsonSet ? Options::Command::FindJson : Options::Command::Find;
        o.serial = words.value(1);
        if (o.serial.isEmpty())
            throw UsageError("find takes the unit's serial: find SERIAL");
    } else if (command == QLatin1String("upgrade")) {
        if (o.central.isEmpty() || parser.isSet(ledger))
            throw UsageError("upgrade is for the central ledger, by its tables' owner: give --central (a station "
                             "takes its own ledger forward when it starts)");
        o.command = Options::Command::Upgrade;
    } else if (command == QLatin1String("station") || command == QLatin1String("new-station")) {
        if (parser.isSet(central))
            throw UsageError(QStringLiteral("%1 is for a station's own ledger: give --ledger").arg(command).toStdString());
        o.command = command == QLatin1String("station") ? Options::Command::Station : Options::Command::NewStation;
        o.name = words.value(1);
        if (o.command == Options::Command::NewStation && o.name.isEmpty())
            throw UsageError("new-station takes the station's name: new-station NAME");
    } else if (command.isEmpty())
        throw UsageError("no command: list, export, find, summary, report, verify, grant, upgrade, station or new-station");
    else
        throw UsageError(QStringLiteral("'%1' is not a command: list, export, find, summary, report, verify, grant, "
                                        "upgrade, station or new-station")
                             .arg(command)
                             .toStdString());
    const qsizetype most = o.command == Options::Command::Grant        ? 4
                         : o.command == Options::Command::NewStation || o.command == Options::Command::Find
                                 || o.command == Options::Command::FindJson
                             ? 2
                             : 1;
    if (words.size() > most)
        throw UsageError(QStringLiteral("'%1' is not understood after %2").arg(words.last(), command).toStdString());
    if (parser.isSet(ledger) && parser.isSet(central) && o.command != Options::Command::Verify)
        throw UsageError("--ledger and --central together go with verify only");
    if (csvSet && o.command != Options::Command::ExportCsv)
        throw UsageError("--csv goes with export");
    if (jsonSet && o.command != Options::Command::ExportJson && o.command != Options::Command::FindJson)
        throw UsageError("--json goes with export and find");
    if ((parser.isSet(html) || parser.isSet(station) || parser.isSet(timezone)) && o.command != Options::Command::Report)
        throw UsageError("--html, --station and --timezone go with report");

    if (parser.isSet(since))
        o.filter.since = utcTime(parser.value(since), "since");
    if (parser.isSet(until))
        o.filter.until = utcTime(parser.value(until), "until");
    o.filter.fixture = parser.value(fixture);
    o.filter.recipe = parser.value(recipe);
    o.filter.result = parser.value(result);
    static const QStringList results{QStringLiteral("pass"), QStringLiteral("fail"), QStringLiteral("interrupted"),
                                     QStringLiteral("open")};
    if (parser.isSet(result) && !results.contains(o.filter.result))
        throw UsageError(QStringLiteral("--result is pass, fail, interrupted or open, not '%1'")
                             .arg(o.filter.result)
                             .toStdString());
    const bool filtered = parser.isSet(since) || parser.isSet(until) || parser.isSet(fixture) ||
                          parser.isSet(recipe) || parser.isSet(result);
    if (filtered && o.command != Options::Command::List && o.command != Options::Command::ExportCsv
        && o.command != Options::Command::ExportJson && o.command != Options::Command::Summary
        && o.command != Options::Command::Report)
        throw UsageError("filters go with list, export, summary and report");
    return o;
}

QString helpText()
{
    return QStringLiteral(
        "Usage: pelmora-ledger [--ledger FILE | --central URI] COMMAND [filters]\n"
        "\n"
        "Reads the record of every unit a pelmora-station loaded: the station's own\n"
        "ledger, or the floor's central one.\n"
        "\n"
        "Commands:\n"
        "  list              one line per unit\n"
        "  export --csv      one row per unit, for a spreadsheet (UTF-8, a header row)\n"
        "  export --json     one JSON object per unit and line\n"
        "  find SERIAL       every record of the unit with this serial, oldest\n"
        "                    first, with its labels and their hashes (--json:\n"
        "                    one JSON object per record and line)\n"
        "  summary           units, passed and failed per station, fixture, recipe\n"
        "                    and hour, and units per hour\n"
        "  report --html FILE\n"
        "                    the shift on one page: totals, units per hour,\n"
        "                    yield and first-pass yield, failure reasons, cycle\n"
        "                    times, each station's chain and the failed units;\n"
        "                    one HTML file with nothing outside it, for a browser\n"
        "                    or to print (--station ID-or-NAME, --timezone ZONE)\n"
        "  verify            checks every station's chain of records and names the\n"
        "                    first record changed, removed or inserted; with both\n"
        "                    --ledger and --central, also the station's own chain\n"
        "                    against the central copy of it\n"
        "  grant ROLE STATION [NAME]\n"
        "                    (central, as the tables' owner) lets the PostgreSQL\n"
        "                    role ROLE record the units of the station whose id is\n"
        "                    STATION and close its open ones, and nothing more;\n"
        "                    refused unless every table has its row-level security\n"
        "  upgrade           (central, as the tables' owner) takes the tables of an\n"
        "                    older version forward, each step in one transaction;\n"
        "                    stations never do (a station takes its own ledger\n"
        "                    forward when it starts, after copying it beside itself)\n"
        "  station           (local) the station's id and name\n"
        "  new-station NAME  (local) makes a new ledger, with a new station id, at\n"
        "                    --ledger FILE (a file that exists is refused)\n"
        "\n"
        "Where:\n"
        "  --ledger FILE     the station's ledger; default $XDG_STATE_HOME/pelmora/\n"
        "                    ledger.sqlite (~/.local/state/pelmora/ledger.sqlite)\n"
        "  --central URI     a PostgreSQL URI, postgresql://USER@HOST/DATABASE, or\n"
        "                    key=value pairs, as libpq reads them. Passwords come\n"
        "                    from ~/.pgpass, PGPASSFILE or a service file only\n"
        "\n"
        "Filters (list, export, summary; report all but --result):\n"
        "  --since TIME      units started at or after TIME (UTC, 2026-12-09T14:00Z)\n"
        "  --until TIME      units started before TIME\n"
        "  --fixture NAME    --recipe NAME\n"
        "  --result R        pass, fail, interrupted, or open (still loading)\n"
        "  --station STATION (report) one station, by its id or its name\n"
        "  --timezone ZONE   (report) the time zone the times are shown in and\n"
        "                    the hours counted in, such as Europe/Berlin; default\n"
        "                    the machine's\n"
        "\n"
        "  -h, --help        this text\n"
        "  --version         the version\n"
        "\n"
        "Exit status: 0 done (verify: every chain whole), 1 verify found a record\n"
        "changed, removed, inserted or written by a role not its station's, or\n"
        "the copies differ, 2 usage, 3 the ledger cannot be read, 4 the report\n"
        "cannot be written.\n");
}
