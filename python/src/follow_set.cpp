#include "python/src/follow_set.h"

#include <pybind11/numpy.h>

#include <algorithm>
#include <cerrno>

#include "lines/set_files.h"
#include "python/src/columns.h"
#include "python/src/common.h"
#include "python/src/follow.h"
#include "python/src/sets.h"

namespace py = pybind11;

namespace cdt {

namespace {

constexpr std::size_t kFirstSetRows = 256;

std::vector<std::string> pathList(const py::list& paths) {
  if (paths.empty()) throw py::value_error("a set without files");
  std::vector<std::string> out;
  for (const py::handle& p : paths) out.push_back(p.cast<std::string>());
  return out;
}

std::size_t checkedMaster(std::size_t master, const py::list& paths) {
  if (master >= paths.size()) throw py::value_error("the master is not one of the set's files");
  return master;
}

}  // namespace

SetFollow::SetFollow(const py::list& paths, std::size_t master, double idleSeconds,
                     const py::object& decode)
    : follower_(pathList(paths), checkedMaster(master, paths), followOptions(idleSeconds)),
      decode_(decode) {}

void SetFollow::stop() {
  follower_.stop();
}

py::object SetFollow::hosts(double timeout) {
  std::unique_lock lock(mutex_, std::defer_lock);
  FollowStatus status;
  {
    py::gil_scoped_release release;
    lock.lock();
    status = follower_.waitForHosts(followTimeout(timeout));
  }
  if (status == FollowStatus::Failed) throw FormatError(follower_.failure());
  if (status != FollowStatus::Record) return py::none();
  py::list list;
  for (std::size_t h = 0; h < follower_.hosts(); ++h) {
    const std::optional<uint32_t> index = follower_.linesHost(h);
    py::dict d;
    d["host"] = index ? py::object(py::int_(*index)) : py::object(py::none());
    d["probes"] = probeList(follower_.configuration(h), index.value_or(0), decode_);
    list.append(d);
  }
  return list;
}

void SetFollow::begin(const std::vector<LineSelection>& selections) {
  std::unique_lock lock(mutex_, std::defer_lock);
  {
    py::gil_scoped_release release;
    lock.lock();
  }
  const std::size_t n = follower_.hosts();
  if (selections.size() != n) throw py::value_error("a selection per file");
  plans_.assign(n, LinePlan());
  std::vector<ColumnPlan> plans;
  std::vector<LineWindow> windows;
  for (std::size_t h = 0; h < n; ++h) {
    SelectionError error;
    if (!resolveSelection(follower_.configuration(h), follower_.linesHost(h), selections[h],
                          nameDecoder(decode_), plans_[h], error)) {
      throw SelectionFailure(error.kind, follower_.path(h) + ": " + error.message);
    }
    plans.push_back(plans_[h].plan);
    windows.push_back(plans_[h].window);
  }
  try {
    follower_.begin(plans, windows);
  } catch (const std::logic_error& e) {
    throw py::value_error(e.what());
  }
  hostDicts_ = py::list();
  const SetPlan& plan = follower_.plan();
  for (std::size_t h = 0; h < n; ++h) {
    py::dict d;
    d["probes"] = planList(plans_[h]);
    d["float_row"] = plan.floatRow[h];
    d["double_row"] = plan.doubleRow[h];
    d["columns"] = columnList(plans_[h]);
    hostDicts_.append(d);
  }
}

py::dict SetFollow::next(std::size_t most, double timeout) {
  std::unique_lock lock(mutex_, std::defer_lock);
  {
    py::gil_scoped_release release;
    lock.lock();
  }
  if (plans_.empty()) throw py::value_error("begin() first");
  most = std::max<std::size_t>(most, 1);
  const SetPlan& plan = follower_.plan();
  const std::size_t n = follower_.hosts();
  std::size_t capacity = std::min(most, kFirstSetRows);
  auto arrays = std::make_unique<SetArrays>(plan, n, capacity);
  std::size_t stored = 0;
  {
    py::gil_scoped_release release;
    stored = follower_.next(arrays->columns, 0, capacity, followTimeout(timeout));
  }
  // More lines at hand than the first arrays hold: larger arrays, without
  // waiting.
  while (stored == capacity && capacity < most && follower_.status() == FollowStatus::Waiting) {
    const std::size_t larger = capacity > most / 2 ? most : 2 * capacity;
    auto grown = std::make_unique<SetArrays>(plan, n, larger);
    const std::size_t before = stored;
    {
      py::gil_scoped_release release;
      grown->copy(*arrays, stored, plan, n);
      stored +=
          follower_.next(grown->columns, stored, larger - stored, std::chrono::milliseconds(0));
    }
    arrays = std::move(grown);
    capacity = larger;
    if (stored == before) break;
  }
  if (follower_.status() == FollowStatus::Failed) throw FormatError(follower_.failure());
  py::dict d = arrays->lines.dict(stored);
  d["status"] = arrays->status;
  py::list hosts;
  py::list statuses;
  for (std::size_t h = 0; h < n; ++h) {
    py::dict host = py::dict(hostDicts_[h]);
    host["stopped"] = stopDict(follower_.records(h).stopReport());
    hosts.append(host);
    statuses.append(followStatusName(follower_.hostStatus(h)));
  }
  d["hosts"] = hosts;
  d["follow"] = followStatusName(follower_.status());
  d["host_follow"] = statuses;
  return d;
}

py::list SetFollow::state() {
  std::unique_lock lock(mutex_, std::defer_lock);
  {
    py::gil_scoped_release release;
    lock.lock();
  }
  py::list list;
  for (std::size_t h = 0; h < follower_.hosts(); ++h) {
    py::dict d = followState(follower_.records(h));
    d["lines"] = follower_.lines(h);
    list.append(d);
  }
  return list;
}

py::dict findLiveSetOf(const std::string& path) {
  std::string error;
  bool absent = false;
  std::optional<LiveSet> live;
  {
    py::gil_scoped_release release;
    live = findLiveSet(path, error, absent);
  }
  if (!live) {
    if (absent) {
      errno = ENOENT;
      PyErr_SetFromErrnoWithFilename(PyExc_FileNotFoundError, path.c_str());
      throw py::error_already_set();
    }
    throw py::value_error(path + ": " + error);
  }
  const SetFiles& set = live->files;
  py::dict d;
  py::list paths;
  py::list hosts;
  for (std::size_t k = 0; k < set.paths.size(); ++k) {
    paths.append(live->found[k].empty() ? py::object(py::none())
                                        : py::object(py::bytes(live->found[k])));
    hosts.append(
        py::bytes(std::string(set.configuration.hosts[static_cast<uint32_t>(k)].name.view())));
  }
  d["paths"] = paths;
  d["hosts"] = hosts;
  d["master"] = set.master;
  d["time"] = set.time;
  d["name"] = py::bytes(setOutputStem(set));
  return d;
}

}  // namespace cdt
