#pragma once
// The page's HTTP answers, read-only: the page's own files from the
// program's resources, the station's state, the ledger's latest units and
// its CSV export. Only GET and HEAD, only these paths: nothing is ever
// read from disk by a name a client gave.

#include "PageSnapshot.h"

#include <QAbstractHttpServer>

namespace Ledger {
class LocalLedger;
}

class PageServer final : public QAbstractHttpServer {
    Q_OBJECT
public:
    // ledger: read through its own connections, never under the writers' lock.
    PageServer(const PageSnapshot& snapshot, const Ledger::LocalLedger& ledger, QObject* parent = nullptr);

    struct Reply {
        int status = 200;
        QByteArray type;
        QByteArray body;
    };

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    Reply answer(const QString& path, const QString& query) const;
    Reply units(const QString& query) const;
    Reply csv() const;

    const PageSnapshot& snapshot_;
    const Ledger::LocalLedger& ledger_;
};
