#include "FileKind.h"

#include <sys/stat.h>

QString fileKind(mode_t mode)
{
    if (S_ISFIFO(mode))
        return QStringLiteral("a FIFO");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    if (S_ISCHR(mode))
        return QStringLiteral("a character device");
    if (S_ISBLK(mode))
        return QStringLiteral("a block device");
    if (S_ISDIR(mode))
        return QStringLiteral("a folder");
    return QStringLiteral("no regular file");
}
