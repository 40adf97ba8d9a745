#include "CsvDownload.h"

#include "ledger/CsvStream.h"

CsvDownload::CsvDownload(QTcpSocket* socket, const Ledger::LocalLedger& ledger, bool chunked)
    : QObject(socket), socket_(socket), chunked_(chunked)
{
    socket_->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, int(kSocketAhead));
    connect(socket_, &QTcpSocket::bytesWritten, this, &CsvDownload::pump);
    stream_ = std::make_unique<Ledger::CsvStream>(ledger, [this] {
        QMetaObject::invokeMethod(this, &CsvDownload::pump, Qt::QueuedConnection);
    });
}

// The stream's thread is stopped and joined before this object is gone, so
// nothing is posted to it afterwards.
CsvDownload::~CsvDownload() = default;

void CsvDownload::pump()
{
    if (done_ || socket_->state() != QAbstractSocket::ConnectedState)
        return;
    if (!stream_->failure().isEmpty()) {
        done_ = true;
        socket_->abort();
        return;
    }
    while (socket_->bytesToWrite() < kSocketAhead) {
        // Looked at before taking: the end is set only after the last part.
        const bool ended = stream_->ended();
        const std::optional<QByteArray> part = stream_->take();
        if (!part) {
            if (!ended)
                return;
            done_ = true;
            if (chunked_)
                socket_->write("0\r\n\r\n");
            socket_->disconnectFromHost();
            return;
        }
        if (part->isEmpty())
            continue;
        if (chunked_)
            socket_->write(QByteArray::number(part->size(), 16) + "\r\n" + *part + "\r\n");
        else
            socket_->write(*part);
    }
}
