#include "Options.h"

#include "link/Errors.h"
#include "link/LineSettings.h"
#include "Config.h"
#include "station/Fixture.h"
#include "station/SecondsOption.h"
#include "page/ListenAddress.h"

#include <QCommandLineParser>
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
    // NAME=SEL[,presence=LINE]; a selector holds no '=' of its own.
    QString text = given;
    FixtureOption f;
    const QString presenceKey = QStringLiteral(",presence=");
    if (const qsizetype at = text.lastIndexOf(presenceKey); at >= 0) {
        const QString line = text.mid(at + presenceKey.size());
        f.presence = modemLineNamed(line);
        if (!f.presence)
            throw UsageError(QStringLiteral("--fixture %1: presence takes dsr, cts, dcd or ri, not '%2'")
                                 .arg(given, line)
                                 .toStdString());
        text = text.left(at);
    }
    const qsizetype eq = text.indexOf(QLatin1Char('='));
    f.selector = eq < 0 ? text : text.mid(eq + 1);
    f.name = eq < 0 ? text : text.left(eq).trimmed();
    if (f.selector.isEmpty() || f.name.isEmpty())
        throw UsageError(QStringLiteral("--fixture takes [NAME=]SEL[,presence=LINE], not '%1'").arg(given).toStdString());
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
    const QCommandLineOption units(QStringLiteral("units"), {}, QStringLiteral("N"));
    const QCommandLineOption goneAfter(QStringLiteral("gone-after"), {}, QStringLiteral("K"));
    const QCommandLineOption silence(QStringLiteral("silence"), {}, QStringLiteral("S"));
    const QCommandLineOption config(QStringLiteral("config"), {}, QStringLiteral("FILE"));
    const QCommandLineOption station(QStringLiteral("station"), {}, QStringLiteral("NAME"));
    const QCommandLineOption listen(QStringLiteral("listen"), {}, QStringLiteral("ADDR:PORT"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version"));
    parser.addOptions({recipe, fixtureOption, ledger, central, settings, json, check, units, goneAfter, silence, config,
                       station, listen, help, version});
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
    o.json = parser.isSet(json);
    o.check = parser.isSet(check);
    if (parser.isSet(units))
        o.units = wholeNumber(parser.value(units), "units", 1, 1000000000);
    if (parser.isSet(goneAfter))
        o.goneAfter = int(wholeNumber(parser.value(goneAfter), "gone-after", 1, 100));
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
        "                    recipe, ledger, central, listen, settings, gone_after,\n"
        "                    silence and [[fixture]] tables of name, port, presence);\n"
        "                    the options below override it\n"
        "  --station NAME    the station's name in its records (default: the host name)\n"
        "  --recipe FILE     the TOML recipe: name, and one [[label]] (slot, file,\n"
        "                    optional sha256) per slot, 1 to 5 of them\n"
        "  --fixture [NAME=]SEL[,presence=LINE]\n"
        "                    a fixture: a device path (/dev/ttyUSB0, which may be\n"
        "                    absent until a unit is placed), a port number 1 to 10\n"
        "                    (PELMORA_PORTS applies), or usb:VID:PID[:SERIAL];\n"
        "                    NAME defaults to SEL; repeatable. With presence=dsr,\n"
        "                    cts, dcd or ri the unit is there while the fixture\n"
        "                    asserts that modem status line (nothing is sent while\n"
        "                    it does not); without, while it answers the poll\n"
        "  --ledger FILE     the ledger, default $XDG_STATE_HOME/pelmora/ledger.sqlite\n"
        "  --central URI     also forward every record to this PostgreSQL ledger\n"
        "                    (a libpq URI or key=value pairs; the password comes from\n"
        "                    ~/.pgpass); loading never waits for it\n"
        "  --units N         end the run after N units in all (default: until stopped)\n"
        "  --gone-after K    a loaded unit is gone after K polls in a row unanswered,\n"
        "                    default 1 (polls go out four times a second)\n"
        "  --silence S       a unit silent this long while an answer is due is taken\n"
        "                    out, 2 to 3 seconds, default 2.5\n"
        "  --check           check the recipe, the fixtures and the ledger, send\n"
        "                    nothing, and exit\n"
        "  --settings S      line settings, default 9600,n,8,1\n"
        "  --json            JSON Lines on standard output\n"
        "  --listen ADDR:PORT  serve the operator page (read-only) there, default\n"
        "                    127.0.0.1:8470; another address only when given;\n"
        "                    port 0 takes a free one; off for no page\n"
        "  -h, --help        this text\n"
        "  --version         the version\n"
        "\n"
        "A unit that stops answering for longer than --silence while an answer is due\n"
        "fails as taken out; whatever answers next is a new unit.\n"
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
