#pragma once
// What each command-line program does before its own work, alike in all of
// them: the stop signals, the application, and a usage error ("prog: what",
// "Try 'prog --help'.", exit status 2), --help and --version (exit status 0).

#include "console/StopSignal.h"
#include "console/UsageError.h"

#include <QCoreApplication>
#include <QStringList>
#include <cstdio>
#include <functional>
#include <optional>

struct FrontEnd {
    const char* program;  // "pelmora-load"
    const char* version;
    // A program that sends frames notes stop signals before anything else,
    // so no signal finds a frame half decided; one that only reads is ended
    // by them as any program is.
    bool stopSignals;
};

inline constexpr int kUsageStatus = 2;

// Says a usage error as every program does; returns kUsageStatus.
int usageError(const char* program, const char* what);

// Options has `help` and `version`. command, when given, may take the
// arguments before they are parsed (a subcommand of its own) and return its
// exit status.
template <typename Options>
int runFrontEnd(int argc, char** argv, const FrontEnd& front, const std::function<Options(const QStringList&)>& parse,
                const std::function<QString()>& help, const std::function<int(Options&)>& run,
                const std::function<std::optional<int>(const QStringList&)>& command = {})
{
    if (front.stopSignals)
        installStopHandlers();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QString::fromLatin1(front.program));
    if (command)
        if (const std::optional<int> status = command(QCoreApplication::arguments()))
            return *status;
    Options options;
    try {
        options = parse(QCoreApplication::arguments());
    } catch (const UsageError& error) {
        return usageError(front.program, error.what());
    }
    if (options.help) {
        std::fputs(help().toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("%s %s\n", front.program, front.version);
        return 0;
    }
    return run(options);
}
