#pragma once
// Each station's records form a hash chain of events: a unit's begin and its
// close are each one link. A link carries its canonical text and the hash of
// the station's previous link, so a link changed, removed or inserted breaks
// the chain where it happened.

#include "ledger/UnitRecord.h"

#include <QByteArray>
#include <QList>
#include <QString>

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
// Unit rows against the last link of each unit: a row that differs was
// changed, a row with no link was inserted, a link with no row was removed.
QList<Finding> checkRows(const QList<ChainEntry>& entries, const QList<UnitRecord>& rows);

// A station's own chain against the central copy of it: every link the
// station sent (seq up to sentUpTo) must be there, every position both hold
// the same link (the first that differs is named: where a restored or cloned
// ledger parted), and the central ledger holds no link of the station past
// the station's own end. This
// finds what one chain alone cannot: its last links removed, or all of its
// later links written anew.
QList<Finding> compareCopies(const QList<ChainEntry>& own, qint64 sentUpTo, const QList<ChainEntry>& central);

// Every station's chain and every row: at most one break per station's
// chain, and every row that does not match.
QList<Finding> verify(const QList<ChainEntry>& entries, const QList<UnitRecord>& rows);

}  // namespace Ledger
