#pragma once

#include "console/UsageError.h"
#include "ledger/UnitFilter.h"

#include <QString>
#include <QStringList>

struct Options {
    enum class Command { List, ExportCsv, ExportJson, Summary, Verify, Grant, Station, NewStation, Find, FindJson, Upgrade };
    Command command = Command::List;
    QString ledger;   // the local ledger; empty when only central
    QString central;  // a PostgreSQL URI
    QString role;     // grant
    QString station;  // grant: the station's id
    QString name;     // grant, new-station: the station's name
    QString serial;   // find
    Ledger::UnitFilter filter;
    bool help = false, version = false;
};

Options parseOptions(const QStringList& arguments);
QString helpText();
