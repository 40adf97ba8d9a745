#include "ScannerPort.h"

#include "EvdevKeySource.h"
#include "TtyScannerPort.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

KeyboardScannerPort::KeyboardScannerPort(std::unique_ptr<KeyEventSource> source) : source_(std::move(source))
{
    source_->grab();
}

std::vector<ScannedLine> KeyboardScannerPort::readScans()
{
    std::vector<ScannedLine> scans;
    input_event event{};
    for (;;) {
        std::optional<ScannedLine> line;
        switch (source_->next(event)) {
        case KeyEventSource::Read::Empty:
            return scans;
        case KeyEventSource::Read::Event:
            line = decoder_.feed(event);
            break;
        case KeyEventSource::Read::Dropped:
            line = decoder_.lost();
            break;
        case KeyEventSource::Read::Synced:
            if (event.type == EV_KEY)
                decoder_.modifierState(event.code, event.value != 0);
            break;
        }
        if (line)
            scans.push_back(std::move(*line));
    }
}

std::unique_ptr<ScannerPort> openScannerPort(const QString& path, const std::optional<LineSettings>& settings)
{
    const QByteArray name = QFile::encodeName(path);
    int fd = ::open(name.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    // Reading is all a scanner needs; writing only puts out a caps lock light.
    if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS))
        fd = ::open(name.constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        throw ScannerLost(QStringLiteral("cannot open %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno))).toStdString());
    if (::isatty(fd))
        return std::make_unique<TtyScannerPort>(fd, path, settings);
    struct stat st{};
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) {
        ::close(fd);
        throw ScannerLost(QStringLiteral("%1 is neither a terminal nor an input device").arg(path).toStdString());
    }
    return std::make_unique<KeyboardScannerPort>(std::make_unique<EvdevKeySource>(fd, path));
}
