#include "Line.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace rv7k {

namespace {

// Raw 8-bit mode: no echo (our replies must not come back as input), no
// CR/NL translation (CR ends a frame), no flow control or signal characters.
bool makeRaw(int fd)
{
    termios t{};
    if (::tcgetattr(fd, &t) != 0)
        return false;
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF);
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB);
    t.c_cflag |= CS8 | CREAD | CLOCAL;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    return ::tcsetattr(fd, TCSANOW, &t) == 0;
}

bool setFlags(int fd)
{
    const int fl = ::fcntl(fd, F_GETFL);
    const int fdfl = ::fcntl(fd, F_GETFD);
    return fl >= 0 && fdfl >= 0 && ::fcntl(fd, F_SETFL, fl | O_NONBLOCK) == 0
        && ::fcntl(fd, F_SETFD, fdfl | FD_CLOEXEC) == 0;
}

std::string failure(const char* what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

} // namespace

Line::~Line()
{
    close();
}

bool Line::openPty(std::string& error)
{
    close();
    m_fd = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (m_fd < 0) {
        error = failure("posix_openpt");
        return false;
    }
    if (::grantpt(m_fd) != 0 || ::unlockpt(m_fd) != 0) {
        error = failure("grantpt/unlockpt");
        close();
        return false;
    }
    const char* name = ::ptsname(m_fd);
    if (!name) {
        error = failure("ptsname");
        close();
        return false;
    }
    m_path = name;
    // Holding the slave open ourselves keeps the master alive while the program
    // on the other end closes and reopens the port; otherwise the master would
    // read EIO the moment the last user of the slave lets go.
    m_keepSlave = ::open(m_path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_keepSlave < 0) {
        error = failure(("open " + m_path).c_str());
        close();
        return false;
    }
    if (!makeRaw(m_keepSlave) || !setFlags(m_fd)) {
        error = failure("setting up the pseudo-terminal");
        close();
        return false;
    }
    m_isPty = true;
    return true;
}

bool Line::openDevice(const std::string& path, std::string& error)
{
    close();
    m_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0) {
        error = failure(("open " + path).c_str());
        return false;
    }
    if (!::isatty(m_fd) || !makeRaw(m_fd)) {
        error = path + " is not a terminal that can be put in raw mode";
        close();
        return false;
    }
    m_path = path;
    m_isPty = false;
    return true;
}

void Line::hangUp()
{
    if (m_fd >= 0 && !m_isPty) {
        // On a real line, speed 0 drops the modem lines: the other end's hangup.
        termios t{};
        if (::tcgetattr(m_fd, &t) == 0) {
            ::cfsetospeed(&t, B0);
            ::tcsetattr(m_fd, TCSANOW, &t);
        }
    }
    close();
}

void Line::close()
{
    // The master goes first: the slave's users see the hangup, not our slave hold.
    if (m_fd >= 0)
        ::close(m_fd);
    if (m_keepSlave >= 0)
        ::close(m_keepSlave);
    m_fd = -1;
    m_keepSlave = -1;
}

} // namespace rv7k
