#include "LoadRecord.h"

#include "wire/Exchanges.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSysInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>

LoadRecord::LoadRecord(const QString& path) : path_(path)
{
    fd_ = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0)
        throw std::runtime_error(QStringLiteral("cannot write the log %1: %2")
                                     .arg(path, QString::fromLocal8Bit(std::strerror(errno)))
                                     .toStdString());
}

LoadRecord::~LoadRecord()
{
    if (fd_ >= 0)
        ::close(fd_);
}

void LoadRecord::append(const LoadJob& job, const QByteArray& sha256, const LoadResult& r)
{
    const PortDirectory::Identity& id = job.port.identity;
    QJsonObject adapter{{QStringLiteral("description"), id.description},
                        {QStringLiteral("serial"), id.serialNumber},
                        {QStringLiteral("socket"), id.place},
                        {QStringLiteral("selector"), usbSelector(id)}};
    const QJsonObject line{
        {QStringLiteral("time"), QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs)},
        {QStringLiteral("host"), QSysInfo::machineHostName()},
        {QStringLiteral("port"), job.port.path},
        {QStringLiteral("selector"), job.port.selector},
        {QStringLiteral("adapter"), adapter},
        {QStringLiteral("slot"), job.slot},
        {QStringLiteral("slotFile"), Wire::slotFileName(job.slot)},
        {QStringLiteral("file"), QFileInfo(job.file.path).absoluteFilePath()},
        {QStringLiteral("size"), job.file.size},
        {QStringLiteral("sha256"), QString::fromLatin1(sha256)},
        {QStringLiteral("dataSent"), r.dataSent},
        {QStringLiteral("endSent"), r.endSent},
        {QStringLiteral("replies"), QJsonArray::fromStringList(r.replies)},
        {QStringLiteral("result"), r.result},
        {QStringLiteral("slotState"), r.slotState},
        {QStringLiteral("exitStatus"), r.exitStatus},
        {QStringLiteral("error"), r.error},
    };
    const QByteArray bytes = QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n';
    if (::write(fd_, bytes.constData(), size_t(bytes.size())) != bytes.size())
        std::fprintf(stderr, "pelmora-load: could not append to the log %s: %s\n", qPrintable(path_),
                     std::strerror(errno));
}

QByteArray fileSha256(const QString& path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (file.open(QIODevice::ReadOnly))
        hash.addData(&file);
    return hash.result().toHex();
}
