#include "Options.h"

#include "Config.h"
#include "OptionTable.h"
#include "link/DeviceNames.h"
#include "link/Errors.h"
#include "link/LineSettings.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <vector>

namespace {

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

// A path selector, not a port number or a USB identity.
bool isPathSelector(const QString& selector)
{
    bool number = false;
    selector.toInt(&number);
    return !number && !selector.startsWith(QStringLiteral("usb:"));
}

QString portFrom(const QString& selector, const QDir& base)
{
    return isPathSelector(selector) ? QDir::cleanPath(base.absoluteFilePath(selector)) : selector;
}

QString sharedPortRefusal(const QList<FixtureOption>& fixtures)
{
    // The device a selector means, by whichever name: two names of one
    // device would leave one fixture waiting for ever on the other's lock.
    const auto identity = [](const QString& selector) {
        if (!isPathSelector(selector))
            return selector.toLower();
        if (const std::optional<dev_t> device = characterDevice(selector))
            return QStringLiteral("device %1").arg(quint64(*device));
        const QString canonical = QFileInfo(selector).canonicalFilePath();
        return canonical.isEmpty() ? selector : canonical;
    };
    QMap<QString, const FixtureOption*> seen;
    for (const FixtureOption& f : fixtures) {
        const QString id = identity(f.selector);
        if (const FixtureOption* other = seen.value(id)) {
            if (other->selector == f.selector)
                return QStringLiteral("%1 is given to two fixtures").arg(f.selector);
            return QStringLiteral("%1 and %2 are one port, given to two fixtures (%3 and %4)")
                .arg(other->selector, f.selector, other->name, f.name);
        }
        seen.insert(id, &f);
    }
    return {};
}

StationOptions parseStationOptions(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    std::vector<std::pair<const StationOption*, QCommandLineOption>> options;
    for (const StationOption& s : stationOptions()) {
        QStringList names;
        if (s.shortFlag)
            names << QLatin1String(s.shortFlag);
        names << QLatin1String(s.flag);
        options.emplace_back(&s, QCommandLineOption(names, {}, s.valueName ? QLatin1String(s.valueName) : QString()));
        parser.addOption(options.back().second);
    }
    const auto cli = [&](const char* flag) -> const QCommandLineOption& {
        for (const auto& [s, option] : options)
            if (qstrcmp(s->flag, flag) == 0)
                return option;
        throw std::logic_error(flag);
    };
    if (!parser.parse(arguments)) {
        // Named as the configuration names an unknown key.
        if (!parser.unknownOptionNames().isEmpty()) {
            const QString name = parser.unknownOptionNames().first();
            QString given = QStringLiteral("--") + name;
            for (const QString& a : arguments.mid(1))
                if (a.startsWith(u'-') && a.section(u'=', 0, 0).mid(a.startsWith(QStringLiteral("--")) ? 2 : 1) == name)
                    given = a.section(u'=', 0, 0);
            throw UsageError(QStringLiteral("unknown option \"%1\"").arg(given).toStdString());
        }
        throw UsageError(parser.errorText().toStdString());
    }
    if (!parser.positionalArguments().isEmpty())
        throw UsageError(QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()).toStdString());

    StationOptions o;
    o.help = parser.isSet(cli("help"));
    o.version = parser.isSet(cli("version"));
    if (o.help || o.version)
        return o;
    for (const auto& [s, option] : options)
        if (s->valueName && !s->repeatable && parser.values(option).size() > 1)
            throw UsageError(QStringLiteral("--%1 is given once").arg(QLatin1String(s->flag)).toStdString());
    // The configuration first; what the command line says overrides it.
    const auto apply = [&o](const StationOption& s, const QString& text) {
        try {
            applyOption(s, {QStringLiteral("--") + QLatin1String(s.flag), QDir::current()}, givenOnCommandLine(text), o);
        } catch (const OptionRefused& refused) {
            throw UsageError(refused.what());
        }
    };
    if (parser.isSet(cli("config"))) {
        apply(*optionFlagged(QStringLiteral("config")), parser.value(cli("config")));
        readStationConfig(o.config, o);
    }
    for (const auto& [s, option] : options) {
        if (!s->valueName || s->kind == OptionKind::Fixture || !parser.isSet(option) || qstrcmp(s->flag, "config") == 0)
            continue;
        // A repeatable option's values on the command line replace the configuration's.
        if (s->kind == OptionKind::HostName)
            o.pageNames.clear();
        for (const QString& text : parser.values(option))
            apply(*s, text);
    }
    if (o.recipe.isEmpty())
        throw UsageError("--recipe is required");
    // Fixtures on the command line replace the configuration's.
    const QCommandLineOption& fixtureOption = cli("fixture");
    const bool fromConfig = !parser.isSet(fixtureOption);
    if (!fromConfig)
        o.fixtures.clear();
    QSet<QString> names;
    for (const FixtureOption& f : o.fixtures)
        names.insert(f.name);
    for (const QString& text : parser.values(fixtureOption)) {
        FixtureOption f = fixture(text);
        f.selector = portFrom(f.selector, QDir::current());
        if (names.contains(f.name))
            throw UsageError(QStringLiteral("two fixtures are named '%1'").arg(f.name).toStdString());
        names.insert(f.name);
        o.fixtures << f;
    }
    if (o.fixtures.isEmpty())
        throw UsageError("at least one --fixture is required");
    if (const QString shared = sharedPortRefusal(o.fixtures); !shared.isEmpty())
        throw UsageError((fromConfig ? QStringLiteral("%1: %2").arg(o.config, shared) : shared).toStdString());
    QSet<QString> selectors;
    for (const FixtureOption& f : o.fixtures)
        selectors.insert(f.selector);
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
    o.json = parser.isSet(cli("json"));
    o.check = parser.isSet(cli("check"));
    o.adopt = parser.isSet(cli("adopt"));
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
        "%1"
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
        "  130  stopped by SIGINT; 143 by SIGTERM\n")
        .arg(optionsHelp());
}
