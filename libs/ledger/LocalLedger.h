#pragma once
// The station's own ledger: a SQLite file that is the station's truth. A
// unit's begin and its close are each one committed transaction, and each
// appends a link to the station's chain. What the file is and who holds it
// is its LedgerFile; what the forwarder still has to send, its Outbox.

#include "ledger/Chain.h"
#include "ledger/LedgerError.h"
#include "ledger/LedgerFile.h"
#include "ledger/Outbox.h"
#include "ledger/UnitFilter.h"
#include "ledger/UnitRecord.h"

#include <QMutex>
#include <QString>
#include <functional>
#include <optional>

namespace Ledger {

struct StoredLedger;

class LocalLedger {
public:
    static constexpr int schemaVersion = 2;  // the last of localSchemaSteps()
    // $XDG_STATE_HOME/pelmora/ledger.sqlite, else ~/.local/state/pelmora/ledger.sqlite
    static QString defaultPath();

    // As LedgerFile opens it. Throws LedgerError.
    using Access = LedgerFile::Access;
    explicit LocalLedger(const QString& path, Access access = Access::Station, const StationOpening& opening = {});
    LocalLedger(const LocalLedger&) = delete;
    LocalLedger& operator=(const LocalLedger&) = delete;

    // A new ledger with a new station identity and the name people know the
    // station by; refused where a file is. Throws LedgerError.
    static void newStation(const QString& path, const QString& name);

    const LedgerFile& file() const { return file_; }
    QString path() const { return file_.path(); }
    // What SQLite opens for this ledger (a file: URI), for a reader that
    // keeps a connection of its own on a thread of its own.
    QString readUri() const { return file_.readUri(); }
    // This ledger's station id, a UUID made with the ledger, which names its
    // chain in a central ledger.
    QString station() const { return file_.station(); }
    QString stationName() const { return file_.stationName(); }
    // This object made the ledger's tables: a new station, not an existing one.
    bool created() const { return file_.created(); }
    // The version the file's tables were of when opened, and where the copy
    // made before taking them forward went (empty when none was needed).
    int versionFound() const { return file_.versionFound(); }
    QString backup() const { return file_.backup(); }
    // The machine the ledger belongs to; empty when this machine has no id.
    QString machine() const { return file_.machine(); }
    // Throws ForeignMachine where a station would refuse this ledger.
    void requireMachine(const StationOpening& opening) const { file_.requireMachine(opening); }
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
    std::optional<ChainEntry> link(qint64 seq) const;
    // Runs `reading` on a connection of its own, not the thread's: a long
    // read in a snapshot of its own (verifyStored()).
    void read(const std::function<void(const StoredLedger&)>& reading) const;

    Outbox& outbox() { return outbox_; }
    const Outbox& outbox() const { return outbox_; }

private:
    void append(const QString& kind, const UnitRecord& given, bool opening);

    LedgerFile file_;
    Outbox outbox_{file_};
    mutable QMutex writing_;
};

}  // namespace Ledger
