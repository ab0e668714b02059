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
#include <future>
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

namespace cdt {

namespace {

// Adds what a file's reading has covered since the last call to the count
// the progress line shows.
class ReadMeter {
 public:
  ReadMeter(const ExportRequest& request, const DataFile& file)
      : count_(request.bytesRead), file_(file), last_(file.lastReadStatus().offset) {}
  void update() {
    const uint64_t at = file_.lastReadStatus().offset;
    if (count_ != nullptr && at > last_) count_->fetch_add(at - last_, std::memory_order_relaxed);
    last_ = std::max(last_, at);
  }

 private:
  std::atomic<uint64_t>* count_;
  const DataFile& file_;
  uint64_t last_;
};

// Formats `format` into the file's result.
template <typename... Args>
void say(std::string& to, const char* format, Args... args) {
  const int n = std::snprintf(nullptr, 0, format, args...);
  if (n <= 0) return;
  std::string text(static_cast<size_t>(n), '\0');
  std::snprintf(text.data(), text.size() + 1, format, args...);
  to += text;
}

// A failed output: its message, and status 1 (the staging file is gone).
bool outputFailed(const StagedOutput& staged, FileResult& result) {
  say(result.err, "cdt export: %s\n", staged.error().c_str());
  result.status = 1;
  return false;
}

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

void noteEmptyWindow(const ExportRequest& request, uint64_t lines, const std::string& input,
                     FileResult& result) {
  if (lines == 0 && request.selection.hasWindow()) {
    say(result.err, "cdt export: note: no line of '%s' lies in the window\n", input.c_str());
  }
}

// The in/out line, and a warning when reading stopped at damage.
FileResult finishFile(DataFile& file, const std::string& input, const std::string& output,
                      FileResult& result) {
  say(result.out, "cdt export: in=%s, out=%s\n", input.c_str(), output.c_str());
  const DataFileReport stop = file.lastReadStatus();
  if (stop.status != DataFileStatus::EndOfRecords && stop.status != DataFileStatus::Ok) {
    say(result.err, "cdt export: warning: reading '%s' stopped at offset %llu: %s\n", input.c_str(),
        static_cast<unsigned long long>(stop.offset), dataFileStatusText(stop.status));
  }
  return result;
}

// Lines per batch handed to a column sink.
constexpr std::size_t kBatchRows = 4096;

// The lines into a MATLAB or netCDF file through its sink, in batches of
// columns; the library writes the staging file of `staged` by its name.
// False, with the result set, when the output failed.
bool exportColumns(const ExportRequest& request, DataFile& file, const LinePlan& view,
                   const std::string& input, StagedOutput& staged, FileResult& result) {
  const bool mat = request.format == ExportFormat::Mat;
  std::unique_ptr<ColumnSink> sink = mat ? makeMatSink({request.mat73, request.compressionLevel})
                                         : makeNetCdfSink({request.compressionLevel});
  if (sink == nullptr) {
    say(result.err, "cdt export: --format %s%s is not available in this build (no %s library)\n",
        mat ? "mat" : "netcdf", mat && request.mat73 ? " --mat73" : "",
        mat ? (request.mat73 ? "HDF5" : "zlib") : "netCDF");
    result.status = 2;
    return false;
  }
  const ColumnPlan& plan = view.plan;
  SinkDescription description;
  description.plan = plan;
  // Texts as Unicode: each of the configuration's texts decoded on its own;
  // the path is the file system's, not the installation's.
  const TextEncoding encoding = request.encoding;
  description.sourcePath = decodeName(input);
  description.configurationText =
      decodeName(configToText(file.configuration(), 0).view(), encoding);
  const Configuration& configuration = file.configuration();
  for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
    if (!plan.kept[slot]) continue;
    const Probe& probe = *view.columns.probes[slot];
    SinkProbe p;
    p.slot = slot;
    p.name = view.names[slot];
    p.stageIndex = static_cast<uint32_t>(probe.stageIndex);
    if (probe.stageIndex >= 0 &&
        static_cast<uint32_t>(probe.stageIndex) < configuration.stages.size()) {
      p.stage = decodeName(
          configuration.stages[static_cast<uint32_t>(probe.stageIndex)].name.view(), encoding);
    }
    for (uint32_t j : plan.blades[slot]) p.blades.push_back(j + 1);
    description.probes.push_back(p);
  }
  // A failure's cause: the system's, else the library's own account.
  const auto failed = [&](const char* verb) {
    const std::string what = std::string(verb) + " '" + staged.finalPath() + "'";
    staged.fail(sink->errorCode() != 0 ? what : what + ": " + sink->error(), sink->errorCode());
    return outputFailed(staged, result);
  };
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
    return failed("cannot create");
  }
  // One batch of columns, reused.
  LineReader reader(file, plan, view.window);
  noteIndexDisagreement(reader, input, result);
  const ColumnStorage batches[2] = {ColumnStorage(plan, kBatchRows),
                                    ColumnStorage(plan, kBatchRows)};
  uint64_t lines = 0;
  bool written = true;
  // Two batches: while one is being written (on another thread when writes
  // overlap), the reader fills the other.
  std::future<bool> writing;
  int current = 0;
  ReadMeter meter(request, file);
  while (!reader.ended()) {
    const LineColumns& batch = batches[current].columns();
    const std::size_t rows = reader.read(batch, 0, kBatchRows);
    meter.update();
    if (rows == 0) continue;
    lines += rows;
    if (writing.valid()) written = writing.get() && written;
    if (request.overlapWrites) {
      writing = std::async(std::launch::async,
                           [&sink, &batch, rows] { return sink->write(batch, rows); });
    } else {
      written = sink->write(batch, rows) && written;
    }
    current ^= 1;
  }
  if (writing.valid()) written = writing.get() && written;
  written = sink->finish() && written;
  if (!written) return failed("cannot write");
  noteEmptyWindow(request, lines, input, result);
  return true;
}

// Opens the staging file of `output`; false, with the result set, when it
// cannot be made.
bool stage(const ExportRequest& request, const std::string& input, const std::string& output,
           StagedOutput& staged, FileResult& result) {
  // A directory at the name would only refuse the rename once the work is
  // done.
  if (isDirectory(output.c_str())) {
    say(result.err, "cdt export: cannot create '%s': %s\n", output.c_str(), std::strerror(EISDIR));
    result.status = 1;
    return false;
  }
  if (!staged.create(output, input, request.format == ExportFormat::Csv)) {
    return outputFailed(staged, result);
  }
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
