#pragma once
// Which device stands behind port number n. PELMORA_PORTS (comma-separated
// device paths, entry k is port k) replaces the system's list when set;
// otherwise port n is the n-th serial port the system reports, in natural
// order of the device path (/dev/ttyACM0, /dev/ttyS0, /dev/ttyS2, /dev/ttyS10, /dev/ttyUSB0).

#include <QString>
#include <QStringList>

namespace PortDirectory {
inline constexpr char kEnvironmentVariable[] = "PELMORA_PORTS";

// Device paths for ports 1, 2, ... in order.
QStringList devicePaths();
// The device of port n, or an empty text when no device stands behind it.
QString deviceFor(int portNumber);
// Natural ordering, digits compared as numbers.
QStringList naturallySorted(QStringList paths);
}  // namespace PortDirectory
