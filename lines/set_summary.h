// How the hosts of a recording set agree: per host the lines it has, the
// set lines it misses, and those whose time or speed differs (the statuses
// of lines/set_join.h), found by reading the set's lines without cells.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "datafile/data_file.h"

namespace cdt {

struct SetHostSummary {
  uint64_t lines = 0;                       // of the host's own
  uint64_t missing = 0;                     // set lines without a line of the host
  uint64_t timeOff = 0;                     // its time more than half a revolution off
  uint64_t speedOff = 0;                    // its speed more than 1 % off
  uint64_t restarts = 0;                    // times its revolution counter went back
  std::optional<uint64_t> firstRevolution;  // Start Rev of its first line
  std::optional<uint64_t> lastRevolution;   // End Rev of its last line
  DataFileReport stopped;                   // where its reading stopped
};

struct SetSummary {
  uint64_t lines = 0;  // of the set
  std::vector<SetHostSummary> hosts;
  // Every host has every set line, none off in time or speed.
  bool agree() const;
};

// Reads the lines of `files` (one per host of the set, in host order; each
// standing at its first record) as a set led by `files[master]`.
SetSummary summarizeSet(const std::vector<DataFile*>& files, std::size_t master);

}  // namespace cdt
