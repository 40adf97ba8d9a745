#pragma once

#include "console/UsageError.h"
#include "ledger/UnitFilter.h"

#include <QString>
#include <QStringList>

struct Options {
    enum class Command { List, ExportCsv, ExportJson, Summary, Verify, Grant, Station, NewStation, Find, FindJson, Upgrade, Report };
    Command command = Command::List;
    QString ledger;   // the local ledger; empty when only central
    QString central;  // a PostgreSQL URI
    QString role;     // grant
    QString station;  // grant: the station's id
    QString name;     // grant, new-station: the station's name
    QString serial;   // find
    QString html;     // report: the file written
    QString onlyStation;  // report: a station's id or name
    QString zone;     // report: an IANA time zone; empty for the machine's
    Ledger::UnitFilter filter;
    bool help = false, version = false;
};

Options parseOptions(const QStringList& arguments);
QString helpText();
