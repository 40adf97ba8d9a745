#pragma once
// The page's HTTP answers, read-only: the page's own files from the
// program's resources, the station's state, the ledger's latest units and
// its CSV export, streamed. Only GET and HEAD, only these paths, only to a
// request that names this station as its Host: nothing is ever read from
// disk by a name a client gave. An answer to HTTP/1.0 or to
// "Connection: close" ends its connection.

#include "AllowedHosts.h"
#include "PageSnapshot.h"

#include <QAbstractHttpServer>
#include <QPointer>

namespace Ledger {
class LocalLedger;
}
class CsvDownload;

class PageServer final : public QAbstractHttpServer {
    Q_OBJECT
public:
    // ledger: read through its own connections, never under the writers' lock.
    PageServer(const PageSnapshot& snapshot, const Ledger::LocalLedger& ledger, const AllowedHosts& hosts,
               QObject* parent = nullptr);

    // CSV downloads at once; one more is told to come back later.
    static constexpr int kDownloadsMost = 3;

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
    bool downloadsFull();

    const PageSnapshot& snapshot_;
    const Ledger::LocalLedger& ledger_;
    AllowedHosts hosts_;
    QList<QPointer<CsvDownload>> downloads_;
};
