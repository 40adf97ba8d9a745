#pragma once
// The names one serial device goes by: its node and every link that resolves
// to it where udev and administrators put links. Another program locks a line
// under whichever of these names it opened it by, so all of them count.

#include <QString>
#include <QStringList>
#include <optional>
#include <sys/types.h>

// The device number of the character device path resolves to; nullopt when
// it is none. Never opens it.
std::optional<dev_t> characterDevice(const QString& path);

// Whether the character device at path is a terminal (what a serial port is
// to the system), as the kernel's device tree says without opening it;
// nullopt when it does not say.
std::optional<bool> isTerminalDevice(const QString& path);

// The node path resolves to ("/dev/ttyUSB0"); path itself when it does not.
QString deviceNode(const QString& path);

// path, its node, then every entry that resolves to the same character device
// in /dev, /dev/serial/by-id, /dev/serial/by-path, the folder path is in and
// the folders PELMORA_LINK_DIRS names (':'-separated, for tests). Only those
// folders' own entries are looked at, nothing below them.
QStringList namesOfDevice(const QString& path);
