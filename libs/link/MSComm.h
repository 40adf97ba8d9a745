#pragma once
// The serial-port component as the program uses it: five properties and
// nothing else of the device is visible to the window. The line itself is
// opened through a LineOpener, the real QSerialPort in production (by default
// over port numbers bound for this component's lifetime).

#include "LineSettings.h"
#include "SerialLine.h"

#include <QString>
#include <memory>

namespace MSCommLib {

class MSComm {
public:
    explicit MSComm(LineOpener opener = {});
    ~MSComm();
    MSComm(const MSComm&) = delete;
    MSComm& operator=(const MSComm&) = delete;

    // Port number 1 to 10; outside that, 8002. Takes effect at the next opening.
    short CommPort() const { return commPort_; }
    void setCommPort(short port);

    // "baud,parity,data,stop"; a text it cannot use is refused with 380.
    // Takes effect at the next opening.
    QString Settings() const { return settings_; }
    void setSettings(const QString& settings);

    bool PortOpen() const { return line_ != nullptr; }
    // true opens (8005 when already open), false closes (nothing when closed).
    void setPortOpen(bool open);

    // Each character goes out as one byte; 8018 when the port is closed.
    void setOutput(const QString& text);
    // Everything received and not yet read, in arrival order; never waits.
    QString Input();

    // Not one of the five: lets the written bytes leave the machine, bounded
    // by what they need at the line's speed plus a margin; `between` runs
    // every few milliseconds meanwhile. Returns the bytes still queued when
    // the bound ran out (0 when they left, or when the system cannot tell).
    qint64 drainOutput(const WaitServe& between = {});
    // Not one of the five: drops what is still queued for the line, so a
    // device that resumes later gets nothing more of it.
    void discardOutput();
    // Not one of the five: the number of the port that is open (CommPort may
    // have changed since), 0 when closed.
    short openedPort() const { return line_ ? openedPort_ : short(0); }
    // Not one of the five: whether a modem status line is asserted; nullopt
    // when the port is closed or the line cannot tell.
    std::optional<bool> modemLineAsserted(ModemLine line) { return line_ ? line_->modemLineAsserted(line) : std::nullopt; }

private:
    void dropLineAfterFailure();

    LineOpener opener_;
    short commPort_ = 1;
    QString settings_ = QStringLiteral("9600,n,8,1");
    LineSettings parsed_;
    std::unique_ptr<SerialLine> line_;
    LineSettings openedWith_;
    short openedPort_ = 0;
};

}  // namespace MSCommLib
