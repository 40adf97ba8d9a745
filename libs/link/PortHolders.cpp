#include "PortHolders.h"

#include "DeviceNames.h"
#include "PortLocks.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

constexpr int kMostNamed = 3;
constexpr qsizetype kLongestCommandLine = 100;
// /dev/ptmx: every pseudo-terminal's master side is an open of it.
const dev_t kPtyMaster = makedev(5, 2);

QString processName(qint64 pid)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    if (!comm.open(QIODevice::ReadOnly))
        return QStringLiteral("a program");
    return QString::fromLocal8Bit(comm.readAll()).trimmed();
}

QString commandLine(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray bytes = file.read(kLongestCommandLine * 4);
    while (bytes.endsWith('\0'))
        bytes.chop(1);
    QString text = QString::fromLocal8Bit(bytes.replace('\0', ' ')).simplified();
    if (text.size() > kLongestCommandLine)
        text = text.left(kLongestCommandLine - 3) + QStringLiteral("...");
    return text;
}

// The number of a pseudo-terminal's slave side (/dev/pts/7: 7), -1 for any
// other device.
int ptyIndex(const QString& node)
{
    if (!node.startsWith(QLatin1String("/dev/pts/")))
        return -1;
    bool ok = false;
    const int index = node.mid(9).toInt(&ok);
    return ok ? index : -1;
}

bool isMasterOf(const QString& fdInfoPath, int index)
{
    QFile info(fdInfoPath);
    if (!info.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray& line : info.readAll().split('\n'))
        if (line.startsWith("tty-index:"))
            return line.mid(10).trimmed().toInt() == index;
    return false;
}

PortHolder holder(qint64 pid)
{
    return PortHolder{pid, processName(pid), commandLine(pid)};
}

void addLockFileHolders(const QString& device, QList<qint64>& pids)
{
    for (const PortLock& lock : findPortLocks(device)) {
        if (lock.alive && lock.pid > 0 && lock.pid != ::getpid() && !pids.contains(lock.pid))
            pids << lock.pid;
    }
}

}  // namespace

QString PortHolder::describe() const
{
    if (commandLine.isEmpty())
        return QStringLiteral("%1 (process %2)").arg(name).arg(pid);
    return QStringLiteral("%1 (process %2: %3)").arg(name).arg(pid).arg(commandLine);
}

QList<PortHolder> processesHolding(const QString& devicePath)
{
    QList<PortHolder> holders;
    const std::optional<dev_t> device = characterDevice(devicePath);
    if (!device)
        return holders;
    const int index = ptyIndex(deviceNode(devicePath));
    const qint64 self = ::getpid();
    const QStringList processes = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : processes) {
        bool isPid = false;
        const qint64 pid = entry.toLongLong(&isPid);
        if (!isPid || pid == self)
            continue;
        const QString fds = QStringLiteral("/proc/%1/fd/").arg(pid);
        bool holds = false, farEnd = false;
        // A stat of each open file follows it to its inode, whatever name it was opened by.
        for (const QString& fd : QDir(fds).entryList(QDir::System | QDir::NoDotAndDotDot)) {
            struct stat st {};
            if (::stat(QFile::encodeName(fds + fd).constData(), &st) != 0 || !S_ISCHR(st.st_mode))
                continue;
            if (st.st_rdev == *device)
                holds = true;
            else if (index >= 0 && st.st_rdev == kPtyMaster &&
                     isMasterOf(QStringLiteral("/proc/%1/fdinfo/%2").arg(pid).arg(fd), index))
                farEnd = true;
        }
        if (holds && !farEnd)
            holders << holder(pid);
    }
    return holders;
}

QString portHolders(const QString& devicePath)
{
    QList<qint64> pids;
    addLockFileHolders(devicePath, pids);
    QStringList named;
    for (const qint64 pid : std::as_const(pids))
        named << holder(pid).describe();
    for (const PortHolder& h : processesHolding(devicePath))
        if (!pids.contains(h.pid))
            named << h.describe();
    return named.mid(0, kMostNamed).join(QStringLiteral(", "));
}
