#include "Pty.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

Pty::Pty()
{
    // Close-on-exec: a child of the test must not hold either side of the line.
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0)
        return;
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
        ::close(master_);
        master_ = -1;
        return;
    }
    slavePath_ = QString::fromLocal8Bit(::ptsname(master_));
    // Held open so the line does not hang up whenever the program closes its side.
    keepSlave_ = ::open(::ptsname(master_), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios tio{};
    if (keepSlave_ >= 0 && ::tcgetattr(keepSlave_, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(keepSlave_, TCSANOW, &tio);
    }
}

Pty::~Pty()
{
    hangUp();
}

void Pty::send(const QByteArray& bytes)
{
    qsizetype done = 0;
    while (master_ >= 0 && done < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
}

QByteArray Pty::receive(int timeoutMs, int quietMs)
{
    QByteArray got;
    int wait = timeoutMs;
    while (master_ >= 0) {
        pollfd p{master_, POLLIN, 0};
        if (::poll(&p, 1, wait) <= 0 || !(p.revents & POLLIN))
            break;
        char buf[4096];
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n <= 0)
            break;
        got.append(buf, n);
        wait = quietMs;
    }
    return got;
}

void Pty::hangUp()
{
    if (keepSlave_ >= 0)
        ::close(keepSlave_);
    if (master_ >= 0)
        ::close(master_);
    keepSlave_ = master_ = -1;
}
