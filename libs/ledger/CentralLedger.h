#pragma once
// The floor's ledger in PostgreSQL: every station's chain and units. It is
// written only by inserting links and units and by a station closing its
// own open units; a link sent twice is stored once. What only the tables'
// owner does (taking them forward, granting stations) is CentralSetup's.

#include "ledger/CentralAddress.h"
#include "ledger/Chain.h"
#include "ledger/UnitFilter.h"

#include <QHash>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <QString>
#include <QStringList>

namespace Ledger {

struct StoredLedger;

class CentralLedger {
public:

    // Connects on the calling thread, which alone uses this object; makes
    // the tables when there are none. Tables of an older version are read,
    // never written (SchemaMismatch), until their owner upgrade()s them;
    // newer ones are refused (SchemaMismatch). Throws LedgerError.
    explicit CentralLedger(const QString& address);
    ~CentralLedger();
    CentralLedger(const CentralLedger&) = delete;
    CentralLedger& operator=(const CentralLedger&) = delete;

    QString shown() const { return address_.shown; }
    int version() const { return version_; }

    // Stores links, in order, and what they say about their units, in one
    // transaction: all of them or none. A link or a unit row found there
    // different from what is sent throws ChainConflict.
    void store(const QList<ChainEntry>& links);
    QList<UnitRecord> units(const UnitFilter& filter = {});
    // Every station's chain, or one station's.
    QList<ChainEntry> chain(const QString& station = {});
    // Runs `reading` on this connection (a long read: verifyStored()).
    void read(const std::function<void(const StoredLedger&)>& reading);
    // For a station's forwarder: claims or renews the station's identity
    // for `holder` (one run of one station) for kLeaseSeconds, and bounds
    // how long a statement or a lock may keep it waiting. IdentityInUse when
    // another holder's claim is live: renewed within the lease, and its
    // connection still there.
    static constexpr int kLeaseSeconds = 60;
    void claimStation(const QString& station, const QString& holder);
    // Ends the claim at once, so the next start need not wait for it.
    void releaseStation(const QString& station, const QString& holder);
    // The latest record in which this serial passed this recipe, from every
    // station; the statement bounded to `within`. Throws LedgerError when
    // the database does not answer in time.
    std::optional<UnitRecord> lastPass(const QString& serial, const QString& recipeSha256, int withinMs = 1000);
    // The last link the central ledger holds of a station; seq 0 when none.
    ChainEntry chainEnd(const QString& station);
    // The first record missing before `end` in a station's central chain; 0 when none is.
    qint64 firstGap(const QString& station, qint64 end);
    // Each granted station's name, by its id, as grant gave it (empty when none was given).
    QHash<QString, QString> stationNames();
    // Rows not written by the role their station is granted to (only the
    // tables' owner could have written them), and large objects a station's
    // role stored.
    QList<Finding> strangers();

private:
    friend class CentralSetup;  // the owner's work, on this connection
    void ensureTables();
    void readVersion();
    void requireCurrent() const;
    void disconnect();
    void storeOne(const ChainEntry& e);
    void checkStored(const QList<ChainEntry>& links);
    QSqlQuery& statement(int which, const char* sql);
    void exec(const QString& sql, const char* what);

    CentralAddress address_;
    QString name_;
    QSqlDatabase db_;
    int version_ = 0;
    std::array<std::unique_ptr<QSqlQuery>, 5> statements_;  // prepared once per connection
};

}  // namespace Ledger
