#include "PortLocks.h"

#include "DeviceNames.h"
#include "Errors.h"
#include "FileKind.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QSet>
#include <QSysInfo>
#include <QtEndian>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// QSerialPort's folders and lockdev's, /run/lock first (where /var/lock points).
const char* const kLockDirectories[] = {"/run/lock",        "/var/lock",        "/etc/locks", "/var/spool/locks",
                                        "/var/spool/uucp", "/var/lock/lockdev", "/tmp",       "/var/tmp"};
constexpr int kMostRead = 4096;

// Each folder once, however many links lead to it.
QStringList lockDirectories()
{
    const QString chosen = qEnvironmentVariable("PELMORA_LOCK_DIR");
    if (!chosen.isEmpty())
        return {chosen};
    QStringList dirs;
    QSet<QString> seen;
    for (const char* dir : kLockDirectories) {
        const QString canonical = QFileInfo(QLatin1String(dir)).canonicalFilePath();
        if (!canonical.isEmpty() && !seen.contains(canonical)) {
            seen.insert(canonical);
            dirs << QLatin1String(dir);
        }
    }
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

// Whether the program a Qt lock names is what the process runs: Qt writes
// the file name of the executable, others a full path or a link to it. The
// kernel's name (at most 15 bytes) counts too. Not knowing is no proof.
bool runsProgram(qint64 pid, const QString& program)
{
    const QString running = executableName(pid);
    if (running.isEmpty() || program.isEmpty())
        return true;
    const QFileInfo named(program);
    const QString resolved = named.isAbsolute() ? QFileInfo(named.canonicalFilePath()).fileName() : QString();
    return running == named.fileName() || (!resolved.isEmpty() && running == resolved) ||
           processName(pid) == named.fileName().left(15);
}

QString lastPart(const QString& path)
{
    return QFileInfo(path).fileName();
}

// QSerialPort's: the path below /dev, '/' as '_'.
QString qtPart(const QString& path)
{
    QString part = path.startsWith(QLatin1String("/dev/")) ? path.mid(5) : path;
    return part.replace(QLatin1Char('/'), QLatin1Char('_'));
}


QString systemReason()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// Reads the file at path as a lock, never waiting on it: a FIFO or device
// planted in a folder every user may write to is refused, not opened.
// False when there is no such file.
bool examine(const QString& dir, const QString& path, PortLock& lock)
{
    lock.path = path;
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    if (::lstat(native.constData(), &st) != 0) {
        if (errno == ENOENT)
            return false;
        lock.refused = true;
        lock.why = QStringLiteral("cannot be examined: %1").arg(systemReason());
        return true;
    }
    if (S_ISLNK(st.st_mode)) {
        const QFileInfo target(path);
        if (target.canonicalFilePath().isEmpty() ||
            QFileInfo(target.canonicalFilePath()).absolutePath() != QFileInfo(dir).canonicalFilePath()) {
            lock.refused = true;
            lock.why = QStringLiteral("is a symbolic link out of its lock folder");
            return true;
        }
    }
    // Opening a device may act on it (a serial line raises its modem lines).
    if (::stat(native.constData(), &st) == 0 && !S_ISREG(st.st_mode)) {
        lock.refused = true;
        lock.why = QStringLiteral("is not a regular file (%1)").arg(fileKind(st.st_mode));
        return true;
    }
    const int fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        lock.refused = true;
        lock.why = QStringLiteral("cannot be read: %1").arg(systemReason());
        return true;
    }
    QByteArray content;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        lock.refused = true;
        lock.why = QStringLiteral("is not a regular file (%1)").arg(fileKind(st.st_mode));
    } else {
        content.resize(kMostRead);
        const ssize_t got = ::read(fd, content.data(), kMostRead);
        content.resize(qMax<ssize_t>(0, got));
        if (got < 0) {
            lock.refused = true;
            lock.why = QStringLiteral("cannot be read: %1").arg(systemReason());
        }
    }
    ::close(fd);
    lock.content = content;
    if (!lock.refused)
        readPortLock(content, lock);
    return true;
}

QByteArray contentOf(const QString& path)
{
    QByteArray content;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    struct stat st {};
    if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        content.resize(kMostRead);
        content.resize(qMax<ssize_t>(0, ::read(fd, content.data(), kMostRead)));
    }
    if (fd >= 0)
        ::close(fd);
    return content;
}

// Qt's layout, which serial programs read as a pid too.
QByteArray ownLockContent()
{
    const qint64 pid = ::getpid();
    return QByteArray::number(pid) + '\n' + executableName(pid).toUtf8() + '\n' +
           QSysInfo::machineHostName().toUtf8() + '\n' + QSysInfo::machineUniqueId() + '\n' + QSysInfo::bootUniqueId() +
           '\n';
}

// The first lock folder there is, where other programs look first: a lock
// written anywhere else would be seen by none of them.
QString ownLockDirectory(const QString& devicePath)
{
    const QStringList dirs = lockDirectories();
    for (const QString& dir : dirs) {
        if (QFileInfo(dir).isDir())
            return dir;
    }
    throw PelmoraError(ErrorNumber::PortAlreadyOpen, QStringLiteral("%1 is not opened unlocked: there is no lock folder (%2)")
                                                         .arg(devicePath, dirs.join(QStringLiteral(", "))));
}

PelmoraError unwritableError(const QString& devicePath, const QString& dir, const QString& why)
{
    return PelmoraError(ErrorNumber::PortAlreadyOpen,
                        QStringLiteral("%1 is not opened unlocked: its lock cannot be written in the lock folder %2: %3")
                            .arg(devicePath, dir, why));
}

PelmoraError lockedError(const QString& devicePath, const PortLock& lock)
{
    if (lock.refused)
        return PelmoraError(ErrorNumber::PortAlreadyOpen,
                            QStringLiteral("%1 cannot be used: its lock file %2 %3").arg(devicePath, lock.path, lock.why));
    return PelmoraError(ErrorNumber::PortAlreadyOpen,
                        QStringLiteral("%1 is locked by %2: lock file %3").arg(devicePath, lock.holder, lock.path));
}

}  // namespace

QStringList portLockNames(const QString& devicePath)
{
    QStringList names;
    for (const QString& path : namesOfDevice(devicePath)) {
        QString whole = path;
        for (const QString& part : {lastPart(path), qtPart(path), whole.replace(QLatin1Char('/'), QLatin1Char('_'))}) {
            const QString name = QStringLiteral("LCK..") + part;
            if (!part.isEmpty() && !names.contains(name))
                names << name;
        }
    }
    return names;
}

void readPortLock(const QByteArray& content, PortLock& lock)
{
    QList<QByteArray> lines = content.split('\n');
    if (content.endsWith('\n'))
        lines.removeLast();
    bool text = !content.contains('\0') && !lines.isEmpty();
    if (text)
        lock.pid = lines.first().trimmed().toLongLong(&text);
    if (!text && content.size() == int(sizeof(qint32)))
        lock.pid = qFromUnaligned<qint32>(content.constData());
    if (lock.pid <= 0) {
        lock.pid = 0;
        lock.why = QStringLiteral("it names no process");
        return;
    }
    // Qt's: pid, program, host, then (since Qt 5.10) machine id and boot id.
    QByteArray program, host, machine, boot;
    if (text) {
        program = lines.value(1).trimmed();
        host = lines.value(2).trimmed();
        machine = lines.value(3).trimmed();
        boot = lines.value(4).trimmed();
    }
    const bool otherHost = (!host.isEmpty() && QString::fromUtf8(host) != QSysInfo::machineHostName()) ||
                           (!machine.isEmpty() && machine != QSysInfo::machineUniqueId());
    if (otherHost) {
        lock.alive = true;  // cannot be looked into from here
        lock.holder = QStringLiteral("process %1 on %2")
                          .arg(lock.pid)
                          .arg(host.isEmpty() ? QStringLiteral("another machine") : QString::fromUtf8(host));
        return;
    }
    if (!boot.isEmpty() && boot != QSysInfo::bootUniqueId())
        lock.why = QStringLiteral("it was left before the system last started");
    else if (!isAlive(lock.pid))
        lock.why = QStringLiteral("its process %1 is gone").arg(lock.pid);
    else if (!runsProgram(lock.pid, QString::fromUtf8(program)))
        lock.why = QStringLiteral("process %1 is now another program").arg(lock.pid);
    else
        lock.alive = true;
    if (lock.alive)
        lock.holder = QStringLiteral("%1 (process %2)").arg(processName(lock.pid)).arg(lock.pid);
}

QList<PortLock> findPortLocks(const QString& devicePath)
{
    QList<PortLock> found;
    const QStringList names = portLockNames(devicePath);
    for (const QString& dir : lockDirectories()) {
        for (const QString& name : names) {
            PortLock lock;
            if (examine(dir, QDir(dir).filePath(name), lock))
                found << lock;
        }
    }
    return found;
}

void takePortLock(const QString& devicePath)
{
    const QList<PortLock> locks = findPortLocks(devicePath);
    for (const PortLock& lock : locks) {
        if (lock.alive || lock.refused)
            throw lockedError(devicePath, lock);
    }
    for (const PortLock& lock : locks)
        removeStaleLock(devicePath, lock);
}

void removeStaleLock(const QString& devicePath, const PortLock& stale)
{
    // A lock rewritten since it was judged belongs to someone new.
    if (contentOf(stale.path) != stale.content) {
        PortLock again;
        if (examine(QFileInfo(stale.path).absolutePath(), stale.path, again) && (again.alive || again.refused))
            throw lockedError(devicePath, again);
    }
    if (QFile::remove(stale.path))
        notice(QStringLiteral("took over the stale lock file %1 of %2 (%3)").arg(stale.path, devicePath, stale.why));
    else
        notice(QStringLiteral("the stale lock file %1 of %2 (%3) could not be removed")
                   .arg(stale.path, devicePath, stale.why));
}

void setPortNoticeHandler(std::function<void(const QString&)> handler)
{
    QMutexLocker lock(&noticeMutex);
    noticeHandler = std::move(handler);
}

void OwnPortLocks::claim(const QString& devicePath)
{
    const QString dir = ownLockDirectory(devicePath);
    // Only names of the device itself: a link's last name may be another
    // adapter's on another link (/dev/line1/fixture, /dev/line2/fixture).
    // The line is opened by its node, so QSerialPort locks the node's Qt name.
    const QString node = deviceNode(devicePath);
    QStringList names;
    if (lastPart(node) != qtPart(node))
        names << QStringLiteral("LCK..") + lastPart(node);
    if (names.isEmpty() && ::access(QFile::encodeName(dir).constData(), W_OK) != 0)
        throw unwritableError(devicePath, dir, systemReason());
    const QByteArray content = ownLockContent();
    for (const QString& name : names) {
        const QString path = QDir(dir).filePath(name);
        const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                              0644);
        if (fd < 0) {
            const bool exists = errno == EEXIST;
            const QString reason = systemReason();
            PortLock other;
            if (exists && examine(dir, path, other) && other.pid == ::getpid())
                continue;
            release();
            if (exists && (other.alive || other.refused))
                throw lockedError(devicePath, other);
            if (exists)
                throw PelmoraError(ErrorNumber::PortAlreadyOpen,
                                   QStringLiteral("%1: its lock file %2 appeared meanwhile").arg(devicePath, path));
            throw unwritableError(devicePath, dir, reason);
        }
        const bool written = ::write(fd, content.constData(), size_t(content.size())) == content.size();
        ::close(fd);
        paths_ << path;
        if (!written) {
            release();
            throw unwritableError(devicePath, dir, QStringLiteral("the write fell short"));
        }
    }
}

void OwnPortLocks::release()
{
    for (const QString& path : std::as_const(paths_)) {
        PortLock lock;
        if (examine(QFileInfo(path).absolutePath(), path, lock) && lock.pid == ::getpid())
            QFile::remove(path);
    }
    paths_.clear();
}
