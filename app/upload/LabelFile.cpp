#include "LabelFile.h"

#include "link/Errors.h"

#include <QFileInfo>

std::unique_ptr<QFile> openLabelFile(const QString& path)
{
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists())
        throw PelmoraError(ErrorNumber::FileNotFound, path);
    if (info.isDir())
        throw PelmoraError(ErrorNumber::PathFileAccess, QStringLiteral("%1 is a folder").arg(path));
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::ReadOnly)) {
        if (file->error() == QFileDevice::PermissionsError)
            throw PelmoraError(ErrorNumber::PermissionDenied, path);
        throw PelmoraError(ErrorNumber::PathFileAccess, QStringLiteral("%1: %2").arg(path, file->errorString()));
    }
    return file;
}
