#pragma once
// The command line: what to load where, and how to report it.

#include "console/UsageError.h"

#include <QString>
#include <QStringList>

struct Options {
    QStringList ports;  // selectors, in the order given
    int slot = 0;       // 1 to 5, required
    QString settings = QStringLiteral("9600,n,8,1");
    int attempts = 10;
    QString file;
    QString logPath;
    bool allowEmpty = false;
    bool listPorts = false;
    bool json = false;
    bool quiet = false;
    bool help = false;
    bool version = false;
};

// Throws UsageError.
Options parseOptions(const QStringList& arguments);

// The text --help prints, exit statuses included.
QString helpText();
