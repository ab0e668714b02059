// Recording sets for the Python side: finding a set's files, and reading
// its lines (lines/set_reader.h) as numpy arrays.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "datafile/data_file.h"
#include "lines/line_selection.h"
#include "lines/set_reader.h"
#include "python/src/columns.h"

namespace cdt {

// numpy arrays for `rows` set lines: the columns of a read, and a status
// row per host.
struct SetArrays {
  SetArrays(const SetPlan& plan, std::size_t hosts, std::size_t rows)
      : lines(setBlocks(plan), rows),
        status({static_cast<pybind11::ssize_t>(hosts), static_cast<pybind11::ssize_t>(rows)}),
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
  pybind11::array_t<uint8_t> status;
  std::size_t rows;
  SetColumns columns;
};

// The set `path` names (lines/set_files.h): "paths" (bytes, or None per
// host without a file), "hosts" (the hosts' names as bytes), "master" and
// "time"; raises FileNotFoundError or ValueError naming the path.
pybind11::dict findSet(const std::string& path, std::optional<uint64_t> time);

// The host that leads a set whose hosts have the files `paths` (bytes, or
// None per host without a readable file): setMaster (lines/set_files.h) by
// the configuration of the first of them.
std::size_t setMasterOf(const pybind11::list& paths);

// The times of the directory's recordings (lines/set_files.h); raises
// NotADirectoryError or ValueError naming it.
pybind11::list findSetTimesOf(const std::string& directory);

// The set's lines: the arrays of a read (time, sync, start_rev, end_rev,
// floats, doubles, rows) and "status" (one row per host with a file),
// "hosts" (per such host: its probes' plan with their rows in the set's
// blocks, its columns after the fixed five, its stop). Each host is read in
// the window of its selection, from `planned` (None, or per host a planned
// start's tuple or None); `keep`, None or (low, high) with None for an open
// end, keeps the set lines whose first line lies there (SetReader::keep);
// `hint`, the lines expected, sizes the first arrays instead of the index.
class SetBatchReader {
 public:
  SetBatchReader(const pybind11::list& paths, std::size_t master, bool salvage,
                 const std::vector<LineSelection>& selections, const pybind11::object& decode,
                 const pybind11::object& planned, const pybind11::object& keep,
                 std::optional<std::size_t> hint);
  // Up to `most` more set lines (fewer only at the end; None once they have
  // ended), or with no `most` every remaining line (arrays even when none).
  pybind11::object next(std::optional<std::size_t> most);

 private:
  std::mutex mutex_;
  std::vector<std::unique_ptr<DataFile>> files_;
  SetPlan plan_;
  std::unique_ptr<SetReader> reader_;
  pybind11::list hosts_;
  std::size_t firstRows_ = 1;
};

// Every line of the set at once (SetBatchReader).
pybind11::dict readSet(const pybind11::list& paths, std::size_t master, bool salvage,
                       const std::vector<LineSelection>& selections, const pybind11::object& decode,
                       const pybind11::object& planned, const pybind11::object& keep,
                       std::optional<std::size_t> hint);

// How the set's hosts agree (lines/set_summary.h): "lines", "agree" and per
// host its counts, first and last revolution and stop.
// Where the set can be cut into exact parts near `wanted` (lines/set_parts.h):
// (start, cut) tuples.
pybind11::list planSetCutsOf(const pybind11::list& paths, std::size_t master, bool salvage,
                             const std::vector<uint64_t>& wanted);

// The set keys of the hosts' probes (lines/line_selection.h): per host (by
// its decoded name) its probes' (decoded name, channel), keys in that order.
pybind11::list setProbeKeysOf(const std::vector<std::string>& hosts, const pybind11::list& probes);

pybind11::dict summarizeSetFiles(const pybind11::list& paths, std::size_t master, bool salvage);

}  // namespace cdt
