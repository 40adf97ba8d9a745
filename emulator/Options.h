#pragma once

#include "Frame.h"

#include <map>
#include <optional>
#include <string>

namespace rv7k {

struct Options {
    bool pty = false;
    std::string device;            // --device PATH
    std::string outDir;            // empty: nothing is written
    std::string logPath;           // empty: no log
    bool silent = false;
    double late = 0.0;             // seconds between a frame and its reply
    std::map<Kind, std::string> replies;  // --reply KIND=TEXT
    bool noRelease = false;
    long releaseAfter = 0;         // 0: every "#End#" is answered
    long hangupAfter = 0;          // 0: never hang up
    bool help = false;
};

// Parses argv. On failure returns false and says why in error.
bool parseOptions(int argc, char** argv, Options& options, std::string& error);

std::string helpText();

} // namespace rv7k
