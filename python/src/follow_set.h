// Following a recording set being written: the hosts' files followed
// together and their lines joined by revolution as a read of the finished
// set joins them (lines/set_join.h), each set line handed out once no later
// line of any host can change it.
//
// The join takes the hosts' lines in window-time order across the hosts
// (the host whose next line comes first), so a host's next line is only
// chosen once every host has one at hand or has ended: a host that is
// behind holds the set lines back until it catches up or its follow ends
// (finished, or given up after the idle time). The followed set lines are
// therefore those of a read of the finished set; a host given up on
// contributes the lines of its whole records, as `cdt recover` keeps them.
#pragma once

#include <pybind11/pybind11.h>

#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "datafile/follower.h"
#include "lines/line_columns.h"
#include "lines/line_follower.h"
#include "lines/line_selection.h"
#include "lines/set_join.h"
#include "lines/set_reader.h"

namespace cdt {

class SetFollower {
 public:
  // The hosts' files (bytes: ".temp" or final names), the master's
  // position among them, and the idle time of each host's follow.
  SetFollower(const pybind11::list& paths, std::size_t master, double idleSeconds,
              const pybind11::object& decode);

  // Waits at most `timeout` seconds for every host's configuration and the
  // host of its lines. None while some are still to come; then per host
  // its "host" (index, None when its file ended without a line) and its
  // "probes" (every probe of that host: slot, name, key, blades), from
  // which Python names the set's probes and makes the selections.
  pybind11::object hosts(double timeout);
  // Resolves each host's selection (after hosts() gave them); raises
  // SelectionFailure.
  void begin(const std::vector<LineSelection>& selections);
  // Up to `most` set lines complete within `timeout` seconds: the arrays
  // of a set read (rows possibly 0), "hosts" (per host its probes' plan,
  // rows in the set's blocks, columns and stop) and "status": "waiting",
  // "finished" (every host's file finished), "idle" (some host was given
  // up), "stopped"; "host_status" tells each host's. Raises FormatError
  // when a host's file cannot be followed.
  pybind11::dict next(std::size_t most, double timeout);
  void stop();
  // Per host followState() and its lines.
  pybind11::list state();

 private:
  struct Host {
    std::string path;
    std::unique_ptr<DataFileFollower> records;
    std::unique_ptr<LineFollower> lines;
    LinePlan plan;
    // Lines read and not yet stored: ring rows, line number modulo the ring.
    std::unique_ptr<ColumnStorage> ring;
    std::vector<bool> used;
    uint64_t next = 0;
    std::optional<SetJoinLine> ahead;  // read, not yet offered to the join
    bool known = false;                // the host of its lines is known
    bool ended = false;
    FollowStatus status = FollowStatus::Waiting;
  };
  // Reads host h's next line into its ring, waiting at most `timeout`.
  void readAhead(std::size_t h, std::chrono::milliseconds timeout);
  bool ringFull(std::size_t h) const;
  void store(const SetLine& line, const SetColumns& columns, std::size_t row);
  FollowStatus overall() const;

  std::mutex mutex_;
  std::vector<Host> hosts_;
  std::size_t master_;
  pybind11::object decode_;
  std::optional<SetPlan> plan_;
  std::optional<SetJoin> join_;
  std::size_t ringRows_ = 0;
  pybind11::list hostDicts_;
  bool drained_ = false;
  bool stopped_ = false;
};

// The recording set being written that `path` names, a data file by its
// ".temp" name or its final one (whichever exists): the hosts' files found
// as the discovery finds a finished set's, each by either name. As
// find_set's dict: "paths" (None per host without a file), "hosts",
// "master", "time", "name". Raises FileNotFoundError, or ValueError naming
// the path.
pybind11::dict findLiveSet(const std::string& path);

}  // namespace cdt
