#pragma once
// The figures of a shift, as the central ledger's views define them too:
// counts, yields and first-pass yields per station, recipe and hour, the
// failure reasons, the cycle times and each station's chain head. Units are
// grouped by the hour of their start in the report's time zone.

#include "ledger/Chain.h"
#include "ledger/StoredVerify.h"
#include "ledger/UnitRecord.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QMap>
#include <QString>
#include <QTimeZone>
#include <optional>
#include <tuple>

struct ShiftRequest {
    QDateTime since, until;      // UTC; invalid when not given
    QString station, recipe, fixture;  // station: its id or its name; empty takes every one
    QTimeZone zone;
};

struct GroupFigures {
    qint64 units = 0, passed = 0, failed = 0, interrupted = 0, open = 0;
    qint64 firstAttempts = 0, firstAttemptsEnded = 0, firstAttemptsPassed = 0;
    QDateTime firstStart, lastEnd;  // lastEnd: an open unit counts with its start

    qint64 ended() const { return passed + failed + interrupted; }
    std::optional<double> yield() const;
    std::optional<double> firstPassYield() const;
    std::optional<double> unitsPerHour() const;  // none over less than a minute
};

struct StationFigures {
    QString id, name, host;
    qint64 lastSeq = 0;  // 0: no link
    QString lastHash;
    bool whole = true;   // verify found nothing in this station's chain and rows
    QString finding;     // the first finding, when not whole
};

struct CycleFigures {
    qint64 units = 0;  // ended units
    double min = 0, median = 0, p90 = 0, max = 0;  // seconds; median and p90 interpolated as percentile_cont
};

// (station id, recipe name, recipe SHA-256)
using RecipeKey = std::tuple<QString, QString, QString>;
// (station id, recipe name, recipe SHA-256, UTC start of the unit's hour in the zone)
using HourKey = std::tuple<QString, QString, QString, QDateTime>;

struct ShiftFigures {
    ShiftRequest request;
    QDateTime made;                 // UTC
    QDateTime coveredFrom, coveredTo;  // the units' first start and last end (an open unit: its start)
    GroupFigures totals;
    QList<StationFigures> stations;  // the stations with units in the window, by name
    QMap<HourKey, GroupFigures> byHour;
    QMap<RecipeKey, GroupFigures> byRecipe;
    QMap<RecipeKey, CycleFigures> cycles;
    // Failed and interrupted units per reason code ("unrecorded" when none), most first.
    QList<std::pair<QString, qint64>> reasons;
    QMap<std::tuple<QString, QString, QString, QDateTime, QString>, qint64> reasonsByHour;  // HourKey + reason
    QList<Ledger::UnitRecord> failures;  // failed and interrupted, by start
    QList<QDateTime> hours;              // every hour with a unit, in order

    const StationFigures* station(const QString& id) const;
};

// A unit's failure reason: its code, or "unrecorded" for a record from
// before reason codes.
QString failureReason(const Ledger::UnitRecord& r);
// The UTC instant the unit's hour starts at in the zone.
QDateTime hourOf(const QDateTime& start, const QTimeZone& zone);
// A station's name: the one it was given, else the host of its units.
QString stationName(const QHash<QString, QString>& given, const Ledger::UnitRecord& r);

// The figures of a ledger as it is stored, read a page at a time in one
// snapshot of it, as verifyStored() reads it: memory grows with the window's
// failures and the serials begun before its end, not with the units and
// their labels. ownStation: a station's own ledger, whose every row and link
// is that station's; empty for the central one. names: the stations' names
// by id. Throws LedgerError.
ShiftFigures storedShiftFigures(const Ledger::StoredLedger& ledger, const QString& ownStation,
                                const QHash<QString, QString>& names, const ShiftRequest& request, const QDateTime& now,
                                int pageRows = 500);
