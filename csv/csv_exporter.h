// CsvExporter: turns the records of one data file, handed over in file order,
// into a CSV text file. Only blade-measurement records (type 3) count; they
// are grouped into runs of distinct channel slots, and each complete group
// becomes one line:
//
//   Time,Speed,Sync,Start Rev,End Rev[,<probe> RMS,<probe> DNS,
//       <probe> Blade1 DNS..,<probe> Blade1 TOA..] for each probe of the host
//
// The columns come from the configuration: the probes linked to the four
// channels of the host of the first accepted record, and the blade count of
// each probe's stage. The header is written before the first line.
//
// Lifecycle: one create, any number of exportRecord calls, one
// finishCsvExporter, then the object is destroyed. The exporter holds at most
// five record references (the group's first record and one per channel slot)
// however long the file; the grouping is the one every view of a recording
// shares (lines/line_grouper.h). A complete group's values are copied out of its
// records, and the lines are formatted and written in batches, on worker
// threads where the machine has more than one core (csv/line_pipeline.h), in
// fixed memory.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

#include "config/model.h"
#include "csv/csv_line.h"
#include "datafile/data_record.h"
#include "lines/line_grouper.h"

namespace cdt {

class LinePipeline;

struct CsvExporter {
  CsvExporter();
  // Closes the stream if finishCsvExporter was not called.
  ~CsvExporter();
  CsvExporter(const CsvExporter&) = delete;
  CsvExporter& operator=(const CsvExporter&) = delete;

  std::FILE* stream = nullptr;                   // owned; closed by finishCsvExporter
  const Configuration* configuration = nullptr;  // not owned; outlives the exporter
  // Captured when the header is written: the probe on each channel slot of
  // the host (none when the slot has none). Not owned.
  const Probe* channelProbes[kChannelsPerHost] = {};
  // The columns of the lines, from the same moment: which slots have a
  // probe, and its stage's blade count clamped to 0..65535.
  LineLayout layout;
  // The group in progress; it holds the exporter's record references.
  LineGrouper groups;
  bool withTimeOfArrival = false;
  bool headerWritten = false;
  bool writeFailed = false;  // some write of the header came up short
  // The errno of the first write, flush or close that failed (0 while none
  // has, or when the call gave none), once finishCsvExporter has returned.
  int writeError = 0;

  // The header being composed; written out whenever it is full and at its
  // end.
  std::unique_ptr<char[]> pending;
  std::size_t pendingLength = 0;
  // Formats and writes the lines; made once the header is out.
  std::unique_ptr<LinePipeline> lines;
};

// Creates (or truncates) `path` for writing text and returns an exporter on
// it, or nullptr when the file cannot be opened. `configuration` must stay
// unchanged and alive until the exporter is finished.
[[nodiscard]] std::unique_ptr<CsvExporter> createCsvExporter(const Configuration& configuration,
                                                             const char* path,
                                                             bool withTimeOfArrival);

// The same on a stream opened for writing (text mode) and not yet used,
// which the exporter then owns and closes; it turns the stream's buffering
// off, so the stream must be a file's (not a memory stream). nullptr only
// when `stream` is nullptr.
[[nodiscard]] std::unique_ptr<CsvExporter> createCsvExporterOnStream(
    const Configuration& configuration, std::FILE* stream, bool withTimeOfArrival);

// createCsvExporter on "<directory>/<baseName>.YYYY-MM-DD.hh-mm-ss.csv" with
// the UTC calendar fields of `time` (microseconds since 1970).
[[nodiscard]] std::unique_ptr<CsvExporter> createTimestampedCsvExporter(
    const Configuration& configuration, const char* directory, const char* baseName, uint64_t time,
    bool withTimeOfArrival);

// Hands one record to the exporter, which takes its own reference if it keeps
// it; the caller keeps its reference. Records that are not blade measurements
// are ignored (as are those whose channel is 4 or more, or that are too short
// for their layout), and so is nullptr. Returns 1 for an ignored record, else
// 1 while no failed write has come to light and 0 once one has (lines are
// written a few batches after they are complete, so a failure shows that
// much later; finishCsvExporter reports every one).
int exportRecord(CsvExporter& exporter, DataRecord* record);

// Writes every line complete so far (and the header) to the stream and
// flushes it; the group in progress stays. For an output that is watched
// while the records come (cdt export --follow). Returns as exportRecord.
int flushCsvExporter(CsvExporter& exporter);

// Writes what is pending (the header too, if no line has been written yet and
// a record was accepted), closes the stream and drops every record reference.
// True when every write and the close succeeded. Call once.
[[nodiscard]] bool finishCsvExporter(CsvExporter& exporter);

}  // namespace cdt
