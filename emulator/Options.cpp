#include "Options.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>

#include <cmath>

namespace rv7k {

namespace {

const QString usage = QStringLiteral("Usage: rv7k-emulator (--pty | --device PATH) [options]");

bool parseCount(const QString& text, long& out)
{
    bool ok = false;
    const long v = text.toLong(&ok);
    if (!ok || v < 1)
        return false;
    out = v;
    return true;
}

bool parseSeconds(const QString& text, double& out)
{
    bool ok = false;
    const double v = text.toDouble(&ok);
    if (!ok || !std::isfinite(v) || v < 0.0 || v > 86400.0)
        return false;
    out = v;
    return true;
}

// Reads the values of the options that take one; false with the reason in message.
bool readValues(const QCommandLineParser& parser, Options& o, QString& message)
{
    const auto refuse = [&](const QString& why) {
        message = why;
        return false;
    };
    o.pty = parser.isSet(QStringLiteral("pty"));
    o.silent = parser.isSet(QStringLiteral("silent"));
    o.noRelease = parser.isSet(QStringLiteral("no-release"));
    if (parser.isSet(QStringLiteral("device")) && (o.device = parser.value(QStringLiteral("device"))).isEmpty())
        return refuse(QStringLiteral("--device needs a path"));
    if (parser.isSet(QStringLiteral("log")) && (o.logPath = parser.value(QStringLiteral("log"))).isEmpty())
        return refuse(QStringLiteral("--log needs a file"));
    if (parser.isSet(QStringLiteral("out"))) {
        o.outDir = parser.value(QStringLiteral("out"));
        if (!QFileInfo(o.outDir).isDir())
            return refuse(QStringLiteral("--out: not a directory: ") + o.outDir);
    }
    if (parser.isSet(QStringLiteral("late")) && !parseSeconds(parser.value(QStringLiteral("late")), o.late))
        return refuse(QStringLiteral("--late: not a number of seconds: ") + parser.value(QStringLiteral("late")));
    for (const QString& value : parser.values(QStringLiteral("reply"))) {
        const qsizetype eq = value.indexOf(u'=');
        const auto kind = eq < 0 ? std::nullopt : kindFromName(value.left(eq).toStdString());
        if (!kind)
            return refuse(QStringLiteral("--reply: expected KIND=TEXT with KIND one of "
                                         "poll|name|length|data|file|end: ") + value);
        o.replies[*kind] = value.mid(eq + 1).toLocal8Bit().toStdString();
    }
    for (const auto& [name, count] : {std::pair{"release-after", &o.releaseAfter}, {"hangup-after", &o.hangupAfter}}) {
        const QString option = QString::fromLatin1(name);
        if (parser.isSet(option) && !parseCount(parser.value(option), *count))
            return refuse(QStringLiteral("--%1: not a count of 1 or more: %2").arg(option, parser.value(option)));
    }
    if (!parser.positionalArguments().isEmpty())
        return refuse(QStringLiteral("unexpected argument: ") + parser.positionalArguments().first());
    if (o.pty == !o.device.isEmpty())
        return refuse(QStringLiteral("give exactly one of --pty and --device PATH"));
    return true;
}

} // namespace

Request parseOptions(const QStringList& arguments, Options& o, QString& message)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Plays the Zelkor RV7k device on a serial line, for tests and trials without\n"
        "a device. It prints the line's path as its first line of output, answers\n"
        "\"S\" to the poll, \"D\" to a slot file name, \"U\" to a length and \"T\" to\n"
        "\"#End#\", checks every frame, and writes each received slot file into --out.\n\n"
        "It accepts only plain slot file names (letters, digits, dot, dash,\n"
        "underscore) and never writes outside --out.\n\n"
        "It serves until SIGINT or SIGTERM (exit status 0), --hangup-after (0) or\n"
        "the loss of the line (1); a wrong command line exits with status 2."));
    parser.addOptions({
        {QStringLiteral("pty"), QStringLiteral("open a pseudo-terminal and serve its slave side")},
        {QStringLiteral("device"), QStringLiteral("serve the given tty instead of a pseudo-terminal"), QStringLiteral("PATH")},
        {QStringLiteral("out"), QStringLiteral("write each received slot file into DIR (nothing is written without it)"),
         QStringLiteral("DIR")},
        {QStringLiteral("log"), QStringLiteral("write one JSON line per frame (t, payload, ok, kind, reply) and per "
                                               "event to FILE"), QStringLiteral("FILE")},
        {QStringLiteral("silent"), QStringLiteral("never reply")},
        {QStringLiteral("late"), QStringLiteral("send each reply SECONDS after its frame"), QStringLiteral("SECONDS")},
        {QStringLiteral("reply"), QStringLiteral("reply TEXT (may be empty) to poll|name|length|data|file|end; "
                                                 "repeatable"), QStringLiteral("KIND=TEXT")},
        {QStringLiteral("no-release"), QStringLiteral("never answer \"#End#\"")},
        {QStringLiteral("release-after"), QStringLiteral("answer \"#End#\" only from its N-th arrival on"),
         QStringLiteral("N")},
        {QStringLiteral("hangup-after"), QStringLiteral("close the line and exit after N data frames"), QStringLiteral("N")},
        {QStringLiteral("help"), QStringLiteral("show this text and exit")},
        {QStringLiteral("version"), QStringLiteral("show the version and exit")},
    });
    if (!parser.parse(arguments)) {
        message = parser.errorText();
        return Request::Refuse;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        // Qt's first line names the program by the path it was started with.
        const QString help = parser.helpText();
        message = usage + help.mid(help.indexOf(u'\n'));
        return Request::ShowText;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        message = QCoreApplication::applicationName() + u' ' + QCoreApplication::applicationVersion() + u'\n';
        return Request::ShowText;
    }
    return readValues(parser, o, message) ? Request::Serve : Request::Refuse;
}

} // namespace rv7k
