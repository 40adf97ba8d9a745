#pragma once

#include "Frame.h"

#include <QString>
#include <QStringList>

#include <map>
#include <string>

namespace rv7k {

struct Options {
    bool pty = false;
    QString device;                // --device PATH
    QString outDir;                // empty: nothing is written
    QString logPath;               // empty: no log
    bool silent = false;
    double late = 0.0;             // seconds between a frame and its reply
    std::map<Kind, std::string> replies;  // --reply KIND=TEXT
    bool noRelease = false;
    long releaseAfter = 0;         // 0: every "#End#" is answered
    long hangupAfter = 0;          // 0: never hang up
};

enum class Request { Serve, ShowText, Refuse };

// Parses the arguments (the program's name first). ShowText: print message
// and exit (--help, --version). Refuse: message says what is wrong.
Request parseOptions(const QStringList& arguments, Options& options, QString& message);

} // namespace rv7k
