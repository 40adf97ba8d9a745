#include "Options.h"

#include "link/Errors.h"
#include "link/LineSettings.h"
#include "Config.h"
#include "station/Fixture.h"
#include "page/AllowedHosts.h"
#include "station/SecondsOption.h"
#include "page/ListenAddress.h"

#include <QCommandLineParser>
#include <QMap>
#include <QRegularExpression>
#include <QSet>

namespace {

qint64 wholeNumber(const QString& text, const char* option, qint64 lowest, qint64 highest)
{
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    if (!ok || value < lowest || value > highest)
        throw UsageError(QStringLiteral("--%1 takes a whole number from %2 to %3, not '%4'")
                             .arg(QLatin1String(option))
                             .arg(lowest)
                             .arg(highest)
                             .arg(text)
                             .toStdString());
    return value;
}

FixtureOption fixture(const QString& given)
{
    // NAME=SEL[,presence=LINE][,scanner=PATH][,scanner-settings=S]; a selector
    // holds no '=' of its own.
    static const QRegularExpression optionKey(QStringLiteral(",(presence|scanner|scanner-settings)="));
    FixtureOption f;
    QString text = given;
    QRegularExpressionMatchIterator keys = optionKey.globalMatch(given);
    QList<QRegularExpressionMatch> found;
    while (keys.hasNext())
        found << keys.next();
    if (!found.isEmpty())
        text = given.left(found.first().capturedStart());
    for (int i = 0; i < found.size(); ++i) {
        const qsizetype end = i + 1 < found.size() ? found[i + 1].capturedStart() : given.size();
        const QString key = found[i].captured(1);
        const QString value = given.mid(found[i].capturedEnd(), end - found[i].capturedEnd());
        if (key == QLatin1String("presence")) {
            f.presence = modemLineNamed(value);
            if (!f.presence)
                throw UsageError(QStringLiteral("--fixture %1: presence takes dsr, cts, dcd or ri, not '%2'")
                                     .arg(given, value)
                                     .toStdString());
        } else if (key == QLatin1String("scanner-settings")) {
            f.scannerSettings = value;
        } else {
            if (value.isEmpty())
                throw UsageError(QStringLiteral("--fixture %1: scanner needs the scanner's device").arg(given).toStdString());
            f.scanner = value;
        }
    }
    const qsizetype eq = text.indexOf(QLatin1Char('='));
    f.selector = eq < 0 ? text : text.mid(eq + 1);
    f.name = eq < 0 ? text : text.left(eq).trimmed();
    if (f.selector.isEmpty() || f.name.isEmpty())
        throw UsageError(QStringLiteral("--fixture takes [NAME=]SEL[,presence=LINE][,scanner=PATH], not '%1'")
                             .arg(given)
                             .toStdString());
    return f;
}

}  // namespace

StationOptions parseStationOptions(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption recipe(QStringLiteral("recipe"), {}, QStringLiteral("FILE"));
    const QCommandLineOption fixtureOption(QStringLiteral("fixture"), {}, QStringLiteral("[NAME=]SEL"));
    const QCommandLineOption ledger(QStringLiteral("ledger"), {}, QStringLiteral("FILE"));
    const QCommandLineOption central(QStringLiteral("central"), {}, QStringLiteral("URI"));
    const QCommandLineOption settings(QStringLiteral("settings"), {}, QStringLiteral("S"));
    const QCommandLineOption json(QStringLiteral("json"));
    const QCommandLineOption check(QStringLiteral("check"));
    const QCommandLineOption adopt(QStringLiteral("adopt"));
    const QCommandLineOption units(QStringLiteral("units"), {}, QStringLiteral("N"));
    const QCommandLineOption goneAfter(QStringLiteral("gone-after"), {}, QStringLiteral("K"));
    const QCommandLineOption silence(QStringLiteral("silence"), {}, QStringLiteral("S"));
    const QCommandLineOption config(QStringLiteral("config"), {}, QStringLiteral("FILE"));
    const QCommandLineOption station(QStringLiteral("station"), {}, QStringLiteral("NAME"));
    const QCommandLineOption listen(QStringLiteral("listen"), {}, QStringLiteral("ADDR:PORT"));
    const QCommandLineOption pageName(QStringLiteral("page-name"), {}, QStringLiteral("NAME"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version"));
    parser.addOptions({recipe, fixtureOption, ledger, central, settings, json, check, adopt, units, goneAfter, silence,
                       config, station, listen, pageName, help, version});
    if (!parser.parse(arguments))
        throw UsageError(parser.errorText().toStdString());
    if (!parser.positionalArguments().isEmpty())
        throw UsageError(QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()).toStdString());

    StationOptions o;
    o.help = parser.isSet(help);
    o.version = parser.isSet(version);
    if (o.help || o.version)
        return o;
    for (const QCommandLineOption* once : {&recipe, &ledger, &central, &settings, &units, &goneAfter, &silence, &config,
                                           &station, &listen})
        if (parser.values(*once).size() > 1)
            throw UsageError(QStringLiteral("--%1 is given once").arg(once->names().first()).toStdString());
    // The configuration first; what the command line says overrides it.
    if (parser.isSet(config)) {
        o.config = parser.value(config);
        readStationConfig(o.config, o);
    }
    if (parser.isSet(station))
        o.station = parser.value(station);
    if (parser.isSet(recipe))
        o.recipe = parser.value(recipe);
    if (o.recipe.isEmpty())
        throw UsageError("--recipe is required");
    // Fixtures on the command line replace the configuration's.
    if (parser.isSet(fixtureOption))
        o.fixtures.clear();
    QSet<QString> names, selectors;
    for (const FixtureOption& f : o.fixtures) {
        names.insert(f.name);
        selectors.insert(f.selector);
    }
    for (const QString& text : parser.values(fixtureOption)) {
        const FixtureOption f = fixture(text);
        if (names.contains(f.name))
            throw UsageError(QStringLiteral("two fixtures are named '%1'").arg(f.name).toStdString());
        if (selectors.contains(f.selector))
            throw UsageError(QStringLiteral("%1 is given to two fixtures").arg(f.selector).toStdString());
        names.insert(f.name);
        selectors.insert(f.selector);
        o.fixtures << f;
    }
    if (o.fixtures.isEmpty())
        throw UsageError("at least one --fixture is required");
    // A scanner may serve several fixtures, but it is never a fixture's line.
    QMap<QString, QString> scannerSettings;
    for (const FixtureOption& f : o.fixtures) {
        if (!f.scanner.isEmpty() && selectors.contains(f.scanner))
            throw UsageError(QStringLiteral("%1 is given as a fixture and as a scanner").arg(f.scanner).toStdString());
        if (f.scannerSettings.isEmpty())
            continue;
        if (f.scanner.isEmpty())
            throw UsageError(QStringLiteral("fixture %1: scanner settings without a scanner").arg(f.name).toStdString());
        try {
            LineSettings::parse(f.scannerSettings);
        } catch (const PelmoraError& error) {
            throw UsageError(QStringLiteral("fixture %1: scanner settings: %2").arg(f.name, error.report()).toStdString());
        }
        if (scannerSettings.contains(f.scanner) && scannerSettings.value(f.scanner) != f.scannerSettings)
            throw UsageError(QStringLiteral("%1 is given two line settings").arg(f.scanner).toStdString());
        scannerSettings[f.scanner] = f.scannerSettings;
    }
    if (parser.isSet(ledger))
        o.ledger = parser.value(ledger);
    if (parser.isSet(ledger) && o.ledger.isEmpty())
        throw UsageError("--ledger needs a file");
    if (parser.isSet(central))
        o.central = parser.value(central);
    if (parser.isSet(central) && o.central.isEmpty())
        throw UsageError("--central needs the central ledger's address");
    if (parser.isSet(settings)) {
        o.settings = parser.value(settings);
        try {
            LineSettings::parse(o.settings);
        } catch (const PelmoraError& error) {
            throw UsageError(QStringLiteral("--settings: %1").arg(error.report()).toStdString());
        }
    }
    if (parser.isSet(listen)) {
        o.listen = parser.value(listen);
        try {
            parseListenAddress(o.listen);
        } catch (const std::invalid_argument& error) {
            throw UsageError(error.what());
        }
    }
    // Names on the command line replace the configuration's.
    if (parser.isSet(pageName))
        o.pageNames.clear();
    for (const QString& name : parser.values(pageName)) {
        if (!isHostName(name))
            throw UsageError(QStringLiteral("--page-name takes a host name (bench2, bench2.example.com), not '%1'")
                                 .arg(name)
                                 .toStdString());
        o.pageNames << name;
    }
    o.json = parser.isSet(json);
    o.check = parser.isSet(check);
    o.adopt = parser.isSet(adopt);
    if (parser.isSet(units))
        o.units = wholeNumber(parser.value(units), "units", 1, 1000000000);
    if (parser.isSet(goneAfter))
        o.goneAfter = int(wholeNumber(parser.value(goneAfter), "gone-after", 2, 100));
    if (parser.isSet(silence)) {
        o.silence = secondsFromText(parser.value(silence));
        const QString refused = secondsRefusal(QStringLiteral("--silence"), o.silence, parser.value(silence),
                                               {kShortestSilence, kLongestSilence});
        if (!refused.isEmpty())
            throw UsageError(refused.toStdString());
    }
    return o;
}

QString stationHelpText()
{
    return QStringLiteral(
        "Usage: pelmora-station --recipe FILE --fixture [NAME=]SEL [--fixture ...] [options]\n"
        "       pelmora-station --config FILE [options]\n"
        "       pelmora-station ports\n"
        "\n"
        "Loads every unit placed in a fixture with the recipe's labels, hands-free,\n"
        "and records every unit in the ledger. Each fixture waits for a unit (its\n"
        "port appears, or the unit answers the poll), loads the labels one after\n"
        "another, and waits until the unit is taken out before it waits for the next.\n"
        "\n"
        "  --config FILE     read the station's settings from this TOML file (station,\n"
        "                    recipe, ledger, central, listen, page_name, settings,\n"
        "                    gone_after, silence and [[fixture]] tables of name,\n"
        "                    port, presence, scanner);\n"
        "                    the options below override it\n"
        "  --station NAME    the station's name in its records and atop its page\n"
        "                    (default: the host name)\n"
        "  --recipe FILE     the TOML recipe: name, and one [[label]] (slot, file,\n"
        "                    optional sha256) per slot, 1 to 5 of them, and what a\n"
        "                    unit's serial is ([serial]: pattern, check, duplicates)\n"
        "  --fixture [NAME=]SEL[,presence=LINE][,scanner=PATH[,scanner-settings=S]]\n"
        "                    a fixture: a device path (/dev/ttyUSB0, which may be\n"
        "                    absent until a unit is placed), a port number 1 to 10\n"
        "                    (PELMORA_PORTS applies), or usb:VID:PID[:SERIAL];\n"
        "                    NAME defaults to SEL; repeatable. With presence=dsr,\n"
        "                    cts, dcd or ri the unit is there while the fixture\n"
        "                    asserts that modem status line (nothing is sent while\n"
        "                    it does not); without, while it answers the poll.\n"
        "                    With scanner=PATH (a serial scanner's terminal, or a\n"
        "                    keyboard scanner's /dev/input/by-id/...-event-kbd,\n"
        "                    grabbed) units are scanned; one scanner may serve\n"
        "                    several fixtures, each fixture's barcode FIXTURE:NAME\n"
        "                    scanned before its unit. A serial scanner's line is\n"
        "                    left as the device has it unless scanner-settings=S\n"
        "                    (as --settings) is given\n"
        "  --ledger FILE     the ledger, default $XDG_STATE_HOME/pelmora/ledger.sqlite\n"
        "  --central URI     also forward every record to this PostgreSQL ledger\n"
        "                    (a libpq URI or key=value pairs; the password comes from\n"
        "                    ~/.pgpass); loading never waits for it\n"
        "  --units N         end the run after N units in all (default: until stopped)\n"
        "  --gone-after K    a loaded unit is gone after K polls in a row unanswered,\n"
        "                    2 to 100, default 2 (one lost reply never reloads a unit)\n"
        "  --silence S       read for older configurations; changes nothing\n"
        "  --check           check the recipe, the fixtures and the ledger, send\n"
        "                    nothing, and exit\n"
        "  --adopt           take over a ledger made on another machine: it then\n"
        "                    belongs to this one (without it, such a ledger is\n"
        "                    refused: a copied ledger would record as that station)\n"
        "  --settings S      line settings, default 9600,n,8,1\n"
        "  --json            JSON Lines on standard output\n"
        "  --listen ADDR:PORT  serve the operator page (read-only) there, default\n"
        "                    127.0.0.1:8470; another address only when given;\n"
        "                    port 0 takes a free one; off for no page\n"
        "  --page-name NAME  a name the page is reached by (bench2.example.com);\n"
        "                    it answers only requests for its address, localhost\n"
        "                    or such a name; repeatable\n"
        "  -h, --help        this text\n"
        "  --version         the version\n"
        "\n"
        "A unit that leaves a frame unanswered within its wait fails at once, and so\n"
        "does one whose load the station stalled in; whatever answers next is a new\n"
        "unit, loaded from its first label under its own record.\n"
        "\n"
        "SIGINT or SIGTERM stops every load before its next frame; those units are\n"
        "recorded as interrupted.\n"
        "\n"
        "'pelmora-station ports' lists every serial port with its USB path, vendor,\n"
        "product and serial number, and prints udev rules that name each adapter by\n"
        "its USB path and keep ModemManager away from it.\n"
        "\n"
        "Exit status:\n"
        "  0    every unit passed\n"
        "  1    a unit failed, or a fixture stopped because the ledger could not be written\n"
        "  2    usage\n"
        "  3    the recipe was refused; nothing sent\n"
        "  4    a fixture's selector, the ledger, the central address or the page's\n"
        "       address was refused (for one, a port in use), or another running\n"
        "       station forwards under this ledger's identity; nothing sent\n"
        "  5    records not forwarded: the central ledger's copy differs from this\n"
        "       station's (otherwise as 0 or 1)\n"
        "  130  stopped by SIGINT; 143 by SIGTERM\n");
}
