#pragma once
// The serial devices there are right now: the system's list, each device with
// its identity where the system gives one, or the paths PELMORA_PORTS pins
// (comma-separated, entry k is port k). Which number stands for which device
// for the rest of the run is PortBindings' business.

#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <functional>
#include <optional>

namespace PortDirectory {
inline constexpr char kEnvironmentVariable[] = "PELMORA_PORTS";

// What tells one adapter from another, as far as the system knows it.
struct Identity {
    std::optional<quint16> vendorId;
    std::optional<quint16> productId;
    QString serialNumber;
    QString description;
    // The socket it is plugged into, as the kernel names it ("1-1.2:1.0", with
    // " port N" on adapters with several ports on one interface); empty where
    // the system does not say.
    QString place = {};

    // An adapter, not a built-in port: it may come back under another name.
    bool isKnown() const { return vendorId || productId || !serialNumber.isEmpty(); }
    // Something beyond the model: a serial number, else the place.
    bool tellsApart() const { return !serialNumber.isEmpty() || !place.isEmpty(); }
    // The same adapter as far as the system can tell: the same model and
    // serial number; without a serial number, also the same place, so a
    // look-alike in another socket is another adapter.
    bool sameAdapter(const Identity& other) const
    {
        return vendorId == other.vendorId && productId == other.productId && serialNumber == other.serialNumber &&
               description == other.description && (!serialNumber.isEmpty() || place == other.place);
    }
};

struct Device {
    QString path;
    Identity identity;
};

// The system's serial devices now, in any order.
using Lister = std::function<QList<Device>()>;

// QSerialPortInfo::availablePorts(), each with its place.
QList<Device> systemPorts();
// Where the tty `ttyName` is plugged in, from its device link in the tty
// class folder of sysfs.
QString physicalPlace(const QString& ttyName, const QString& ttyClassDir = QStringLiteral("/sys/class/tty"));
// The paths PELMORA_PORTS names, blanks trimmed; nothing when it is not set.
std::optional<QStringList> pinnedPaths();
// Natural ordering, runs of digits compared as numbers:
// /dev/ttyACM0, /dev/ttyS0, /dev/ttyS2, /dev/ttyS10, /dev/ttyUSB0.
bool naturalLess(const QString& a, const QString& b);
}  // namespace PortDirectory
