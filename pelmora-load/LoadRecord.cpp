#include "LoadRecord.h"

#include "console/StopSignal.h"
#include "link/FileKind.h"
#include "wire/Exchanges.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSysInfo>
#include <QUuid>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemSays()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

bool isLabel(const struct stat& st, const LabelFileFacts& label)
{
    return quint64(st.st_dev) == label.device && quint64(st.st_ino) == label.inode;
}

[[noreturn]] void refuseLabel(const QString& path)
{
    throw std::runtime_error(
        QStringLiteral("--log %1 is the label file itself; the record would be loaded with it").arg(path).toStdString());
}


[[noreturn]] void refuseKind(const QString& path, mode_t mode)
{
    throw std::runtime_error(
        QStringLiteral("--log %1 is not a regular file (%2)").arg(path, S_ISCHR(mode) ? QStringLiteral("a character device: a terminal or a serial line") : fileKind(mode)).toStdString());
}

QString isoUtc(const QDateTime& time)
{
    return time.toUTC().toString(Qt::ISODateWithMs);
}

}  // namespace

LoadRecord::LoadRecord(const QString& path, const LabelFileFacts& label)
    : path_(path), runId_(QUuid::createUuid().toString(QUuid::WithoutBraces))
{
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    // Before it is opened: a label opened for appending is a label changed,
    // and opening a serial line or a terminal already acts on it.
    const bool exists = ::stat(native.constData(), &st) == 0;
    if (exists && isLabel(st, label))
        refuseLabel(path);
    if (exists && !S_ISREG(st.st_mode))
        refuseKind(path, st.st_mode);
    // Never waits: whatever took the name meanwhile is looked at once open.
    fd_ = ::open(native.constData(),
                 O_WRONLY | O_APPEND | (exists ? 0 : O_CREAT | O_EXCL) | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
    if (fd_ < 0)
        throw std::runtime_error(QStringLiteral("cannot write the log %1: %2").arg(path, systemSays()).toStdString());
    // A name that came to mean the label, or no file, between the look and the open.
    if (::fstat(fd_, &st) != 0 || isLabel(st, label) || !S_ISREG(st.st_mode)) {
        ::close(fd_);
        fd_ = -1;
        if (isLabel(st, label))
            refuseLabel(path);
        refuseKind(path, st.st_mode);
    }
    started_ = QDateTime::currentDateTimeUtc();
    clock_.start();
}

LoadRecord::~LoadRecord()
{
    if (fd_ >= 0)
        ::close(fd_);
}

void LoadRecord::begun(const QList<LoadJob>& jobs)
{
    QJsonArray devices;
    for (const LoadJob& job : jobs)
        devices << job.port.path;
    const LabelFileFacts& file = jobs.first().file;
    write({{QStringLiteral("record"), QStringLiteral("begun")},
           {QStringLiteral("devices"), devices},
           {QStringLiteral("slot"), jobs.first().slot},
           {QStringLiteral("slotFile"), Wire::slotFileName(jobs.first().slot)},
           {QStringLiteral("file"), QFileInfo(file.path).absoluteFilePath()},
           {QStringLiteral("size"), file.size},
           {QStringLiteral("sha256"), QString::fromLatin1(file.sha256)}});
}

void LoadRecord::refused(const QStringList& selectors, int slot, const QString& file, int exitStatus,
                         const QString& why)
{
    const QString absolute = QFileInfo(file).absoluteFilePath();
    write({{QStringLiteral("record"), QStringLiteral("begun")},
           {QStringLiteral("devices"), QJsonArray::fromStringList(selectors)},
           {QStringLiteral("slot"), slot},
           {QStringLiteral("slotFile"), Wire::slotFileName(slot)},
           {QStringLiteral("file"), absolute}});
    write({{QStringLiteral("record"), QStringLiteral("result")},
           {QStringLiteral("time"), isoUtc(QDateTime::currentDateTimeUtc())},
           {QStringLiteral("devices"), QJsonArray::fromStringList(selectors)},
           {QStringLiteral("slot"), slot},
           {QStringLiteral("slotFile"), Wire::slotFileName(slot)},
           {QStringLiteral("file"), absolute},
           {QStringLiteral("dataSent"), 0},
           {QStringLiteral("endSent"), false},
           {QStringLiteral("result"), QStringLiteral("refused")},
           {QStringLiteral("slotState"), QStringLiteral("untouched")},
           {QStringLiteral("exitStatus"), exitStatus},
           {QStringLiteral("error"), why}});
}

void LoadRecord::append(const LoadJob& job, const LoadResult& r)
{
    const PortDirectory::Identity& id = job.port.identity;
    QJsonObject adapter{{QStringLiteral("description"), id.description},
                        {QStringLiteral("serial"), id.serialNumber},
                        {QStringLiteral("socket"), id.place},
                        {QStringLiteral("selector"), usbSelector(id)}};
    const bool interrupted = r.result == QLatin1String("interrupted");
    QJsonObject line{
        {QStringLiteral("record"), interrupted ? QStringLiteral("interrupted") : QStringLiteral("result")},
        {QStringLiteral("time"), isoUtc(QDateTime::currentDateTimeUtc())},
        {QStringLiteral("duration"), double(clock_.elapsed()) / 1000.0},
        {QStringLiteral("port"), job.port.path},
        {QStringLiteral("selector"), job.port.selector},
        {QStringLiteral("adapter"), adapter},
        {QStringLiteral("slot"), job.slot},
        {QStringLiteral("slotFile"), Wire::slotFileName(job.slot)},
        {QStringLiteral("file"), QFileInfo(job.file.path).absoluteFilePath()},
        {QStringLiteral("size"), job.file.size},
        {QStringLiteral("sha256"), QString::fromLatin1(r.sha256.isEmpty() ? job.file.sha256 : r.sha256)},
        {QStringLiteral("dataSent"), r.dataSent},
        {QStringLiteral("endSent"), r.endSent},
        {QStringLiteral("replies"), QJsonArray::fromStringList(r.replies)},
        {QStringLiteral("result"), r.result},
        {QStringLiteral("slotState"), r.slotState},
        {QStringLiteral("exitStatus"), r.exitStatus},
        {QStringLiteral("error"), r.error},
    };
    if (interrupted)
        line.insert(QStringLiteral("signal"), QLatin1String(stopSignalName()));
    write(line);
}

void LoadRecord::write(QJsonObject line)
{
    line.insert(QStringLiteral("run"), runId_);
    line.insert(QStringLiteral("version"), QStringLiteral(PELMORA_VERSION_TEXT));
    line.insert(QStringLiteral("started"), isoUtc(started_));
    line.insert(QStringLiteral("host"), QSysInfo::machineHostName());
    const QByteArray bytes = QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n';
    const ssize_t written = ::write(fd_, bytes.constData(), size_t(bytes.size()));
    if (written == bytes.size() || !failure_.isEmpty())
        return;
    failure_ = written < 0 ? systemSays() : QStringLiteral("only %1 of %2 bytes written").arg(written).arg(bytes.size());
}
