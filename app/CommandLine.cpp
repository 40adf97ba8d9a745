#include "CommandLine.h"

#include <QCommandLineParser>

#include <cstdio>

namespace {

const char* const description =
    "Loads label files into the five label slots of a Zelkor RV7k device over a\n"
    "serial line. In its window the operator picks a port and line settings,\n"
    "connects from the status bar, chooses a file and a slot, and presses Load;\n"
    "the program names the slot file, announces the length, streams the file one\n"
    "byte per command frame and releases the device.\n\n"
    "Ports are numbered 1 to 10: port n is the n-th serial device the system\n"
    "reports, in natural order of the device paths (/dev/ttyACM0, /dev/ttyS0, ...,\n"
    "/dev/ttyUSB0), unless PELMORA_PORTS says otherwise. Serial devices belong to\n"
    "the group dialout: join it to use them.";

const char* const qtOptionsText =
    "\n"
    "Qt options (taken by Qt itself):\n"
    "  -style NAME, -stylesheet FILE, -platform NAME, -platformtheme NAME,\n"
    "  -qwindowgeometry GEOMETRY, -reverse, and the others Qt documents for\n"
    "  QApplication and QGuiApplication\n";

const char* const environment =
    "\n"
    "Environment:\n"
    "  PELMORA_PORTS  comma-separated device paths; entry k becomes port k (for\n"
    "                 example udev links that always name one cable)\n";

// Qt's own options (QApplication takes them): `-style Fusion`, `--style=Fusion`.
const QStringList qtOptionsWithValue{
    QStringLiteral("style"),        QStringLiteral("stylesheet"),     QStringLiteral("platform"),
    QStringLiteral("platformpluginpath"), QStringLiteral("platformtheme"), QStringLiteral("plugin"),
    QStringLiteral("qwindowgeometry"), QStringLiteral("geometry"),   QStringLiteral("qwindowtitle"),
    QStringLiteral("title"),        QStringLiteral("qwindowicon"),    QStringLiteral("icon"),
    QStringLiteral("session"),      QStringLiteral("display"),        QStringLiteral("name"),
    QStringLiteral("qmljsdebugger")};
const QStringList qtFlags{QStringLiteral("reverse"), QStringLiteral("testability"), QStringLiteral("widgetcount"),
                          QStringLiteral("nograb"),  QStringLiteral("dograb"),      QStringLiteral("sync")};

// The arguments less Qt's own options and their values, for our parser.
QStringList withoutQtOptions(const QStringList& arguments)
{
    QStringList left{arguments.first()};
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (a == QStringLiteral("--")) {
            left += arguments.mid(i);
            break;
        }
        const QString name = a.startsWith(QStringLiteral("--")) ? a.mid(2) : a.startsWith(u'-') ? a.mid(1) : QString();
        const QString bare = name.section(u'=', 0, 0);
        if (qtOptionsWithValue.contains(bare)) {
            if (!name.contains(u'='))
                ++i;  // the value follows
            continue;
        }
        if (!name.contains(u'=') && qtFlags.contains(name))
            continue;
        left << a;
    }
    return left;
}

}  // namespace

std::optional<int> CommandLine::answer(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    if (!arguments.isEmpty())
        arguments = withoutQtOptions(arguments);
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(description));
    const QCommandLineOption help(QStringLiteral("help"), QStringLiteral("show this text and exit"));
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("show the version and exit"));
    parser.addOptions({help, version});

    QString mistake;
    if (!parser.parse(arguments))
        mistake = parser.errorText();
    else if (!parser.positionalArguments().isEmpty())
        mistake = QStringLiteral("unexpected argument: ") + parser.positionalArguments().first();
    if (!mistake.isEmpty()) {
        std::fprintf(stderr, "pelmora: %s\nTry --help.\n", qPrintable(mistake));
        return 2;
    }
    if (parser.isSet(help)) {
        // Qt's first line names the program by the path it was started with.
        const QString text = parser.helpText();
        std::printf("Usage: pelmora [--help | --version] [Qt options]%s%s%s",
                    qPrintable(text.mid(text.indexOf(u'\n'))), qtOptionsText, environment);
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("pelmora %s\n", PELMORA_VERSION_TEXT);
        return 0;
    }
    return std::nullopt;
}
