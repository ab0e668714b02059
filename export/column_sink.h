// Column sinks: outputs that take the lines of a recording as columnar
// batches (lines/line_columns.h) rather than as text, such as MATLAB and
// netCDF files. The only code that includes an optional library's headers
// lives behind this interface; a build without the library gets sinks that
// refuse to start and say why.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "lines/line_columns.h"

namespace cdt {

// The columns of one probe as a sink names and describes them.
struct SinkProbe {
  uint32_t slot = 0;
  std::string name;              // as in the configuration
  std::string stage;             // its stage's name
  uint32_t stageIndex = 0;       // of the stage in the configuration
  std::vector<uint32_t> blades;  // 1-based numbers of the blade columns kept
};

// What a sink writes besides the lines.
struct SinkDescription {
  ColumnPlan plan;
  std::vector<SinkProbe> probes;  // the kept slots, in slot order
  bool rms = true;
  bool dns = true;
  bool bladeDns = true;
  bool bladeToa = true;
  std::string sourcePath;
  std::string configurationText;
};

class ColumnSink {
 public:
  virtual ~ColumnSink() = default;
  // Creates the output; false with error() set when it cannot.
  [[nodiscard]] virtual bool begin(const std::string& path, const SinkDescription& description) = 0;
  // Appends `rows` lines from row 0 of `columns`. May run on another thread
  // than begin, one call at a time.
  [[nodiscard]] virtual bool write(const LineColumns& columns, std::size_t rows) = 0;
  // Completes the output; false with error() set when that fails.
  [[nodiscard]] virtual bool finish() = 0;
  const std::string& error() const { return error_; }

 protected:
  std::string error_;
};

struct NetCdfOptions {
  int compressionLevel = 0;  // 0: none; 1 to 9: zlib with the shuffle filter
};
struct MatOptions {
  bool version73 = false;  // the HDF5-based version 7.3 instead of level 5
};

// nullptr when this build has no netCDF (or MATLAB) support.
std::unique_ptr<ColumnSink> makeNetCdfSink(const NetCdfOptions& options);
std::unique_ptr<ColumnSink> makeMatSink(const MatOptions& options);
// The version 7.3 sink that makeMatSink hands out when this build has HDF5:
// it writes the lines as they come, in fixed memory.
std::unique_ptr<ColumnSink> makeMat73Sink();

// Debian's HDF5 (under netCDF-4 and MATLAB 7.3 files) and the netCDF library
// are not thread-safe, even on different files: a sink writing through them
// holds this lock in every call, so that files export in parallel while
// their writes take turns.
std::mutex& hdf5Lock();
// Limits what HDF5 keeps of the memory it frees; such sinks call it, under
// the lock, before they write.
void boundHdf5Memory();

// A name made of letters, digits and underscores that starts with a letter:
// other characters become '_', and "x" goes in front of a name that starts
// otherwise. MATLAB field names and netCDF variable names both accept it.
std::string validName(const std::string& name);
// The probes' field names in a MATLAB struct: valid names, with "_2", "_3"
// and so on after a name already taken (the names as given stay in the
// fields' `name`).
std::vector<std::string> probeFieldNames(const std::vector<SinkProbe>& probes);

}  // namespace cdt
