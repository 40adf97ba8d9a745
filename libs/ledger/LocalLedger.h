#pragma once
// The station's own ledger: a SQLite file that is the station's truth. A
// unit's begin and its close are each one committed transaction, and each
// appends a link to the station's chain.

#include "ledger/Chain.h"
#include "ledger/UnitFilter.h"
#include "ledger/UnitRecord.h"

#include <QLockFile>
#include <QMutex>
#include <QString>
#include <memory>
#include <stdexcept>

namespace Ledger {

struct LedgerError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class LocalLedger {
public:
    static constexpr int schemaVersion = 1;
    // $XDG_STATE_HOME/pelmora/ledger.sqlite, else ~/.local/state/pelmora/ledger.sqlite
    static QString defaultPath();

    // Creates the folder and the tables when missing; throws LedgerError.
    explicit LocalLedger(const QString& path);

    QString path() const { return path_; }
    // This ledger's station id, which names its chain in a central ledger.
    QString station() const { return station_; }

    // Every open record becomes interrupted; returns how many there were.
    // It also claims the ledger for this station for this object's life:
    // another station on the same file would take units still loading for
    // interrupted ones, so it is refused with LedgerError.
    int closeInterrupted(const QString& why);
    // Each is one committed transaction; any failure throws LedgerError.
    // Safe from several threads at once.
    void begin(const UnitRecord& record);
    void close(const UnitRecord& record);

    QList<UnitRecord> units(const UnitFilter& filter = {}) const;
    QList<ChainEntry> chain() const;
    // Links not yet acknowledged by the central ledger, oldest first.
    QList<ChainEntry> unsent(int limit) const;
    // Every link up to seq; links are sent in order.
    void markSentUpTo(qint64 seq);
    int waiting() const;
    // The last link the central ledger acknowledged; 0 when none.
    qint64 sentUpTo() const;

private:
    void append(const QString& kind, const UnitRecord& given, bool opening);

    QString path_;
    QString station_;
    std::unique_ptr<QLockFile> claim_;
    mutable QMutex writing_;
};

}  // namespace Ledger
