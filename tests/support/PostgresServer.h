#pragma once

#include <QString>
#include <QTemporaryDir>

// A throwaway PostgreSQL 15 server in a temporary folder: initdb and pg_ctl,
// run as "nobody" when the tests run as root. Local socket connections are
// trusted; TCP on 127.0.0.1 asks for a password. A watchdog stops the server
// if the test process dies without doing so, so none is ever left running.
class PostgresServer {
public:
    PostgresServer();
    ~PostgresServer();
    PostgresServer(const PostgresServer&) = delete;
    PostgresServer& operator=(const PostgresServer&) = delete;

    bool start();  // false (see errorString) when it does not come up
    bool stop();
    QString errorString() const { return m_error; }
    int port() const { return m_port; }

    // postgresql://USER@/pelmora over the local socket (trusted).
    QString socketUri(const QString& user = QStringLiteral("pelmora_admin")) const;
    // postgresql://USER@127.0.0.1:PORT/pelmora (password from PGPASSFILE).
    QString tcpUri(const QString& user) const;
    // Runs SQL as the superuser; false with errorString on failure.
    bool sql(const QString& statement, const QString& database = QStringLiteral("pelmora"));

private:
    bool run(const QStringList& command);

    QTemporaryDir m_dir;
    QString m_bin;
    int m_port = 0;
    bool m_running = false;
    bool m_asNobody = false;
    bool m_created = false;
    QString m_error;
};
