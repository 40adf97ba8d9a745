#include "TtyScannerPort.h"

#include <cerrno>
#include <cstring>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

QString why(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

}  // namespace

TtyScannerPort::TtyScannerPort(int fd, const QString& path) : fd_(fd), path_(path)
{
    termios tio{};
    if (::tcgetattr(fd_, &tio) != 0) {
        const int error = errno;
        ::close(fd_);
        throw ScannerLost(QStringLiteral("%1: %2").arg(path_, why(error)).toStdString());
    }
    // Raw, as cfmakeraw makes it, but the speed, parity, character size and
    // stop bits stay the device's: a CDC scanner ignores them, a real serial
    // one was set up by whoever wired it.
    tio.c_iflag &= ~tcflag_t(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF);
    tio.c_oflag &= ~tcflag_t(OPOST);
    tio.c_lflag &= ~tcflag_t(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag |= CREAD | CLOCAL;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (::tcsetattr(fd_, TCSANOW, &tio) != 0) {
        const int error = errno;
        ::close(fd_);
        throw ScannerLost(QStringLiteral("%1: cannot make the line raw: %2").arg(path_, why(error)).toStdString());
    }
    // No other program opens it meanwhile (ModemManager's probes included).
    ::ioctl(fd_, TIOCEXCL);
    // What the line held before it was ours is no scan of this run.
    ::tcflush(fd_, TCIFLUSH);
}

TtyScannerPort::~TtyScannerPort()
{
    // Exclusive mode outlives this descriptor while anyone else holds the line.
    ::ioctl(fd_, TIOCNXCL);
    ::close(fd_);
}

std::vector<ScannedLine> TtyScannerPort::readScans()
{
    std::vector<ScannedLine> scans;
    for (;;) {
        char buf[512];
        const ssize_t n = ::read(fd_, buf, sizeof buf);
        if (n > 0) {
            for (ScannedLine& line : lines_.feed(QByteArray(buf, qsizetype(n))))
                scans.push_back(std::move(line));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return scans;
        throw ScannerLost((n == 0 ? QStringLiteral("%1 hung up").arg(path_)
                                  : QStringLiteral("%1: %2").arg(path_, why(errno)))
                              .toStdString());
    }
}
