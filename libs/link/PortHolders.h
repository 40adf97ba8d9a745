#pragma once
// Which other programs hold a serial device, as far as the system tells: the
// live lock files of the line (PortLocks.h) and the open files of the
// processes we may look into. Other users' processes stay unseen to a user
// who is not root.

#include <QList>
#include <QString>

struct PortHolder {
    qint64 pid = 0;
    QString name;         // "screen"
    QString commandLine;  // "SCREEN -dmS x /dev/pts/7", shortened
    // "screen (process 4711: SCREEN -dmS x /dev/pts/7)"
    QString describe() const;
};

// The processes other than this one that have the device open. The far end
// of a pseudo-terminal, the process holding its master side, plays the device
// and is left out even where it keeps the slave side open too.
QList<PortHolder> processesHolding(const QString& devicePath);

// The live lock files' holders and the processes that have the device open,
// described, several joined by ", "; empty when the system does not say.
QString portHolders(const QString& devicePath);
