#pragma once
// What pelmora-ledger prints about a list of units.

#include "ledger/CsvExport.h"
#include "ledger/UnitRecord.h"

#include <QByteArray>
#include <QList>
#include <QString>

// Control characters (line breaks) as spaces, for one-line tables.
QString oneLine(const QString& text);
QString listText(const QList<Ledger::UnitRecord>& units);
QByteArray jsonLines(const QList<Ledger::UnitRecord>& units);
QString summaryText(const QList<Ledger::UnitRecord>& units, const QDateTime& now);
