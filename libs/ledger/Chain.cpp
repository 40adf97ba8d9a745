#include "ledger/Chain.h"

#include "ledger/LocalLedger.h"
#include "ledger/RecordText.h"

#include <QHash>
#include <QSet>
#include <algorithm>
#include <tuple>
#include <QJsonDocument>
#include <QJsonObject>

namespace Ledger {

QString firstPrevHash()
{
    return QString(64, QLatin1Char('0'));
}

QString entryHash(const QString& prevHash, const QByteArray& body)
{
    return sha256Hex(prevHash.toLatin1() + '\n' + body);
}

ChainEntry makeEntry(const QString& station, qint64 seq, const QString& kind, const UnitRecord& record,
                     const QString& prevHash)
{
    ChainEntry e;
    e.station = station;
    e.seq = seq;
    e.unit = record.id;
    e.kind = kind;
    e.body = canonicalText(QJsonObject{
        {QStringLiteral("station"), station},
        {QStringLiteral("seq"), seq},
        {QStringLiteral("kind"), kind},
        {QStringLiteral("record"), toJson(record)},
    });
    e.prevHash = prevHash;
    e.hash = entryHash(prevHash, e.body);
    return e;
}

namespace {

QJsonObject bodyObject(const ChainEntry& e)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(e.body, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return {};
    return doc.object();
}

// The link's own text agrees with its hash and with the columns beside it.
bool selfConsistent(const ChainEntry& e)
{
    if (entryHash(e.prevHash, e.body) != e.hash)
        return false;
    const QJsonObject o = bodyObject(e);
    const QJsonObject record = o.value(QStringLiteral("record")).toObject();
    return o.value(QStringLiteral("station")).toString() == e.station
        && o.value(QStringLiteral("seq")).toInteger() == e.seq
        && o.value(QStringLiteral("kind")).toString() == e.kind
        && QUuid::fromString(record.value(QStringLiteral("id")).toString()) == e.unit;
}

QString name(const ChainEntry& e)
{
    return QStringLiteral("record %1 (unit %2, %3)").arg(e.seq).arg(e.unit.toString(QUuid::WithoutBraces), e.kind);
}

Finding finding(const ChainEntry& e, const QString& what, const QString& text)
{
    return Finding{e.station, e.unit, e.seq, what, text};
}

}  // namespace

UnitRecord entryRecord(const ChainEntry& e)
{
    const QJsonObject o = bodyObject(e);
    if (o.isEmpty())
        throw LedgerError("a chained record is not readable text");
    return unitFromJson(o.value(QStringLiteral("record")).toObject());
}

QList<Finding> checkChain(const QString& station, const QList<ChainEntry>& entries)
{
    ChainWalk walk(station);
    for (const ChainEntry& e : entries)
        if (const QList<Finding> f = walk.add(e); !f.isEmpty())
            return f;
    return walk.finish();
}

QList<Finding> ChainWalk::add(const ChainEntry& e)
{
    QList<Finding> out;
    if (!started_ || (!oneChain_ && e.station != station_)) {
        out = finish();
        started_ = true;
        broken_ = false;
        station_ = oneChain_ ? *oneChain_ : e.station;
        expectedPrev_ = firstPrevHash();
        expectedSeq_ = 1;
        previous_.reset();
    }
    if (const std::optional<Finding> f = judge(e))
        out.append(*f);
    return out;
}

std::optional<Finding> ChainWalk::judge(const ChainEntry& e)
{
    if (broken_)
        return std::nullopt;  // a chain's break is said where it first broke
    if (unlinked_) {
        const ChainEntry waiting = *unlinked_;
        unlinked_.reset();
        return broke(judgeUnlinked(waiting, &e));
    }
    if (e.prevHash != expectedPrev_) {
        unlinked_ = e;
        return std::nullopt;
    }
    const QString prefix = QStringLiteral("station %1: ").arg(station_);
    if (!selfConsistent(e))
        return broke(finding(e, QStringLiteral("changed"), prefix + name(e) + QStringLiteral(" was changed")));
    if (e.seq > expectedSeq_)
        return broke(finding(e, QStringLiteral("removed"),
                             prefix + QStringLiteral("record %1 was removed (the chain resumes at %2)")
                                          .arg(expectedSeq_)
                                          .arg(name(e))));
    if (e.seq < expectedSeq_)
        return broke(finding(e, QStringLiteral("inserted"), prefix + name(e) + QStringLiteral(" was inserted")));
    expectedPrev_ = e.hash;
    expectedSeq_ = e.seq + 1;
    previous_ = e;
    return std::nullopt;
}

QList<Finding> ChainWalk::finish()
{
    QList<Finding> out;
    if (started_ && !broken_ && unlinked_) {
        const ChainEntry waiting = *unlinked_;
        if (const std::optional<Finding> f = broke(judgeUnlinked(waiting, nullptr)))
            out.append(*f);
    }
    unlinked_.reset();
    started_ = false;
    return out;
}

std::optional<Finding> ChainWalk::broke(std::optional<Finding> f)
{
    broken_ = broken_ || f.has_value();
    return f;
}

// A link that does not point at the one before it, judged by the one after.
std::optional<Finding> ChainWalk::judgeUnlinked(const ChainEntry& e, const ChainEntry* next)
{
    const QString prefix = QStringLiteral("station %1: ").arg(station_);
    if (next && next->prevHash == expectedPrev_)
        return finding(e, QStringLiteral("inserted"), prefix + name(e) + QStringLiteral(" was inserted"));
    if (e.seq > expectedSeq_)
        return finding(e, QStringLiteral("removed"),
                       prefix + QStringLiteral("record %1 was removed (the chain resumes at %2)")
                                    .arg(expectedSeq_)
                                    .arg(name(e)));
    if (!selfConsistent(e) || !previous_)
        return finding(e, QStringLiteral("changed"), prefix + name(e) + QStringLiteral(" was changed"));
    // This link is whole but does not point at the one before: that one
    // was changed and its hash written anew.
    return finding(*previous_, QStringLiteral("changed"), prefix + name(*previous_) + QStringLiteral(" was changed"));
}

std::optional<Finding> checkRow(const UnitRecord& row, const ChainEntry* last)
{
    const QString unit = row.id.toString(QUuid::WithoutBraces);
    if (!last)
        return Finding{{}, row.id, 0, QStringLiteral("inserted"),
                       QStringLiteral("unit %1 (%2, unit %3) was inserted: no chained record holds it")
                           .arg(unit, row.fixtureName)
                           .arg(row.unitNumber)};
    UnitRecord chained;
    try {
        chained = entryRecord(*last);
    } catch (const LedgerError&) {
        return std::nullopt;  // the chain check names this one
    }
    // An open unit's labels are written with its close.
    if (chained.isOpen())
        chained.labels.clear();
    if (canonicalText(toJson(chained)) == canonicalText(toJson(row)))
        return std::nullopt;
    return Finding{last->station, row.id, last->seq, QStringLiteral("changed"),
                   QStringLiteral("station %1: unit %2 was changed: its row differs from %3")
                       .arg(last->station, unit, name(*last))};
}

Finding rowRemoved(const ChainEntry& e)
{
    return Finding{e.station, e.unit, e.seq, QStringLiteral("removed"),
                   QStringLiteral("station %1: unit %2 was removed: %3 holds it, no row does")
                       .arg(e.station, e.unit.toString(QUuid::WithoutBraces), name(e))};
}

QList<Finding> checkRows(const QList<ChainEntry>& entries, const QList<UnitRecord>& rows)
{
    QHash<QUuid, const ChainEntry*> last;
    for (const ChainEntry& e : entries)
        last.insert(e.unit, &e);
    QList<Finding> out;
    QSet<QUuid> seen;
    for (const UnitRecord& row : rows) {
        seen.insert(row.id);
        if (const std::optional<Finding> f = checkRow(row, last.value(row.id)))
            out.append(*f);
    }
    QList<const ChainEntry*> gone;
    for (auto it = last.constBegin(); it != last.constEnd(); ++it)
        if (!seen.contains(it.key()))
            gone.append(it.value());
    std::sort(gone.begin(), gone.end(), [](const ChainEntry* a, const ChainEntry* b) {
        return std::tie(a->station, a->seq) < std::tie(b->station, b->seq);
    });
    for (const ChainEntry* e : gone)
        out.append(rowRemoved(*e));
    return out;
}

QList<Finding> verify(const QList<ChainEntry>& entries, const QList<UnitRecord>& rows)
{
    QList<Finding> out;
    ChainWalk walk;
    for (const ChainEntry& e : entries)
        out += walk.add(e);
    out += walk.finish();
    out += checkRows(entries, rows);
    return out;
}

QList<Finding> compareCopies(const QList<ChainEntry>& own, qint64 sentUpTo, const QList<ChainEntry>& central)
{
    qsizetype next = 0;
    const NextLink ownLinks = [&]() -> std::optional<ChainEntry> {
        return next < own.size() ? std::optional<ChainEntry>(own[next++]) : std::nullopt;
    };
    // The station's links by seq, each seq once: the last one given, as a
    // look-up by seq would find it.
    QList<const ChainEntry*> there;
    const auto openCentral = [&](const QString& station) -> NextLink {
        if (there.isEmpty()) {
            for (const ChainEntry& e : central)
                if (e.station == station)
                    there.append(&e);
            std::stable_sort(there.begin(), there.end(),
                             [](const ChainEntry* a, const ChainEntry* b) { return a->seq < b->seq; });
            const auto lastOfSeq = std::unique(there.rbegin(), there.rend(), [](const ChainEntry* a, const ChainEntry* b) {
                return a->seq == b->seq;
            });
            there.erase(there.begin(), lastOfSeq.base());
        }
        return [&there, at = qsizetype(0)]() mutable -> std::optional<ChainEntry> {
            return at < there.size() ? std::optional<ChainEntry>(*there[at++]) : std::nullopt;
        };
    };
    const std::optional<Finding> f = compareCopies(ownLinks, sentUpTo, openCentral);
    return f ? QList<Finding>{*f} : QList<Finding>{};
}

std::optional<Finding> compareCopies(const NextLink& own, qint64 sentUpTo,
                                     const std::function<NextLink(const QString& station)>& openCentral)
{
    std::optional<ChainEntry> e = own();
    if (!e)
        return std::nullopt;
    const QString station = e->station;
    const QString prefix = QStringLiteral("station %1, central copy: ").arg(station);
    NextLink central = openCentral(station);
    std::optional<ChainEntry> there = central();
    std::optional<qint64> last;
    for (; e; e = own()) {
        if (last && e->seq <= *last) {
            central = openCentral(station);
            there = central();
        }
        last = e->seq;
        while (there && there->seq < e->seq)
            there = central();
        if (!there || there->seq != e->seq) {
            if (e->seq <= sentUpTo)
                return finding(*e, QStringLiteral("removed"), prefix + name(*e) + QStringLiteral(" was removed"));
            continue;  // not sent yet
        }
        // Sent or not: the same position holding another link is where the copies part.
        if (there->hash != e->hash || there->body != e->body)
            return finding(*e, QStringLiteral("changed"),
                           prefix + QStringLiteral("the copies differ first at record %1: the central ledger's is "
                                                   "not the station's %2")
                                        .arg(e->seq)
                                        .arg(name(*e)));
    }
    while (there && there->seq <= *last)
        there = central();
    if (there)
        return finding(*there, QStringLiteral("inserted"),
                       prefix + QStringLiteral("it holds %1 past the station's own end at record %2 (the copies "
                                               "differ from record %3 on)")
                                    .arg(name(*there))
                                    .arg(*last)
                                    .arg(*last + 1));
    return std::nullopt;
}

}  // namespace Ledger
