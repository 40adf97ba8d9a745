#include "ledger/SqliteConnection.h"

#include "ledger/LedgerError.h"

#include <QAtomicInteger>
#include <QSqlError>
#include <QSqlQuery>

namespace Ledger {

namespace {

QAtomicInteger<quint64> connections;

}  // namespace

void failToOpen(const QString& path, const QString& why)
{
    throw LedgerError(QStringLiteral("cannot open the ledger %1: %2").arg(path, why).toStdString());
}

SqliteConnection::SqliteConnection(const QString& path, const QString& uri, bool readOnly)
    : name_(QStringLiteral("pelmora-ledger-%1").arg(connections.fetchAndAddRelaxed(1)))
{
    db_ = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name_);
    try {
        if (!db_.isValid())
            failToOpen(path, QStringLiteral("Qt's SQLite driver is missing (Debian package libqt6sql6-sqlite)"));
        db_.setDatabaseName(uri);
        // Another process (a second station, pelmora-ledger) may hold the lock a moment.
        db_.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000;QSQLITE_OPEN_URI")
                              + (readOnly ? QStringLiteral(";QSQLITE_OPEN_READONLY") : QString()));
        if (!db_.open())
            failToOpen(path, db_.lastError().text());
        if (readOnly)
            return;
        exec(QStringLiteral("PRAGMA foreign_keys = ON"), "set up the ledger");
        // A committed unit survives a power cut.
        exec(QStringLiteral("PRAGMA synchronous = FULL"), "set up the ledger");
    } catch (...) {
        db_ = QSqlDatabase();
        QSqlDatabase::removeDatabase(name_);
        throw;
    }
}

SqliteConnection::~SqliteConnection()
{
    db_.close();
    db_ = QSqlDatabase();
    QSqlDatabase::removeDatabase(name_);
}

void SqliteConnection::exec(const QString& sql, const char* what)
{
    QSqlQuery q(db_);
    if (!q.exec(sql))
        throw LedgerError(QStringLiteral("could not %1: %2").arg(QLatin1String(what), q.lastError().text()).toStdString());
}

WriteTransaction::WriteTransaction(SqliteConnection& c) : c_(c)
{
    c_.exec(QStringLiteral("BEGIN IMMEDIATE"), "start a transaction");
}

WriteTransaction::~WriteTransaction()
{
    if (done_)
        return;
    QSqlQuery q(c_.db());
    // Not rolled back (or rolled back by SQLite itself): start afresh.
    if (!q.exec(QStringLiteral("ROLLBACK")))
        c_.markBroken();
}

void WriteTransaction::commit()
{
    try {
        c_.exec(QStringLiteral("COMMIT"), "commit");
    } catch (...) {
        c_.markBroken();
        throw;
    }
    done_ = true;
}

}  // namespace Ledger
