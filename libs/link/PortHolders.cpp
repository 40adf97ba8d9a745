#include "PortHolders.h"

#include "PortLocks.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>

#include <unistd.h>

namespace {

constexpr int kMostNamed = 3;

QString processName(qint64 pid)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    if (!comm.open(QIODevice::ReadOnly))
        return QStringLiteral("a program");
    return QString::fromLocal8Bit(comm.readAll()).trimmed();
}

void addLockFileHolders(const QString& device, QList<qint64>& pids)
{
    for (const PortLock& lock : findPortLocks(device)) {
        if (lock.alive && lock.pid > 0 && !pids.contains(lock.pid))
            pids << lock.pid;
    }
}

// Other users' processes cannot be looked into; they go unnamed.
void addOpenFileHolders(const QString& canonicalDevice, QList<qint64>& pids)
{
    const qint64 self = ::getpid();
    const QStringList processes = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : processes) {
        bool isPid = false;
        const qint64 pid = entry.toLongLong(&isPid);
        if (!isPid || pid == self || pids.contains(pid))
            continue;
        const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
        for (const QString& fd : fds.entryList(QDir::System | QDir::NoDotAndDotDot)) {
            if (QFileInfo(fds.filePath(fd)).symLinkTarget() == canonicalDevice) {
                pids << pid;
                break;
            }
        }
    }
}

}  // namespace

QString portHolders(const QString& devicePath)
{
    const QString canonical = QFileInfo(devicePath).canonicalFilePath();
    QList<qint64> pids;
    addLockFileHolders(devicePath, pids);
    if (!canonical.isEmpty())
        addOpenFileHolders(canonical, pids);
    QStringList named;
    for (const qint64 pid : pids.mid(0, kMostNamed))
        named << QStringLiteral("%1 (process %2)").arg(processName(pid)).arg(pid);
    return named.join(QStringLiteral(", "));
}
