#include "python/src/sets.h"

#include <pybind11/numpy.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "foundation/paths.h"
#include "lines/set_files.h"
#include "lines/set_halves.h"
#include "lines/set_parts.h"
#include "lines/set_reader.h"
#include "lines/set_summary.h"
#include "python/src/columns.h"
#include "python/src/common.h"

namespace py = pybind11;

namespace cdt {

namespace {

// What a set read tells of host h: its probes with their rows in the set's
// blocks, and its columns.
py::dict hostDict(const LinePlan& lines, const SetPlan& plan, std::size_t h) {
  py::dict host;
  host["probes"] = planList(lines);
  host["float_row"] = plan.floatRow[h];
  host["double_row"] = plan.doubleRow[h];
  host["columns"] = columnList(lines);
  return host;
}

// The whole set in two halves on two cores, where its records are large
// enough (set_halves.h); none where it is not split or a half outgrew its
// rows (the caller then reads it at once).
std::optional<py::dict> readInHalves(const py::list& paths, std::size_t master, bool salvage,
                                     const std::vector<LineSelection>& selections,
                                     const py::object& decode) {
  std::vector<std::unique_ptr<DataFile>> files;
  std::vector<std::unique_ptr<DataFile>> seconds;
  std::vector<LinePlan> plans;
  std::vector<ColumnPlan> columnPlans;
  SetHalvesInput in{files, seconds, {}, master, 0};
  uint64_t recordBytes = 0;
  for (std::size_t h = 0; h < paths.size(); ++h) {
    const std::string path = paths[h].cast<std::string>();
    files.push_back(openOrRaise(path, salvage));
    plans.push_back(planLines(*files.back(), path, salvage, selections[h], decode));
    columnPlans.push_back(plans.back().plan);
    in.windows.push_back(plans.back().window);
    recordBytes += recordBytesOf(*files.back());
  }
  if (recordBytes < splitThreshold() || master >= files.size()) return std::nullopt;
  for (std::size_t h = 0; h < paths.size(); ++h) {
    seconds.push_back(openOrRaise(paths[h].cast<std::string>(), salvage));
  }
  const SetPlan plan = planSet(columnPlans);
  const std::size_t n = files.size();
  in.rowsLimit = rowsLimit(recordBytes, lineBytes(setBlocks(plan)) + n);
  std::optional<SetHalves> halves;
  {
    py::gil_scoped_release release;
    halves = planSetHalves(in);
  }
  if (!halves) return std::nullopt;
  SetArrays arrays(plan, n, halves->firstRows + halves->secondRows);
  std::optional<std::size_t> rows;
  {
    py::gil_scoped_release release;
    rows = readSetHalves(*halves, master, plan, arrays.columns);
  }
  if (!rows) return std::nullopt;
  py::dict d = arrays.lines.dict(*rows);
  d["status"] = arrays.status;
  py::list hosts;
  for (std::size_t h = 0; h < n; ++h) {
    py::dict host = hostDict(plans[h], plan, h);
    host["stopped"] = stopDict(seconds[h]->lastReadStatus());
    hosts.append(host);
  }
  d["hosts"] = hosts;
  return d;
}

py::object pathOrNone(const std::string& path) {
  return path.empty() ? py::object(py::none()) : py::object(py::bytes(path));
}

}  // namespace

py::dict findSet(const std::string& path, std::optional<uint64_t> time) {
  SetFiles set;
  std::string error;
  bool found = false;
  {
    py::gil_scoped_release release;
    found = findSetFiles(path, time, set, error);
  }
  if (!found) {
    if (error == "no such file or directory") {
      errno = ENOENT;
      PyErr_SetFromErrnoWithFilename(PyExc_FileNotFoundError, path.c_str());
      throw py::error_already_set();
    }
    throw py::value_error(path + ": " + error);
  }
  py::dict d;
  py::list paths;
  py::list hosts;
  for (std::size_t h = 0; h < set.paths.size(); ++h) {
    paths.append(pathOrNone(set.paths[h]));
    const Host& host = set.configuration.hosts[static_cast<uint32_t>(h)];
    hosts.append(py::bytes(std::string(host.name.view())));
  }
  d["paths"] = paths;
  d["hosts"] = hosts;
  d["master"] = set.master;
  d["time"] = set.time;
  d["name"] = py::bytes(setOutputStem(set));
  return d;
}

SetBatchReader::SetBatchReader(const py::list& paths, std::size_t master, bool salvage,
                               const std::vector<LineSelection>& selections,
                               const py::object& decode, const py::object& planned,
                               const py::object& keep, std::optional<std::size_t> hint) {
  if (selections.size() != paths.size()) throw py::value_error("a selection per file");
  if (paths.empty()) throw py::value_error("a set without files");
  if (master >= paths.size()) throw py::value_error("the master is not one of the set's files");
  std::vector<py::object> starts(paths.size(), py::none());
  if (!planned.is_none()) {
    const auto list = planned.cast<py::list>();
    if (list.size() != paths.size()) throw py::value_error("a planned start per file");
    for (std::size_t h = 0; h < paths.size(); ++h) starts[h] = list[h];
  }
  std::vector<LinePlan> plans;
  std::vector<ColumnPlan> columnPlans;
  std::vector<SetReader::Host> hosts;
  std::size_t entries = 0;
  uint64_t recordBytes = 0;
  for (std::size_t h = 0; h < paths.size(); ++h) {
    const std::string path = paths[h].cast<std::string>();
    files_.push_back(openOrRaise(path, salvage));
    DataFile& file = *files_.back();
    plans.push_back(planLines(file, path, salvage, selections[h], decode));
    columnPlans.push_back(plans.back().plan);
    SetReader::Host host{&file, plans.back().window, std::nullopt};
    if (host.window.start) host.start = plannedStart(starts[h]);
    hosts.push_back(host);
    if (!hint) entries = std::max<std::size_t>(entries, file.indexEntryCount());
    recordBytes += recordBytesOf(file);
  }
  plan_ = planSet(columnPlans);
  const std::size_t n = files_.size();
  // As long as the longest host's index says (or the part's count), within
  // the records' bound; the arrays grow where that is too short.
  const std::size_t limit = rowsLimit(recordBytes, lineBytes(setBlocks(plan_)) + n);
  firstRows_ =
      std::clamp<std::size_t>(hint.value_or(entries) + 1024, 1, std::max<std::size_t>(limit, 1));
  {
    py::gil_scoped_release release;
    reader_ = std::make_unique<SetReader>(hosts, master, plan_);
  }
  if (!keep.is_none()) {
    const auto pair = keep.cast<py::tuple>();
    if (pair.size() != 2) throw py::value_error("a keep window is (low, high)");
    const auto bound = [](const py::handle& b) {
      return b.is_none() ? std::nullopt : std::optional<uint64_t>(b.cast<uint64_t>());
    };
    reader_->keep(bound(pair[0]), bound(pair[1]));
  }
  for (std::size_t h = 0; h < n; ++h) hosts_.append(hostDict(plans[h], plan_, h));
}

py::object SetBatchReader::next(std::optional<std::size_t> most) {
  std::unique_lock lock(mutex_, std::defer_lock);
  {
    py::gil_scoped_release release;
    lock.lock();
  }
  if (reader_->ended() && !most) return py::none();
  const std::size_t n = files_.size();
  const std::size_t wanted = most.value_or(SIZE_MAX);
  auto arrays = std::make_unique<SetArrays>(plan_, n, std::min(firstRows_, wanted));
  std::size_t stored = 0;
  for (;;) {
    {
      py::gil_scoped_release release;
      stored += reader_->read(arrays->columns, stored, arrays->rows - stored);
    }
    if (reader_->ended() || stored == wanted) break;
    auto grown = std::make_unique<SetArrays>(plan_, n, std::min(2 * arrays->rows, wanted));
    {
      py::gil_scoped_release release;
      grown->copy(*arrays, stored, plan_, n);
    }
    arrays = std::move(grown);
  }
  if (most && stored == 0 && reader_->ended()) return py::none();
  py::dict d = arrays->lines.dict(stored);
  d["status"] = arrays->status;
  for (std::size_t h = 0; h < n; ++h) {
    hosts_[h].cast<py::dict>()["stopped"] = stopDict(files_[h]->lastReadStatus());
  }
  d["hosts"] = hosts_;
  return d;
}

std::size_t setMasterOf(const py::list& paths) {
  std::vector<std::string> files;
  std::unique_ptr<DataFile> first;
  for (const py::handle& p : paths) {
    files.push_back(p.is_none() ? std::string() : p.cast<std::string>());
    if (!first && !files.back().empty()) first = openOrRaise(files.back(), true);
  }
  if (!first) throw py::value_error("no file of the set");
  return setMaster(first->configuration(), files);
}

py::list findSetTimesOf(const std::string& directory) {
  std::vector<SetFiles> sets;
  std::string error;
  bool found = false;
  bool directoryThere = false;
  {
    py::gil_scoped_release release;
    directoryThere = isDirectory(directory.c_str());
    found = directoryThere && findDirectorySets(directory, sets, error);
  }
  if (!directoryThere) {
    errno = ENOTDIR;
    PyErr_SetFromErrnoWithFilename(PyExc_NotADirectoryError, directory.c_str());
    throw py::error_already_set();
  }
  if (!found) throw py::value_error(directory + ": " + error);
  std::vector<uint64_t> times;
  for (const SetFiles& set : sets) times.push_back(set.time);
  std::sort(times.begin(), times.end());
  times.erase(std::unique(times.begin(), times.end()), times.end());
  py::list list;
  for (uint64_t t : times) list.append(t);
  return list;
}

py::dict readSet(const py::list& paths, std::size_t master, bool salvage,
                 const std::vector<LineSelection>& selections, const py::object& decode,
                 const py::object& planned, const py::object& keep,
                 std::optional<std::size_t> hint) {
  bool whole = planned.is_none() && keep.is_none() && !hint && selections.size() == paths.size();
  for (const LineSelection& selection : selections) whole = whole && !selection.hasWindow();
  if (whole && !paths.empty()) {
    if (std::optional<py::dict> d = readInHalves(paths, master, salvage, selections, decode)) {
      return *d;
    }
  }
  SetBatchReader reader(paths, master, salvage, selections, decode, planned, keep, hint);
  return reader.next(std::nullopt).cast<py::dict>();
}

namespace {

// A set's files opened for one call, each raising as a file of its own does.
struct OpenedSet {
  OpenedSet(const py::list& paths, std::size_t master, bool salvage) {
    for (const py::handle& path : paths) {
      files.push_back(openOrRaise(path.cast<std::string>(), salvage));
      pointers.push_back(files.back().get());
    }
    if (master >= files.size()) throw py::value_error("the master is not one of the set's files");
  }
  std::vector<std::unique_ptr<DataFile>> files;
  std::vector<DataFile*> pointers;
};

}  // namespace

py::dict summarizeSetFiles(const py::list& paths, std::size_t master, bool salvage) {
  const OpenedSet set(paths, master, salvage);
  const std::vector<DataFile*>& pointers = set.pointers;
  SetSummary summary;
  {
    py::gil_scoped_release release;
    summary = summarizeSet(pointers, master);
  }
  py::dict d;
  d["lines"] = summary.lines;
  d["agree"] = summary.agree();
  py::list hosts;
  for (const SetHostSummary& s : summary.hosts) {
    py::dict host;
    host["lines"] = s.lines;
    host["missing"] = s.missing;
    host["time_off"] = s.timeOff;
    host["speed_off"] = s.speedOff;
    host["restarts"] = s.restarts;
    host["first_rev"] = s.firstRevolution ? py::object(py::int_(*s.firstRevolution)) : py::none();
    host["last_rev"] = s.lastRevolution ? py::object(py::int_(*s.lastRevolution)) : py::none();
    host["stopped"] = stopDict(s.stopped);
    hosts.append(host);
  }
  d["hosts"] = hosts;
  return d;
}

py::list planSetCutsOf(const py::list& paths, std::size_t master, bool salvage,
                       const std::vector<uint64_t>& wanted) {
  const OpenedSet set(paths, master, salvage);
  const std::vector<DataFile*>& pointers = set.pointers;
  std::vector<SetCut> cuts;
  {
    py::gil_scoped_release release;
    cuts = planSetCuts(pointers, master, wanted, kSetPartMargin, 4 * kSetPartMargin);
  }
  py::list list;
  for (const SetCut& cut : cuts) list.append(py::make_tuple(cut.start, cut.cut));
  return list;
}

py::list setProbeKeysOf(const std::vector<std::string>& hosts, const py::list& probes) {
  if (probes.size() != hosts.size()) throw py::value_error("one list of probes per host");
  std::vector<SetProbeName> named(hosts.size());
  std::vector<std::vector<uint32_t>> slots(hosts.size());
  for (std::size_t h = 0; h < hosts.size(); ++h) {
    named[h].host = hosts[h];
    for (const py::handle& probe : probes[h].cast<py::list>()) {
      const auto [name, slot] = probe.cast<std::pair<std::string, uint32_t>>();
      if (slot >= kChannelsPerHost) throw py::value_error("a channel is 0 to 3");
      named[h].names[slot] = name;
      named[h].present[slot] = true;
      slots[h].push_back(slot);
    }
  }
  const std::vector<std::array<std::string, kChannelsPerHost>> keys = setProbeKeys(named);
  py::list out;
  for (std::size_t h = 0; h < hosts.size(); ++h) {
    py::list host;
    for (uint32_t slot : slots[h]) host.append(keys[h][slot]);
    out.append(host);
  }
  return out;
}

}  // namespace cdt
