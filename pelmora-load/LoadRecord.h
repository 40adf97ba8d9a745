#pragma once
// The record an operator can prove a load by later, appended to the --log
// file as JSON lines: one "begun" line for the run before the first frame,
// then per device a "result" line at its end, or an "interrupted" one when a
// stop signal ended it. Every line carries the run's id, the tool's version
// and the start time, so even a run killed outright leaves its begun line.

#include "DeviceLoad.h"

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QStringList>
#include <stdexcept>

class LoadRecord {
public:
    // Opens FILE for appending, creating it, without waiting for a reader.
    // Throws std::runtime_error when it cannot, when FILE is no regular file
    // (a serial line, a terminal, a FIFO, a folder) and when it is the label
    // file itself (the record would become part of the label).
    LoadRecord(const QString& path, const LabelFileFacts& label);
    ~LoadRecord();
    LoadRecord(const LoadRecord&) = delete;
    LoadRecord& operator=(const LoadRecord&) = delete;

    void begun(const QList<LoadJob>& jobs);
    // The SHA-256 is that of the bytes as they went out where all of them did.
    void append(const LoadJob& job, const LoadResult& result);
    // A run refused before any device was opened: its begun line and one
    // result line with the status and why.
    void refused(const QStringList& selectors, int slot, const QString& file, int exitStatus, const QString& why);

    // Why a line could not be written; empty while every line was.
    const QString& failure() const { return failure_; }
    const QString& path() const { return path_; }

private:
    // One line, written whole with one write so concurrent runs do not mix.
    void write(QJsonObject line);

    QString path_;
    int fd_ = -1;
    QString runId_;
    QDateTime started_;
    QElapsedTimer clock_;
    QString failure_;
};
