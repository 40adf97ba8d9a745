#include "ledger/StoredVerify.h"

#include "ledger/PagedQuery.h"

#include <memory>

namespace Ledger {

namespace {

// The last link of each unit, as verify() takes it: the one a walk by
// station and seq meets last. c is the link, "FROM source AS c WHERE ...
// condition" (or ON) picks the last ones.
QString lastLinkSource(Dialect d)
{
    // Without an index by unit alone, a correlated look-up would read the
    // whole chain once a unit.
    return d == Dialect::Sqlite
        ? QStringLiteral("chain")
        : QStringLiteral("(SELECT DISTINCT ON (unit_id) * FROM chain ORDER BY unit_id, station DESC, seq DESC)");
}

QString lastLinkCondition(Dialect d)
{
    // SQLite finds a unit's links by its index of unit and kind.
    return d == Dialect::Sqlite
        ? QStringLiteral(" AND NOT EXISTS (SELECT 1 FROM chain d WHERE d.unit_id = c.unit_id "
                         "AND (d.station > c.station OR (d.station = c.station AND d.seq > c.seq)))")
        : QString();
}

ChainEntry link(const PagedQuery& q, int first = 0)
{
    return chainEntryFromRow(q.row(), first);
}

void checkChains(const StoredLedger& l, const FindingSink& found, int pageRows, VerifyTotals& totals)
{
    PagedQuery q(l.db, l.dialect, QStringLiteral("SELECT %1 FROM chain ORDER BY station, seq").arg(chainColumns(l.dialect)),
                 pageRows);
    ChainWalk walk;
    QString station;
    while (q.next()) {
        const ChainEntry e = link(q);
        if (totals.links++ == 0 || e.station != station)
            ++totals.stations;
        station = e.station;
        totals.heads[e.station] = {e.seq, e.hash};
        for (const Finding& f : walk.add(e))
            found(f);
    }
    for (const Finding& f : walk.finish())
        found(f);
}

// Every row with its labels and its unit's last link, in the order of
// readUnits(): start time, then id. The labels come in the same order
// beside it, so each row takes the labels that follow of its own id.
void checkUnits(const StoredLedger& l, const FindingSink& found, int pageRows, VerifyTotals& totals,
                const UnitSink& eachUnit)
{
    const int linkColumn = 17;  // after the unit's 16 columns and its station
    PagedQuery rows(l.db, l.dialect,
                    QStringLiteral("SELECT %1, %2, %3 FROM units u LEFT JOIN %4 AS c ON c.unit_id = u.id%5 "
                                   "ORDER BY u.start_time, u.id")
                        .arg(unitShape().selected(l.dialect, l.serials),
                             l.dialect == Dialect::Sqlite ? QStringLiteral("''") : QStringLiteral("u.station"),
                             chainColumns(l.dialect, QStringLiteral("c.")), lastLinkSource(l.dialect),
                             lastLinkCondition(l.dialect)),
                    pageRows);
    PagedQuery labels(l.db, l.dialect,
                      QStringLiteral("SELECT %1 FROM (SELECT b.*, u.start_time AS unit_start FROM labels b JOIN units u "
                                     "ON u.id = b.unit_id) AS b ORDER BY unit_start, unit_id, slot")
                          .arg(labelShape().selected(l.dialect, l.serials)),
                      pageRows);
    bool label = labels.next();
    QString previousId;
    while (rows.next()) {
        const QString id = rows.row().value(0).toString();
        if (totals.units > 0 && id == previousId)
            continue;  // a unit joined to two last links (a chain without its keys): one row
        previousId = id;
        ++totals.units;
        UnitRecord row = unitFromRow(rows.row());
        row.station = rows.row().value(16).toString();
        for (; label && labels.row().value(0).toString() == id; label = labels.next())
            row.labels.append(labelFromRow(labels.row()));
        if (eachUnit)
            eachUnit(row);
        const bool linked = !rows.row().isNull(linkColumn);
        const ChainEntry last = linked ? link(rows, linkColumn) : ChainEntry{};
        if (const std::optional<Finding> f = checkRow(row, linked ? &last : nullptr))
            found(*f);
    }
}

// Links of units without a row, by station and seq.
void checkRemoved(const StoredLedger& l, const FindingSink& found, int pageRows)
{
    PagedQuery q(l.db, l.dialect,
                 QStringLiteral("SELECT %1 FROM %2 AS c WHERE NOT EXISTS (SELECT 1 FROM units u WHERE u.id = c.unit_id)%3 "
                                "ORDER BY c.station%4, c.seq")
                     .arg(chainColumns(l.dialect, QStringLiteral("c.")), lastLinkSource(l.dialect),
                          lastLinkCondition(l.dialect),
                          // As checkRows sorts them: by code point, not by the database's collation.
                          l.dialect == Dialect::Sqlite ? QString() : QStringLiteral(" COLLATE \"C\"")),
                 pageRows);
    while (q.next())
        found(rowRemoved(link(q)));
}

}  // namespace

VerifyTotals verifyStored(const StoredLedger& ledger, const FindingSink& found, int pageRows, const UnitSink& eachUnit)
{
    VerifyTotals totals;
    ReadSnapshot snapshot(ledger.db, ledger.dialect);
    checkChains(ledger, found, pageRows, totals);
    checkUnits(ledger, found, pageRows, totals, eachUnit);
    checkRemoved(ledger, found, pageRows);
    snapshot.end();
    return totals;
}

std::optional<Finding> compareStoredCopies(const StoredLedger& own, qint64 sentUpTo, const StoredLedger& central,
                                           int pageRows)
{
    std::optional<Finding> differ;
    {
        ReadSnapshot centralSnapshot(central.db, central.dialect);
        ReadSnapshot ownSnapshot(own.db, own.dialect);
        {
            PagedQuery ownLinks(own.db, own.dialect,
                                QStringLiteral("SELECT %1 FROM chain ORDER BY station, seq").arg(chainColumns(own.dialect)),
                                pageRows);
            std::unique_ptr<PagedQuery> centralLinks;
            const auto openCentral = [&](const QString& station) -> NextLink {
                centralLinks.reset();  // one cursor at a time
                centralLinks = std::make_unique<PagedQuery>(
                    central.db, central.dialect,
                    QStringLiteral("SELECT %1 FROM chain WHERE station = %2 ORDER BY seq")
                        .arg(chainColumns(central.dialect), PagedQuery::literal(central.db, station)),
                    pageRows);
                return [q = centralLinks.get()]() -> std::optional<ChainEntry> {
                    return q->next() ? std::optional<ChainEntry>(link(*q)) : std::nullopt;
                };
            };
            differ = compareCopies([&]() -> std::optional<ChainEntry> {
                return ownLinks.next() ? std::optional<ChainEntry>(link(ownLinks)) : std::nullopt;
            }, sentUpTo, openCentral);
        }
        ownSnapshot.end();
        centralSnapshot.end();
    }
    return differ;
}

}  // namespace Ledger
