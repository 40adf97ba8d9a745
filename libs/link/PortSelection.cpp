#include "link/PortSelection.h"

#include "link/Errors.h"
#include "link/PortBindings.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

namespace {

QString canonical(const QString& path)
{
    const QString c = QFileInfo(path).canonicalFilePath();
    return c.isEmpty() ? path : c;
}

PortDirectory::Identity identityAt(const QString& path, const QList<PortDirectory::Device>& devices)
{
    const QString wanted = canonical(path);
    for (const PortDirectory::Device& d : devices)
        if (canonical(d.path) == wanted)
            return d.identity;
    return {};
}

std::optional<quint16> hexId(const QString& text)
{
    bool ok = false;
    const uint value = text.toUInt(&ok, 16);
    if (!ok || text.size() > 4)
        return std::nullopt;
    return quint16(value);
}

[[noreturn]] void refuse(const QString& text)
{
    throw SelectorRefused(text.toStdString());
}

ChosenPort byUsbIdentity(const QString& selector, const QList<PortDirectory::Device>& devices)
{
    const QStringList parts = selector.mid(4).split(QLatin1Char(':'));
    const auto vendor = parts.size() >= 2 ? hexId(parts[0]) : std::nullopt;
    const auto product = parts.size() >= 2 ? hexId(parts[1]) : std::nullopt;
    if (!vendor || !product || parts.size() > 3)
        refuse(QStringLiteral("%1: expected usb:VID:PID or usb:VID:PID:SERIAL, ids in hexadecimal").arg(selector));
    QList<PortDirectory::Device> matches;
    for (const PortDirectory::Device& d : devices) {
        if (d.identity.vendorId != vendor || d.identity.productId != product)
            continue;
        if (parts.size() == 3 && d.identity.serialNumber != parts[2])
            continue;
        matches << d;
    }
    if (matches.isEmpty())
        refuse(QStringLiteral("%1: no adapter with that identity is plugged in (--list-ports shows what is)")
                   .arg(selector));
    if (matches.size() > 1) {
        // Offer the serial number where it tells the candidates apart, else the path.
        QStringList candidates;
        for (const PortDirectory::Device& d : matches) {
            int sameSerial = 0;
            for (const PortDirectory::Device& o : matches)
                sameSerial += o.identity.serialNumber == d.identity.serialNumber ? 1 : 0;
            const QString unique = !d.identity.serialNumber.isEmpty() && sameSerial == 1 ? usbSelector(d.identity)
                                                                                          : d.path;
            candidates << QStringLiteral("--port %1 (%2)").arg(unique, d.path);
        }
        std::sort(candidates.begin(), candidates.end());
        refuse(QStringLiteral("%1 fits %2 adapters; choose one: %3")
                   .arg(selector)
                   .arg(matches.size())
                   .arg(candidates.join(QStringLiteral(", "))));
    }
    return {selector, matches.first().path, matches.first().identity};
}

}  // namespace

QString usbSelector(const PortDirectory::Identity& identity)
{
    if (!identity.vendorId || !identity.productId)
        return {};
    QString text = QStringLiteral("usb:%1:%2")
                       .arg(*identity.vendorId, 4, 16, QLatin1Char('0'))
                       .arg(*identity.productId, 4, 16, QLatin1Char('0'));
    if (!identity.serialNumber.isEmpty())
        text += QLatin1Char(':') + identity.serialNumber;
    return text;
}

QString describeAdapter(const PortDirectory::Identity& identity)
{
    QStringList parts;
    if (!identity.description.isEmpty())
        parts << identity.description;
    if (const QString usb = usbSelector(identity); !usb.isEmpty())
        parts << usb;
    if (!identity.place.isEmpty())
        parts << QStringLiteral("socket %1").arg(identity.place);
    return parts.join(QStringLiteral(", "));
}

QList<ChosenPort> choosePorts(const QStringList& selectors, const PortDirectory::Lister& systemPorts)
{
    const QList<PortDirectory::Device> devices = systemPorts();
    PortBindings numbers([&devices] { return devices; });
    numbers.update();
    QList<ChosenPort> chosen;
    QSet<QString> taken;
    for (const QString& selector : selectors) {
        ChosenPort port;
        bool isNumber = false;
        const int n = selector.toInt(&isNumber);
        if (selector.startsWith(QStringLiteral("usb:"))) {
            port = byUsbIdentity(selector, devices);
        } else if (isNumber) {
            if (n < PortBindings::kLowest || n > PortBindings::kHighest)
                refuse(QStringLiteral("%1: port numbers run from 1 to 10").arg(selector));
            try {
                port = {selector, numbers.devicePath(n), {}};
            } catch (const PelmoraError& error) {
                refuse(QStringLiteral("port %1: %2").arg(selector, error.report()));
            }
            port.identity = identityAt(port.path, devices);
        } else {
            if (!QFileInfo::exists(selector))
                refuse(QStringLiteral("%1: no such device (--list-ports shows the ports there are)").arg(selector));
            port = {selector, selector, identityAt(selector, devices)};
        }
        const QString key = canonical(port.path);
        if (taken.contains(key))
            refuse(QStringLiteral("%1: %2 is named twice; each device loads once").arg(selector, port.path));
        taken.insert(key);
        chosen << port;
    }
    return chosen;
}

QString portListing(bool json, const PortDirectory::Lister& systemPorts)
{
    const QList<PortDirectory::Device> devices = systemPorts();
    PortBindings numbers([&devices] { return devices; });
    numbers.update();
    QString out;
    for (int n : numbers.present()) {
        const QString path = numbers.devicePath(n);
        const PortDirectory::Identity id = identityAt(path, devices);
        if (json) {
            QJsonObject line{{QStringLiteral("port"), n},
                             {QStringLiteral("path"), path},
                             {QStringLiteral("description"), id.description},
                             {QStringLiteral("serial"), id.serialNumber},
                             {QStringLiteral("socket"), id.place},
                             {QStringLiteral("selector"), usbSelector(id)}};
            if (id.vendorId)
                line.insert(QStringLiteral("vid"), QStringLiteral("%1").arg(*id.vendorId, 4, 16, QLatin1Char('0')));
            if (id.productId)
                line.insert(QStringLiteral("pid"), QStringLiteral("%1").arg(*id.productId, 4, 16, QLatin1Char('0')));
            out += QString::fromUtf8(QJsonDocument(line).toJson(QJsonDocument::Compact)) + QLatin1Char('\n');
        } else {
            const QString adapter = describeAdapter(id);
            out += QStringLiteral("%1  %2%3\n").arg(n, 2).arg(path, adapter.isEmpty() ? QString() : QStringLiteral("  ") + adapter);
        }
    }
    return out;
}
