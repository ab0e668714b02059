// The names of the files of a recording and of the files made from one.
//
// A recorder names each data file after the UTC moment its recording began,
// "<base>.YYYY-MM-DD.hh-mm-ss.cdt" (timestampedPath), where the base of a
// file written for a configuration is "<name>.<revision as 4 digits>.<host
// name>" (recordingBaseName); discovery.h reads such names back. While it is
// being written a data file has ".temp" after its name; finishing it renames
// it to the name itself.
#pragma once

#include <cstdint>
#include <string_view>

#include "config/model.h"
#include "foundation/counted_string.h"

namespace cdt {

inline constexpr std::string_view kDataFileExtension = ".cdt";
// After the name of a data file that is being written (no index yet).
inline constexpr std::string_view kBeingWrittenSuffix = ".temp";

// "<directory>/<baseName>.YYYY-MM-DD.hh-mm-ss<extension>" with the UTC
// calendar fields of `time` (microseconds since 1970); nullptr texts count as
// empty.
CountedString timestampedPath(const char* directory, const char* baseName, uint64_t time,
                              std::string_view extension);

// "<name>.<revision as %04d>.<host name>" of the configuration's host `host`
// (its name empty when there is no such host).
CountedString recordingBaseName(const Configuration& configuration, uint32_t host);

// The name of the CSV made of a data file, in the current directory: the
// input path's final component (split at '\', '/' and ':', trimmed of white
// space; the whole path when that is empty), without the text from the path's
// last '.' when the component ends with it, then ".csv". Never has a
// directory part. Every view of a recording (cdt export's formats, Python's
// convert) takes its name from here, with its own extension in place of ".csv".
//   "dir/sub/run.cdt" -> "run.csv"   "dir.old/run" -> "run.csv"
//   "a.b.cdt" -> "a.b.csv"           "C:run.cdt" -> "run.csv"
CountedString outputPathFor(const char* inputPath);

}  // namespace cdt
