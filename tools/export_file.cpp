// Every output shows the converter's lines: the records are grouped by the
// same grouper (lines/line_grouper.h), and a time window keeps the lines
// whose window time lies in it. With no selection the CSV is made by the
// converter's own exporter, so it is the same file byte for byte.
//
// Every output is staged: written to a new file beside its name and renamed
// over the name once complete, so a failed write leaves nothing behind and a
// link at the name is replaced, never written through.
#include "tools/export_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "config/config_text.h"
#include "csv/csv_exporter.h"
#include "csv/selected_csv.h"
#include "datafile/data_file.h"
#include "export/column_sink.h"
#include "foundation/file_system.h"
#include "foundation/name_text.h"
#include "foundation/paths.h"
#include "foundation/staged_output.h"
#include "lines/line_reader.h"
#include "lines/line_selection.h"
#include "tools/export_steps.h"

namespace cdt {

namespace {

// The converter's own conversion into the staging file of `staged`, which
// the exporter closes.
bool exportWholeCsv(const ExportRequest& request, DataFile& file, StagedOutput& staged,
                    FileResult& result) {
  std::unique_ptr<CsvExporter> exporter =
      createCsvExporterOnStream(file.configuration(), staged.release(), true);
  ReadMeter meter(request, file);
  for (uint32_t n = 1; RecordRef record = readNextRecord(file); ++n) {
    (void)exportRecord(*exporter, record.get());
    if (n % 4096 == 0) meter.update();
  }
  meter.update();
  if (!finishCsvExporter(*exporter)) {
    staged.fail("cannot write '" + staged.finalPath() + "'", exporter->writeError);
    return outputFailed(staged, result);
  }
  return true;
}

// A warning when the window's seek found the index lying.
void noteIndexDisagreement(const LineReader& reader, const std::string& input, FileResult& result) {
  if (reader.seek().indexDisagrees) {
    say(result.err,
        "cdt export: warning: the index of '%s' disagrees with its records at entry %u; the "
        "window was found by reading the records\n",
        input.c_str(), reader.seek().firstBadEntry);
  }
}

// The in/out line, and a warning when reading stopped at damage.
FileResult finishFile(DataFile& file, const std::string& input, const std::string& output,
                      FileResult& result) {
  say(result.out, "cdt export: in=%s, out=%s\n", input.c_str(), output.c_str());
  noteStop(file, input, result);
  return result;
}

// The lines into a MATLAB, netCDF or Parquet file through its sink, in batches of
// columns; the library writes the staging file of `staged` by its name.
// False, with the result set, when the output failed.
bool exportColumns(const ExportRequest& request, DataFile& file, const LinePlan& view,
                   const std::string& input, StagedOutput& staged, FileResult& result) {
  std::unique_ptr<ColumnSink> sink = makeRequestSink(request, result);
  if (sink == nullptr) return false;
  const ColumnPlan& plan = view.plan;
  SinkDescription description;
  description.plan = plan;
  // Texts as Unicode: each of the configuration's texts decoded on its own;
  // the path is the file system's, not the installation's.
  const TextEncoding encoding = request.encoding;
  description.sourcePath = decodeName(input);
  description.configurationText =
      decodeName(configToText(file.configuration(), 0).view(), encoding);
  description.probes = sinkProbes(view, file.configuration(), encoding, 0, 0);
  if (sink->needsLineCount()) {
    // A pass over the records that only groups them: the same reader and
    // window as the lines themselves, then back to the start.
    uint64_t count = 0;
    LineReader counter(file, plan, view.window);
    counter.readGroups([&count](const LineGroup&) { ++count; });
    if (!seekToTime(file, 0).positioned) {
      say(result.err, "cdt export: cannot read '%s': %s\n", input.c_str(),
          dataFileStatusText(DataFileStatus::IoError));
      result.status = 1;
      return false;
    }
    description.lines = count;
  }
  if (!staged.closeStream()) return outputFailed(staged, result);
  if (!sink->begin(staged.stagedPath(), description)) {
    (void)sink->finish();  // closes what begin opened
    return sinkFailed(*sink, staged, "cannot create", result);
  }
  LineReader reader(file, plan, view.window);
  noteIndexDisagreement(reader, input, result);
  const ColumnStorage batches[2] = {ColumnStorage(plan, kBatchRows),
                                    ColumnStorage(plan, kBatchRows)};
  uint64_t lines = 0;
  ReadMeter meter(request, file);
  bool written = pipeBatches(
      request,
      [&](int b) {
        clearEmpties(plan, batches[b].columns());  // a new batch: no mask until an empty cell
        const std::size_t rows = reader.read(batches[b].columns(), 0, kBatchRows);
        meter.update();
        return rows;
      },
      [&] { return reader.ended(); },
      [&](int b, std::size_t rows) { return sink->write(batches[b].columns(), rows); }, lines);
  written = sink->finish() && written;
  if (!written) return sinkFailed(*sink, staged, "cannot write", result);
  noteEmptyWindow(request, lines, input, result);
  return true;
}

}  // namespace

FileResult exportFile(const ExportRequest& request, const std::string& input) {
  FileResult result;
  const std::string prefix = "cdt export";
  DataFileReport report;
  std::unique_ptr<DataFile> file = openDataFile(input.c_str(), report);
  if (file == nullptr) {
    say(result.err, "%s: cannot read '%s': %s\n", prefix.c_str(), input.c_str(),
        dataFileStatusText(report.status));
    result.status = 1;
    return result;
  }
  result.bytes = file->recordsEnd();
  const std::string output = exportOutputPath(request, input);
  if (sameFile(input.c_str(), output.c_str())) {
    say(result.err, "%s: the output '%s' is the input file\n", prefix.c_str(), output.c_str());
    result.status = 1;
    return result;
  }
  StagedOutput staged;
  if (request.format == ExportFormat::Csv && !request.selects()) {
    if (!stage(request, input, output, staged, result) ||
        !exportWholeCsv(request, *file, staged, result)) {
      return result;
    }
    if (!staged.commit()) {
      outputFailed(staged, result);
      return result;
    }
    return finishFile(*file, input, output, result);
  }
  // Without a host named, the host of the first line record, as the
  // converter takes it.
  std::optional<uint32_t> linesHost;
  if (!request.selection.host) {
    linesHost = firstLineHost(*file);
    if (!seekToTime(*file, 0).positioned) {
      say(result.err, "%s: cannot read '%s': %s\n", prefix.c_str(), input.c_str(),
          dataFileStatusText(DataFileStatus::IoError));
      result.status = 1;
      return result;
    }
  }
  const TextEncoding encoding = request.encoding;
  LinePlan view;
  SelectionError error;
  if (!resolveSelection(
          file->configuration(), linesHost, request.selection,
          [encoding](std::string_view name) { return decodeName(name, encoding); }, view, error)) {
    say(result.err, "%s: '%s' has %s\n", prefix.c_str(), input.c_str(), error.message.c_str());
    result.status = 2;
    return result;
  }
  const ColumnPlan& plan = view.plan;
  noteDeflections(view, file->configuration(), input, result);
  if (!stage(request, input, output, staged, result)) return result;
  if (request.format != ExportFormat::Csv) {
    if (!exportColumns(request, *file, view, input, staged, result)) return result;
  } else {
    SelectedCsvWriter writer(staged.stream(), plan, view.columns.probes, request.layout);
    writer.writeHeader();
    LineReader reader(*file, plan, view.window);
    noteIndexDisagreement(reader, input, result);
    uint64_t lines = 0;
    ReadMeter meter(request, *file);
    reader.readGroups([&](const LineGroup& group) {
      writer.writeLine(group);
      if (++lines % 1024 == 0) meter.update();
    });
    meter.update();
    if (!writer.finish()) {
      staged.fail("cannot write '" + output + "'", writer.writeError());
      outputFailed(staged, result);
      return result;
    }
    noteEmptyWindow(request, lines, input, result);
  }
  if (!staged.commit()) {
    outputFailed(staged, result);
    return result;
  }
  return finishFile(*file, input, output, result);
}

}  // namespace cdt
