// Following a data file being written from Python: its lines as numpy
// arrays, batch by batch as they complete (lines/line_follower.h).
//
// Pull-style: Python calls next() with a short timeout and the GIL released
// while it waits, so that a KeyboardInterrupt or a close between the calls
// ends a follow promptly; stop() ends it from any thread.
#pragma once

#include <pybind11/pybind11.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "datafile/follower.h"
#include "lines/line_follower.h"
#include "lines/line_selection.h"

namespace cdt {

// The follow's status as Python names it: "waiting", "finished", "idle",
// "stopped" or "failed".
const char* followStatusName(FollowStatus status);

// Milliseconds of a timeout in seconds (negative counts as 0).
std::chrono::milliseconds followTimeout(double seconds);

// The idle time of a follow in seconds (0: never give up).
FollowOptions followOptions(double idleSeconds);

// What a follow tells of its file: "open_path" (bytes, empty while no file
// is open), "records", "position", "file_size", "stopped" (reason, offset),
// "index_agrees", "error" (empty, or why the file cannot be followed).
pybind11::dict followState(const DataFileFollower& records);

class FileFollower {
 public:
  // Follows `path` (the ".temp" name or the final one) with the selection
  // resolved once the file's configuration and the host of its lines are
  // known. Nothing is read here.
  FileFollower(const std::string& path, const LineSelection& selection, std::size_t rows,
               double idleSeconds, const pybind11::object& decode);

  // Waits at most `timeout` seconds for lines, then hands out up to `rows`
  // of them: a dict as a read gives (time, ..., rows: possibly 0, probes,
  // columns, stopped) and "status" (followStatusName). Once the follow has
  // ended it returns no lines and the same status. Raises FormatError when
  // the file cannot be followed, SelectionFailure for a selection it cannot
  // satisfy.
  pybind11::dict next(double timeout);
  // Ends the follow: the next() running or to come returns "stopped" soon.
  void stop();
  pybind11::dict state();

 private:
  // Waits for the configuration and the host; true once the plan is made.
  bool prepare(std::chrono::milliseconds timeout, FollowStatus& status);
  pybind11::dict ended(FollowStatus status);

  std::mutex mutex_;
  std::string path_;
  LineSelection selection_;
  std::size_t rows_;
  pybind11::object decode_;
  DataFileFollower records_;
  std::optional<LineFollower> lines_;
  std::optional<LinePlan> plan_;
  pybind11::list planList_;
  pybind11::list columns_;
};

}  // namespace cdt
