#include "PortHolders.h"

#include "Errors.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QMutex>
#include <QSysInfo>
#include <QtEndian>

#include <cerrno>
#include <signal.h>
#include <unistd.h>

namespace {

constexpr int kMostNamed = 3;
const char* const kLockDirectories[] = {"/run/lock", "/var/lock", "/var/lock/lockdev", "/var/spool/locks",
                                        "/var/spool/uucp", "/tmp"};

QStringList lockDirectories()
{
    const QString chosen = qEnvironmentVariable("PELMORA_LOCK_DIR");
    if (!chosen.isEmpty())
        return {chosen};
    QStringList dirs;
    for (const char* dir : kLockDirectories)
        dirs << QLatin1String(dir);
    return dirs;
}

QMutex noticeMutex;
std::function<void(const QString&)> noticeHandler;

void notice(const QString& text)
{
    QMutexLocker lock(&noticeMutex);
    if (noticeHandler)
        noticeHandler(text);
    else
        qWarning("%s", qPrintable(text));
}

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

QString lockName(QString device)
{
    if (device.startsWith(QLatin1String("/dev/")))
        device.remove(0, 5);
    return QStringLiteral("LCK..") + device.replace(QLatin1Char('/'), QLatin1Char('_'));
}

QString deviceKey(const QString& devicePath)
{
    const QString canonical = QFileInfo(devicePath).canonicalFilePath();
    return canonical.isEmpty() ? devicePath : canonical;
}

// The program a process runs, as Qt's lock files name it; empty when the
// system does not say.
QString executableName(qint64 pid)
{
    QString target = QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget();
    // A program replaced by an update still runs as itself.
    if (target.endsWith(QLatin1String(" (deleted)")))
        target.chop(10);
    return QFileInfo(target).fileName();
}

// Reads a lock file in any of the formats serial programs write.
void readLock(const QByteArray& content, PortLock& lock)
{
    const QList<QByteArray> lines = content.split('\n');
    bool text = false;
    lock.pid = qMax<qint64>(0, lines.first().trimmed().toLongLong(&text));
    if (!text && content.size() == int(sizeof(qint32)))
        lock.pid = qMax<qint64>(0, qFromUnaligned<qint32>(content.constData()));
    if (lock.pid == 0) {
        lock.why = QStringLiteral("it names no process");
        return;
    }
    // Qt's own: pid, program, host, boot id.
    QByteArray program, host, boot;
    if (text) {
        program = lines.value(1).trimmed();
        host = lines.value(2).trimmed();
        boot = lines.value(3).trimmed();
    }
    if (!host.isEmpty() && QString::fromUtf8(host) != QSysInfo::machineHostName()) {
        lock.alive = true;  // cannot be looked into from here
        lock.holder = QStringLiteral("process %1 on %2").arg(lock.pid).arg(QString::fromUtf8(host));
        return;
    }
    const QString running = executableName(lock.pid);
    if (!isAlive(lock.pid))
        lock.why = QStringLiteral("its process %1 is gone").arg(lock.pid);
    else if (!boot.isEmpty() && boot != QSysInfo::bootUniqueId())
        lock.why = QStringLiteral("it was left before the system last started");
    else if (!program.isEmpty() && !running.isEmpty() && running != QString::fromUtf8(program))
        lock.why = QStringLiteral("process %1 is now another program").arg(lock.pid);
    else
        lock.alive = true;
    if (lock.alive)
        lock.holder = QStringLiteral("%1 (process %2)").arg(processName(lock.pid)).arg(lock.pid);
}

void addLockFileHolder(const QString& device, QList<qint64>& pids)
{
    const PortLock lock = findPortLock(device);
    if (lock.alive && lock.pid > 0 && !pids.contains(lock.pid))
        pids << lock.pid;
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

PortLock findPortLock(const QString& devicePath)
{
    const QString name = lockName(deviceKey(devicePath));
    for (const QString& dir : lockDirectories()) {
        QFile file(QDir(dir).filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        PortLock lock;
        lock.path = file.fileName();
        readLock(file.read(4096), lock);
        return lock;
    }
    return {};
}

void takePortLock(const QString& devicePath)
{
    const PortLock lock = findPortLock(devicePath);
    if (lock.path.isEmpty())
        return;
    if (lock.alive)
        throw PelmoraError(ErrorNumber::PortAlreadyOpen,
                           QStringLiteral("%1 is locked by %2: lock file %3").arg(devicePath, lock.holder, lock.path));
    if (QFile::remove(lock.path))
        notice(QStringLiteral("took over the stale lock file %1 of %2 (%3)").arg(lock.path, devicePath, lock.why));
    else
        notice(QStringLiteral("the stale lock file %1 of %2 (%3) could not be removed").arg(lock.path, devicePath, lock.why));
}

void setPortNoticeHandler(std::function<void(const QString&)> handler)
{
    QMutexLocker lock(&noticeMutex);
    noticeHandler = std::move(handler);
}

QString portHolders(const QString& devicePath)
{
    const QString canonical = QFileInfo(devicePath).canonicalFilePath();
    QList<qint64> pids;
    addLockFileHolder(devicePath, pids);
    if (!canonical.isEmpty())
        addOpenFileHolders(canonical, pids);
    QStringList named;
    for (const qint64 pid : pids.mid(0, kMostNamed))
        named << QStringLiteral("%1 (process %2)").arg(processName(pid)).arg(pid);
    return named.join(QStringLiteral(", "));
}
