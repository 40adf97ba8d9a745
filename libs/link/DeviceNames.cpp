#include "DeviceNames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <dirent.h>
#include <sys/sysmacros.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

const char* const kLinkFolders[] = {"/dev", "/dev/serial/by-id", "/dev/serial/by-path"};

// The entries of one folder that resolve to the device: a stat each, for
// links and device nodes only.
void addNamesIn(const QString& folder, dev_t device, QStringList& names)
{
    DIR* dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return;
    const int fd = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_type != DT_LNK && entry->d_type != DT_CHR && entry->d_type != DT_UNKNOWN)
            continue;
        struct stat st {};
        if (::fstatat(fd, entry->d_name, &st, 0) != 0 || !S_ISCHR(st.st_mode) || st.st_rdev != device)
            continue;
        const QString name = QDir(folder).filePath(QFile::decodeName(entry->d_name));
        if (!names.contains(name))
            names << name;
    }
    ::closedir(dir);
}

}  // namespace

std::optional<dev_t> characterDevice(const QString& path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISCHR(st.st_mode))
        return std::nullopt;
    return st.st_rdev;
}

std::optional<bool> isTerminalDevice(const QString& path)
{
    const std::optional<dev_t> device = characterDevice(path);
    if (!device)
        return false;
    // Pseudo-terminals' slave sides (136 to 143) are not in the tree.
    if (::major(*device) >= 136 && ::major(*device) <= 143)
        return true;
    const QString subsystem = QFileInfo(QStringLiteral("/sys/dev/char/%1:%2/subsystem")
                                            .arg(::major(*device))
                                            .arg(::minor(*device)))
                                  .symLinkTarget();
    if (subsystem.isEmpty())
        return std::nullopt;
    return QFileInfo(subsystem).fileName() == QLatin1String("tty");
}

QString deviceNode(const QString& path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? path : canonical;
}

QStringList namesOfDevice(const QString& path)
{
    QStringList names{path};
    const QString node = deviceNode(path);
    if (!names.contains(node))
        names << node;
    const std::optional<dev_t> device = characterDevice(path);
    if (!device)
        return names;
    QStringList folders;
    for (const char* folder : kLinkFolders)
        folders << QLatin1String(folder);
    folders << QFileInfo(path).absolutePath();
    folders << qEnvironmentVariable("PELMORA_LINK_DIRS").split(QLatin1Char(':'), Qt::SkipEmptyParts);
    folders.removeDuplicates();
    for (const QString& folder : std::as_const(folders))
        addNamesIn(folder, *device, names);
    return names;
}
