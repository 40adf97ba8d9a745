#pragma once
// The page's listening socket, with the limits Qt's HTTP server lacks: a
// bounded number of connections (a new one closes the one idle longest), a
// bounded request head (bytes and lines), and connections that have had no
// answer for a few seconds are closed (a download through which nothing
// went for that long too). So no client, however slow or hostile, holds the
// page, let alone a fixture. It also notes which HTTP version each request
// line names, which Qt's request does not say.

#include <QElapsedTimer>
#include <QHash>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

class ConnectionGuard final : public QTcpServer {
    Q_OBJECT
public:
    struct Limits {
        int connections = 64;
        qint64 headBytes = 16 * 1024;  // a request line and its headers
        int headLines = 100;
        int idleMs = 5000;
    };
    explicit ConnectionGuard(const Limits& limits, QObject* parent = nullptr);

    // The socket's latest request line said HTTP/1.0.
    static bool speaksHttp10(const QTcpSocket* socket);

protected:
    void incomingConnection(qintptr handle) override;

private:
    struct Watched {
        QPointer<QTcpSocket> socket;
        qint64 lastAnswer = 0;  // ms on clock_
        qint64 bytes = 0;       // received since the last answer
        qint64 lines = 0;
        bool refused = false;   // what it still sends is read and dropped
        QByteArray requestLine; // until its end has come
        bool lineRead = false;
    };
    void inspect(QTcpSocket* socket);
    void answered(QTcpSocket* socket);
    void closeIdlest();
    void refuseTooLarge(Watched& watched);

    Limits limits_;
    QElapsedTimer clock_;
    QHash<QTcpSocket*, Watched> watched_;
};
