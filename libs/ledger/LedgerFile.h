#pragma once
// A station's ledger file: what it is (its station, its machine, the
// version of its tables), the claim a station holds on it, and a connection
// to it for each thread that reads or writes it.

#include "ledger/SqliteConnection.h"

#include <QMutex>
#include <QPointer>
#include <QString>
#include <QThread>
#include <map>
#include <memory>

namespace Ledger {

// How a station opens its ledger.
struct StationOpening {
    // Where this machine's id is read (a seam: tests give another machine).
    QString machineIdFile = QStringLiteral("/etc/machine-id");
    // A ledger made on another machine is taken over by this one, which the
    // ledger then records; without it such a ledger is refused.
    bool adopt = false;
};

class LedgerFile {
public:
    // Station: the file, its folder and its tables are made when missing;
    // tables of an older version are taken forward, each step in one
    // transaction, after the file was copied beside itself (backup()); a
    // ledger of another machine is refused (ForeignMachine) unless adopted.
    // Reader: an existing ledger only, of this version or an older one,
    // opened read-only, never changed; a file that is not a Pelmora ledger is
    // refused either way.
    enum class Access { Station, Reader };
    // Throws LedgerError.
    LedgerFile(const QString& path, Access access, const StationOpening& opening);
    // Closes every thread's connection: each thread that used the file must
    // be done with it.
    ~LedgerFile();
    LedgerFile(const LedgerFile&) = delete;
    LedgerFile& operator=(const LedgerFile&) = delete;

    QString path() const { return path_; }
    Access access() const { return access_; }
    // What SQLite opens for this ledger (a file: URI).
    QString readUri() const { return uri_; }
    QString station() const { return station_; }
    QString stationName() const { return stationName_; }
    bool created() const { return created_; }
    int version() const { return version_; }
    int versionFound() const { return versionFound_; }
    QString backup() const { return backup_; }
    QString machine() const { return machine_; }
    // Throws ForeignMachine where a station would refuse this ledger.
    void requireMachine(const StationOpening& opening) const;

    // Claims the file for this object's life: another station on the same
    // file, by whatever path, is refused. Throws LedgerError.
    void claim();
    // Throws LedgerError when the file is no longer the one this object
    // opened (replaced, moved or removed), or is open for reading only.
    void requireSameFile() const;

    // The calling thread's connection to the file, made at its first use
    // (a file opened for reading gets read-only ones). Throws LedgerError.
    SqliteConnection& connection() const;

private:
    void openAsStation(const StationOpening& opening);
    void openAsReader();

    struct ThreadConnection {
        QPointer<QThread> thread;  // gone once the thread has ended
        std::unique_ptr<SqliteConnection> connection;
    };

    QString path_;
    Access access_;
    QString uri_;  // what SQLite opens: the file, read-write or read-only, never made anew
    QString station_, stationName_, machine_, backup_;
    bool created_ = false;
    int version_ = 0, versionFound_ = 0;
    quint64 device_ = 0, inode_ = 0;  // the file this object opened
    int claim_ = -1;                  // a descriptor of that file, locked while it runs
    mutable QMutex connectionsLock_;
    mutable std::map<quint64, ThreadConnection> connections_;  // by thread
};

}  // namespace Ledger
