// Where deflections come from: a window of one file's lines, or the lines of
// a recording set, its hosts' files joined line by line (lines/set_join.h),
// so that a stage whose probes are spread over several hosts is analysed
// with every probe on the same revolution.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "analysis/analysis.h"
#include "datafile/data_file.h"
#include "lines/line_reader.h"

namespace cdt {

// The deflections of every analysable stage from the lines of `file` in
// `window` (the host of its first line), reading from the start of its
// records.
std::vector<StageDeflections> readDeflections(DataFile& file, const Geometry& geometry,
                                              const LineWindow& window, DeflectionCounts& counts);

// What reading a set's deflections found besides the lines' counts.
struct SetDeflectionReport {
  uint64_t setLines = 0;
  // Host lines whose time or speed disagrees with their set line (the set
  // line's speed would time them wrongly): their cells are left out.
  uint64_t hostLinesOff = 0;
  // Set lines without a host's line, per host of `files` (their cells are
  // empty, not invented).
  std::vector<uint64_t> hostLinesMissing;
  // Hosts of the configuration with no file whose probes watch an
  // analysable stage: those probes are not in the deflections.
  std::vector<uint32_t> missingHosts;
};

// The deflections of a recording set: `files` per host of the
// configuration (nullptr where the set has none), `master` the host whose
// lines lead (it must have a file); every file is read from the start of
// its records in `window`. The geometry is that of the master's
// configuration.
std::vector<StageDeflections> readSetDeflections(const std::vector<DataFile*>& files,
                                                 std::size_t master, const Geometry& geometry,
                                                 const LineWindow& window, DeflectionCounts& counts,
                                                 SetDeflectionReport& report);

}  // namespace cdt
