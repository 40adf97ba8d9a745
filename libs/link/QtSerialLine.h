#pragma once
// The real serial line: QSerialPort driven without an event loop.

#include "Errors.h"
#include "PortBindings.h"
#include "PortLocks.h"
#include "SerialLine.h"

#include <QSerialPort>
#include <QString>
#include <memory>

class QtSerialLine final : public SerialLine {
public:
    // Opens the device or throws the numbered error that fits.
    QtSerialLine(const QString& devicePath, const LineSettings& settings);
    ~QtSerialLine() override;

    void write(const QByteArray& bytes) override;
    QByteArray readAvailable() override;
    void drain(double maxSeconds) override;
    void drain(double maxSeconds, const WaitServe& between) override;
    void discardOutput() override;
    qint64 outputQueued() override;
    std::optional<bool> modemLineAsserted(ModemLine line) override;

    const QString& devicePath() const { return path_; }

private:
    // Closes the port and throws 8010; what the system said then is left out.
    [[noreturn]] void lineLost();
    // 8005: a path that is there but no terminal device (a file, /dev/null).
    PelmoraError notSerialPort() const;

    QString path_;
    QString heldKey_;
    LineSettings settings_;
    QSerialPort port_;
    OwnPortLocks ownLocks_;
};

// Port number -> QtSerialLine at the device the number is bound to now.
LineOpener qtSerialLineOpener(std::shared_ptr<PortBindings> ports);

// Which text goes with a refused open of an existing device: access denied
// says how to get access (never by joining root's group), anything else says
// the device is held elsewhere, naming who holds it where the system tells.
QString heldOrDeniedText(const QString& devicePath, bool accessDenied);

// A terminal device (what a serial port is to the system). Opens a
// character device briefly to ask.
bool isSerialPort(const QString& devicePath);
