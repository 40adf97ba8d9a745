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
    QString expectedPrev = firstPrevHash();
    qint64 expectedSeq = 1;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const ChainEntry& e = entries[i];
        const bool linked = e.prevHash == expectedPrev;
        const bool whole = selfConsistent(e);
        const QString station_ = QStringLiteral("station %1: ").arg(station);
        if (!linked) {
            if (i + 1 < entries.size() && entries[i + 1].prevHash == expectedPrev)
                return {finding(e, QStringLiteral("inserted"), station_ + name(e) + QStringLiteral(" was inserted"))};
            if (e.seq > expectedSeq)
                return {finding(e, QStringLiteral("removed"),
                                station_ + QStringLiteral("record %1 was removed (the chain resumes at %2)")
                                               .arg(expectedSeq)
                                               .arg(name(e)))};
            if (!whole || i == 0)
                return {finding(e, QStringLiteral("changed"), station_ + name(e) + QStringLiteral(" was changed"))};
            // This link is whole but does not point at the one before: that
            // one was changed and its hash written anew.
            return {finding(entries[i - 1], QStringLiteral("changed"),
                            station_ + name(entries[i - 1]) + QStringLiteral(" was changed"))};
        }
        if (!whole)
            return {finding(e, QStringLiteral("changed"), station_ + name(e) + QStringLiteral(" was changed"))};
        if (e.seq > expectedSeq)
            return {finding(e, QStringLiteral("removed"),
                            station_ + QStringLiteral("record %1 was removed (the chain resumes at %2)")
                                           .arg(expectedSeq)
                                           .arg(name(e)))};
        if (e.seq < expectedSeq)
            return {finding(e, QStringLiteral("inserted"), station_ + name(e) + QStringLiteral(" was inserted"))};
        expectedPrev = e.hash;
        expectedSeq = e.seq + 1;
    }
    return {};
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
        const QString unit = row.id.toString(QUuid::WithoutBraces);
        const auto it = last.constFind(row.id);
        if (it == last.constEnd()) {
            out.append(Finding{{}, row.id, 0, QStringLiteral("inserted"),
                               QStringLiteral("unit %1 (%2, unit %3) was inserted: no chained record holds it")
                                   .arg(unit, row.fixtureName)
                                   .arg(row.unitNumber)});
            continue;
        }
        const ChainEntry& e = **it;
        UnitRecord chained;
        try {
            chained = entryRecord(e);
        } catch (const LedgerError&) {
            continue;  // the chain check names this one
        }
        // An open unit's labels are written with its close.
        if (chained.isOpen())
            chained.labels.clear();
        if (canonicalText(toJson(chained)) != canonicalText(toJson(row)))
            out.append(Finding{e.station, row.id, e.seq, QStringLiteral("changed"),
                               QStringLiteral("station %1: unit %2 was changed: its row differs from %3")
                                   .arg(e.station, unit, name(e))});
    }
    QList<const ChainEntry*> gone;
    for (auto it = last.constBegin(); it != last.constEnd(); ++it)
        if (!seen.contains(it.key()))
            gone.append(it.value());
    std::sort(gone.begin(), gone.end(), [](const ChainEntry* a, const ChainEntry* b) {
        return std::tie(a->station, a->seq) < std::tie(b->station, b->seq);
    });
    for (const ChainEntry* e : gone)
        out.append(Finding{e->station, e->unit, e->seq, QStringLiteral("removed"),
                           QStringLiteral("station %1: unit %2 was removed: %3 holds it, no row does")
                               .arg(e->station, e->unit.toString(QUuid::WithoutBraces), name(*e))});
    return out;
}

QList<Finding> verify(const QList<ChainEntry>& entries, const QList<UnitRecord>& rows)
{
    QList<Finding> out;
    QList<ChainEntry> one;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        one.append(entries[i]);
        if (i + 1 == entries.size() || entries[i + 1].station != entries[i].station) {
            out += checkChain(entries[i].station, one);
            one.clear();
        }
    }
    out += checkRows(entries, rows);
    return out;
}

QList<Finding> compareCopies(const QList<ChainEntry>& own, qint64 sentUpTo, const QList<ChainEntry>& central)
{
    if (own.isEmpty())
        return {};
    const QString station = own.first().station;
    QHash<qint64, const ChainEntry*> there;
    for (const ChainEntry& e : central)
        if (e.station == station)
            there.insert(e.seq, &e);
    const QString prefix = QStringLiteral("station %1, central copy: ").arg(station);
    for (const ChainEntry& e : own) {
        const auto it = there.constFind(e.seq);
        if (it == there.constEnd()) {
            if (e.seq <= sentUpTo)
                return {finding(e, QStringLiteral("removed"), prefix + name(e) + QStringLiteral(" was removed"))};
            continue;  // not sent yet
        }
        // Sent or not: the same position holding another link is where the copies part.
        if ((*it)->hash != e.hash || (*it)->body != e.body)
            return {finding(e, QStringLiteral("changed"),
                            prefix + QStringLiteral("the copies differ first at record %1: the central ledger's is "
                                                    "not the station's %2")
                                         .arg(e.seq)
                                         .arg(name(e)))};
    }
    const qint64 last = own.last().seq;
    QList<qint64> extra;
    for (auto it = there.constBegin(); it != there.constEnd(); ++it)
        if (it.key() > last)
            extra << it.key();
    if (!extra.isEmpty()) {
        const ChainEntry& e = **there.constFind(*std::min_element(extra.cbegin(), extra.cend()));
        return {finding(e, QStringLiteral("inserted"),
                        prefix + QStringLiteral("it holds %1 past the station's own end at record %2 (the copies "
                                                "differ from record %3 on)")
                                     .arg(name(e))
                                     .arg(last)
                                     .arg(last + 1))};
    }
    return {};
}

}  // namespace Ledger
