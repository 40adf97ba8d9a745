#pragma once
// The forwarder's side of a station's ledger: the links the central ledger
// has not acknowledged yet, read from the station's own file only.

#include "ledger/Chain.h"

namespace Ledger {

class LedgerFile;

class Outbox {
public:
    explicit Outbox(const LedgerFile& file) : file_(file) {}

    // Links not yet acknowledged by the central ledger, oldest first.
    QList<ChainEntry> unsent(int limit) const;
    // Every link up to seq; links are sent in order.
    void markSentUpTo(qint64 seq);
    // Every link after seq is to be sent (again): the central copy ends there.
    void resendAfter(qint64 seq);
    int waiting() const;
    // The last link the central ledger acknowledged; 0 when none.
    qint64 sentUpTo() const;

private:
    const LedgerFile& file_;
};

}  // namespace Ledger
