#pragma once
// What the run tells the operator or the program that started it. Every
// call comes from the main thread, which watches the device threads.

#include "DeviceLoad.h"

#include <QList>
#include <cstdio>
#include <memory>

class Report {
public:
    virtual ~Report() = default;
    virtual void stage(int device, Stage stage) = 0;
    // Several times a second while a device streams.
    virtual void progress(int device, qint64 sent, qint64 total) = 0;
    virtual void result(int device, const LoadResult& result) = 0;
    // Once, after every device has its result.
    virtual void end() = 0;
};

enum class ReportKind {
    Live,   // one line per device, redrawn in place (standard error is a terminal)
    Plain,  // one line per stage and every 10 %
    Json,   // JSON Lines on standard output
    Quiet,  // errors only
};

std::unique_ptr<Report> makeReport(ReportKind kind, const QList<ChosenPort>& ports, const LabelFileFacts& file, int slot);

// Pieces the kinds share.
namespace ReportText {
// "0:09"
QString clock(qint64 wholeSeconds);
// "412 of 1000 data bytes sent, \"#File#\" not sent"
QString sent(const LoadResult& result, qint64 total);
// "loaded into Externl3.ejf" or "status 7, incomplete: Error 8010: ...; 412 of 1000 ..."
QString outcome(const LoadResult& result, qint64 total, int slot);
// The table that closes a run of several devices.
QString summary(const QList<ChosenPort>& ports, const QList<LoadResult>& results, qint64 total);
}  // namespace ReportText

std::unique_ptr<Report> makeLiveReport(const QList<ChosenPort>& ports, const LabelFileFacts& file, int slot);
std::unique_ptr<Report> makePlainReport(const QList<ChosenPort>& ports, const LabelFileFacts& file, int slot, bool quiet);
std::unique_ptr<Report> makeJsonReport(const QList<ChosenPort>& ports, const LabelFileFacts& file, int slot);
