// pelmora-load: loads a label file into one Zelkor RV7k device or several at
// once, on the window's own wire sequence, for scripts and production lines.

#include "ExitStatus.h"
#include "LoadRecord.h"
#include "LoadRun.h"
#include "Options.h"
#include "link/PortSelection.h"
#include "Report.h"
#include "console/FrontEnd.h"
#include "console/StopSignal.h"
#include "link/Errors.h"
#include "link/PortLocks.h"
#include "wire/LabelFile.h"
#include "wire/StreamPacing.h"

#include <QCoreApplication>
#include <QFile>
#include <cmath>
#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {

int fail(int status, const QString& text)
{
    std::fprintf(stderr, "pelmora-load: %s\n", text.toLocal8Bit().constData());
    return status;
}

// A load whose stream alone takes longer than this says so before it starts.
constexpr double kLongLoadSeconds = 5 * 60;

// File names are bytes: one that is no valid text is opened by its bytes
// from the command line, not by the text it decodes to.
QByteArray nativeName(int argc, char** argv, const QString& name)
{
    const QByteArray encoded = QFile::encodeName(name);
    for (int i = argc - 1; i > 0; --i) {
        if (encoded == argv[i])
            return encoded;
        if (QFile::decodeName(argv[i]) == name)
            return QByteArray(argv[i]);
    }
    return encoded;
}

ReportKind reportKind(const Options& o)
{
    if (o.json)
        return ReportKind::Json;
    if (o.quiet)
        return ReportKind::Quiet;
    return ::isatty(STDERR_FILENO) ? ReportKind::Live : ReportKind::Plain;
}

// The run once the command line was read; the exit status.
int load(int argc, char** argv, const Options& options)
{
    if (options.listPorts) {
        std::fputs(portListing(options.json).toLocal8Bit().constData(), stdout);
        return ExitStatus::Loaded;
    }

    // The file first: for a refused file nothing is opened or sent.
    LabelFileFacts file;
    int refusedStatus = 0;
    QString refusal;
    try {
        file = checkLabelFile(options.file, nativeName(argc, argv, options.file));
    } catch (const PelmoraError& error) {
        refusedStatus = ExitStatus::FileRefused;
        refusal = error.report();
    }
    if (refusal.isEmpty() && file.size == 0 && !options.allowEmpty) {
        refusedStatus = ExitStatus::FileRefused;
        refusal = QStringLiteral("%1 is empty; loading it would blank the slot (--allow-empty loads it)").arg(file.path);
    }
    std::unique_ptr<LoadRecord> record;
    if (!options.logPath.isEmpty()) {
        try {
            record = std::make_unique<LoadRecord>(options.logPath, file);
        } catch (const std::runtime_error& error) {
            return fail(ExitStatus::Usage, QString::fromLocal8Bit(error.what()));
        }
    }
    // Every run given a record file leaves its record, refusals included.
    const auto refuse = [&](int status, const QString& why) {
        if (record)
            record->refused(options.ports, options.slot, options.file, status, why);
        return fail(status, why);
    };
    if (refusedStatus != 0)
        return refuse(refusedStatus, refusal);
    QList<ChosenPort> ports;
    try {
        ports = choosePorts(options.ports);
    } catch (const SelectorRefused& error) {
        return refuse(ExitStatus::PortRefused, QString::fromLocal8Bit(error.what()));
    }
    setPortNoticeHandler([](const QString& notice) { fail(0, QStringLiteral("warning: %1").arg(notice)); });

    const double streamSeconds = streamSecondsLeft(file.size, 0);
    if (streamSeconds > kLongLoadSeconds && !options.quiet)
        fail(0, QStringLiteral("this load takes about %1 minutes").arg(std::lround(streamSeconds / 60)));

    QList<LoadJob> jobs;
    for (const ChosenPort& port : ports)
        jobs << LoadJob{port, options.slot, options.settings, options.attempts, file};
    const std::unique_ptr<Report> report = makeReport(reportKind(options), ports, file, options.slot);
    const int status = runLoads(jobs, *report, record.get());
    if (!record || record->failure().isEmpty())
        return status;
    fail(0, QStringLiteral("the load's result stands (status %1), but its record could not be written to %2: %3")
                .arg(status)
                .arg(record->path(), record->failure()));
    // A failed load's own status says what the slot holds; it outranks the record's.
    return status == ExitStatus::Loaded ? ExitStatus::RecordFailed : status;
}

}  // namespace

int main(int argc, char** argv)
{
    return runFrontEnd<Options>(argc, argv, {"pelmora-load", PELMORA_VERSION_TEXT, true}, parseOptions, helpText,
                                [argc, argv](Options& options) { return load(argc, argv, options); });
}
