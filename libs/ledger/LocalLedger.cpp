#include "ledger/LocalLedger.h"

#include "ledger/ReasonCode.h"
#include "ledger/RecordText.h"
#include "ledger/StoredVerify.h"
#include "ledger/UnitRows.h"

#include <QDir>
#include <QFileInfo>
#include <QMutexLocker>
#include <QSqlError>
#include <QSqlQuery>

namespace Ledger {

namespace {

QString text(const QString& s)
{
    return notNull(s);
}

}  // namespace

QString LocalLedger::defaultPath()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || QDir::isRelativePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/pelmora/ledger.sqlite");
}

LocalLedger::LocalLedger(const QString& path, Access access, const StationOpening& opening)
    : file_(path, access, opening)
{
}

void LocalLedger::newStation(const QString& path, const QString& name)
{
    if (QFileInfo::exists(path))
        throw LedgerError(QStringLiteral("%1 exists; a new station gets a new ledger file (keep the old one for audit)")
                              .arg(path)
                              .toStdString());
    LocalLedger ledger(path);
    ledger.file_.claim();
    QSqlQuery q = prepared(ledger.file_.connection().db(), QStringLiteral("INSERT INTO meta (key, value) VALUES ('station_name', ?)"), {name});
    run(q, "name the station");
}

qint64 LocalLedger::unitCount() const
{
    SqliteConnection& c = file_.connection();
    QSqlQuery q(c.db());
    if (!q.exec(QStringLiteral("SELECT count(*) FROM units")) || !q.next())
        throw LedgerError(QStringLiteral("could not count the units: %1").arg(q.lastError().text()).toStdString());
    return q.value(0).toLongLong();
}

void LocalLedger::begin(const UnitRecord& record)
{
    if (record.id.isNull())
        throw LedgerError("a record needs an id");
    if (!record.isOpen())
        throw LedgerError("a record is begun without a result");
    if (!record.start.isValid())
        throw LedgerError("a record needs its start time to begin");
    append(QStringLiteral("begin"), record, true);
}

void LocalLedger::close(const UnitRecord& record)
{
    static const QStringList results{QStringLiteral("pass"), QStringLiteral("fail"), QStringLiteral("interrupted")};
    if (!results.contains(record.result))
        throw LedgerError(QStringLiteral("a record closes as pass, fail or interrupted, not '%1'")
                              .arg(record.result)
                              .toStdString());
    UnitRecord closed = record;
    if (!closed.end.isValid())
        closed.end = QDateTime::currentDateTimeUtc();
    append(QStringLiteral("close"), closed, false);
}

void LocalLedger::append(const QString& kind, const UnitRecord& given, bool opening)
{
    const QMutexLocker lock(&writing_);
    file_.requireSameFile();
    SqliteConnection& c = file_.connection();
    WriteTransaction t(c);
    // Under the write lock too: the file may have been swapped meanwhile.
    file_.requireSameFile();
    const QString id = given.id.toString(QUuid::WithoutBraces);
    QSqlQuery state = prepared(c.db(), QStringLiteral("SELECT %1 FROM units WHERE id = ?").arg(unitShape().selected(Dialect::Sqlite)),
                               {id});
    run(state, "read the unit");
    const bool exists = state.next();
    const UnitRecord begun = exists ? unitFromRow(state) : UnitRecord{};
    state.finish();
    if (opening && exists)
        throw LedgerError(QStringLiteral("unit %1 is already recorded").arg(id).toStdString());
    if (!opening && !(exists && begun.isOpen()))
        throw LedgerError(QStringLiteral("unit %1 has no open record to close").arg(id).toStdString());
    UnitRecord r = given;
    if (opening) {
        QSqlQuery unit = prepared(c.db(),
                                  QStringLiteral("INSERT INTO units (%1) VALUES (%2)")
                                      .arg(unitShape().names(), unitShape().parameters(Dialect::Sqlite)),
                                  unitValues(r));
        run(unit, "write the unit");
    } else {
        // A close says how the unit ended; which unit it was, its begin said.
        r = begun;
        r.end = given.end;
        r.result = given.result;
        r.why = given.why;
        r.reason = given.reason;
        r.labels = given.labels;
        QSqlQuery unit = prepared(c.db(),
                                  QStringLiteral("UPDATE units SET end_time = ?, result = ?, why = ?, reason = ? WHERE id = ?"),
                                  {timeText(r.end), r.result, text(r.why), text(r.reason), id});
        run(unit, "write the unit");
        for (const LabelRecord& l : r.labels) {
            QSqlQuery label = prepared(c.db(),
                                       QStringLiteral("INSERT INTO labels (%1) VALUES (%2)")
                                           .arg(labelShape().names(), labelShape().parameters(Dialect::Sqlite)),
                                       labelValues(r.id, l));
            run(label, "write a label");
        }
    }

    QSqlQuery last = prepared(c.db(), QStringLiteral("SELECT seq, hash FROM chain WHERE station = ? ORDER BY seq DESC LIMIT 1"),
                              {file_.station()});
    run(last, "read the chain");
    qint64 seq = 1;
    QString prev = firstPrevHash();
    if (last.next()) {
        seq = last.value(0).toLongLong() + 1;
        prev = last.value(1).toString();
    }
    last.finish();
    const ChainEntry e = makeEntry(file_.station(), seq, kind, r, prev);
    QSqlQuery link = prepared(c.db(),
                              QStringLiteral("INSERT INTO chain (station, seq, unit_id, kind, body, prev_hash, hash) "
                                             "VALUES (?, ?, ?, ?, ?, ?, ?)"),
                              {e.station, e.seq, id, e.kind, QString::fromUtf8(e.body), e.prevHash, e.hash});
    run(link, "append to the chain");
    t.commit();
}

int LocalLedger::closeInterrupted(const QString& why)
{
    file_.claim();
    UnitFilter open;
    open.result = QStringLiteral("open");
    const QList<UnitRecord> units = this->units(open);
    int closed = 0;
    for (UnitRecord r : units) {
        // The labels it was begun with; what each slot holds now nobody saw.
        {
            QSqlQuery q = prepared(file_.connection().db(), QStringLiteral("SELECT body FROM chain WHERE unit_id = ? AND kind = 'begin'"),
                                   {r.id.toString(QUuid::WithoutBraces)});
            run(q, "read the chain");
            if (q.next()) {
                ChainEntry begun;
                begun.body = q.value(0).toString().toUtf8();
                r.labels = entryRecord(begun).labels;
            }
        }
        for (LabelRecord& l : r.labels)
            if (l.slotHolds.isEmpty() || l.slotHolds == QLatin1String("untouched"))
                l.slotHolds = QStringLiteral("unknown");
        r.result = QStringLiteral("interrupted");
        r.why = why;
        r.reason = Reason::text(Reason::Interrupted);
        r.end = QDateTime::currentDateTimeUtc();
        close(r);
        ++closed;
    }
    return closed;
}

QList<UnitRecord> LocalLedger::units(const UnitFilter& filter) const
{
    SqliteConnection& c = file_.connection();
    QList<UnitRecord> out = readUnits(c.db(), Dialect::Sqlite, filter, file_.version() >= 2);
    for (UnitRecord& r : out)
        r.station = file_.station();  // one station per ledger
    return out;
}

std::optional<UnitRecord> LocalLedger::lastPass(const QString& serial, const QString& recipeSha256) const
{
    if (serial.isEmpty())
        return std::nullopt;
    UnitFilter f;
    f.serial = serial;
    f.recipeSha256 = recipeSha256;
    f.result = QStringLiteral("pass");
    const QList<UnitRecord> passed = units(f);
    if (passed.isEmpty())
        return std::nullopt;
    return passed.last();
}

QList<ChainEntry> LocalLedger::chain() const
{
    SqliteConnection& c = file_.connection();
    return readChain(c.db(), Dialect::Sqlite);
}

std::optional<ChainEntry> LocalLedger::link(qint64 seq) const
{
    SqliteConnection& c = file_.connection();
    QSqlQuery q = prepared(c.db(),
                           QStringLiteral("SELECT station, seq, unit_id, kind, body, prev_hash, hash FROM chain "
                                          "WHERE station = ? AND seq = ?"),
                           {file_.station(), seq});
    run(q, "read the chain");
    const QList<ChainEntry> found = chainEntries(q);
    return found.isEmpty() ? std::nullopt : std::optional<ChainEntry>(found.first());
}

void LocalLedger::read(const std::function<void(const StoredLedger&)>& reading) const
{
    SqliteConnection c(file_.path(), file_.readUri(), file_.access() == Access::Reader);
    reading(StoredLedger{c.db(), Dialect::Sqlite, file_.version() >= 2});
}

}  // namespace Ledger
