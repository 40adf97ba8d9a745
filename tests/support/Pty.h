#pragma once
// A raw pseudo-terminal pair for tests: the test holds the master side and
// hands the slave path to the program as a serial device.

#include <QByteArray>
#include <QString>

class Pty {
public:
    Pty();
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    bool isValid() const { return master_ >= 0; }
    const QString& slavePath() const { return slavePath_; }
    int masterFd() const { return master_; }

    // Writes to the program's side of the line.
    void send(const QByteArray& bytes);
    // Reads what the program wrote, waiting at most timeoutMs for the first
    // byte and until the line is quiet for quietMs after it.
    QByteArray receive(int timeoutMs = 2000, int quietMs = 50);
    // Hangs the line up: the program's next write fails.
    void hangUp();

private:
    int master_ = -1;
    int keepSlave_ = -1;
    QString slavePath_;
};
