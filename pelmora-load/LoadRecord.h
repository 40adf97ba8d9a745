#pragma once
// The record an operator can prove a load by later: one JSON line per device
// and load, appended to the --log file.

#include "DeviceLoad.h"

#include <QByteArray>
#include <QString>

class LoadRecord {
public:
    // Opens FILE for appending, creating it; throws std::runtime_error when it cannot.
    explicit LoadRecord(const QString& path);
    ~LoadRecord();
    LoadRecord(const LoadRecord&) = delete;
    LoadRecord& operator=(const LoadRecord&) = delete;

    // One line, written whole with one write so concurrent runs do not mix.
    void append(const LoadJob& job, const QByteArray& sha256, const LoadResult& result);

private:
    QString path_;
    int fd_ = -1;
};

// The SHA-256 of the file as checked, in hexadecimal.
QByteArray fileSha256(const QString& path);
