// Lines of a data file as numpy arrays: the whole selection at once, or in
// batches of a fixed number of rows.
#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "datafile/data_file.h"
#include "lines/line_reader.h"

namespace cdt {

// A selection as the Python side hands it over, already checked (names
// resolved to channel slots there).
struct Selection {
  std::optional<std::vector<uint32_t>> channels;  // slots 0-3 kept; none keeps all
  std::optional<std::vector<uint32_t>> blades;    // 1-based; none keeps all, empty none
  std::optional<uint64_t> start;                  // microseconds since 1970
  std::optional<uint64_t> stop;
  std::optional<uint64_t> firstRevolution;
  std::optional<uint64_t> lastRevolution;
};

// The probes of the host's channels: slot, name (the file's bytes) and blade
// count of each.
pybind11::list probeList(const Configuration& configuration, uint32_t hostIndex);

// Reads every selected line of `file` (standing at its first record). The
// arrays are made once at their final size.
pybind11::dict readLines(DataFile& file, const std::string& path, bool salvage,
                         const Selection& selection);

// The same lines, `rows` at a time. A batch's arrays are sized like those of
// readLines, never larger than the file's records could fill.
class BatchReader {
 public:
  BatchReader(const std::string& path, bool salvage, const Selection& selection, std::size_t rows);
  // The next batch (at most `rows` lines, fewer only at the end), or None
  // once the lines have ended.
  pybind11::object next();

 private:
  std::mutex mutex_;
  std::unique_ptr<DataFile> file_;
  std::unique_ptr<LineReader> reader_;
  pybind11::list plan_;
  std::size_t rows_;
};

}  // namespace cdt
