#pragma once
// The real serial line: QSerialPort driven without an event loop.

#include "SerialLine.h"

#include <QSerialPort>
#include <QString>

class QtSerialLine final : public SerialLine {
public:
    // Opens the device or throws the numbered error that fits.
    QtSerialLine(const QString& devicePath, const LineSettings& settings);
    ~QtSerialLine() override;

    void write(const QByteArray& bytes) override;
    QByteArray readAvailable() override;
    void drain(double maxSeconds) override;
    void drain(double maxSeconds, const WaitServe& between) override;
    qint64 outputQueued() override;

    const QString& devicePath() const { return path_; }

private:
    [[noreturn]] void lineLost(const QString& during);

    QString path_;
    QString heldKey_;
    LineSettings settings_;
    QSerialPort port_;
};

// Port number -> QtSerialLine through PortDirectory.
std::unique_ptr<SerialLine> openQtSerialLine(short port, const LineSettings& settings);

// Which text goes with a refused open of an existing device: access denied
// says how to get access, anything else says the device is held elsewhere.
QString heldOrDeniedText(const QString& devicePath, bool accessDenied);
