#pragma once
// Opening a label file for sequential reading of its raw bytes, with the
// numbered error that fits when it cannot be opened or announced. Messages
// show the path in quotes, so blanks at its ends can be seen.

#include <QFile>
#include <QString>
#include <memory>

// Opens the file or throws 53 (not found), 75 (a folder, or any other access
// error) or 70 (permission denied). Closed when the returned object goes.
std::unique_ptr<QFile> openLabelFile(const QString& path);

// The length the file is announced with; 6 (overflow) past 2,147,483,647 bytes.
qint32 announcedLength(const QFile& file);

// Whether the file can be loaded at all, before anything goes to the device:
// it opens and its length can be announced. Throws the error that fits.
void checkLabelFile(const QString& path);
