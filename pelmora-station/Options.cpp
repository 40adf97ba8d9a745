#include "Options.h"

#include "link/Errors.h"
#include "link/LineSettings.h"

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

FixtureOption fixture(const QString& text)
{
    // NAME=SEL; a selector holds no '=' of its own.
    const qsizetype eq = text.indexOf(QLatin1Char('='));
    FixtureOption f;
    f.selector = eq < 0 ? text : text.mid(eq + 1);
    f.name = eq < 0 ? text : text.left(eq).trimmed();
    if (f.selector.isEmpty() || f.name.isEmpty())
        throw UsageError(QStringLiteral("--fixture takes [NAME=]SEL, not '%1'").arg(text).toStdString());
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
    const QCommandLineOption units(QStringLiteral("units"), {}, QStringLiteral("N"));
    const QCommandLineOption goneAfter(QStringLiteral("gone-after"), {}, QStringLiteral("K"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version"));
    parser.addOptions({recipe, fixtureOption, ledger, central, settings, json, units, goneAfter, help, version});
    if (!parser.parse(arguments))
        throw UsageError(parser.errorText().toStdString());
    if (!parser.positionalArguments().isEmpty())
        throw UsageError(QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()).toStdString());

    StationOptions o;
    o.help = parser.isSet(help);
    o.version = parser.isSet(version);
    if (o.help || o.version)
        return o;
    for (const QCommandLineOption* once : {&recipe, &ledger, &central, &settings, &units, &goneAfter})
        if (parser.values(*once).size() > 1)
            throw UsageError(QStringLiteral("--%1 is given once").arg(once->names().first()).toStdString());
    if (!parser.isSet(recipe))
        throw UsageError("--recipe is required");
    o.recipe = parser.value(recipe);
    QSet<QString> names, selectors;
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
    o.ledger = parser.value(ledger);
    if (parser.isSet(ledger) && o.ledger.isEmpty())
        throw UsageError("--ledger needs a file");
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
    o.json = parser.isSet(json);
    if (parser.isSet(units))
        o.units = wholeNumber(parser.value(units), "units", 1, 1000000000);
    if (parser.isSet(goneAfter))
        o.goneAfter = int(wholeNumber(parser.value(goneAfter), "gone-after", 1, 100));
    return o;
}

QString stationHelpText()
{
    return QStringLiteral(
        "Usage: pelmora-station --recipe FILE --fixture [NAME=]SEL [--fixture ...] [options]\n"
        "\n"
        "Loads every unit placed in a fixture with the recipe's labels, hands-free,\n"
        "and records every unit in the ledger. Each fixture waits for a unit (its\n"
        "port appears, or the unit answers the poll), loads the labels one after\n"
        "another, and waits until the unit is taken out before it waits for the next.\n"
        "\n"
        "  --recipe FILE     the TOML recipe: name, and one [[label]] (slot, file,\n"
        "                    optional sha256) per slot, 1 to 5 of them\n"
        "  --fixture [NAME=]SEL\n"
        "                    a fixture: a device path (/dev/ttyUSB0, which may be\n"
        "                    absent until a unit is placed), a port number 1 to 10\n"
        "                    (PELMORA_PORTS applies), or usb:VID:PID[:SERIAL];\n"
        "                    NAME defaults to SEL; repeatable\n"
        "  --ledger FILE     the ledger, default $XDG_STATE_HOME/pelmora/ledger.sqlite\n"
        "  --central URI     also forward every record to this PostgreSQL ledger\n"
        "                    (a libpq URI or key=value pairs; the password comes from\n"
        "                    ~/.pgpass); loading never waits for it\n"
        "  --units N         end the run after N units in all (default: until stopped)\n"
        "  --gone-after K    a unit is gone after K polls in a row unanswered, default 3\n"
        "  --settings S      line settings, default 9600,n,8,1\n"
        "  --json            JSON Lines on standard output\n"
        "  -h, --help        this text\n"
        "  --version         the version\n"
        "\n"
        "SIGINT or SIGTERM stops every load before its next frame; those units are\n"
        "recorded as interrupted.\n"
        "\n"
        "Exit status:\n"
        "  0    every unit passed\n"
        "  1    a unit failed, or a fixture stopped because the ledger could not be written\n"
        "  2    usage\n"
        "  3    the recipe was refused; nothing sent\n"
        "  4    a fixture's selector, the ledger or the central address was refused;\n"
        "       nothing sent\n"
        "  130  stopped by SIGINT; 143 by SIGTERM\n");
}
