// The cdt companion tool: "cdt COMMAND [OPTIONS] ARGS", in the style of git.
#pragma once

#include <cstdio>

namespace cdt {

// The tool's version, printed by "cdt --version": the project's version and,
// when built from a git checkout, `git describe` (generated at build time by
// cmake/CdtVersion.cmake).
extern const char kCdtVersion[];

// Runs one cdt command line (argv[0] is the program). Handles "--help",
// "--version", "help [COMMAND]" and "COMMAND --help" itself; everything else
// goes to the command. Results go to `out`, messages to `err`. Returns 0 on
// success, 1 when a file failed (writing `out` included: it is flushed before
// the return), 2 on a usage error.
int runCdt(int argc, char** argv, FILE* out, FILE* err);

}  // namespace cdt
