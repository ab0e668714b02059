// The cdt2csv conversion loop: every argument after the program name is a
// data file, converted into a CSV file of the same name with the extension
// ".csv" in the current directory (outputPathFor).
#pragma once

#include <cstdio>

namespace cdt {

// Converts argv[1] to argv[argc - 1] in order; argv[0] prefixes every
// message. Prints "<name>: in=<input>, out=<output>" on `out` for each file
// converted, and on `err` one line per input that cannot be opened, output
// that cannot be created (or would be the input itself) and output that
// could not be written completely. Returns 0 when every file was converted
// (also with no arguments), else 1.
int runConverter(int argc, char** argv, std::FILE* out, std::FILE* err);

}  // namespace cdt
