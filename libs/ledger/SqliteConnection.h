#pragma once
// One connection to a ledger file, used on the thread that made it only (Qt
// allows no other), and a write transaction on it.

#include <QSqlDatabase>
#include <QString>

namespace Ledger {

// Throws LedgerError naming the file and why.
[[noreturn]] void failToOpen(const QString& path, const QString& why);

class SqliteConnection {
public:
    // Throws LedgerError when the file cannot be opened.
    SqliteConnection(const QString& path, const QString& uri, bool readOnly);
    ~SqliteConnection();
    SqliteConnection(const SqliteConnection&) = delete;
    SqliteConnection& operator=(const SqliteConnection&) = delete;

    QSqlDatabase& db() { return db_; }
    void exec(const QString& sql, const char* what);
    // A transaction left neither committed nor rolled back makes every
    // later one fail: such a connection is made anew.
    void markBroken() { broken_ = true; }
    bool broken() const { return broken_; }

private:
    QString name_;
    QSqlDatabase db_;
    bool broken_ = false;
};

// BEGIN IMMEDIATE takes the write lock at once, so reading the chain's end
// and appending to it cannot interleave with another writer.
class WriteTransaction {
public:
    explicit WriteTransaction(SqliteConnection& c);
    ~WriteTransaction();
    WriteTransaction(const WriteTransaction&) = delete;
    WriteTransaction& operator=(const WriteTransaction&) = delete;
    void commit();

private:
    SqliteConnection& c_;
    bool done_ = false;
};

}  // namespace Ledger
