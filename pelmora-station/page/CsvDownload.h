#pragma once
// One /units.csv answer once its head is sent: the ledger's CSV as its
// stream reads it, in HTTP/1.1 chunks (to an HTTP/1.0 client, up to the
// close), no faster than the client takes it. A part goes to the socket only
// while little waits there, and the system's buffer for the socket is kept
// small, so a client that stops reading holds a few hundred kilobytes and
// the ledger is not read meanwhile; the connection guard closes it once
// nothing went through for its idle time. A ledger that fails half-way
// aborts the connection: the client sees a broken download, never a short
// one that looks whole.

#include <QObject>
#include <QTcpSocket>
#include <memory>

namespace Ledger {
class CsvStream;
class LocalLedger;
}

class CsvDownload final : public QObject {
    Q_OBJECT
public:
    // Lives as the socket's child, on its thread.
    CsvDownload(QTcpSocket* socket, const Ledger::LocalLedger& ledger, bool chunked);
    ~CsvDownload() override;

    static constexpr qint64 kSocketAhead = 64 * 1024;  // bytes waiting in the socket before no more are given

private:
    void pump();

    QTcpSocket* socket_;
    bool chunked_;
    bool done_ = false;
    std::unique_ptr<Ledger::CsvStream> stream_;
};
