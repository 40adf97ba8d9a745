#include "PortDirectory.h"

#include <QFile>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <QtGlobal>

namespace PortDirectory {

bool naturalLess(const QString& a, const QString& b)
{
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            const qsizetype si = i, sj = j;
            while (i < a.size() && a[i].isDigit())
                ++i;
            while (j < b.size() && b[j].isDigit())
                ++j;
            const qulonglong x = a.mid(si, i - si).toULongLong();
            const qulonglong y = b.mid(sj, j - sj).toULongLong();
            if (x != y)
                return x < y;
            continue;
        }
        if (a[i] != b[j])
            return a[i] < b[j];
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

std::optional<QStringList> pinnedPaths()
{
    if (!qEnvironmentVariableIsSet(kEnvironmentVariable))
        return std::nullopt;
    QStringList paths;
    for (const QString& p : qEnvironmentVariable(kEnvironmentVariable).split(QLatin1Char(',')))
        paths << p.trimmed();
    return paths;
}

QString physicalPlace(const QString& ttyName, const QString& ttyClassDir)
{
    const QString device = QFileInfo(ttyClassDir + QLatin1Char('/') + ttyName + QStringLiteral("/device")).canonicalFilePath();
    if (device.isEmpty())
        return {};
    const QFileInfo info(device);
    if (info.fileName() != ttyName)
        return info.fileName();  // the USB interface (ttyACM) or the PCI/platform device
    // USB serial converters put a port device named after the tty under the
    // interface; that name moves with the plugging order, its interface does not.
    QString place = QFileInfo(info.path()).fileName();
    QFile portNumber(device + QStringLiteral("/port_number"));
    if (portNumber.open(QIODevice::ReadOnly))
        place += QStringLiteral(" port ") + QString::fromLatin1(portNumber.readAll()).trimmed();
    return place;
}

QList<Device> systemPorts()
{
    QList<Device> devices;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        Device d;
        d.path = info.systemLocation();
        if (info.hasVendorIdentifier())
            d.identity.vendorId = info.vendorIdentifier();
        if (info.hasProductIdentifier())
            d.identity.productId = info.productIdentifier();
        d.identity.serialNumber = info.serialNumber();
        d.identity.description = info.description();
        d.identity.place = physicalPlace(info.portName());
        devices << d;
    }
    return devices;
}

}  // namespace PortDirectory
