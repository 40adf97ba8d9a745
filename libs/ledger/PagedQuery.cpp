#include "ledger/PagedQuery.h"

#include "ledger/LedgerError.h"

#include <QAtomicInteger>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>

namespace Ledger {

namespace {

QAtomicInteger<quint64> cursors;

void execute(QSqlQuery& q, const QString& sql, const char* what)
{
    if (!q.exec(sql))
        throw LedgerError(QStringLiteral("could not %1: %2").arg(QLatin1String(what), q.lastError().text()).toStdString());
}

}  // namespace

ReadSnapshot::ReadSnapshot(QSqlDatabase db, Dialect d) : db_(std::move(db))
{
    QSqlQuery q(db_);
    // Repeatable read: every statement of the transaction sees the ledger
    // as its first one did.
    execute(q,
            d == Dialect::Sqlite ? QStringLiteral("BEGIN")
                                 : QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ, READ ONLY"),
            "start reading the ledger");
    open_ = true;
    // Every row of a cursor is read: planned for the whole result, not, as
    // PostgreSQL plans cursors, for a tenth of it (nested loops that took
    // minutes on a freshly loaded ledger).
    if (d == Dialect::Postgres)
        execute(q, QStringLiteral("SET LOCAL cursor_tuple_fraction = 1.0"), "start reading the ledger");
    // The snapshot is taken by the first read, not by BEGIN.
    QSqlQuery first(db_);
    first.setForwardOnly(true);
    execute(first, QStringLiteral("SELECT count(*) FROM chain WHERE seq = 1"), "start reading the ledger");
}

ReadSnapshot::~ReadSnapshot()
{
    if (open_)
        QSqlQuery(db_).exec(QStringLiteral("ROLLBACK"));
}

void ReadSnapshot::end()
{
    QSqlQuery q(db_);
    execute(q, QStringLiteral("COMMIT"), "end reading the ledger");
    open_ = false;
}

PagedQuery::PagedQuery(QSqlDatabase db, Dialect d, const QString& sql, int pageRows)
    : db_(std::move(db)), dialect_(d), pageRows_(qMax(1, pageRows)), rows_(db_)
{
    // Forward only, PostgreSQL's driver would leave a page's rows on the
    // connection, lost as soon as another cursor is fetched from.
    rows_.setForwardOnly(d == Dialect::Sqlite);
    if (d == Dialect::Sqlite) {
        execute(rows_, sql, "read the ledger");
        return;
    }
    cursor_ = QStringLiteral("pelmora_read_%1").arg(cursors.fetchAndAddRelaxed(1));
    QSqlQuery declare(db_);
    execute(declare, QStringLiteral("DECLARE %1 NO SCROLL CURSOR FOR %2").arg(cursor_, sql), "read the ledger");
    fetch();
}

PagedQuery::~PagedQuery()
{
    rows_.finish();
    if (!cursor_.isEmpty())
        QSqlQuery(db_).exec(QStringLiteral("CLOSE %1").arg(cursor_));
}

void PagedQuery::fetch()
{
    rows_.finish();
    execute(rows_, QStringLiteral("FETCH FORWARD %1 FROM %2").arg(pageRows_).arg(cursor_), "read the ledger");
    fetched_ = 0;
}

bool PagedQuery::next()
{
    if (done_)
        return false;
    if (!rows_.next()) {
        // A page shorter than asked for was the last.
        if (cursor_.isEmpty() || fetched_ < pageRows_) {
            done_ = true;
            if (cursor_.isEmpty() && rows_.lastError().isValid())
                throw LedgerError(QStringLiteral("could not read the ledger: %1").arg(rows_.lastError().text()).toStdString());
            return false;
        }
        fetch();
        if (!rows_.next()) {
            done_ = true;
            return false;
        }
    }
    ++fetched_;
    return true;
}

QString PagedQuery::literal(const QSqlDatabase& db, const QString& value)
{
    QSqlField field(QStringLiteral("value"), QMetaType(QMetaType::QString));
    field.setValue(value);
    return db.driver()->formatValue(field);
}

}  // namespace Ledger
