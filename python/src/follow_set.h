// Python's face of following a recording set being written
// (lines/set_follower.h) and of finding one (lines/set_files.h).
#pragma once

#include <pybind11/pybind11.h>

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "lines/line_selection.h"
#include "lines/set_follower.h"

namespace cdt {

class SetFollow {
 public:
  // The hosts' files (bytes: ".temp" or final names), the master's
  // position among them, and the idle time of each host's follow.
  SetFollow(const pybind11::list& paths, std::size_t master, double idleSeconds,
            const pybind11::object& decode);

  // Waits at most `timeout` seconds for every host's configuration and the
  // host of its lines. None while some are still to come; then per host
  // its "host" (index, None when its file ended without a line) and its
  // "probes" (every probe of that host: slot, name, key, blades), from
  // which Python names the set's probes and makes the selections. Raises
  // FormatError when a host's file cannot be followed.
  pybind11::object hosts(double timeout);
  // Resolves each host's selection (after hosts() gave them); raises
  // SelectionFailure.
  void begin(const std::vector<LineSelection>& selections);
  // Up to `most` set lines complete within `timeout` seconds: the arrays
  // of a set read (rows possibly 0), "hosts" (per host its probes' plan,
  // rows in the set's blocks, columns and stop) and "follow": "waiting",
  // "finished" (every host's file finished), "idle" (some host was given
  // up), "stopped"; "host_follow" tells each host's. Raises FormatError
  // when a host's file cannot be followed.
  pybind11::dict next(std::size_t most, double timeout);
  void stop();
  // Per host followState() and its lines.
  pybind11::list state();

 private:
  std::mutex mutex_;
  SetFollower follower_;
  pybind11::object decode_;
  std::vector<LinePlan> plans_;
  pybind11::list hostDicts_;
};

// The recording set being written that `path` names (lines/set_files.h:
// findLiveSet), as find_set's dict: "paths" (None per host without a
// file), "hosts", "master", "time", "name". Raises FileNotFoundError, or
// ValueError naming the path.
pybind11::dict findLiveSetOf(const std::string& path);

}  // namespace cdt
