#include "Options.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>

#include <cmath>

namespace rv7k {

namespace {

const char* const usage = "Usage: rv7k-emulator (--pty | --device PATH) [options]";

const char* const description =
    "Plays the Zelkor RV7k device on a serial line, for tests and trials without\n"
    "a device. It prints the line's path as its first line of output, answers\n"
    "\"S\" to the poll, \"D\" to a slot file name, \"U\" to a length and \"T\" to\n"
    "\"#End#\", checks every frame, and writes each received slot file into --out.\n\n"
    "It accepts only plain slot file names (letters, digits, dot, dash,\n"
    "underscore) and never writes outside --out.\n\n"
    "It serves until SIGINT or SIGTERM (exit status 0), --hangup-after (0) or\n"
    "the loss of the line (1); a wrong command line exits with status 2.\n\n"
    "With --units it plays a fixture: each unit answers while it is there and is\n"
    "silent once gone; its files go into --out/unit-K. The log names each frame's\n"
    "unit (0 while the fixture is empty) and each unit's arrival and leaving.";

struct OptionText {
    const char* name;
    const char* valueName;  // null: the option takes no value
    const char* description;
};

const OptionText optionTexts[] = {
    {"pty", nullptr, "open a pseudo-terminal and serve its slave side"},
    {"device", "PATH", "serve the given tty instead of a pseudo-terminal"},
    {"out", "DIR", "write each received slot file into DIR (nothing is written without it)"},
    {"log", "FILE", "write one JSON line per frame (t, payload, ok, kind, reply) and per event to FILE"},
    {"silent", nullptr, "never reply"},
    {"late", "SECONDS", "send each reply SECONDS after its frame"},
    {"reply", "KIND=TEXT", "reply TEXT (may be empty) to poll|name|length|data|file|end; repeatable"},
    {"no-release", nullptr, "never answer \"#End#\""},
    {"release-after", "N", "answer \"#End#\" only from its N-th arrival on"},
    {"hangup-after", "N", "close the line and exit after N data frames"},
    {"units", "N", "play N units one after another, each present for a while, then gone"},
    {"present", "SECONDS", "a unit leaves SECONDS after its last frame other than a poll (default 5)"},
    {"absent", "SECONDS", "the fixture stays empty SECONDS between units (default 2)"},
    {"first-after", "SECONDS", "the first unit arrives SECONDS after the start (default 0)"},
    {"vanish", nullptr, "while the fixture is empty the line is gone (needs --pty, --units, --link)"},
    {"link", "PATH", "a symbolic link to the line at PATH, there while the line is; printed as its path"},
    {"refuse-length-in", "NAME", "no reply to a length sent after the slot file name NAME"},
    {"pull-unit", "K", "--pull-on takes out the K-th unit, not the first"},
    {"leave-after-releases", "N", "a unit leaves --present seconds after its N-th release, not after its last frame"},
    {"pull-on", "PAYLOAD[@N]", "the first unit is taken out, unheard, when the N-th frame with PAYLOAD comes (data: any data frame; needs --units)"},
    {"help", nullptr, "show this text and exit"},
    {"version", nullptr, "show the version and exit"},
};

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

// Takes the parsed options into o; false with the reason in message.
bool readValues(const QCommandLineParser& parser, Options& o, QString& message)
{
    const auto isSet = [&](const char* name) { return parser.isSet(QString::fromLatin1(name)); };
    const auto value = [&](const char* name) { return parser.value(QString::fromLatin1(name)); };
    const auto refuse = [&](const QString& why) {
        message = why;
        return false;
    };
    o.pty = isSet("pty");
    o.silent = isSet("silent");
    o.noRelease = isSet("no-release");
    o.device = value("device");
    o.logPath = value("log");
    o.outDir = value("out");
    if (isSet("device") && o.device.isEmpty())
        return refuse(QStringLiteral("--device needs a path"));
    if (isSet("log") && o.logPath.isEmpty())
        return refuse(QStringLiteral("--log needs a file"));
    if (isSet("out") && !QFileInfo(o.outDir).isDir())
        return refuse(QStringLiteral("--out: not a directory: ") + o.outDir);
    if (isSet("late") && !parseSeconds(value("late"), o.late))
        return refuse(QStringLiteral("--late: not a number of seconds: ") + value("late"));
    for (const QString& reply : parser.values(QStringLiteral("reply"))) {
        const qsizetype eq = reply.indexOf(u'=');
        const auto kind = eq < 0 ? std::nullopt : kindFromName(reply.left(eq).toStdString());
        if (!kind)
            return refuse(QStringLiteral("--reply: expected KIND=TEXT with KIND one of "
                                         "poll|name|length|data|file|end: ") + reply);
        o.replies[*kind] = reply.mid(eq + 1).toLocal8Bit().toStdString();
    }
    for (const auto& [name, count] : {std::pair{"release-after", &o.releaseAfter}, {"hangup-after", &o.hangupAfter},
                                      {"leave-after-releases", &o.leaveAfterReleases}, {"pull-unit", &o.pullUnit}})
        if (isSet(name) && !parseCount(value(name), *count))
            return refuse(QStringLiteral("--%1: not a count of 1 or more: %2").arg(QLatin1String(name), value(name)));
    if (isSet("units") && !parseCount(value("units"), o.units))
        return refuse(QStringLiteral("--units: not a count of 1 or more: ") + value("units"));
    for (const auto& [name, seconds] : {std::pair{"present", &o.present}, {"absent", &o.absent}, {"first-after", &o.firstAfter}})
        if (isSet(name) && !parseSeconds(value(name), *seconds))
            return refuse(QStringLiteral("--%1: not a number of seconds: %2").arg(QLatin1String(name), value(name)));
    o.vanish = isSet("vanish");
    o.link = value("link");
    o.refuseLengthIn = value("refuse-length-in").toStdString();
    if (isSet("pull-on")) {
        const QString rule = value("pull-on");
        const qsizetype at = rule.lastIndexOf(u'@');
        o.pullOn = (at < 0 ? rule : rule.left(at)).toStdString();
        if (o.pullOn.empty() || o.units == 0 || (at >= 0 && !parseCount(rule.mid(at + 1), o.pullOnCount)))
            return refuse(QStringLiteral("--pull-on takes PAYLOAD[@N] and needs --units: ") + rule);
    }
    if (o.vanish && (o.link.isEmpty() || o.units == 0 || !o.pty))
        return refuse(QStringLiteral("--vanish needs --pty, --units and --link: the line's path changes with each unit"));
    if (o.link.isEmpty() && isSet("link"))
        return refuse(QStringLiteral("--link needs a path"));
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
    parser.setApplicationDescription(QString::fromLatin1(description));
    for (const OptionText& t : optionTexts)
        parser.addOption(QCommandLineOption(QString::fromLatin1(t.name), QString::fromLatin1(t.description),
                                            t.valueName ? QString::fromLatin1(t.valueName) : QString()));
    if (!parser.parse(arguments)) {
        message = parser.errorText();
        return Request::Refuse;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        // Qt's first line names the program by the path it was started with.
        const QString help = parser.helpText();
        message = QString::fromLatin1(usage) + help.mid(help.indexOf(u'\n'));
        return Request::ShowText;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        message = QCoreApplication::applicationName() + u' ' + QCoreApplication::applicationVersion() + u'\n';
        return Request::ShowText;
    }
    return readValues(parser, o, message) ? Request::Serve : Request::Refuse;
}

} // namespace rv7k
