#include "Options.h"

#include "link/Errors.h"
#include "link/LineSettings.h"
#include "wire/LoadSequence.h"

#include <QCommandLineParser>

namespace {
int wholeNumber(const QString& text, const char* option, int lowest, int highest)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < lowest || value > highest)
        throw UsageError(QStringLiteral("--%1 takes a whole number from %2 to %3, not '%4'")
                             .arg(QLatin1String(option))
                             .arg(lowest)
                             .arg(highest)
                             .arg(text)
                             .toStdString());
    return value;
}
}  // namespace

Options parseOptions(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption port(QStringLiteral("port"), {}, QStringLiteral("SEL"));
    const QCommandLineOption slot(QStringLiteral("slot"), {}, QStringLiteral("N"));
    const QCommandLineOption settings(QStringLiteral("settings"), {}, QStringLiteral("S"));
    const QCommandLineOption attempts(QStringLiteral("attempts"), {}, QStringLiteral("K"));
    const QCommandLineOption log(QStringLiteral("log"), {}, QStringLiteral("FILE"));
    const QCommandLineOption allowEmpty(QStringLiteral("allow-empty"));
    const QCommandLineOption list(QStringLiteral("list-ports"));
    const QCommandLineOption json(QStringLiteral("json"));
    const QCommandLineOption quiet(QStringList{QStringLiteral("q"), QStringLiteral("quiet")});
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version"));
    parser.addOptions({port, slot, settings, attempts, log, allowEmpty, list, json, quiet, help, version});
    parser.addPositionalArgument(QStringLiteral("FILE"), {});
    if (!parser.parse(arguments))
        throw UsageError(parser.errorText().toStdString());

    Options o;
    o.help = parser.isSet(help);
    o.version = parser.isSet(version);
    if (o.help || o.version)
        return o;
    o.listPorts = parser.isSet(list);
    o.json = parser.isSet(json);
    o.quiet = parser.isSet(quiet);
    if (o.listPorts) {
        if (parser.isSet(port) || parser.isSet(slot) || !parser.positionalArguments().isEmpty())
            throw UsageError("--list-ports takes no port, slot or file");
        return o;
    }
    o.ports = parser.values(port);
    if (o.ports.isEmpty())
        throw UsageError("--port is required");
    // No default slot: loading over the wrong label must be asked for.
    if (!parser.isSet(slot))
        throw UsageError("--slot is required (1 to 5)");
    if (parser.values(slot).size() > 1)
        throw UsageError("--slot is given once");
    o.slot = wholeNumber(parser.value(slot), "slot", 1, 5);
    if (parser.isSet(attempts))
        o.attempts = wholeNumber(parser.value(attempts), "attempts", Wire::kMinAttempts, Wire::kMaxAttempts);
    if (parser.isSet(settings)) {
        o.settings = parser.value(settings);
        try {
            LineSettings::parse(o.settings);
        } catch (const PelmoraError& error) {
            throw UsageError(QStringLiteral("--settings: %1").arg(error.report()).toStdString());
        }
    }
    // A record turned off or sent elsewhere by a slip is a record lost.
    if (parser.values(log).size() > 1)
        throw UsageError("--log is given once");
    if (parser.isSet(log) && parser.value(log).isEmpty())
        throw UsageError("--log needs a file name");
    o.logPath = parser.value(log);
    o.allowEmpty = parser.isSet(allowEmpty);
    const QStringList files = parser.positionalArguments();
    if (files.size() != 1)
        throw UsageError(files.isEmpty() ? "no label file given" : "one label file at a time");
    o.file = files.first();
    return o;
}

QString helpText()
{
    return QStringLiteral(
        "Usage: pelmora-load --port SEL [--port SEL ...] --slot N [options] FILE\n"
        "       pelmora-load --list-ports [--json]\n"
        "\n"
        "Loads the label file FILE into slot N (1..5) of a Zelkor RV7k device, the\n"
        "same way the Pelmora window does. Several --port options load several\n"
        "devices at once, each on its own line.\n"
        "\n"
        "  --port SEL        a device path (/dev/ttyUSB0), a port number 1..10 as the\n"
        "                    window numbers it (PELMORA_PORTS applies), or\n"
        "                    usb:VID:PID[:SERIAL] (hexadecimal ids)\n"
        "  --slot N          the slot, 1..5; required\n"
        "  --settings S      line settings, default 9600,n,8,1\n"
        "  --attempts K      how often the slot name, the length and the release are\n"
        "                    sent before giving up, %1..%2, default 10\n"
        "  --log FILE        append JSON lines to FILE: one when the run begins, one per\n"
        "                    device at its end, refusals included; a regular file or a\n"
        "                    new one, never the label file itself\n"
        "  --allow-empty     load a file of 0 bytes (blanks the slot)\n"
        "  --list-ports      list the ports (number, path, adapter); opens none\n"
        "  --json            JSON Lines on standard output\n"
        "  -q, --quiet       errors only\n"
        "  -h, --help        this text\n"
        "  --version         the version\n"
        "\n"
        "Exit status (what state the slot was left in):\n"
        "  0    loaded, and the release confirmed\n"
        "  1    several devices, at least one failed (see each device's result)\n"
        "  2    usage, or --log unusable; nothing opened\n"
        "  3    file refused, or changed before any data went out; nothing of it sent\n"
        "  4    port unusable (missing, held, locked, not a serial port) or selector\n"
        "       refused; nothing sent\n"
        "  5    no answer to the polls, or not the expected one; only polls sent\n"
        "  6    slot name or length not acknowledged; no data sent\n"
        "  7    line lost, device did not take all data, or file changed during the\n"
        "       data; the slot holds an incomplete file\n"
        "  8    all data and \"#File#\" sent; the release was not confirmed\n"
        "  9    loaded, but the --log record could not be written (a failed load\n"
        "       keeps its own status; the lost record is said on stderr)\n"
        "  128+N  stopped by signal N before the next frame (SIGINT 130, SIGTERM 143,\n"
        "       SIGHUP 129, SIGQUIT 131, SIGUSR1 138, SIGUSR2 140); nothing more sent.\n"
        "       A closed output pipe (SIGPIPE) does not stop the load.\n")
        .arg(Wire::kMinAttempts)
        .arg(Wire::kMaxAttempts);
}
