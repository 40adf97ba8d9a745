#pragma once
// Each station's records form a hash chain of events: a unit's begin and its
// close are each one link. A link carries its canonical text and the hash of
// the station's previous link, so a link changed, removed or inserted breaks
// the chain where it happened.

#include "ledger/UnitRecord.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>
#include <optional>

namespace Ledger {

struct ChainEntry {
    QString station;  // the station's id (one per local ledger)
    qint64 seq = 0;   // 1, 2, 3 ... per station
    QUuid unit;
    QString kind;     // begin|close
    QByteArray body;  // canonical text: station, seq, kind, record
    QString prevHash;
    QString hash;     // SHA-256 of prevHash, a newline and body
};

QString firstPrevHash();  // what the first link of a station points back to
ChainEntry makeEntry(const QString& station, qint64 seq, const QString& kind, const UnitRecord& record,
                     const QString& prevHash);
QString entryHash(const QString& prevHash, const QByteArray& body);
// The record a link carries; throws LedgerError when the text is not one.
UnitRecord entryRecord(const ChainEntry& e);

struct Finding {
    QString station;
    QUuid unit;
    qint64 seq = 0;
    QString what;  // changed|removed|inserted
    QString text;  // one line a person reads
};

// The first break of one station's chain, its links in seq order; none when whole.
QList<Finding> checkChain(const QString& station, const QList<ChainEntry>& entries);

// checkChain a link at a time, for chains too long to hold: the links of one
// station after another, each station's in seq order. It keeps two links:
// one that does not point back is judged by the one after it.
class ChainWalk {
public:
    // Without a name each station's links are a chain of their own;
    // with one every link is of the one chain so named.
    explicit ChainWalk(std::optional<QString> oneChain = std::nullopt) : oneChain_(std::move(oneChain)) {}
    // The breaks this link makes known: the last chain's, where it begins
    // another, and its own chain's.
    QList<Finding> add(const ChainEntry& e);
    // The break the last link makes known; called once no link follows.
    QList<Finding> finish();

private:
    std::optional<Finding> judge(const ChainEntry& e);
    std::optional<Finding> judgeUnlinked(const ChainEntry& e, const ChainEntry* next);
    std::optional<Finding> broke(std::optional<Finding> f);

    std::optional<QString> oneChain_;
    bool started_ = false, broken_ = false;
    QString station_;
    QString expectedPrev_;
    qint64 expectedSeq_ = 1;
    std::optional<ChainEntry> previous_;  // the last link that held
    std::optional<ChainEntry> unlinked_;  // waiting for the link after it
};

// Unit rows against the last link of each unit: a row that differs was
// changed, a row with no link was inserted, a link with no row was removed.
QList<Finding> checkRows(const QList<ChainEntry>& entries, const QList<UnitRecord>& rows);
// One row against the last link of its unit (none: no link holds it).
std::optional<Finding> checkRow(const UnitRecord& row, const ChainEntry* last);
// The last link of a unit that has no row.
Finding rowRemoved(const ChainEntry& last);

// A station's own chain against the central copy of it: every link the
// station sent (seq up to sentUpTo) must be there, every position both hold
// the same link (the first that differs is named: where a restored or cloned
// ledger parted), and the central ledger holds no link of the station past
// the station's own end. This
// finds what one chain alone cannot: its last links removed, or all of its
// later links written anew.
QList<Finding> compareCopies(const QList<ChainEntry>& own, qint64 sentUpTo, const QList<ChainEntry>& central);
// The same a link at a time. own gives the station's links as its ledger
// orders them; openCentral(station) the central copy of that station's
// chain in seq order from its start, opened again wherever own's seq does
// not rise. Each gives nullopt at its end.
using NextLink = std::function<std::optional<ChainEntry>()>;
std::optional<Finding> compareCopies(const NextLink& own, qint64 sentUpTo,
                                     const std::function<NextLink(const QString& station)>& openCentral);

// Every station's chain and every row: at most one break per station's
// chain, and every row that does not match.
QList<Finding> verify(const QList<ChainEntry>& entries, const QList<UnitRecord>& rows);

}  // namespace Ledger
