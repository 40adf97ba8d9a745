#include "PortsCommand.h"

#include "link/PortSelection.h"

#include <QStringList>
#include <algorithm>
#include <cstdio>

QString fixtureRule(const PortDirectory::Device& device, const QString& link)
{
    const QString place = device.identity.place.section(QLatin1Char(' '), 0, 0);
    if (place.isEmpty())
        return {};
    const QString names = QStringLiteral("SYMLINK+=\"%1\", ENV{ID_MM_DEVICE_IGNORE}=\"1\", GROUP=\"dialout\", MODE=\"0660\"")
                              .arg(link);
    // "1-1.2:1.0 port 1": a converter whose ports share one interface. The
    // interface and the port number sit on two different parents, which
    // one udev rule cannot match together: the first rule marks the
    // interface, the second picks the port under it.
    const QString port = device.identity.place.section(QStringLiteral(" port "), 1, 1);
    if (port.isEmpty())
        return QStringLiteral("SUBSYSTEM==\"tty\", KERNELS==\"%1\", %2").arg(place, names);
    return QStringLiteral("SUBSYSTEM==\"tty\", KERNELS==\"%1\", ENV{PELMORA_USB_INTERFACE}=\"%1\"\n"
                          "SUBSYSTEM==\"tty\", ENV{PELMORA_USB_INTERFACE}==\"%1\", ATTRS{port_number}==\"%2\", %3")
        .arg(place, port, names);
}

// a ... z, then aa, ab ...: never the same name twice.
QString fixtureLinkName(int index)
{
    QString letters;
    for (int n = index + 1; n > 0; n = (n - 1) / 26)
        letters.prepend(QChar(u'a' + (n - 1) % 26));
    return QStringLiteral("rv7k-fixture-") + letters;
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
        const QString link = fixtureLinkName(named);
        const QString rule = fixtureRule(d, link);
        if (rule.isEmpty()) {
            rules << QStringLiteral("# %1: no USB path known; no rule can name it").arg(d.path);
            continue;
        }
        rules << QStringLiteral("# %1 (%2), as /dev/%3").arg(d.path, describeAdapter(id), link);
        // Ports of one interface share its marking rule: once is enough.
        for (const QString& line : rule.split(QLatin1Char('\n')))
            if (!rules.contains(line))
                rules << line;
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
