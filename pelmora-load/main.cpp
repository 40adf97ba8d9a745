// pelmora-load: loads a label file into one Zelkor RV7k device or several at
// once, on the window's own wire sequence, for scripts and production lines.

#include "ExitStatus.h"
#include "LoadRecord.h"
#include "LoadRun.h"
#include "Options.h"
#include "link/PortSelection.h"
#include "Report.h"
#include "console/StopSignal.h"
#include "link/Errors.h"
#include "wire/LabelFile.h"

#include <QCoreApplication>
#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {

int fail(int status, const QString& text)
{
    std::fprintf(stderr, "pelmora-load: %s\n", text.toLocal8Bit().constData());
    return status;
}

ReportKind reportKind(const Options& o)
{
    if (o.json)
        return ReportKind::Json;
    if (o.quiet)
        return ReportKind::Quiet;
    return ::isatty(STDERR_FILENO) ? ReportKind::Live : ReportKind::Plain;
}

}  // namespace

int main(int argc, char** argv)
{
    // Before anything can be sent, so no signal finds a frame half decided.
    installStopHandlers();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("pelmora-load"));

    Options options;
    try {
        options = parseOptions(QCoreApplication::arguments());
    } catch (const UsageError& error) {
        fail(ExitStatus::Usage, QString::fromLocal8Bit(error.what()));
        std::fputs("Try 'pelmora-load --help'.\n", stderr);
        return ExitStatus::Usage;
    }
    if (options.help) {
        std::fputs(helpText().toLocal8Bit().constData(), stdout);
        return ExitStatus::Loaded;
    }
    if (options.version) {
        std::printf("pelmora-load %s\n", PELMORA_VERSION_TEXT);
        return ExitStatus::Loaded;
    }
    if (options.listPorts) {
        std::fputs(portListing(options.json).toLocal8Bit().constData(), stdout);
        return ExitStatus::Loaded;
    }

    // The file first: for a refused file nothing is opened or sent.
    LabelFileFacts file;
    try {
        file = checkLabelFile(options.file);
    } catch (const PelmoraError& error) {
        return fail(ExitStatus::FileRefused, error.report());
    }
    QList<ChosenPort> ports;
    try {
        ports = choosePorts(options.ports);
    } catch (const SelectorRefused& error) {
        return fail(ExitStatus::PortRefused, QString::fromLocal8Bit(error.what()));
    }
    std::unique_ptr<LoadRecord> record;
    QByteArray sha256;
    if (!options.logPath.isEmpty()) {
        try {
            record = std::make_unique<LoadRecord>(options.logPath);
        } catch (const std::runtime_error& error) {
            return fail(ExitStatus::Usage, QString::fromLocal8Bit(error.what()));
        }
        sha256 = fileSha256(file.path);
    }

    QList<LoadJob> jobs;
    for (const ChosenPort& port : ports)
        jobs << LoadJob{port, options.slot, options.settings, options.attempts, file};
    const std::unique_ptr<Report> report = makeReport(reportKind(options), ports, file, options.slot);
    return runLoads(jobs, *report, record.get(), sha256);
}
