#include "PortsCommand.h"

#include "link/PortSelection.h"

#include <QStringList>
#include <algorithm>
#include <cstdio>

QString fixtureRule(const PortDirectory::Device& device, const QString& link)
{
    // "1-1.2:1.0 port 1" on adapters with several ports on one interface:
    // the interface is what the kernel matches.
    const QString place = device.identity.place.section(QLatin1Char(' '), 0, 0);
    if (place.isEmpty())
        return {};
    return QStringLiteral("SUBSYSTEM==\"tty\", KERNELS==\"%1\", SYMLINK+=\"%2\", ENV{ID_MM_DEVICE_IGNORE}=\"1\", "
                          "GROUP=\"dialout\", MODE=\"0660\"")
        .arg(place, link);
}

QString portsReport(const QList<PortDirectory::Device>& given)
{
    QList<PortDirectory::Device> devices = given;
    std::sort(devices.begin(), devices.end(),
              [](const auto& a, const auto& b) { return PortDirectory::naturalLess(a.path, b.path); });
    QString out;
    QStringList rules;
    int named = 0;
    for (const PortDirectory::Device& d : devices) {
        const PortDirectory::Identity& id = d.identity;
        const auto hex = [](const std::optional<quint16>& v) {
            return v ? QStringLiteral("%1").arg(*v, 4, 16, QLatin1Char('0')) : QStringLiteral("-");
        };
        out += QStringLiteral("%1  USB path %2  vendor %3  product %4  serial %5  %6\n")
                   .arg(d.path, id.place.isEmpty() ? QStringLiteral("-") : id.place, hex(id.vendorId), hex(id.productId),
                        id.serialNumber.isEmpty() ? QStringLiteral("-") : id.serialNumber, id.description);
        const QString link = QStringLiteral("rv7k-fixture-%1").arg(QChar(u'a' + std::min(named, 25)));
        const QString rule = fixtureRule(d, link);
        if (rule.isEmpty()) {
            rules << QStringLiteral("# %1: no USB path known; no rule can name it").arg(d.path);
            continue;
        }
        rules << QStringLiteral("# %1 (%2), as /dev/%3").arg(d.path, describeAdapter(id), link) << rule;
        ++named;
    }
    if (devices.isEmpty())
        return QStringLiteral("no serial ports\n");
    out += QStringLiteral("\n# /etc/udev/rules.d/60-pelmora-fixtures.rules: each adapter by the USB socket it is\n"
                          "# plugged into, so a fixture keeps its name whatever else is plugged in; rename the\n"
                          "# links to fit your bench, then: udevadm control --reload && udevadm trigger\n");
    out += rules.join(QLatin1Char('\n')) + QLatin1Char('\n');
    return out;
}

int runPortsCommand()
{
    QList<PortDirectory::Device> devices;
    if (const auto pinned = PortDirectory::pinnedPaths()) {
        for (const QString& path : *pinned)
            devices << PortDirectory::Device{path, {}};
    } else {
        devices = PortDirectory::systemPorts();
    }
    std::fputs(portsReport(devices).toLocal8Bit().constData(), stdout);
    return 0;
}
