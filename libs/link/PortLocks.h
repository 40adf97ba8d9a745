#pragma once
// Lock files on a serial line, as every kind of serial program writes them.
//
// A program names its lock after the path it opened the line by: terminal
// programs by the path's last part (LCK..ttyUSB0, LCK..rv7k-bench1, LCK..7
// for /dev/pts/7), Qt by the path below /dev with '/' as '_' (LCK..pts_7).
// The line may have been opened by the device or by any link that resolves
// to it (DeviceNames.h), so every one of those names is looked at. Layouts read: text ("%10d\n",
// UUCP and lockdev), a native binary pid, and Qt's (pid, program, host,
// machine id, boot id; older Qt: the first three lines). The folders looked
// in are the usual lock folders, or the one PELMORA_LOCK_DIR names.

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

struct PortLock {
    QString path;
    qint64 pid = 0;      // 0: names no process
    bool alive = false;  // a holder that is (or may be) running: honoured
    bool refused = false;  // cannot be judged (no regular file, unreadable): honoured
    QString holder;      // "picocom (process 4711)" while alive
    QString why;         // why it is stale, or why it cannot be judged
    QByteArray content;  // what was judged
};

// "LCK..NAME" for each name a program may have locked the line under.
QStringList portLockNames(const QString& devicePath);

// Reads one lock file's content; the layout is decided from its size and
// bytes together (a binary pid always holds a NUL, text never does).
void readPortLock(const QByteArray& content, PortLock& lock);

// Every lock file present for the line. A lock file is opened without
// blocking and only if it is a regular file in its lock folder.
QList<PortLock> findPortLocks(const QString& devicePath);

// Honours every live lock, and every lock that cannot be judged: throws 8005
// naming the lock file and its holder or the reason, leaving every file as it
// was. Only when all are proven dead are they removed, the notice handler
// told of each.
void takePortLock(const QString& devicePath);

// Removes a lock judged stale, unless it was rewritten since: then it is
// judged again and, live or not to be judged, honoured with 8005.
void removeStaleLock(const QString& devicePath, const PortLock& stale);

// Where notices go that do not stop anything (a stale lock taken over); by
// default qWarning. The handler may be called from any thread.
void setPortNoticeHandler(std::function<void(const QString&)> handler);

// The lock files Pelmora writes itself before it opens the line, besides the
// one QSerialPort writes under the Qt name of the device node it opens: under
// the node's last part where that differs (LCK..7 for /dev/pts/7), never
// under a link's name, which may be another device's on another link.
// Removed when released, if they are still ours.
class OwnPortLocks {
public:
    OwnPortLocks() = default;
    OwnPortLocks(const OwnPortLocks&) = delete;
    OwnPortLocks& operator=(const OwnPortLocks&) = delete;
    ~OwnPortLocks() { release(); }

    // Throws 8005 when another program took one of the names meanwhile, or
    // when the lock folder cannot be written (naming it and why); nothing of
    // ours is left then.
    void claim(const QString& devicePath);
    void release();

private:
    QStringList paths_;
};
