#include "LabelFile.h"

#include "link/Errors.h"
#include "link/FileKind.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace {

QString quoted(const QString& path)
{
    return QLatin1Char('"') + path + QLatin1Char('"');
}


[[noreturn]] void notRegular(const QString& path, const QString& kind)
{
    throw PelmoraError(ErrorNumber::PathFileAccess, QStringLiteral("%1 is not a regular file (%2)").arg(quoted(path), kind));
}

LabelFileFacts factsOf(const QString& path, const QByteArray& native, const struct stat& st)
{
    LabelFileFacts f;
    f.path = path;
    f.native = native;
    f.device = st.st_dev;
    f.inode = st.st_ino;
    f.size = st.st_size;
    f.modifiedNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    f.changedNs = qint64(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    return f;
}

// Files the kernel makes up as they are read: their size says nothing.
bool onSystemFilesystem(int fd)
{
    struct statfs fs {};
    if (::fstatfs(fd, &fs) != 0)
        return false;
    switch (static_cast<unsigned long>(fs.f_type)) {
    case PROC_SUPER_MAGIC:
    case SYSFS_MAGIC:
    case DEBUGFS_MAGIC:
    case TRACEFS_MAGIC:
    case SECURITYFS_MAGIC:
    case CGROUP_SUPER_MAGIC:
    case CGROUP2_SUPER_MAGIC:
        return true;
    default:
        return false;
    }
}

int openWithoutBlocking(const QByteArray& native)
{
    return ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
}

void closeFd(int fd)
{
    if (fd >= 0)
        ::close(fd);
}

// The SHA-256 of the whole file from its start, in hexadecimal; empty when
// it cannot be read through.
QByteArray sha256Of(int fd)
{
    if (::lseek(fd, 0, SEEK_SET) != 0)
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    char chunk[65536];
    for (;;) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got == 0)
            return hash.result().toHex();
        if (got < 0 && errno != EINTR)
            return {};
        if (got > 0)
            hash.addData(QByteArrayView(chunk, got));
    }
}

}  // namespace

LabelFileFacts checkLabelFile(const QString& path, QByteArray native)
{
    if (path.isEmpty())
        throw PelmoraError(ErrorNumber::FileNotFound, quoted(path));
    if (native.isEmpty())
        native = QFile::encodeName(path);
    struct stat st {};
    if (::stat(native.constData(), &st) != 0) {
        if (errno == EACCES)
            throw PelmoraError(ErrorNumber::PermissionDenied, quoted(path));
        throw PelmoraError(ErrorNumber::FileNotFound, quoted(path));
    }
    if (S_ISDIR(st.st_mode))
        throw PelmoraError(ErrorNumber::PathFileAccess, QStringLiteral("%1 is a folder").arg(quoted(path)));
    // Opening a FIFO would wait for a writer: look before opening.
    if (!S_ISREG(st.st_mode))
        notRegular(path, fileKind(st.st_mode));

    const int fd = openWithoutBlocking(native);
    if (fd < 0) {
        if (errno == EACCES || errno == EPERM)
            throw PelmoraError(ErrorNumber::PermissionDenied, quoted(path));
        throw PelmoraError(ErrorNumber::PathFileAccess, QStringLiteral("%1: %2").arg(quoted(path), QString::fromLocal8Bit(std::strerror(errno))));
    }
    struct stat opened {};
    const bool statted = ::fstat(fd, &opened) == 0;
    const bool system = onSystemFilesystem(fd);
    // An empty file must really be empty; one that says 0 bytes and yet has
    // some would be announced as empty and streamed as something else.
    char probe = 0;
    const bool emptyButNot = statted && opened.st_size == 0 && ::read(fd, &probe, 1) > 0;
    const bool hashable = statted && S_ISREG(opened.st_mode) && !system && !emptyButNot;
    const QByteArray sha256 = hashable ? sha256Of(fd) : QByteArray();
    closeFd(fd);
    if (!statted || !S_ISREG(opened.st_mode))
        notRegular(path, fileKind(opened.st_mode));
    if (system)
        notRegular(path, QStringLiteral("a file the system makes up as it is read"));
    if (emptyButNot)
        notRegular(path, QStringLiteral("it reports 0 bytes but has content"));
    if (opened.st_size > std::numeric_limits<qint32>::max())
        throw PelmoraError(ErrorNumber::Overflow, QStringLiteral("%1 has %2 bytes; at most 2147483647 can be announced")
                                                      .arg(quoted(path))
                                                      .arg(qint64(opened.st_size)));
    if (sha256.isEmpty())
        throw PelmoraError(ErrorNumber::PathFileAccess, QStringLiteral("%1 could not be read through").arg(quoted(path)));
    LabelFileFacts facts = factsOf(path, native, opened);
    facts.sha256 = sha256;
    return facts;
}

void requireUnchangedSinceLoad(const LabelFileFacts& facts)
{
    struct stat st {};
    if (::stat(facts.nativePath().constData(), &st) != 0)
        throw PelmoraError(ErrorNumber::FileNotFound, quoted(facts.path));
    if (factsOf(facts.path, facts.native, st).sameAs(facts))
        return;
    throw PelmoraError(ErrorNumber::PathFileAccess,
                       QStringLiteral("%1 changed after Load was pressed; nothing of it was sent, load it again")
                           .arg(quoted(facts.path)));
}

LabelFileReader::LabelFileReader(const LabelFileFacts& announced) : announced_(announced)
{
    fd_ = openWithoutBlocking(announced_.nativePath());
    if (fd_ < 0)
        changed(0);
    requireUnchanged(0);
}

LabelFileReader::~LabelFileReader()
{
    closeFd(fd_);
}

void LabelFileReader::requireUnchanged(qint64 sent) const
{
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !factsOf(announced_.path, announced_.native, st).sameAs(announced_))
        changed(sent);
}

unsigned char LabelFileReader::next(qint64 sent)
{
    requireUnchanged(sent);
    unsigned char byte = 0;
    for (;;) {
        const ssize_t got = ::read(fd_, &byte, 1);
        if (got == 1) {
            read_.addData(QByteArrayView(reinterpret_cast<const char*>(&byte), 1));
            return byte;
        }
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throw PelmoraError(ErrorNumber::PathFileAccess,
                               QStringLiteral("%1: %2 after %3 of %4 bytes sent; the slot holds an incomplete file, load it again")
                                   .arg(quoted(announced_.path), QString::fromLocal8Bit(std::strerror(errno)))
                                   .arg(sent)
                                   .arg(announced_.size));
        changed(sent);  // ended before the announced length
    }
}

void LabelFileReader::requireSameBytes(qint64 sent)
{
    // Timestamps can be put back and can be too coarse to tell two writes apart; the bytes cannot.
    if (!announced_.sha256.isEmpty() && sha256() != announced_.sha256)
        changed(sent);
}

QByteArray LabelFileReader::sha256() const
{
    return read_.resultView().toByteArray().toHex();
}

void LabelFileReader::changed(qint64 sent) const
{
    if (sent == 0)
        throw PelmoraError(ErrorNumber::PathFileAccess,
                           QStringLiteral("%1 changed after its length was announced: 0 of %2 bytes sent; load it again")
                               .arg(quoted(announced_.path))
                               .arg(announced_.size));
    throw PelmoraError(ErrorNumber::PathFileAccess,
                       QStringLiteral("%1 changed while it was loading: %2 of %3 bytes sent; the slot holds an incomplete file, load it again")
                           .arg(quoted(announced_.path))
                           .arg(sent)
                           .arg(announced_.size));
}
