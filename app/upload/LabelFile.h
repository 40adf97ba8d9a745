#pragma once
// Opening a label file for sequential reading of its raw bytes, with the
// numbered error that fits when it cannot be opened.

#include <QFile>
#include <QString>
#include <memory>

// Opens the file or throws 53 (not found), 70 (permission denied) or 75
// (any other access error). Closed when the returned object goes.
std::unique_ptr<QFile> openLabelFile(const QString& path);
