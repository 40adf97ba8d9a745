#include "TtyScannerPort.h"

#include <algorithm>
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

bool framed(termios& tio, const LineSettings& s, QString& refused)
{
    static const std::pair<qint32, speed_t> speeds[] = {
        {1200, B1200}, {2400, B2400}, {4800, B4800}, {9600, B9600}, {19200, B19200}, {38400, B38400},
        {57600, B57600}, {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600}};
    const auto speed = std::find_if(std::begin(speeds), std::end(speeds), [&](const auto& p) { return p.first == s.baud; });
    if (speed == std::end(speeds)) {
        refused = QStringLiteral("a scanner's line takes 1200 to 921600 baud in the usual steps, not %1").arg(s.baud);
        return false;
    }
    if (s.stopBits == LineSettings::StopBits::OneAndHalf) {
        refused = QStringLiteral("a scanner's line takes 1 or 2 stop bits");
        return false;
    }
    ::cfsetispeed(&tio, speed->second);
    ::cfsetospeed(&tio, speed->second);
    tio.c_cflag &= ~tcflag_t(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB);
    tio.c_cflag |= s.dataBits == 5 ? CS5 : s.dataBits == 6 ? CS6 : s.dataBits == 7 ? CS7 : CS8;
    if (s.stopBits == LineSettings::StopBits::Two)
        tio.c_cflag |= CSTOPB;
    switch (s.parity) {
    case LineSettings::Parity::None: break;
    case LineSettings::Parity::Even: tio.c_cflag |= PARENB; break;
    case LineSettings::Parity::Odd: tio.c_cflag |= PARENB | PARODD; break;
    case LineSettings::Parity::Mark: tio.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case LineSettings::Parity::Space: tio.c_cflag |= PARENB | CMSPAR; break;
    }
    return true;
}

}  // namespace

TtyScannerPort::TtyScannerPort(int fd, const QString& path, const std::optional<LineSettings>& settings)
    : fd_(fd), path_(path)
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
    if (settings) {
        QString refused;
        if (!framed(tio, *settings, refused)) {
            ::close(fd_);
            throw ScannerLost(QStringLiteral("%1: %2").arg(path_, refused).toStdString());
        }
    }
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
