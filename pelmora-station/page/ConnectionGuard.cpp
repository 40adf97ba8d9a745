#include "ConnectionGuard.h"

#include <QTimer>
#include <sys/socket.h>

namespace {
constexpr int kRefusedLingerMs = 1000;
constexpr const char* kHttp10 = "pelmora-http10";

// Reset, not closed: a close leaves what the client never read queued in
// the system, and the end of the connection behind it, for as long as the
// client keeps its window shut.
void drop(QTcpSocket* socket)
{
    const linger now{1, 0};
    if (socket->socketDescriptor() >= 0)
        ::setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &now, sizeof now);
    socket->abort();
    socket->deleteLater();
}

}  // namespace

bool ConnectionGuard::speaksHttp10(const QTcpSocket* socket)
{
    return socket->property(kHttp10).toBool();
}

ConnectionGuard::ConnectionGuard(const Limits& limits, QObject* parent) : QTcpServer(parent), limits_(limits)
{
    clock_.start();
}

void ConnectionGuard::incomingConnection(qintptr handle)
{
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(handle)) {
        delete socket;
        return;
    }
    for (auto it = watched_.begin(); it != watched_.end();)
        it = it->socket && it->socket->state() == QAbstractSocket::ConnectedState ? std::next(it) : watched_.erase(it);
    if (watched_.size() >= limits_.connections)
        closeIdlest();

    // The timer is the socket's reaper, whatever the HTTP server did with it:
    // a connection without an answer for idleMs is closed and deleted.
    auto* idle = new QTimer(socket);
    idle->setSingleShot(true);
    idle->setInterval(limits_.idleMs);
    connect(idle, &QTimer::timeout, socket, [socket] { drop(socket); });
    idle->start();
    Watched w;
    w.socket = socket;
    w.lastAnswer = clock_.elapsed();
    watched_.insert(socket, w);
    // Connected before the HTTP server's own handler, so a head over the
    // limits is refused before it is parsed.
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { inspect(socket); });
    connect(socket, &QTcpSocket::bytesWritten, this, [this, socket, idle] {
        idle->start();
        answered(socket);
    });
    connect(socket, &QObject::destroyed, this, [this, socket] { watched_.remove(socket); });
    addPendingConnection(socket);
}

void ConnectionGuard::inspect(QTcpSocket* socket)
{
    const auto it = watched_.find(socket);
    if (it == watched_.end())
        return;
    if (it->refused) {
        socket->readAll();
        return;
    }
    // The server reads everything at each signal, so what waits now is new.
    const QByteArray fresh = socket->peek(socket->bytesAvailable());
    it->bytes += fresh.size();
    it->lines += fresh.count('\n');
    if (!it->lineRead) {
        const qsizetype end = fresh.indexOf('\n');
        it->requestLine += end < 0 ? fresh : fresh.left(end);
        if (end >= 0) {
            it->lineRead = true;
            socket->setProperty(kHttp10, it->requestLine.trimmed().endsWith("HTTP/1.0"));
        }
    }
    if (it->bytes > limits_.headBytes || it->lines > limits_.headLines)
        refuseTooLarge(*it);
}

void ConnectionGuard::answered(QTcpSocket* socket)
{
    const auto it = watched_.find(socket);
    if (it == watched_.end())
        return;
    it->lastAnswer = clock_.elapsed();
    it->bytes = 0;
    it->lines = 0;
    it->requestLine.clear();
    it->lineRead = false;
}

void ConnectionGuard::closeIdlest()
{
    auto idlest = watched_.end();
    for (auto it = watched_.begin(); it != watched_.end(); ++it)
        if (idlest == watched_.end() || it->lastAnswer < idlest->lastAnswer)
            idlest = it;
    if (idlest == watched_.end())
        return;
    QTcpSocket* socket = idlest->socket;
    watched_.erase(idlest);
    if (socket)
        drop(socket);
}

void ConnectionGuard::refuseTooLarge(Watched& watched)
{
    static const QByteArray text = "The request's head is too large.\n";
    QTcpSocket* socket = watched.socket;
    watched.refused = true;
    socket->readAll();
    socket->write("HTTP/1.1 431 Request Header Fields Too Large\r\nContent-Type: text/plain; charset=utf-8\r\n"
                  "Content-Length: " + QByteArray::number(text.size()) + "\r\nConnection: close\r\n\r\n" + text);
    // Closed a moment later, not at once: a socket closed with unread bytes
    // is reset, and the reset can overtake the answer.
    QTimer::singleShot(kRefusedLingerMs, socket, [socket] { socket->disconnectFromHost(); });
}
