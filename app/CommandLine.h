#pragma once
// The program's command line: --help and --version, nothing else.

#include <optional>

namespace CommandLine {
// Read before QApplication exists, since it aborts without a display and
// these answers need none. Returns the exit status when the command line is
// answered without a window (--help and --version: 0; anything else is a
// mistake: 2, said on stderr); nothing when the window should open.
std::optional<int> answer(int argc, char* argv[]);
}  // namespace CommandLine
