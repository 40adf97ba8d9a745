#include "LabelFile.h"

#include "link/Errors.h"

#include <QFileInfo>
#include <limits>

namespace {
QString quoted(const QString& path)
{
    return QLatin1Char('"') + path + QLatin1Char('"');
}
}  // namespace

std::unique_ptr<QFile> openLabelFile(const QString& path)
{
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists())
        throw PelmoraError(ErrorNumber::FileNotFound, quoted(path));
    if (info.isDir())
        throw PelmoraError(ErrorNumber::PathFileAccess, QStringLiteral("%1 is a folder").arg(quoted(path)));
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::ReadOnly)) {
        if (file->error() == QFileDevice::PermissionsError)
            throw PelmoraError(ErrorNumber::PermissionDenied, quoted(path));
        throw PelmoraError(ErrorNumber::PathFileAccess, QStringLiteral("%1: %2").arg(quoted(path), file->errorString()));
    }
    return file;
}

qint32 announcedLength(const QFile& file)
{
    const qint64 size = file.size();
    if (size > std::numeric_limits<qint32>::max())
        throw PelmoraError(ErrorNumber::Overflow, QStringLiteral("%1 has %2 bytes; at most 2147483647 can be announced")
                                                      .arg(quoted(file.fileName()))
                                                      .arg(size));
    return static_cast<qint32>(size);
}

void checkLabelFile(const QString& path)
{
    announcedLength(*openLabelFile(path));
}
