#pragma once
// What pelmora-ledger prints about a list of units.

#include "ShiftFigures.h"
#include "ledger/CsvExport.h"
#include "ledger/UnitRecord.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

// Control characters (line breaks) as spaces, for one-line tables.
QString oneLine(const QString& text);
// How a person tells the stations apart: each station's host, and where two
// stations share a host name, its id's first digits too ("bench-4 #6f1c2a3b").
QHash<QString, QString> stationNames(const QList<Ledger::UnitRecord>& units);
QString listText(const QList<Ledger::UnitRecord>& units);
QByteArray jsonLines(const QList<Ledger::UnitRecord>& units);
// Every record of one serial, oldest first, each with its labels.
QString findText(const QString& serial, const QList<Ledger::UnitRecord>& units);
QString summaryText(const QList<Ledger::UnitRecord>& units, const QDateTime& now);
// The shift's figures as one HTML file, at most `failuresShown` failed units listed.
QByteArray reportHtml(const ShiftFigures& figures, int failuresShown);
