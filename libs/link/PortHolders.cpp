#include "PortHolders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>

#include <cerrno>
#include <signal.h>
#include <unistd.h>

namespace {

constexpr int kMostNamed = 3;
const char* const kLockDirectories[] = {"/run/lock", "/var/lock", "/var/spool/locks", "/var/spool/uucp", "/tmp"};

bool isAlive(qint64 pid)
{
    return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

QString processName(qint64 pid)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    if (!comm.open(QIODevice::ReadOnly))
        return QStringLiteral("a program");
    return QString::fromLocal8Bit(comm.readAll()).trimmed();
}

// UUCP style lock files hold the pid in text on their first line (QLockFile
// writes the same line first). They are named after the path below /dev.
void addLockFileHolder(QString device, QList<qint64>& pids)
{
    if (device.startsWith(QLatin1String("/dev/")))
        device.remove(0, 5);
    const QString deviceName = device.replace(QLatin1Char('/'), QLatin1Char('_'));
    for (const char* dir : kLockDirectories) {
        QFile lock(QStringLiteral("%1/LCK..%2").arg(QLatin1String(dir), deviceName));
        if (!lock.open(QIODevice::ReadOnly))
            continue;
        const qint64 pid = lock.readLine().trimmed().toLongLong();
        if (isAlive(pid) && !pids.contains(pid))
            pids << pid;
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
    addLockFileHolder(canonical.isEmpty() ? devicePath : canonical, pids);
    if (!canonical.isEmpty())
        addOpenFileHolders(canonical, pids);
    QStringList named;
    for (const qint64 pid : pids.mid(0, kMostNamed))
        named << QStringLiteral("%1 (process %2)").arg(processName(pid)).arg(pid);
    return named.join(QStringLiteral(", "));
}
