#pragma once
// The station's command line: the recipe, the fixtures, where units are
// recorded and how the run is shown.

#include "console/UsageError.h"
#include "station/FixtureOption.h"

#include <QDir>
#include <QList>
#include <QStringList>
#include <QString>


struct StationOptions {
    QString config;   // the configuration file the rest started from; empty: none
    QString station;  // the name its records carry; empty: the host name
    QString recipe;
    QList<FixtureOption> fixtures;
    QString ledger;  // empty: the default ledger
    QString central;  // a PostgreSQL address the records are forwarded to; empty: none
    QString settings = QStringLiteral("9600,n,8,1");
    bool json = false;
    qint64 units = 0;  // 0: until stopped
    int goneAfter = 2;
    double silence = 2.5;
    QString listen = QStringLiteral("127.0.0.1:8470");  // the page's address, or "off"
    QStringList pageNames;  // names the page answers to besides its address and localhost
    bool check = false;  // check everything, send nothing
    bool adopt = false;  // a ledger of another machine becomes this one's
    bool help = false;
    bool version = false;
};

StationOptions parseStationOptions(const QStringList& arguments);
QString stationHelpText();

// A fixture's port as given where base is: a path is taken from base; a
// port number or a USB identity is kept as it is.
QString portFrom(const QString& selector, const QDir& base);
// Why no two of fixtures may run: two of them on one device, by whatever
// name (a link, the same path twice); empty when none are.
QString sharedPortRefusal(const QList<FixtureOption>& fixtures);
