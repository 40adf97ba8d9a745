#pragma once
// The command line: what to load where, and how to report it.

#include <QString>
#include <QStringList>
#include <stdexcept>

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

// A command line that cannot be run as given; exit status 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Throws UsageError.
Options parseOptions(const QStringList& arguments);

// The text --help prints, exit statuses included.
QString helpText();
