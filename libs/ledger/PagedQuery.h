#pragma once
// A long read in the memory of one page: a SELECT whose rows come a page at
// a time, inside one snapshot of the ledger, so several such reads agree
// with each other whatever stations write meanwhile.

#include "ledger/UnitRows.h"

#include <QSqlDatabase>
#include <QSqlQuery>

namespace Ledger {

// One read-only transaction on a connection for as long as it lives. Its
// snapshot is taken at once, so a snapshot taken after it on another
// ledger is the later one. Throws LedgerError.
class ReadSnapshot {
public:
    ReadSnapshot(QSqlDatabase db, Dialect d);
    ~ReadSnapshot();
    ReadSnapshot(const ReadSnapshot&) = delete;
    ReadSnapshot& operator=(const ReadSnapshot&) = delete;
    // Ends it; the queries read in it are done with.
    void end();

private:
    QSqlDatabase db_;
    bool open_ = false;
};

// Rows of a SELECT inside a ReadSnapshot. SQLite steps the statement, a row
// at a time; PostgreSQL's driver would fetch a whole result, so there it is
// a cursor fetched a page at a time. The SQL takes no parameters: values go
// in through literal(). Throws LedgerError.
class PagedQuery {
public:
    PagedQuery(QSqlDatabase db, Dialect d, const QString& sql, int pageRows);
    ~PagedQuery();
    PagedQuery(const PagedQuery&) = delete;
    PagedQuery& operator=(const PagedQuery&) = delete;

    bool next();
    // The current row.
    const QSqlQuery& row() const { return rows_; }

    // A value quoted as a literal of the connection's SQL.
    static QString literal(const QSqlDatabase& db, const QString& value);

private:
    void fetch();

    QSqlDatabase db_;
    Dialect dialect_;
    QString cursor_;  // PostgreSQL's; empty on SQLite
    int pageRows_;
    int fetched_ = 0;  // rows of the page given so far
    bool done_ = false;
    QSqlQuery rows_;
};

}  // namespace Ledger
