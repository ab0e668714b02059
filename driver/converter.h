// The cdt2csv conversion loop: every argument after the program name is a
// data file, converted into a CSV file of the same name with the extension
// ".csv" in the current directory.
#pragma once

#include <cstdio>

#include "foundation/counted_string.h"

namespace cdt {

// The output name for an input path: its final component (split at '\',
// '/' and ':', trimmed of white space; the whole path when that is empty),
// without the text from the path's last '.' when the component ends with it,
// then ".csv". Never has a directory part.
//   "dir/sub/run.cdt" -> "run.csv"   "dir.old/run" -> "run.csv"
//   "a.b.cdt" -> "a.b.csv"           "C:run.cdt" -> "run.csv"
CountedString outputPathFor(const char* inputPath);

// Converts argv[1] to argv[argc - 1] in order; argv[0] prefixes every
// message. Prints "<name>: in=<input>, out=<output>" on `out` for each file
// converted, and on `err` one line per input that cannot be opened, output
// that cannot be created (or would be the input itself) and output that
// could not be written completely. Returns 0 when every file was converted
// (also with no arguments), else 1.
int runConverter(int argc, char** argv, std::FILE* out, std::FILE* err);

}  // namespace cdt
