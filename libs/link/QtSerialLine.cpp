#include "QtSerialLine.h"

#include "DeviceNames.h"
#include "Errors.h"
#include "PortHolders.h"
#include "PortLocks.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QSet>
#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Devices this process holds: a second MSComm on the same device is refused
// even where the system would let root open it twice.
QMutex heldMutex;
QSet<QString> heldDevices;

QSerialPort::Parity toQt(LineSettings::Parity p)
{
    switch (p) {
    case LineSettings::Parity::None: return QSerialPort::NoParity;
    case LineSettings::Parity::Even: return QSerialPort::EvenParity;
    case LineSettings::Parity::Odd: return QSerialPort::OddParity;
    case LineSettings::Parity::Mark: return QSerialPort::MarkParity;
    case LineSettings::Parity::Space: return QSerialPort::SpaceParity;
    }
    return QSerialPort::NoParity;
}

QSerialPort::StopBits toQt(LineSettings::StopBits s)
{
    switch (s) {
    case LineSettings::StopBits::One: return QSerialPort::OneStop;
    case LineSettings::StopBits::OneAndHalf: return QSerialPort::OneAndHalfStop;
    case LineSettings::StopBits::Two: return QSerialPort::TwoStop;
    }
    return QSerialPort::OneStop;
}

// A write that the system does not take within this time counts as a dead line.
constexpr int kWriteStallMs = 5000;

}  // namespace

bool isSerialPort(const QString& devicePath)
{
    const QByteArray native = QFile::encodeName(devicePath);
    struct stat st {};
    if (::stat(native.constData(), &st) != 0 || !S_ISCHR(st.st_mode))
        return false;
    const int fd = ::open(native.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return true;  // cannot tell; the open's own reason stands
    const bool tty = ::isatty(fd) == 1;
    ::close(fd);
    return tty;
}

QString heldOrDeniedText(const QString& devicePath, bool accessDenied)
{
    if (!accessDenied) {
        const QString holders = portHolders(devicePath);
        return holders.isEmpty() ? QStringLiteral("%1 is in use by another program").arg(devicePath)
                                 : QStringLiteral("%1 is in use by another program: %2").arg(devicePath, holders);
    }
    struct stat st {};
    const bool known = ::stat(devicePath.toLocal8Bit().constData(), &st) == 0;
    if (known && st.st_gid == 0) {
        // Joining root's group would hand out far more than one port.
        return QStringLiteral("no permission to open %1, which belongs to root; the usual way is a udev rule "
                              "that gives the device to the group dialout (GROUP=\"dialout\", MODE=\"0660\") "
                              "and your user in the group dialout (sudo usermod -aG dialout $USER, then log in "
                              "again)")
            .arg(devicePath);
    }
    QString groupName;
    if (known) {
        if (const struct group* g = ::getgrgid(st.st_gid))
            groupName = QString::fromLocal8Bit(g->gr_name);
    }
    if (groupName.isEmpty())
        groupName = QStringLiteral("dialout");
    return QStringLiteral("no permission to open %1; add your user to the group '%2' "
                          "(sudo usermod -aG %2 $USER) and log in again")
        .arg(devicePath, groupName);
}

LineOpener qtSerialLineOpener(std::shared_ptr<PortBindings> ports)
{
    return [ports = std::move(ports)](short port, const LineSettings& settings) -> std::unique_ptr<SerialLine> {
        ports->update();
        return std::make_unique<QtSerialLine>(ports->devicePath(port), settings);
    };
}

QtSerialLine::QtSerialLine(const QString& devicePath, const LineSettings& settings)
    : path_(devicePath), heldKey_(deviceNode(devicePath)), settings_(settings)
{
    if (!QFileInfo::exists(path_))
        throw PelmoraError(ErrorNumber::InvalidPortNumber, QStringLiteral("no device %1").arg(path_));
    {
        QMutexLocker lock(&heldMutex);
        if (heldDevices.contains(heldKey_))
            throw PelmoraError(ErrorNumber::PortAlreadyOpen,
                               QStringLiteral("%1 is already open in this program").arg(path_));
    }

    // A file or a folder is no port; a character device is asked once open fails.
    struct stat st {};
    if (::stat(QFile::encodeName(path_).constData(), &st) == 0 && !S_ISCHR(st.st_mode))
        throw notSerialPort();
    if (isTerminalDevice(path_) == false)
        throw notSerialPort();
    // Everything about other programs is settled before the line is touched:
    // an open sets the line's modes for everyone who has it open (a reader
    // of another program then gets nothing back and takes it for a hang-up).
    // Another program's live lock is honoured, a stale one taken over.
    takePortLock(path_);
    QStringList holders;
    for (const PortHolder& holder : processesHolding(path_))
        holders << holder.describe();
    if (!holders.isEmpty())
        throw PelmoraError(ErrorNumber::PortAlreadyOpen, QStringLiteral("%1 is in use by another program: %2")
                                                             .arg(path_, holders.mid(0, 3).join(QStringLiteral(", "))));
    ownLocks_.claim(path_);

    // By its node: QSerialPort locks the name it opens, and a link's name may
    // be another device's elsewhere.
    port_.setPortName(heldKey_);
    port_.setBaudRate(settings.baud);
    port_.setParity(toQt(settings.parity));
    port_.setDataBits(static_cast<QSerialPort::DataBits>(settings.dataBits));
    port_.setStopBits(toQt(settings.stopBits));
    port_.setFlowControl(QSerialPort::NoFlowControl);

    if (!port_.open(QIODevice::ReadWrite)) {
        // A device that is there but cannot be used now (busy, denied, an
        // I/O error, not ready) is 8005 whatever the cause, so the scan goes
        // on past it; the system's reason goes with it.
        const QString why = port_.errorString();
        if (port_.error() == QSerialPort::DeviceNotFoundError)
            throw PelmoraError(ErrorNumber::InvalidPortNumber, QStringLiteral("no device %1").arg(path_));
        if (port_.error() == QSerialPort::PermissionError) {
            const bool denied = ::access(path_.toLocal8Bit().constData(), R_OK | W_OK) != 0 && errno == EACCES;
            throw PelmoraError(ErrorNumber::PortAlreadyOpen,
                               QStringLiteral("%1 (%2)").arg(heldOrDeniedText(path_, denied), why));
        }
        if (!isSerialPort(path_))
            throw notSerialPort();
        throw PelmoraError(ErrorNumber::PortAlreadyOpen,
                           QStringLiteral("%1 is there but cannot be used now: %2").arg(path_, why));
    }

    // Nobody else opens the line while we hold it (root excepted), and
    // programs that take it with flock (picocom and friends) keep it.
    const int fd = static_cast<int>(port_.handle());
    if (::ioctl(fd, TIOCEXCL) != 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        port_.close();
        throw PelmoraError(ErrorNumber::PortAlreadyOpen, heldOrDeniedText(path_, false));
    }
    // QSerialPort keeps its own buffer; bytes that arrived before we opened are not ours.
    port_.clear();

    QMutexLocker lock(&heldMutex);
    heldDevices.insert(heldKey_);
}

QtSerialLine::~QtSerialLine()
{
    if (port_.isOpen())
        port_.close();
    ownLocks_.release();
    QMutexLocker lock(&heldMutex);
    heldDevices.remove(heldKey_);
}

PelmoraError QtSerialLine::notSerialPort() const
{
    return PelmoraError(ErrorNumber::PortAlreadyOpen, QStringLiteral("%1 is not a serial port").arg(path_));
}

void QtSerialLine::lineLost()
{
    port_.close();
    throw lineLostError();
}

void QtSerialLine::write(const QByteArray& bytes)
{
    if (!port_.isOpen())
        throw PelmoraError(ErrorNumber::DeviceNotOpen, path_);
    if (port_.write(bytes) != bytes.size())
        lineLost();
    // Without an event loop QSerialPort only writes when asked to.
    QElapsedTimer stalled;
    stalled.start();
    while (port_.bytesToWrite() > 0) {
        if (port_.error() == QSerialPort::ResourceError || port_.error() == QSerialPort::WriteError)
            lineLost();
        if (!port_.flush() && port_.bytesToWrite() > 0) {
            if (stalled.elapsed() > kWriteStallMs) {
                // Nothing queued may reach a device that takes data again later.
                port_.clear(QSerialPort::Output);
                port_.close();
                throw PelmoraError(ErrorNumber::HardwareNotAvailable,
                                   QStringLiteral("the device stopped taking data for %1 s").arg(kWriteStallMs / 1000));
            }
            port_.waitForBytesWritten(10);
        }
    }
    if (port_.error() == QSerialPort::ResourceError || port_.error() == QSerialPort::WriteError)
        lineLost();
}

QByteArray QtSerialLine::readAvailable()
{
    if (!port_.isOpen())
        throw PelmoraError(ErrorNumber::DeviceNotOpen, path_);
    QByteArray all;
    for (;;) {
        port_.waitForReadyRead(0);
        if (port_.error() == QSerialPort::TimeoutError)
            port_.clearError();  // nothing waiting is no failure
        if (port_.error() == QSerialPort::ResourceError || port_.error() == QSerialPort::ReadError)
            lineLost();
        const QByteArray chunk = port_.readAll();
        if (chunk.isEmpty())
            break;
        all += chunk;
    }
    return all;
}

qint64 QtSerialLine::outputQueued()
{
    if (!port_.isOpen())
        return 0;
    int queued = 0;
    if (::ioctl(static_cast<int>(port_.handle()), TIOCOUTQ, &queued) != 0)
        return -1;
    return queued + port_.bytesToWrite();
}

void QtSerialLine::discardOutput()
{
    if (port_.isOpen())
        port_.clear(QSerialPort::Output);
}

std::optional<bool> QtSerialLine::modemLineAsserted(ModemLine line)
{
    const QSerialPort::PinoutSignals pins = port_.pinoutSignals();
    // A pseudo-terminal has no modem lines: the read fails.
    if (port_.error() != QSerialPort::NoError) {
        port_.clearError();
        return std::nullopt;
    }
    switch (line) {
    case ModemLine::Dsr: return pins.testFlag(QSerialPort::DataSetReadySignal);
    case ModemLine::Cts: return pins.testFlag(QSerialPort::ClearToSendSignal);
    case ModemLine::Dcd: return pins.testFlag(QSerialPort::DataCarrierDetectSignal);
    case ModemLine::Ri: return pins.testFlag(QSerialPort::RingIndicatorSignal);
    }
    return std::nullopt;
}

void QtSerialLine::drain(double maxSeconds)
{
    drain(maxSeconds, {});
}

void QtSerialLine::drain(double maxSeconds, const WaitServe& between)
{
    QElapsedTimer elapsed;
    elapsed.start();
    // A queue that cannot be read is waited out to the bound.
    while (outputQueued() != 0 && elapsed.elapsed() < maxSeconds * 1000.0) {
        if (between)
            between();
        QThread::usleep(1000);
    }
}
