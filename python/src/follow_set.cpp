#include "python/src/follow_set.h"

#include <pybind11/numpy.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "datafile/discovery.h"
#include "datafile/file_names.h"
#include "foundation/paths.h"
#include "lines/set_files.h"
#include "python/src/columns.h"
#include "python/src/common.h"
#include "python/src/follow.h"
#include "python/src/sets.h"

namespace py = pybind11;

namespace cdt {

namespace {

constexpr std::size_t kFirstSetRows = 256;

std::chrono::milliseconds untilDeadline(std::chrono::steady_clock::time_point deadline) {
  return std::max(std::chrono::duration_cast<std::chrono::milliseconds>(
                      deadline - std::chrono::steady_clock::now()),
                  std::chrono::milliseconds(0));
}

[[noreturn]] void raiseHostFailure(const DataFileFollower& records, const std::string& path) {
  throw FormatError("cannot follow '" + path + "': " + followErrorText(records.error()));
}

}  // namespace

SetFollower::SetFollower(const py::list& paths, std::size_t master, double idleSeconds,
                         const py::object& decode)
    : master_(master), decode_(decode) {
  if (paths.empty()) throw py::value_error("a set without files");
  if (master >= paths.size()) throw py::value_error("the master is not one of the set's files");
  const FollowOptions options = followOptions(idleSeconds);
  hosts_.resize(paths.size());
  for (std::size_t h = 0; h < paths.size(); ++h) {
    hosts_[h].path = paths[h].cast<std::string>();
    hosts_[h].records = std::make_unique<DataFileFollower>(hosts_[h].path, options);
  }
}

void SetFollower::stop() {
  for (Host& host : hosts_) host.records->stop();
}

py::object SetFollower::hosts(double timeout) {
  std::unique_lock lock(mutex_, std::defer_lock);
  {
    py::gil_scoped_release release;
    lock.lock();
  }
  const auto deadline = std::chrono::steady_clock::now() + followTimeout(timeout);
  for (Host& host : hosts_) {
    if (host.known) continue;
    FollowStatus status;
    {
      py::gil_scoped_release release;
      status = host.records->waitForConfiguration(untilDeadline(deadline));
      if (status == FollowStatus::Record) {
        if (!host.lines) host.lines = std::make_unique<LineFollower>(*host.records);
        status = host.lines->waitForHost(untilDeadline(deadline));
      }
    }
    if (status == FollowStatus::Failed) raiseHostFailure(*host.records, host.path);
    if (status == FollowStatus::Idle && !host.lines) {
      throw FormatError("cannot follow '" + host.path +
                        "': it has not grown for the idle time and holds no configuration");
    }
    if (status == FollowStatus::Stopped) stopped_ = true;
    if (status == FollowStatus::Waiting || status == FollowStatus::Stopped) continue;
    host.known = true;
    if (status != FollowStatus::Record) {
      // The file ended without a line: it has none to join.
      host.ended = true;
      host.status = status;
    }
  }
  if (stopped_) return py::none();
  py::list list;
  for (const Host& host : hosts_) {
    if (!host.known) return py::none();
    const std::optional<uint32_t> index = host.lines->host();
    py::dict d;
    d["host"] = index ? py::object(py::int_(*index)) : py::object(py::none());
    d["probes"] = probeList(host.records->configuration(), index.value_or(0), decode_);
    list.append(d);
  }
  return list;
}

void SetFollower::begin(const std::vector<LineSelection>& selections) {
  if (selections.size() != hosts_.size()) throw py::value_error("a selection per file");
  for (const Host& host : hosts_) {
    if (!host.known) throw py::value_error("the hosts of the set are not known yet");
  }
  std::vector<ColumnPlan> plans;
  for (std::size_t h = 0; h < hosts_.size(); ++h) {
    Host& host = hosts_[h];
    SelectionError error;
    if (!resolveSelection(host.records->configuration(), host.lines->host(), selections[h],
                          nameDecoder(decode_), host.plan, error)) {
      throw SelectionFailure(error.kind, host.path + ": " + error.message);
    }
    host.lines->setRanges(host.plan.window);
    plans.push_back(host.plan.plan);
  }
  plan_ = planSet(std::move(plans));
  ringRows_ = setRingRows(*plan_);
  join_.emplace(hosts_.size(), master_);
  hostDicts_ = py::list();
  for (std::size_t h = 0; h < hosts_.size(); ++h) {
    Host& host = hosts_[h];
    host.ring = std::make_unique<ColumnStorage>(host.plan.plan, ringRows_);
    host.used.assign(ringRows_, false);
    py::dict d;
    d["probes"] = planList(host.plan);
    d["float_row"] = plan_->floatRow[h];
    d["double_row"] = plan_->doubleRow[h];
    d["columns"] = columnList(host.plan);
    hostDicts_.append(d);
  }
}

void SetFollower::readAhead(std::size_t h, std::chrono::milliseconds timeout) {
  Host& host = hosts_[h];
  if (host.ahead || host.ended) return;
  const std::size_t slot = static_cast<std::size_t>(host.next % ringRows_);
  const LineColumns& ring = host.ring->columns();
  const FollowBatch batch =
      host.lines->nextGroups(1, timeout, [&](const LineGroup& group, uint64_t windowTime) {
        storeLine(host.plan.plan, group, ring, slot);
        host.ahead = SetJoinLine{{ring.startRevolution[slot], ring.endRevolution[slot]},
                                 windowTime,
                                 ring.time[slot],
                                 ring.floats[slot],
                                 static_cast<std::size_t>(host.next)};
      });
  if (host.ahead) {
    host.used[slot] = true;
    ++host.next;
  }
  if (followEnded(batch.status)) {
    host.ended = true;
    host.status = batch.status;
  }
}

bool SetFollower::ringFull(std::size_t h) const {
  const Host& host = hosts_[h];
  return host.used[static_cast<std::size_t>(host.next % ringRows_)];
}

void SetFollower::store(const SetLine& line, const SetColumns& columns, std::size_t row) {
  const LineColumns& out = columns.lines;
  const std::size_t stride = out.stride;
  const SetJoinLine& reference = *line.hosts[line.reference];
  {
    const Host& host = hosts_[line.reference];
    const LineColumns& ring = host.ring->columns();
    const std::size_t slot = reference.row % ringRows_;
    out.time[row] = ring.time[slot];
    out.sync[row] = ring.sync[slot];
    out.floats[row] = ring.floats[slot];
  }
  out.startRevolution[row] = line.key.start;
  out.endRevolution[row] = line.key.end;
  for (std::size_t h = 0; h < hosts_.size(); ++h) {
    const std::optional<SetJoinLine>& own = line.hosts[h];
    columns.status[h * stride + row] = setLineStatus(own ? &*own : nullptr, reference);
    const ColumnPlan& plan = hosts_[h].plan.plan;
    const LineColumns& ring = hosts_[h].ring->columns();
    const std::size_t slot = own ? own->row % ringRows_ : 0;
    for (uint32_t r = 1; r < plan.floatRows; ++r) {
      out.floats[(std::size_t{plan_->floatRow[h]} + r - 1) * stride + row] =
          own ? ring.floats[r * ring.stride + slot] : std::numeric_limits<float>::quiet_NaN();
    }
    for (uint32_t r = 0; r < plan.doubleRows; ++r) {
      out.doubles[(std::size_t{plan_->doubleRow[h]} + r) * stride + row] =
          own ? ring.doubles[r * ring.stride + slot] : std::numeric_limits<double>::quiet_NaN();
    }
    if (own) hosts_[h].used[slot] = false;
  }
}

FollowStatus SetFollower::overall() const {
  if (stopped_) return FollowStatus::Stopped;
  if (!drained_) return FollowStatus::Waiting;
  for (const Host& host : hosts_) {
    if (host.status == FollowStatus::Idle) return FollowStatus::Idle;
  }
  return FollowStatus::Finished;
}

py::dict SetFollower::next(std::size_t most, double timeout) {
  std::unique_lock lock(mutex_, std::defer_lock);
  {
    py::gil_scoped_release release;
    lock.lock();
  }
  if (!plan_) throw py::value_error("begin() first");
  most = std::max<std::size_t>(most, 1);
  const auto deadline = std::chrono::steady_clock::now() + followTimeout(timeout);
  const std::size_t n = hosts_.size();
  std::size_t capacity = std::min(most, kFirstSetRows);
  auto arrays = std::make_unique<SetArrays>(*plan_, n, capacity);
  std::size_t stored = 0;
  std::optional<std::size_t> failed;
  // Stores set lines until `capacity` or until none is complete within the
  // deadline (the wait only before the first).
  const auto fill = [&] {
    const SetColumns& columns = arrays->columns;
    while (stored < capacity && !stopped_ && !drained_ && !failed) {
      if (std::optional<SetLine> line = join_->take()) {
        store(*line, columns, stored++);
        continue;
      }
      // The next line of the join is the earliest of the hosts' next lines:
      // every host must have one at hand, or have ended.
      std::optional<std::size_t> behind;
      for (std::size_t h = 0; h < n && !behind; ++h) {
        readAhead(h, std::chrono::milliseconds(0));
        if (!hosts_[h].ahead && !hosts_[h].ended) behind = h;
      }
      for (std::size_t h = 0; h < n; ++h) {
        if (hosts_[h].status == FollowStatus::Stopped) stopped_ = true;
        if (hosts_[h].status == FollowStatus::Failed) failed = h;
      }
      if (stopped_ || failed) break;
      if (behind) {
        const std::chrono::milliseconds rest = untilDeadline(deadline);
        if (stored > 0 || rest.count() == 0) break;
        readAhead(*behind, rest);
        continue;
      }
      std::optional<std::size_t> first;
      for (std::size_t h = 0; h < n; ++h) {
        const std::optional<SetJoinLine>& ahead = hosts_[h].ahead;
        if (ahead && (!first || ahead->windowTime < hosts_[*first].ahead->windowTime)) first = h;
      }
      if (!first) {
        join_->finish();
        if (std::optional<SetLine> line = join_->take()) {
          store(*line, columns, stored++);
        } else {
          drained_ = true;
        }
        continue;
      }
      if (ringFull(*first)) {
        // The host's ring is full of lines the join holds: the oldest set
        // line goes out as it stands, as a read does.
        if (std::optional<SetLine> line = join_->takeOldest()) {
          store(*line, columns, stored++);
          continue;
        }
        break;
      }
      join_->add(*first, *hosts_[*first].ahead);
      hosts_[*first].ahead.reset();
    }
  };
  {
    py::gil_scoped_release release;
    fill();
  }
  while (stored == capacity && capacity < most && !stopped_ && !drained_ && !failed) {
    const std::size_t larger = capacity > most / 2 ? most : 2 * capacity;
    auto grown = std::make_unique<SetArrays>(*plan_, n, larger);
    {
      py::gil_scoped_release release;
      grown->copy(*arrays, stored, *plan_, n);
    }
    arrays = std::move(grown);
    capacity = larger;
    const std::size_t before = stored;
    {
      py::gil_scoped_release release;
      fill();
    }
    if (stored == before) break;
  }
  if (failed) raiseHostFailure(*hosts_[*failed].records, hosts_[*failed].path);
  py::dict d = arrays->lines.dict(stored);
  d["status"] = arrays->status;
  py::list hosts;
  py::list statuses;
  for (std::size_t h = 0; h < n; ++h) {
    py::dict host = py::dict(hostDicts_[h]);
    host["stopped"] = stopDict(hosts_[h].records->stopReport());
    hosts.append(host);
    statuses.append(followStatusName(hosts_[h].ended ? hosts_[h].status : FollowStatus::Waiting));
  }
  d["hosts"] = hosts;
  d["follow"] = followStatusName(overall());
  d["host_follow"] = statuses;
  return d;
}

py::list SetFollower::state() {
  std::unique_lock lock(mutex_, std::defer_lock);
  {
    py::gil_scoped_release release;
    lock.lock();
  }
  py::list list;
  for (const Host& host : hosts_) {
    py::dict d = followState(*host.records);
    d["lines"] = host.lines ? host.lines->lines() : 0;
    list.append(d);
  }
  return list;
}

namespace {

std::string withoutTemporarySuffix(const std::string& path) {
  return path.ends_with(kBeingWrittenSuffix)
             ? path.substr(0, path.size() - kBeingWrittenSuffix.size())
             : path;
}

// `text` with the first `from` replaced by `to` (unchanged without one).
std::string replacedFirst(const std::string& text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  if (at == std::string::npos) return text;
  std::string out = text;
  out.replace(at, from.size(), to);
  return out;
}

// The name a host's file has now: the final one, else the one being
// written; empty when neither is readable.
std::string existingName(const std::string& finalName) {
  if (isReadable(finalName.c_str())) return finalName;
  const std::string temporary = finalName + std::string(kBeingWrittenSuffix);
  return isReadable(temporary.c_str()) ? temporary : std::string();
}

std::string hostMatchName(const CountedString& name) {
  return std::string(name.view().substr(0, kMaxHostNameMatch));
}

}  // namespace

py::dict findLiveSet(const std::string& path) {
  const std::string finalName = withoutTemporarySuffix(path);
  const std::string named = isReadable(path.c_str()) ? path : existingName(finalName);
  if (named.empty()) {
    errno = ENOENT;
    PyErr_SetFromErrnoWithFilename(PyExc_FileNotFoundError, path.c_str());
    throw py::error_already_set();
  }
  DataFileReport report;
  std::unique_ptr<DataFile> file;
  {
    py::gil_scoped_release release;
    file = openDataFile(named.c_str(), report);
  }
  if (file == nullptr) throw py::value_error(path + ": not a readable data file");
  const Configuration& configuration = file->configuration();
  const uint32_t count = configuration.hosts.size();
  if (count == 0) throw py::value_error(path + ": its configuration has no hosts");
  // The file's host: the first whose name followed by "." its path holds.
  std::optional<uint32_t> own;
  for (uint32_t k = 0; k < count && !own; ++k) {
    const std::string name = hostMatchName(configuration.hosts[k].name);
    if (!name.empty() && finalName.find(name + ".") != std::string::npos) own = k;
  }
  if (!own)
    throw py::value_error(path + ": no host of its configuration is named in its file name");
  // The other hosts' files, by either name: the file's name with the host
  // part (".HOST.") of each, else also its computer's directory.
  const Host& master = configuration.hosts[*own];
  std::vector<std::string> finals(count);
  std::vector<std::string> found(count);
  finals[*own] = finalName;
  found[*own] = named;
  for (uint32_t k = 0; k < count; ++k) {
    const Host& host = configuration.hosts[k];
    if (k == *own || host.name.view().empty()) continue;
    std::string candidate = replacedFirst(finalName, "." + hostMatchName(master.name) + ".",
                                          "." + hostMatchName(host.name) + ".");
    std::string existing = candidate != finalName ? existingName(candidate) : std::string();
    if (existing.empty() && !master.hostName.view().empty() && !host.hostName.view().empty()) {
      const std::string from(master.hostName.view());
      const std::string to(host.hostName.view());
      candidate = replacedFirst(candidate, "/" + from + "/", "/" + to + "/");
      candidate = replacedFirst(candidate, "\\" + from + "\\", "\\" + to + "\\");
      if (candidate != finalName) existing = existingName(candidate);
    }
    if (!existing.empty()) {
      finals[k] = candidate;
      found[k] = existing;
    }
  }
  SetFiles set;
  set.configuration = configuration;
  set.paths = finals;
  // The configuration's master where it has a file, else the first host that has one.
  const int32_t chosen = configuration.masterHostIndex();
  if (chosen >= 0 && static_cast<uint32_t>(chosen) < count &&
      !finals[static_cast<std::size_t>(chosen)].empty()) {
    set.master = static_cast<std::size_t>(chosen);
  } else {
    set.master =
        static_cast<std::size_t>(std::find_if(finals.begin(), finals.end(),
                                              [](const std::string& p) { return !p.empty(); }) -
                                 finals.begin());
  }
  set.time = setTime(set.paths);
  py::dict d;
  py::list paths;
  py::list hosts;
  for (uint32_t k = 0; k < count; ++k) {
    paths.append(found[k].empty() ? py::object(py::none()) : py::object(py::bytes(found[k])));
    hosts.append(py::bytes(std::string(configuration.hosts[k].name.view())));
  }
  d["paths"] = paths;
  d["hosts"] = hosts;
  d["master"] = set.master;
  d["time"] = set.time;
  d["name"] = py::bytes(setOutputStem(set));
  return d;
}

}  // namespace cdt
