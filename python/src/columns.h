// Lines of a data file as numpy arrays: the whole selection at once, or in
// batches of a fixed number of rows.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "datafile/data_file.h"
#include "lines/line_reader.h"
#include "lines/line_selection.h"

namespace cdt {

// Raised in Python for a selection the file cannot satisfy:
// cdt.UnknownProbeError (a KeyError and a ValueError) for a probe or host it
// does not have, ValueError for a blade. The message starts with the path.
struct SelectionFailure : std::runtime_error {
  SelectionFailure(SelectionError::Kind kind, const std::string& message)
      : std::runtime_error(message), kind(kind) {}
  SelectionError::Kind kind;
};

// How the Python side decodes a name: a callable of bytes giving str, or
// None for the rule of foundation/name_text.h.
NameDecoder nameDecoder(const pybind11::object& decode);

// The selection resolved against `file`'s configuration (its first line's
// host found on a file of its own); raises SelectionFailure.
LinePlan planLines(const DataFile& file, const std::string& path, bool salvage,
                   const LineSelection& selection, const pybind11::object& decode);

// numpy arrays for `rows` rows of the plan's columns.
struct Arrays {
  Arrays(const ColumnPlan& plan, std::size_t rows)
      : time(static_cast<pybind11::ssize_t>(rows)),
        sync(static_cast<pybind11::ssize_t>(rows)),
        startRevolution(static_cast<pybind11::ssize_t>(rows)),
        endRevolution(static_cast<pybind11::ssize_t>(rows)),
        floats(
            {static_cast<pybind11::ssize_t>(plan.floatRows), static_cast<pybind11::ssize_t>(rows)}),
        doubles({static_cast<pybind11::ssize_t>(plan.doubleRows),
                 static_cast<pybind11::ssize_t>(rows)}) {
    columns.stride = rows;
    columns.time = time.mutable_data();
    columns.sync = reinterpret_cast<uint8_t*>(sync.mutable_data());
    columns.startRevolution = startRevolution.mutable_data();
    columns.endRevolution = endRevolution.mutable_data();
    columns.floats = floats.mutable_data();
    columns.doubles = doubles.mutable_data();
  }
  // Cuts every array to `rows` rows (the blocks compacted first); the
  // memory beyond goes back.
  void resize(const ColumnPlan& plan, std::size_t rows) {
    const auto n = static_cast<pybind11::ssize_t>(rows);
    time.resize({n}, false);
    sync.resize({n}, false);
    startRevolution.resize({n}, false);
    endRevolution.resize({n}, false);
    floats.resize({static_cast<pybind11::ssize_t>(plan.floatRows), n}, false);
    doubles.resize({static_cast<pybind11::ssize_t>(plan.doubleRows), n}, false);
  }
  pybind11::dict dict(std::size_t rows) const {
    pybind11::dict d;
    d["rows"] = rows;
    d["time"] = time;
    d["sync"] = sync;
    d["start_rev"] = startRevolution;
    d["end_rev"] = endRevolution;
    d["floats"] = floats;
    d["doubles"] = doubles;
    return d;
  }
  pybind11::array_t<int64_t> time;
  pybind11::array_t<bool> sync;
  pybind11::array_t<uint64_t> startRevolution;
  pybind11::array_t<uint64_t> endRevolution;
  pybind11::array_t<float> floats;
  pybind11::array_t<double> doubles;
  LineColumns columns;
};

// The bytes of a file's records, and the most rows a read's first arrays are
// made with: what four times those bytes (64 MiB at least) would take, so
// that a lying index never makes arrays far larger than the records fill.
uint64_t recordBytesOf(const DataFile& file);
std::size_t rowsLimit(uint64_t recordBytes, std::size_t lineBytes);

// The kept probes of a plan: slot, name, key, blades and their rows in the
// float and double blocks.
pybind11::list planList(const LinePlan& lines);

// The names of the plan's columns, as the CSV header has them, decoded.
pybind11::list columnList(const LinePlan& lines);

// The probes of the host's channels: slot, name (decoded), key and blade
// count of each.
pybind11::list probeList(const Configuration& configuration, uint32_t hostIndex,
                         const pybind11::object& decode);

// Reads every selected line of `file` (standing at its first record), from
// `planned` (a planned start's tuple, or None). The arrays are made as long
// as the index says the window's lines are, and cut to the lines read (or
// grown where the index says too few). `middle`, None or (time, planned
// start's tuple or None), is where a window planned in two halves splits;
// `counted`, None or (lines, lines before the middle) as a part's index
// entries count them, spares the index.
pybind11::dict readLines(DataFile& file, const std::string& path, bool salvage,
                         const LineSelection& selection, const pybind11::object& decode,
                         const pybind11::object& planned,
                         const pybind11::object& middle = pybind11::none(),
                         const pybind11::object& counted = pybind11::none());

// Reads over at least `bytes` of records decode in two halves on two cores
// (two_halves.h); tests lower it to split small files.
void setSplitBytes(uint64_t bytes);
uint64_t splitThreshold();

// The planned starts of windows beginning at `starts` (planLineStarts), each
// a tuple of ints the reads take back (None where none is planned); Python
// keeps them with the parts, and may send them to other processes.
pybind11::list planStarts(const std::string& path, bool salvage,
                          const std::vector<uint64_t>& starts);

// A planned start from the tuple planStarts gives (None: none).
std::optional<PlannedLineStart> plannedStart(const pybind11::object& planned);

// The same lines, `rows` at a time. A batch's arrays are sized like those of
// readLines (at most `rows`), never larger than the file's records could fill.
class BatchReader {
 public:
  BatchReader(const std::string& path, bool salvage, const LineSelection& selection,
              std::size_t rows, const pybind11::object& decode, const pybind11::object& planned);
  // The next batch (at most `rows` lines, fewer only at the end), or None
  // once the lines have ended.
  pybind11::object next();

 private:
  std::mutex mutex_;
  std::unique_ptr<DataFile> file_;
  std::unique_ptr<LineReader> reader_;
  pybind11::list plan_;
  pybind11::list columns_;
  std::size_t rows_;
  std::size_t firstRows_ = 1;  // the rows a batch's arrays are made with
};

}  // namespace cdt
