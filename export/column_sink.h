// Column sinks: outputs that take the lines of a recording as columnar
// batches (lines/line_columns.h) rather than as text, such as MATLAB, netCDF
// and Parquet files. The only code that includes an optional library's headers
// lives behind this interface; a build without the library gets sinks that
// refuse to start and say why.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "export/parquet_codec.h"
#include "lines/line_columns.h"

namespace cdt {

// The columns of one probe as a sink names and describes them. Texts are
// Unicode (UTF-8): the configuration's bytes decoded (foundation/name_text.h).
struct SinkProbe {
  uint32_t slot = 0;
  std::string name;  // decoded, as text
  // What names its columns where the format wants names of their own: its
  // key (lines/line_selection.h: the name, with its channel where names are
  // shared), a set's probe its key in the set; empty: the name.
  std::string key;
  std::string stage;             // its stage's name, decoded
  uint32_t stageIndex = 0;       // of the stage in the configuration
  std::vector<uint32_t> blades;  // 1-based numbers of the blade columns kept
  // Its rows in the batches' float and double blocks: those of its file's
  // ColumnPlan, or for a set's probe those moved to its host's rows.
  uint32_t rmsRow = 0;
  uint32_t bladeDnsRow = 0;  // then one row per kept blade
  uint32_t bladeToaRow = 0;  // likewise
  uint32_t dnsRow = 0;       // in the double block
  // What its blades' tip deflections need, where the plan shows them.
  ProbeDeflection deflection;
  // A set's probe: its host's place in the description's statusHosts.
  uint32_t host = 0;
};

// The tip deflection of the probe's kept blade `k` on row `row` of a batch,
// as every output shows it: only on a line locked to the shaft whose TOA
// cell holds a value and, for a set, whose host's line agrees with the set
// line whose speed it takes (`status`: the host's status, 0 for one file).
// NaN where the cell is empty.
inline double sinkDeflection(const SinkProbe& probe, std::size_t k, const LineColumns& c,
                             std::size_t row, uint8_t status) {
  const std::size_t r = probe.bladeToaRow + k;
  const uint8_t* empty = floatEmpties(c, r, row);
  if ((empty != nullptr && *empty != 0) || status != 0 || c.sync[row] == 0) {
    return std::numeric_limits<double>::quiet_NaN();
  }
  return probe.deflection.at(probe.blades[k] - 1, c.floats[row], c.floats[r * c.stride + row]);
}

// What a sink writes besides the lines.
struct SinkDescription {
  ColumnPlan plan;                // with the quantities shown
  std::vector<SinkProbe> probes;  // the kept slots, in slot order (a set's: host after host)
  std::string sourcePath;         // as text
  std::string configurationText;  // decoded, as text
  // A recording set's: every host's file as text, and the hosts' names
  // (decoded), each of which gets a uint8 status variable "NAME_Status"
  // (lines/set_join.h) from the batches' status rows (writeSet). Empty for
  // one file.
  std::vector<std::string> sourcePaths;
  std::vector<std::string> statusHosts;
  // The number of lines write() will be given in all, counted before the
  // first is read, for a sink that needs it (needsLineCount()).
  std::optional<uint64_t> lines;
};

class ColumnSink {
 public:
  virtual ~ColumnSink() = default;
  // Whether begin() needs the description's count of the lines to come.
  virtual bool needsLineCount() const { return false; }
  // Creates the output; false with error() set when it cannot.
  [[nodiscard]] virtual bool begin(const std::string& path, const SinkDescription& description) = 0;
  // Appends `rows` lines from row 0 of `columns`. May run on another thread
  // than begin, one call at a time.
  [[nodiscard]] virtual bool write(const LineColumns& columns, std::size_t rows) = 0;
  // The same for a set's lines: `status` holds a row of columns.stride
  // statuses per host of the description's statusHosts.
  [[nodiscard]] bool writeSet(const LineColumns& columns, const uint8_t* status, std::size_t rows) {
    status_ = status;
    const bool written = write(columns, rows);
    status_ = nullptr;
    return written;
  }
  // Completes the output and closes it; false with error() set when that
  // fails or any write before it failed: the file is then not to be kept.
  [[nodiscard]] virtual bool finish() = 0;
  const std::string& error() const { return error_; }
  // The system's errno of the first failing write under the library, 0 when
  // none is known.
  int errorCode() const { return errorCode_; }

 protected:
  std::string error_;
  int errorCode_ = 0;
  // The batch's status rows during writeSet, else none.
  const uint8_t* status_ = nullptr;
};

struct NetCdfOptions {
  int compressionLevel = 0;  // 0: none; 1 to 9: zlib with the shuffle filter
};
struct MatOptions {
  bool version73 = false;    // the HDF5-based version 7.3 instead of level 5
  int compressionLevel = 0;  // level 5: 0 none; 1 to 9: zlib, every variable
};

struct ParquetOptions {
  ParquetCodec codec = ParquetCodec::None;  // one this build has (parquetCodecAvailable)
  int compressionLevel = 0;                 // within the codec's levels
  // The long layout (one row per line, probe and blade) instead of the wide.
  bool longLayout = false;
  // Rows per row group at most; 0: up to 65,536 lines (long: 2^20 rows).
  // Row groups never buffer more than 64 MiB of values either way.
  std::size_t groupRows = 0;
  std::string createdBy;  // "cdt export version X"
};

// nullptr when this build has no netCDF (or MATLAB) support.
std::unique_ptr<ColumnSink> makeNetCdfSink(const NetCdfOptions& options);
std::unique_ptr<ColumnSink> makeMatSink(const MatOptions& options);
// The version 7.3 sink that makeMatSink hands out when this build has HDF5:
// it writes the lines as they come, in fixed memory.
std::unique_ptr<ColumnSink> makeMat73Sink();
// Our own Parquet writer (export/parquet_writer.h), in every build: the lines
// as they come, a row group at a time, in fixed memory.
std::unique_ptr<ColumnSink> makeParquetSink(const ParquetOptions& options);

// Debian's HDF5 (under netCDF-4 and MATLAB 7.3 files) and the netCDF library
// are not thread-safe, even on different files: a sink writing through them
// holds this lock in every call, so that files export in parallel while
// their writes take turns.
std::mutex& hdf5Lock();
// Sets HDF5 up for the sinks; they call it, under the lock, before their
// first HDF5 or netCDF call. It limits what HDF5 keeps of the memory it
// frees, and keeps HDF5 from closing files at the process's exit (see
// hdf5_library.cpp: a file whose close failed cannot be closed again).
void setUpHdf5();
// Keeps HDF5 from printing its errors on this thread (a sink reports them
// through error()); under the lock, before HDF5 or netCDF calls.
void quietHdf5();
// The errno that HDF5's error stack of this thread reports for a failed
// system call ("errno = 27"), innermost first; 0 when it names none. Clears
// the stack.
int hdf5SystemError();

// A name made of letters, digits and underscores that starts with a letter:
// other characters (of UTF-8 text) become '_', and "x" goes in front of a name that starts
// otherwise. MATLAB field names and netCDF variable names both accept it.
std::string validName(const std::string& name);
// The probes' field names in a MATLAB struct: valid names, with "_2", "_3"
// and so on after a name already taken (the names as given stay in the
// fields' `name`).
std::vector<std::string> probeFieldNames(const std::vector<SinkProbe>& probes);
// The status variables' names: "HOST_Status" of each host's valid name,
// with "_2" and so on after a name already taken.
std::vector<std::string> statusNames(const std::vector<std::string>& hosts);
// The MATLAB files' `units` struct: per field (the line variables' and the
// probe fields' names) the unit and what the quantity is, from the table of
// units; `time` says how it becomes a MATLAB datetime.
std::vector<std::pair<std::string, std::string>> matUnitTexts();

}  // namespace cdt
