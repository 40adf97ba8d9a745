#pragma once
// Which other programs hold a serial device, as far as the system tells: the
// lock file a serial program leaves (/run/lock/LCK..ttyUSB0, QSerialPort's
// among them) and the open files of the processes we may look into.

#include <QString>
#include <functional>

// "picocom (process 4711)", several joined by ", "; empty when the system
// does not say.
QString portHolders(const QString& devicePath);

// The device's lock file as another program left it: the pid in text
// ("%10d\n", UUCP and lockdev style), as a native binary int, or Qt's
// "pid\nprogram\nhost\nboot id\n" (a lock of Qt's whose pid now runs another
// program, or from before the last start, is stale). The folders looked in are the usual lock folders,
// or the one PELMORA_LOCK_DIR names.
struct PortLock {
    QString path;    // empty: no lock file
    qint64 pid = 0;  // 0: empty or unreadable
    bool alive = false;
    QString holder;  // "picocom (process 4711)" while alive
    QString why;     // why it is stale: "its process 4711 is gone"
};
PortLock findPortLock(const QString& devicePath);

// Honours a live lock: throws 8005 naming the lock file and its holder. A
// lock whose process is gone, or that names none, is removed, and the notice
// handler is told so.
void takePortLock(const QString& devicePath);

// Where notices go that do not stop anything (a stale lock taken over); by
// default qWarning. The handler may be called from any thread.
void setPortNoticeHandler(std::function<void(const QString&)> handler);
