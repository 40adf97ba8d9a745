#pragma once
// Which other programs hold a serial device, as far as the system tells: the
// live lock files of the line (PortLocks.h) and the open files of the
// processes we may look into.

#include <QString>

// "picocom (process 4711)", several joined by ", "; empty when the system
// does not say.
QString portHolders(const QString& devicePath);
