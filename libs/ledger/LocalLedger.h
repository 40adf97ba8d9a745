#pragma once
// The station's own ledger: a SQLite file that is the station's truth. A
// unit's begin and its close are each one committed transaction, and each
// appends a link to the station's chain.

#include "ledger/Chain.h"
#include "ledger/LedgerError.h"
#include "ledger/UnitFilter.h"
#include "ledger/UnitRecord.h"

#include <QMutex>
#include <QString>
#include <functional>
#include <optional>

namespace Ledger {

struct StoredLedger;

// How a station opens its ledger.
struct StationOpening {
    // Where this machine's id is read (a seam: tests give another machine).
    QString machineIdFile = QStringLiteral("/etc/machine-id");
    // A ledger made on another machine is taken over by this one, which the
    // ledger then records; without it such a ledger is refused.
    bool adopt = false;
};

class LocalLedger {
public:
    static constexpr int schemaVersion = 2;  // the last of localSchemaSteps()
    // $XDG_STATE_HOME/pelmora/ledger.sqlite, else ~/.local/state/pelmora/ledger.sqlite
    static QString defaultPath();

    // Station: the file, its folder and its tables are made when missing;
    // tables of an older version are taken forward, each step in one
    // transaction, after the file was copied beside itself (backup()); a
    // ledger of another machine is refused (ForeignMachine) unless adopted.
    // Reader: an existing ledger only, of this version or an older one,
    // opened read-only, never changed; a file that is not a Pelmora ledger is
    // refused either way.
    enum class Access { Station, Reader };
    // Throws LedgerError.
    explicit LocalLedger(const QString& path, Access access = Access::Station, const StationOpening& opening = {});
    ~LocalLedger();
    LocalLedger(const LocalLedger&) = delete;
    LocalLedger& operator=(const LocalLedger&) = delete;

    // A new ledger with a new station identity and the name people know the
    // station by; refused where a file is. Throws LedgerError.
    static void newStation(const QString& path, const QString& name);

    QString path() const { return path_; }
    // What SQLite opens for this ledger (a file: URI), for a reader that
    // keeps a connection of its own on a thread of its own.
    QString readUri() const { return uri_; }
    // This ledger's station id, a UUID made with the ledger, which names its
    // chain in a central ledger.
    QString station() const { return station_; }
    QString stationName() const { return stationName_; }
    // This object made the ledger's tables: a new station, not an existing one.
    bool created() const { return created_; }
    // The version the file's tables were of when opened, and where the copy
    // made before taking them forward went (empty when none was needed).
    int versionFound() const { return versionFound_; }
    QString backup() const { return backup_; }
    // The machine the ledger belongs to; empty when this machine has no id.
    QString machine() const { return machine_; }
    // Throws ForeignMachine where a station would refuse this ledger.
    void requireMachine(const StationOpening& opening) const;
    qint64 unitCount() const;

    // Every open record becomes interrupted; returns how many there were.
    // It also claims the ledger file for this station for this object's
    // life: another station on the same file, by whatever path, would take
    // units still loading for interrupted ones, so it is refused.
    int closeInterrupted(const QString& why);
    // Each is one committed transaction; any failure throws LedgerError, and
    // so does a file that is no longer the one this object opened (replaced,
    // moved or removed): nothing is written into another file.
    // Safe from several threads at once.
    void begin(const UnitRecord& record);
    void close(const UnitRecord& record);

    QList<UnitRecord> units(const UnitFilter& filter = {}) const;
    // The latest record in which this serial passed this recipe.
    std::optional<UnitRecord> lastPass(const QString& serial, const QString& recipeSha256) const;
    QList<ChainEntry> chain() const;
    // Links not yet acknowledged by the central ledger, oldest first.
    QList<ChainEntry> unsent(int limit) const;
    // Every link up to seq; links are sent in order.
    void markSentUpTo(qint64 seq);
    // Every link after seq is to be sent (again): the central copy ends there.
    void resendAfter(qint64 seq);
    std::optional<ChainEntry> link(qint64 seq) const;
    int waiting() const;
    // The last link the central ledger acknowledged; 0 when none.
    qint64 sentUpTo() const;
    // Runs `reading` on a connection of its own, opened as the other reads
    // are (a long read: verifyStored()).
    void read(const std::function<void(const StoredLedger&)>& reading) const;

private:
    void append(const QString& kind, const UnitRecord& given, bool opening);
    void openAsStation(const StationOpening& opening);
    void openAsReader();
    void upgrade(int from);
    void claim();
    void requireSameFile() const;

    QString path_;
    Access access_;
    QString uri_;  // what SQLite opens: the file, read-write or read-only, never made anew
    QString station_, stationName_, machine_, backup_;
    bool created_ = false;
    int version_ = 0, versionFound_ = 0;
    quint64 device_ = 0, inode_ = 0;  // the file this object opened
    int claim_ = -1;                  // a descriptor of that file, locked while it runs
    mutable QMutex writing_;
};

}  // namespace Ledger
