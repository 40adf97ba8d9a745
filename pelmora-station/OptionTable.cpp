#include "OptionTable.h"

#include "Options.h"
#include "link/Errors.h"
#include "link/LineSettings.h"
#include "page/AllowedHosts.h"
#include "page/ListenAddress.h"
#include "station/Fixture.h"

#include <QLocale>
#include <cmath>

namespace {

constexpr double kNone = 0;

const std::vector<StationOption> kOptions = {
    {"config", nullptr, nullptr, "FILE", OptionKind::Path, kNone, kNone, nullptr, nullptr, "a file", false,
     "read the station's settings from this TOML file (station,\n"
     "recipe, ledger, central, listen, page_name, settings,\n"
     "gone_after, silence and [[fixture]] tables of name,\n"
     "port, presence, scanner);\n"
     "the options below override it"},
    {"station", nullptr, "station", "NAME", OptionKind::Text, kNone, kNone, nullptr, nullptr, "a name", false,
     "the station's name in its records and atop its page\n"
     "(default: the host name)"},
    {"recipe", nullptr, "recipe", "FILE", OptionKind::Path, kNone, kNone, nullptr, nullptr, "a file", false,
     "the TOML recipe: name, and one [[label]] (slot, file,\n"
     "optional sha256) per slot, 1 to 5 of them, and what a\n"
     "unit's serial is ([serial]: pattern, check, duplicates)"},
    {"fixture", nullptr, "fixture", "[NAME=]SEL[,presence=LINE][,scanner=PATH[,scanner-settings=S]]", OptionKind::Fixture,
     kNone, kNone, nullptr, nullptr, nullptr, true,
     "a fixture: a device path (/dev/ttyUSB0, which may be\n"
     "absent until a unit is placed), a port number 1 to 10\n"
     "(PELMORA_PORTS applies), or usb:VID:PID[:SERIAL];\n"
     "NAME defaults to SEL; repeatable. With presence=dsr,\n"
     "cts, dcd or ri the unit is there while the fixture\n"
     "asserts that modem status line (nothing is sent while\n"
     "it does not); without, while it answers the poll.\n"
     "With scanner=PATH (a serial scanner's terminal, or a\n"
     "keyboard scanner's /dev/input/by-id/...-event-kbd,\n"
     "grabbed) units are scanned; one scanner may serve\n"
     "several fixtures, each fixture's barcode FIXTURE:NAME\n"
     "scanned before its unit. A serial scanner's line is\n"
     "left as the device has it unless scanner-settings=S\n"
     "(as --settings) is given"},
    {"ledger", nullptr, "ledger", "FILE", OptionKind::Path, kNone, kNone, nullptr, nullptr, "a file", false,
     "the ledger, default $XDG_STATE_HOME/pelmora/ledger.sqlite"},
    {"central", nullptr, "central", "URI", OptionKind::Text, kNone, kNone, nullptr, nullptr,
     "the central ledger's address", false,
     "also forward every record to this PostgreSQL ledger\n"
     "(a libpq URI or key=value pairs; the password comes from\n"
     "~/.pgpass); loading never waits for it"},
    {"units", nullptr, nullptr, "N", OptionKind::WholeNumber, 1, 1000000000, nullptr, "units", nullptr, false,
     "end the run after N units in all (default: until stopped)"},
    {"gone-after", nullptr, "gone_after", "K", OptionKind::WholeNumber, 2, 100, "2", "polls", nullptr, false,
     "a loaded unit is gone after K polls in a row unanswered,\n"
     "2 to 100, default 2 (one lost reply never reloads a unit)"},
    {"silence", nullptr, "silence", "S", OptionKind::Seconds, kShortestSilence, kLongestSilence, "2.5", "seconds", nullptr,
     false, "read for older configurations; changes nothing"},
    {"check", nullptr, nullptr, nullptr, OptionKind::Flag, kNone, kNone, nullptr, nullptr, nullptr, false,
     "check the recipe, the fixtures, the ledger and the page's\n"
     "address, send nothing, and exit"},
    {"adopt", nullptr, nullptr, nullptr, OptionKind::Flag, kNone, kNone, nullptr, nullptr, nullptr, false,
     "take over a ledger made on another machine: it then\n"
     "belongs to this one (without it, such a ledger is\n"
     "refused: a copied ledger would record as that station)"},
    {"settings", nullptr, "settings", "S", OptionKind::LineSettings, kNone, kNone, "9600,n,8,1", nullptr,
     "line settings such as 9600,n,8,1", false, "line settings, default 9600,n,8,1"},
    {"json", nullptr, nullptr, nullptr, OptionKind::Flag, kNone, kNone, nullptr, nullptr, nullptr, false,
     "JSON Lines on standard output"},
    {"listen", nullptr, "listen", "ADDR:PORT", OptionKind::ListenAddress, kNone, kNone, kDefaultListen, nullptr,
     "ADDRESS:PORT (127.0.0.1:8470, [::1]:8470) or off", false,
     "serve the operator page (read-only) there, default\n"
     "127.0.0.1:8470; another address only when given;\n"
     "port 0 takes a free one; off for no page"},
    {"page-name", nullptr, "page_name", "NAME", OptionKind::HostName, kNone, kNone, nullptr, nullptr,
     "a host name (bench2, bench2.example.com)", true,
     "a name the page is reached by (bench2.example.com);\n"
     "it answers only requests for its address, localhost\n"
     "or such a name; repeatable"},
    {"help", "h", nullptr, nullptr, OptionKind::Flag, kNone, kNone, nullptr, nullptr, nullptr, false, "this text"},
    {"version", nullptr, nullptr, nullptr, OptionKind::Flag, kNone, kNone, nullptr, nullptr, nullptr, false, "the version"},
};

[[noreturn]] void refuse(const StationOption& option, const OptionPlace& place, const GivenValue& value)
{
    // "2.5" in quotes is a text in the configuration, and said so.
    const bool number = option.kind == OptionKind::WholeNumber || option.kind == OptionKind::Seconds;
    const QString shown = number && value.typed && value.text ? QStringLiteral("\"%1\"").arg(value.shown) : value.shown;
    throw OptionRefused(QStringLiteral("%1 takes %2, not '%3'").arg(place.name, optionTakes(option), shown).toStdString());
}

}  // namespace

const std::vector<StationOption>& stationOptions()
{
    return kOptions;
}

const StationOption* optionFlagged(const QString& flag)
{
    for (const StationOption& o : kOptions)
        if (flag == QLatin1String(o.flag))
            return &o;
    return nullptr;
}

const StationOption* optionKeyed(const QString& key)
{
    for (const StationOption& o : kOptions)
        if (o.key && key == QLatin1String(o.key))
            return &o;
    return nullptr;
}

GivenValue givenOnCommandLine(const QString& text)
{
    GivenValue v;
    v.shown = text;
    v.text = text;
    bool ok = false;
    const double number = QLocale::c().toDouble(text.trimmed(), &ok);
    if (ok)
        v.number = number;
    text.toLongLong(&ok);
    v.whole = ok;
    return v;
}

QString optionTakes(const StationOption& option)
{
    if (option.takes)
        return QString::fromUtf8(option.takes);
    if (option.kind == OptionKind::Seconds)
        return QStringLiteral("seconds from %1 to %2").arg(option.lowest).arg(option.highest);
    return QStringLiteral("a whole number from %1 to %2").arg(qint64(option.lowest)).arg(qint64(option.highest));
}

void applyOption(const StationOption& option, const OptionPlace& place, const GivenValue& value, StationOptions& o)
{
    const QString flag = QString::fromLatin1(option.flag);
    switch (option.kind) {
    case OptionKind::Flag:
    case OptionKind::Fixture:
        return;  // not values of their own
    case OptionKind::WholeNumber: {
        // 3.0 is no whole number in either place: the configuration's float
        // and the command line's text are refused alike.
        if (!value.number || !value.whole || *value.number < option.lowest || *value.number > option.highest)
            refuse(option, place, value);
        const qint64 n = qint64(*value.number);
        if (flag == QLatin1String("units"))
            o.units = n;
        else
            o.goneAfter = int(n);
        return;
    }
    case OptionKind::Seconds: {
        // NaN fails every comparison: only a finite number within bounds.
        const double seconds = value.number.value_or(std::nan(""));
        if (!std::isfinite(seconds) || seconds < option.lowest || seconds > option.highest)
            refuse(option, place, value);
        o.silence = seconds;
        return;
    }
    default:
        break;
    }
    // The rest are texts.
    if (!value.text || value.text->isEmpty())
        refuse(option, place, value);
    const QString text = *value.text;
    switch (option.kind) {
    case OptionKind::Path: {
        const QString path = QDir::cleanPath(place.base.absoluteFilePath(text));
        if (flag == QLatin1String("recipe"))
            o.recipe = path;
        else if (flag == QLatin1String("ledger"))
            o.ledger = path;
        else
            o.config = path;
        return;
    }
    case OptionKind::Text:
        if (flag == QLatin1String("station"))
            o.station = text;
        else
            o.central = text;
        return;
    case OptionKind::LineSettings:
        try {
            LineSettings::parse(text);
        } catch (const PelmoraError& error) {
            throw OptionRefused(QStringLiteral("%1 takes %2, not '%3': %4")
                                    .arg(place.name, optionTakes(option), value.shown, error.report())
                                    .toStdString());
        }
        o.settings = text;
        return;
    case OptionKind::ListenAddress:
        try {
            parseListenAddress(text);
        } catch (const std::invalid_argument&) {
            refuse(option, place, value);
        }
        o.listen = text;
        return;
    case OptionKind::HostName:
        if (!isHostName(text))
            refuse(option, place, value);
        o.pageNames << text;
        return;
    default:
        return;
    }
}

QString optionsHelp()
{
    // Hand-wrapped help beside a column of names: a short head on the same
    // line, a long one alone above its help.
    constexpr int kColumn = 20;
    QString out;
    for (const StationOption& o : kOptions) {
        QString head = QStringLiteral("  ");
        if (o.shortFlag)
            head += QStringLiteral("-%1, ").arg(QLatin1String(o.shortFlag));
        head += QStringLiteral("--") + QLatin1String(o.flag);
        if (o.valueName)
            head += u' ' + QLatin1String(o.valueName);
        const QStringList lines = QString::fromUtf8(o.help).split(u'\n');
        int first = 0;
        if (head.size() <= kColumn - 2) {
            out += head.leftJustified(kColumn) + lines[0] + u'\n';
            first = 1;
        } else if (head.size() <= kColumn + 4) {
            out += head + QStringLiteral("  ") + lines[0] + u'\n';
            first = 1;
        } else {
            out += head + u'\n';
        }
        for (int i = first; i < lines.size(); ++i)
            out += QString(kColumn, u' ') + lines[i] + u'\n';
    }
    return out;
}
