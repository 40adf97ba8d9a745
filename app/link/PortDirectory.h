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

    // Enough to find the adapter again under another device name.
    bool isKnown() const { return vendorId || productId || !serialNumber.isEmpty(); }
    bool operator==(const Identity&) const = default;
};

struct Device {
    QString path;
    Identity identity;
};

// The system's serial devices now, in any order.
using Lister = std::function<QList<Device>()>;

// QSerialPortInfo::availablePorts().
QList<Device> systemPorts();
// The paths PELMORA_PORTS names, blanks trimmed; nothing when it is not set.
std::optional<QStringList> pinnedPaths();
// Natural ordering, runs of digits compared as numbers:
// /dev/ttyACM0, /dev/ttyS0, /dev/ttyS2, /dev/ttyS10, /dev/ttyUSB0.
bool naturalLess(const QString& a, const QString& b);
}  // namespace PortDirectory
