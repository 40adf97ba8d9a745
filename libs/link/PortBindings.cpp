#include "PortBindings.h"

#include "Errors.h"

#include <QFileInfo>
#include <QSet>
#include <algorithm>

namespace {

QString hex4(quint16 value)
{
    return QStringLiteral("%1").arg(value, 4, 16, QLatin1Char('0'));
}

// How the operator knows the adapter: "USB serial adapter FT232R USB UART,
// serial A1B2C3".
QString adapterName(const PortDirectory::Identity& id)
{
    QString name = id.vendorId ? QStringLiteral("USB serial adapter") : QStringLiteral("serial adapter");
    if (!id.description.isEmpty())
        name += QLatin1Char(' ') + id.description;
    else if (id.vendorId && id.productId)
        name += QLatin1Char(' ') + hex4(*id.vendorId) + QLatin1Char(':') + hex4(*id.productId);
    if (!id.serialNumber.isEmpty())
        name += QStringLiteral(", serial ") + id.serialNumber;
    else if (id.vendorId)
        name += QStringLiteral(" (no serial number)");
    return name;
}

}  // namespace

PortBindings::PortBindings(PortDirectory::Lister systemPorts) : list_(std::move(systemPorts)) {}

void PortBindings::update()
{
    QList<PortDirectory::Device> now = list_ ? list_() : QList<PortDirectory::Device>{};
    std::stable_sort(now.begin(), now.end(), [](const PortDirectory::Device& a, const PortDirectory::Device& b) {
        return PortDirectory::naturalLess(a.path, b.path);
    });
    if (const std::optional<QStringList> pinned = PortDirectory::pinnedPaths())
        updatePinned(*pinned, now);
    else
        updateBound(now);
}

void PortBindings::updateBound(const QList<PortDirectory::Device>& now)
{
    pinned_.reset();
    QSet<QString> taken;
    // Bound adapters still where they were.
    for (std::optional<Binding>& b : bound_) {
        if (!b)
            continue;
        b->present = !b->unbindable && !taken.contains(b->path) &&
                     std::any_of(now.begin(), now.end(), [&](const PortDirectory::Device& d) {
                         return d.path == b->path && d.identity.sameAdapter(b->identity);
                     });
        if (b->present)
            taken.insert(b->path);
    }
    // Re-plugged adapters under another name; only an identity can tell. One
    // that cannot be told apart is not bound again, not even at its old name.
    for (int n = kLowest; n <= kHighest; ++n) {
        std::optional<Binding>& b = bound_[n - kLowest];
        if (!b || b->present || b->unbindable || !b->identity.isKnown())
            continue;
        if (isAmbiguous(n)) {
            b->unbindable = true;
            continue;
        }
        QStringList candidates;
        for (const PortDirectory::Device& d : now)
            if (!taken.contains(d.path) && d.identity.sameAdapter(b->identity))
                candidates << d.path;
        if (candidates.size() != 1)
            continue;  // a serial number that several adapters share tells nothing
        b->path = candidates.front();
        b->present = true;
        taken.insert(b->path);
    }
    // Devices seen for the first time take the lowest numbers never given out.
    auto unused = bound_.begin();
    for (const PortDirectory::Device& d : now) {
        if (taken.contains(d.path))
            continue;
        unused = std::find_if(unused, bound_.end(), [](const std::optional<Binding>& b) { return !b; });
        if (unused == bound_.end())
            break;  // ten numbers given out: the rest go unnumbered this run
        *unused = Binding{d.path, d.identity, true};
        taken.insert(d.path);
    }
}

QList<int> PortBindings::lookAlikes(int n) const
{
    QList<int> alike;
    const std::optional<Binding>& b = at(n);
    for (int k = kLowest; b && k <= kHighest; ++k)
        if (k != n && at(k) && at(k)->identity.sameAdapter(b->identity))
            alike << k;
    return alike;
}

bool PortBindings::isAmbiguous(int n) const
{
    const std::optional<Binding>& b = at(n);
    return b && b->identity.isKnown() && (!b->identity.tellsApart() || !lookAlikes(n).isEmpty());
}

void PortBindings::throwUnbindable(int n) const
{
    const Binding& b = *at(n);
    QStringList others;
    for (const int k : lookAlikes(n))
        others << QStringLiteral("port %1 (%2%3)").arg(QString::number(k), at(k)->path,
                                                      at(k)->present ? QString() : QStringLiteral(", gone"));
    const QString from = others.isEmpty() ? QStringLiteral("a new adapter of its model")
                                          : others.join(QStringLiteral(" and "));
    throw PelmoraError(
        ErrorNumber::InvalidPortNumber,
        QStringLiteral("%1 of port %2 (last seen as %3) was unplugged, and it cannot be told apart from %4, so "
                       "its number is not bound again on a guess. Pin the ports: set PELMORA_PORTS to their "
                       "/dev/serial/by-path links (ls -l /dev/serial/by-path shows which socket is which), or "
                       "name each cable with a udev rule; then restart Pelmora")
            .arg(adapterName(b.identity), QString::number(n), b.path, from));
}

void PortBindings::updatePinned(const QStringList& paths, const QList<PortDirectory::Device>& now)
{
    Table pinned;
    for (int k = 0; k < kHighest && k < paths.size(); ++k) {
        Binding b{paths[k], {}, QFileInfo::exists(paths[k])};
        // A udev link names the device the system lists; its identity is for the tooltip.
        const QString target = QFileInfo(paths[k]).canonicalFilePath();
        for (const PortDirectory::Device& d : now)
            if (!target.isEmpty() && QFileInfo(d.path).canonicalFilePath() == target)
                b.identity = d.identity;
        pinned[k] = b;
    }
    pinned_ = pinned;
}

const std::optional<PortBindings::Binding>& PortBindings::at(int n) const
{
    static const std::optional<Binding> none;
    return n < kLowest || n > kHighest ? none : table()[n - kLowest];
}

QList<int> PortBindings::present() const
{
    QList<int> numbers;
    for (int n = kLowest; n <= kHighest; ++n)
        if (at(n) && at(n)->present)
            numbers << n;
    return numbers;
}

QString PortBindings::devicePath(int n) const
{
    const std::optional<Binding>& b = at(n);
    if (!b)
        throw PelmoraError(ErrorNumber::InvalidPortNumber, QStringLiteral("no serial device for port %1").arg(n));
    // A pinned path is what it is; opening it says whether a device is there.
    if (b->present || pinned_)
        return b->path;
    if (b->unbindable)
        throwUnbindable(n);
    if (b->identity.isKnown()) {
        const QString comma = b->identity.serialNumber.isEmpty() ? QString() : QStringLiteral(",");
        // Without a serial number the socket is part of what the adapter is.
        const QString where = b->identity.serialNumber.isEmpty() && !b->identity.place.isEmpty()
                                  ? QStringLiteral(" at its socket ") + b->identity.place
                                  : QString();
        throw PelmoraError(ErrorNumber::InvalidPortNumber,
                           QStringLiteral("%1%2 is not plugged in%3 (port %4, last seen as %5)")
                               .arg(adapterName(b->identity), comma, where, QString::number(n), b->path));
    }
    throw PelmoraError(ErrorNumber::InvalidPortNumber,
                       QStringLiteral("the device %1 of port %2 is not there any more").arg(b->path, QString::number(n)));
}

QString PortBindings::describe(int n) const
{
    const std::optional<Binding>& b = at(n);
    if (!b)
        return {};
    QString text = b->path;
    if (!b->identity.description.isEmpty())
        text += QLatin1Char('\n') + b->identity.description;
    if (!b->identity.serialNumber.isEmpty())
        text += QStringLiteral("\nserial number ") + b->identity.serialNumber;
    if (!b->identity.place.isEmpty())
        text += QStringLiteral("\nsocket ") + b->identity.place;
    if (isAmbiguous(n)) {
        QStringList others;
        for (const int k : lookAlikes(n))
            others << QString::number(k);
        text += others.isEmpty() ? QStringLiteral("\nlooks like any other adapter of its model; pin it to keep its "
                                                  "number when it is re-plugged")
                                 : QStringLiteral("\ncannot be told apart from port %1; pin them to keep their "
                                                  "numbers when they are re-plugged")
                                       .arg(others.join(QStringLiteral(", ")));
    }
    return text;
}
