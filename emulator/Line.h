#pragma once

#include <string>

namespace rv7k {

// The serial line the emulator serves: the master side of a pseudo-terminal,
// or a tty given by path. Non-blocking, raw.
class Line {
public:
    Line() = default;
    Line(const Line&) = delete;
    Line& operator=(const Line&) = delete;
    ~Line();

    bool openPty(std::string& error);
    bool openDevice(const std::string& path, std::string& error);

    int fd() const { return m_fd; }
    const std::string& path() const { return m_path; }

    // Drops the line so the other end sees a hangup.
    void hangUp();
    void close();

private:
    int m_fd = -1;
    int m_keepSlave = -1;  // our own hold on the slave side, see openPty
    bool m_isPty = false;
    std::string m_path;
};

} // namespace rv7k
