#include "python/src/sets.h"

#include <pybind11/numpy.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "lines/set_files.h"
#include "lines/set_reader.h"
#include "python/src/columns.h"
#include "python/src/common.h"

namespace py = pybind11;

namespace cdt {

namespace {

// numpy arrays for `rows` set lines: the columns of a read, and a status
// row per host.
struct SetArrays {
  SetArrays(const SetPlan& plan, std::size_t hosts, std::size_t rows)
      : lines(setBlocks(plan), rows),
        status({static_cast<py::ssize_t>(hosts), static_cast<py::ssize_t>(rows)}),
        rows(rows) {
    columns = {lines.columns, status.mutable_data()};
  }
  // Copies the first `n` lines of `from`.
  void copy(const SetArrays& from, std::size_t n, const SetPlan& plan, std::size_t hosts) {
    copyLines(setBlocks(plan), from.columns.lines, columns.lines, 0, n);
    for (std::size_t h = 0; h < hosts; ++h) {
      std::memcpy(columns.status + h * rows, from.columns.status + h * from.rows, n);
    }
  }
  Arrays lines;
  py::array_t<uint8_t> status;
  std::size_t rows;
  SetColumns columns;
};

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
  return d;
}

py::dict readSet(const py::list& paths, std::size_t master, bool salvage,
                 const std::vector<LineSelection>& selections, const py::object& decode) {
  if (selections.size() != paths.size()) throw py::value_error("a selection per file");
  std::vector<std::unique_ptr<DataFile>> files;
  std::vector<LinePlan> plans;
  std::vector<std::string> names;
  for (std::size_t h = 0; h < paths.size(); ++h) {
    const std::string path = paths[h].cast<std::string>();
    files.push_back(openOrRaise(path, salvage));
    plans.push_back(planLines(*files.back(), path, salvage, selections[h], decode));
    names.push_back(path);
  }
  if (files.empty()) throw py::value_error("a set without files");
  if (master >= files.size()) throw py::value_error("the master is not one of the set's files");
  std::vector<ColumnPlan> columnPlans;
  std::vector<SetReader::Host> hosts;
  std::size_t entries = 0;
  uint64_t recordBytes = 0;
  for (std::size_t h = 0; h < files.size(); ++h) {
    columnPlans.push_back(plans[h].plan);
    hosts.push_back({files[h].get(), plans[h].window});
    entries = std::max<std::size_t>(entries, files[h]->indexEntryCount());
    recordBytes += recordBytesOf(*files[h]);
  }
  const SetPlan plan = planSet(columnPlans);
  const std::size_t n = files.size();
  // As long as the longest host's index says, within the records' bound;
  // the arrays grow where that is too short.
  const std::size_t limit = rowsLimit(recordBytes, lineBytes(setBlocks(plan)) + n);
  const std::size_t rows =
      std::clamp<std::size_t>(entries + 1024, 1, std::max<std::size_t>(limit, 1));
  auto arrays = std::make_unique<SetArrays>(plan, n, rows);
  std::size_t stored = 0;
  {
    std::unique_ptr<SetReader> reader;
    {
      py::gil_scoped_release release;
      reader = std::make_unique<SetReader>(hosts, master, plan);
    }
    for (;;) {
      {
        py::gil_scoped_release release;
        stored += reader->read(arrays->columns, stored, arrays->rows - stored);
      }
      if (reader->ended()) break;
      auto grown = std::make_unique<SetArrays>(plan, n, 2 * arrays->rows);
      {
        py::gil_scoped_release release;
        grown->copy(*arrays, stored, plan, n);
      }
      arrays = std::move(grown);
    }
  }
  py::dict d = arrays->lines.dict(stored);
  d["status"] = arrays->status;
  py::list described;
  for (std::size_t h = 0; h < n; ++h) {
    py::dict host;
    host["probes"] = planList(plans[h]);
    host["float_row"] = plan.floatRow[h];
    host["double_row"] = plan.doubleRow[h];
    host["columns"] = columnList(plans[h]);
    host["stopped"] = stopDict(files[h]->lastReadStatus());
    described.append(host);
  }
  d["hosts"] = described;
  return d;
}

}  // namespace cdt
