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

    // Units coming and going, as in a station's fixture.
    long units = 0;                // 0: one unit, there all along
    double present = 5.0;          // a unit leaves this long after its last frame other than a poll
    double absent = 2.0;           // the fixture stays empty this long between units
    double firstAfter = 0.0;       // the first unit arrives this long after the start
    bool vanish = false;           // while empty, the line itself is gone
    QString link;                  // a symbolic link to the line, there while the line is
    std::string refuseLengthIn;    // no reply to a length after this slot file name
    // The first unit is taken out, unheard, when the pullOnCount-th frame with
    // this payload ("data": any data frame) comes; empty: never.
    std::string pullOn;
    long pullOnCount = 1;
    long pullUnit = 1;  // the unit --pull-on takes out
    // Set: a unit leaves `present` seconds after its N-th release, whatever
    // else it gets meanwhile.
    long leaveAfterReleases = 0;
};

enum class Request { Serve, ShowText, Refuse };

// Parses the arguments (the program's name first). ShowText: print message
// and exit (--help, --version). Refuse: message says what is wrong.
Request parseOptions(const QStringList& arguments, Options& options, QString& message);

} // namespace rv7k
