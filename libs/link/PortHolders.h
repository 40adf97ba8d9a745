#pragma once
// Which other programs hold a serial device, as far as the system tells: the
// lock file a serial program leaves (/var/lock/LCK..ttyUSB0, QSerialPort's
// among them) and the open files of the processes we may look into.

#include <QString>

// "picocom (process 4711)", several joined by ", "; empty when the system
// does not say.
QString portHolders(const QString& devicePath);
