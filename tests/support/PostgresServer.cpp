#include "PostgresServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <unistd.h>

PostgresServer::PostgresServer()
    : m_bin(qEnvironmentVariable("PELMORA_PG_BIN", QStringLiteral("/usr/lib/postgresql/15/bin"))),
      m_port(20000 + int(::getpid() % 20000)),
      m_asNobody(::geteuid() == 0)
{
    m_dir.setAutoRemove(true);
}

PostgresServer::~PostgresServer()
{
    stop();
}

bool PostgresServer::run(const QStringList& command)
{
    QStringList c = command;
    if (m_asNobody && !command.first().startsWith(QLatin1String("/bin/")))
        c = QStringList{QStringLiteral("setpriv"), QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                        QStringLiteral("--clear-groups"), QStringLiteral("--")}
            + command;
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(c.first(), c.mid(1));
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        m_error = c.join(QLatin1Char(' ')) + QStringLiteral(": ") + QString::fromLocal8Bit(p.readAll());
        return false;
    }
    return true;
}

bool PostgresServer::start()
{
    const QString data = m_dir.filePath(QStringLiteral("data"));
    if (!QFile::exists(data)) {
        if (m_asNobody && !run({QStringLiteral("/bin/chown"), QStringLiteral("nobody:nogroup"), m_dir.path()}))
            return false;
        if (!run({m_bin + QStringLiteral("/initdb"), QStringLiteral("-D"), data, QStringLiteral("-U"),
                  QStringLiteral("pelmora_admin"), QStringLiteral("--auth-local=trust"),
                  QStringLiteral("--auth-host=scram-sha-256"), QStringLiteral("-E"), QStringLiteral("UTF8"),
                  QStringLiteral("--no-sync")}))
            return false;
        QFile conf(data + QStringLiteral("/postgresql.conf"));
        if (!conf.open(QIODevice::Append))
            return false;
        conf.write(QStringLiteral("listen_addresses = '127.0.0.1'\nport = %1\nunix_socket_directories = '%2'\n"
                                  "fsync = off\n")
                       .arg(m_port)
                       .arg(m_dir.path())
                       .toUtf8());
        conf.close();
        // The watchdog: once the test process is gone, the server goes too.
        QProcess::startDetached(
            QStringLiteral("/bin/sh"),
            {QStringLiteral("-c"),
             QStringLiteral("while kill -0 %1 2>/dev/null; do sleep 1; done; "
                            "[ -f '%2/postmaster.pid' ] && kill -QUIT $(head -1 '%2/postmaster.pid') 2>/dev/null; true")
                 .arg(QCoreApplication::applicationPid())
                 .arg(data)});
    }
    if (!run({m_bin + QStringLiteral("/pg_ctl"), QStringLiteral("-D"), data, QStringLiteral("-l"),
              m_dir.filePath(QStringLiteral("server.log")), QStringLiteral("-w"), QStringLiteral("start")}))
        return false;
    m_running = true;
    if (!m_created)
        m_created = sql(QStringLiteral("CREATE DATABASE pelmora"), QStringLiteral("postgres"));
    return m_created;
}

bool PostgresServer::stop()
{
    if (!m_running)
        return true;
    m_running = false;
    return run({m_bin + QStringLiteral("/pg_ctl"), QStringLiteral("-D"), m_dir.filePath(QStringLiteral("data")),
                QStringLiteral("-m"), QStringLiteral("fast"), QStringLiteral("-w"), QStringLiteral("stop")});
}

QString PostgresServer::socketUri(const QString& user) const
{
    return QStringLiteral("postgresql://%1@/pelmora?host=%2&port=%3").arg(user, m_dir.path()).arg(m_port);
}

QString PostgresServer::tcpUri(const QString& user) const
{
    return QStringLiteral("postgresql://%1@127.0.0.1:%2/pelmora").arg(user).arg(m_port);
}

bool PostgresServer::sql(const QString& statement, const QString& database)
{
    QProcess p;
    p.start(QStringLiteral("psql"), {QStringLiteral("-h"), m_dir.path(), QStringLiteral("-p"), QString::number(m_port),
                                     QStringLiteral("-U"), QStringLiteral("pelmora_admin"), QStringLiteral("-d"),
                                     database, QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"),
                                     QStringLiteral("-qc"), statement});
    p.waitForFinished(30000);
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        m_error = QString::fromLocal8Bit(p.readAllStandardError());
        return false;
    }
    return true;
}
