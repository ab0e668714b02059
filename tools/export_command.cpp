// cdt export: recordings into files of other shapes and formats, with a
// selection of probes, blades, quantities and a window of time or
// revolutions, many files at once.
//
// Every output shows the converter's lines: the records are grouped by the
// same grouper (lines/line_grouper.h), and a time window keeps the lines
// whose window time lies in it. With no selection the CSV is made by the
// converter's own exporter, so it is the same file byte for byte.
//
// Every output is staged: written to a new file beside its name and renamed
// over the name once complete, so a failed write leaves nothing behind and a
// link at the name is replaced, never written through.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "config/config_text.h"
#include "csv/csv_exporter.h"
#include "csv/selected_csv.h"
#include "datafile/data_file.h"
#include "datafile/file_names.h"
#include "export/column_sink.h"
#include "foundation/file_system.h"
#include "foundation/name_text.h"
#include "foundation/paths.h"
#include "foundation/staged_output.h"
#include "foundation/time_text.h"
#include "lines/line_reader.h"
#include "tools/commands.h"
#include "tools/progress.h"
#include "tools/selection_text.h"

namespace cdt {

namespace {

enum class Format : uint8_t { Csv, Mat, NetCdf };

// What the options ask of every file.
struct ExportRequest {
  std::string outputDirectory = ".";
  Format format = Format::Csv;
  TextLayout layout = TextLayout::Wide;
  std::vector<std::string> probes;  // names or channel numbers; empty: all
  std::vector<uint32_t> blades;     // 1-based; empty: all
  Quantities quantities;
  std::optional<uint64_t> from;
  std::optional<uint64_t> to;
  std::optional<std::pair<uint64_t, uint64_t>> revolutions;
  std::optional<std::string> host;
  bool mat73 = false;
  int compressionLevel = 0;
  // How names become text where the output holds Unicode (netCDF, MATLAB)
  // and in messages; the CSV keeps the file's bytes.
  TextEncoding encoding = TextEncoding::Auto;
  // A file's batches are written by a thread of their own while the next
  // batch is read (there are threads to spare beyond one per file).
  bool overlapWrites = false;
  // Bytes of records read, over all files, for the progress line.
  std::atomic<uint64_t>* bytesRead = nullptr;

  bool selects() const {
    return !probes.empty() || !blades.empty() || from || to || revolutions || host ||
           !quantities.rms || !quantities.dns || !quantities.bladeDns || !quantities.bladeToa ||
           layout != TextLayout::Wide;
  }
};

// The outcome of one file: its messages, in order, and its status.
struct FileResult {
  std::string out;
  std::string err;
  int status = 0;
  uint64_t bytes = 0;  // of the input
};

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

const char* extensionOf(Format format) {
  switch (format) {
    case Format::Csv:
      return ".csv";
    case Format::Mat:
      return ".mat";
    case Format::NetCdf:
      return ".nc";
  }
  return "";
}

std::string outputPathOf(const ExportRequest& request, const std::string& input) {
  std::string name = outputPathFor(input.c_str()).str();
  name.replace(name.size() - 4, 4, extensionOf(request.format));
  if (request.outputDirectory.empty() || request.outputDirectory == ".") return name;
  std::string path = request.outputDirectory;
  if (path.back() != '/') path += '/';
  return path + name;
}

std::string joinNames(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& n : names) text += (text.empty() ? "" : ", ") + n;
  return text.empty() ? "none" : text;
}

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

// The slots `request.probes` names among the host's probes; none, with a
// message naming the valid ones, when a name matches none.
std::optional<ColumnSelection> resolveSelection(const ExportRequest& request,
                                                const HostColumns& columns,
                                                const std::string& input, std::string& error) {
  ColumnSelection selection;
  std::vector<std::string> valid;
  uint32_t mostBlades = 0;
  std::string texts[kChannelsPerHost];  // the probes' names as text
  for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
    if (columns.probes[slot] != nullptr) {
      texts[slot] = decodeName(columns.probes[slot]->name.view(), request.encoding);
      valid.push_back(texts[slot]);
    }
  }
  if (!request.probes.empty()) {
    for (bool& kept : selection.probes) kept = false;
    for (const std::string& name : request.probes) {
      bool found = false;
      for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
        const Probe* probe = columns.probes[slot];
        if (probe == nullptr) continue;
        // By the file's bytes, by the name as text, or by channel; every
        // probe of a name that several share.
        if (probe->name.view() == name || texts[slot] == name || name == std::to_string(slot)) {
          selection.probes[slot] = true;
          found = true;
        }
      }
      if (!found) {
        error = "'" + input + "' has no probe '" + name + "' (its probes: " + joinNames(valid) +
                "; or channel numbers 0-3 with a probe)";
        return std::nullopt;
      }
    }
  }
  for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
    if (selection.probes[slot] && columns.probes[slot] != nullptr) {
      mostBlades = std::max(mostBlades, columns.layout.blades[slot]);
    }
  }
  if (!request.blades.empty() && request.blades.back() > mostBlades) {
    error = "'" + input + "' has no blade " + std::to_string(request.blades.back()) +
            " in the probes selected (blades " +
            (mostBlades == 0 ? std::string("none") : "1-" + std::to_string(mostBlades)) + ")";
    return std::nullopt;
  }
  selection.blades = request.blades;
  return selection;
}

// The host named `name`, by its bytes or as text.
std::optional<uint32_t> hostIndexNamed(const Configuration& configuration, const std::string& name,
                                       TextEncoding encoding) {
  for (uint32_t i = 0; i < configuration.hosts.size(); ++i) {
    const std::string_view bytes = configuration.hosts[i].name.view();
    if (bytes == name || decodeName(bytes, encoding) == name) return i;
  }
  return std::nullopt;
}

// The window and host of the request as the line reader takes them.
LineWindow lineWindow(const ExportRequest& request, std::optional<uint32_t> host) {
  LineWindow window;
  window.start = request.from;
  window.stop = request.to;
  if (request.revolutions) {
    window.firstRevolution = request.revolutions->first;
    window.lastRevolution = request.revolutions->second;
  }
  if (request.host) window.host = host;
  return window;
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
  if (lines == 0 && (request.from || request.to || request.revolutions)) {
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
bool exportColumns(const ExportRequest& request, DataFile& file, std::optional<uint32_t> host,
                   const HostColumns& columns, const ColumnPlan& plan, const std::string& input,
                   StagedOutput& staged, FileResult& result) {
  const bool mat = request.format == Format::Mat;
  std::unique_ptr<ColumnSink> sink =
      mat ? makeMatSink({request.mat73}) : makeNetCdfSink({request.compressionLevel});
  if (sink == nullptr) {
    say(result.err, "cdt export: --format %s is not available in this build (no %s library)\n",
        mat ? "mat" : "netcdf", mat ? "matio" : "netCDF");
    result.status = 2;
    return false;
  }
  SinkDescription description;
  description.plan = plan;
  description.rms = request.quantities.rms;
  description.dns = request.quantities.dns;
  description.bladeDns = request.quantities.bladeDns;
  description.bladeToa = request.quantities.bladeToa;
  // Texts as Unicode: each of the configuration's texts decoded on its own;
  // the path is the file system's, not the installation's.
  const TextEncoding encoding = request.encoding;
  description.sourcePath = decodeName(input);
  description.configurationText =
      decodeName(configToText(file.configuration(), 0).view(), encoding);
  const Configuration& configuration = file.configuration();
  for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
    if (!plan.kept[slot]) continue;
    const Probe& probe = *columns.probes[slot];
    SinkProbe p;
    p.slot = slot;
    p.name = decodeName(probe.name.view(), encoding);
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
  if (!staged.closeStream()) return outputFailed(staged, result);
  if (!sink->begin(staged.stagedPath(), description)) {
    (void)sink->finish();  // closes what begin opened
    return failed("cannot create");
  }
  // One batch of columns, reused.
  LineReader reader(file, plan, lineWindow(request, host));
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
  if (!staged.create(output, input, request.format == Format::Csv)) {
    return outputFailed(staged, result);
  }
  return true;
}

FileResult exportOne(const ExportRequest& request, const std::string& input) {
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
  const std::string output = outputPathOf(request, input);
  if (sameFile(input.c_str(), output.c_str())) {
    say(result.err, "%s: the output '%s' is the input file\n", prefix.c_str(), output.c_str());
    result.status = 1;
    return result;
  }
  StagedOutput staged;
  if (request.format == Format::Csv && !request.selects()) {
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
  // The host: the one named, or that of the first line record, as the
  // converter takes it.
  std::optional<uint32_t> host;
  const TextEncoding encoding = request.encoding;
  if (request.host) {
    host = hostIndexNamed(file->configuration(), *request.host, encoding);
    if (!host) {
      std::vector<std::string> names;
      for (const Host& h : file->configuration().hosts) {
        names.push_back(decodeName(h.name.view(), encoding));
      }
      say(result.err, "%s: '%s' has no host '%s' (its hosts: %s)\n", prefix.c_str(), input.c_str(),
          request.host->c_str(), joinNames(names).c_str());
      result.status = 2;
      return result;
    }
  } else {
    host = firstLineHost(*file);
    if (!seekToTime(*file, 0).positioned) {
      say(result.err, "%s: cannot read '%s': %s\n", prefix.c_str(), input.c_str(),
          dataFileStatusText(DataFileStatus::IoError));
      result.status = 1;
      return result;
    }
  }
  const HostColumns columns = hostColumns(file->configuration(), host.value_or(0), true);
  std::string error;
  const std::optional<ColumnSelection> selection = resolveSelection(request, columns, input, error);
  if (!selection) {
    say(result.err, "%s: %s\n", prefix.c_str(), error.c_str());
    result.status = 2;
    return result;
  }
  const ColumnPlan plan = planColumns(columns.layout, *selection);
  if (!stage(request, input, output, staged, result)) return result;
  if (request.format != Format::Csv) {
    if (!exportColumns(request, *file, host, columns, plan, input, staged, result)) return result;
  } else {
    SelectedCsvWriter writer(staged.stream(), plan, columns.probes, request.quantities,
                             request.layout);
    writer.writeHeader();
    LineReader reader(*file, plan, lineWindow(request, host));
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

// Parses the options into `request`; a usage error's status, or 0.
int parseRequest(const CommandArgs& args, ExportRequest& request, unsigned& jobs, FILE* err) {
  if (auto dir = args.value("output")) request.outputDirectory = *dir;
  if (auto format = args.value("format")) {
    if (*format == "csv") {
      request.format = Format::Csv;
    } else if (*format == "mat") {
      request.format = Format::Mat;
    } else if (*format == "netcdf") {
      request.format = Format::NetCdf;
    } else {
      return usageError(args, err, "unknown format '%s' (csv, mat or netcdf)", format->c_str());
    }
  }
  if (auto layout = args.value("layout")) {
    if (*layout == "wide") {
      request.layout = TextLayout::Wide;
    } else if (*layout == "long") {
      request.layout = TextLayout::Long;
    } else {
      return usageError(args, err, "unknown layout '%s' (wide or long)", layout->c_str());
    }
    if (request.format != Format::Csv && request.layout == TextLayout::Long) {
      return usageError(args, err, "--layout long is a CSV layout");
    }
  }
  if (auto probes = args.value("probes")) {
    request.probes = splitList(*probes);
    for (const std::string& p : request.probes) {
      if (p.empty()) return usageError(args, err, "empty probe name in '%s'", probes->c_str());
    }
  }
  if (auto blades = args.value("blades")) {
    const auto numbers = parseBladeList(*blades);
    if (!numbers) {
      return usageError(args, err, "'%s' is not a blade list such as 1-10,15", blades->c_str());
    }
    request.blades = *numbers;
  }
  if (auto quantities = args.value("quantities")) {
    request.quantities = {false, false, false, false};
    for (const std::string& q : splitList(*quantities)) {
      if (q == "rms") {
        request.quantities.rms = true;
      } else if (q == "dns") {
        request.quantities.dns = true;
      } else if (q == "blade-dns") {
        request.quantities.bladeDns = true;
      } else if (q == "blade-toa") {
        request.quantities.bladeToa = true;
      } else {
        return usageError(args, err, "unknown quantity '%s' (rms, dns, blade-dns, blade-toa)",
                          q.c_str());
      }
    }
  }
  for (const char* name : {"from", "to"}) {
    if (auto text = args.value(name)) {
      const std::optional<uint64_t> time = parseTimeText(*text);
      if (!time) {
        return usageError(args, err, "%s '%s' is not a UTC time such as 2011-05-06T12:30:45.25Z",
                          name, text->c_str());
      }
      (name[0] == 'f' ? request.from : request.to) = time;
    }
  }
  if (request.from && request.to && *request.to <= *request.from) {
    return usageError(args, err, "--to must lie after --from");
  }
  if (auto range = args.value("revolutions")) {
    request.revolutions = parseRevolutionRange(*range);
    if (!request.revolutions) {
      return usageError(args, err, "'%s' is not a revolution range FIRST:LAST", range->c_str());
    }
  }
  if (auto host = args.value("host")) request.host = *host;
  if (auto encoding = args.value("encoding")) {
    const std::optional<TextEncoding> named = textEncodingNamed(*encoding);
    if (!named) {
      return usageError(args, err, "unknown encoding '%s' (%s)", encoding->c_str(),
                        textEncodingChoices());
    }
    request.encoding = *named;
  }
  request.mat73 = args.has("mat73");
  const std::optional<int64_t> level = integerOption(args, "compress", 0, 1, 9, err);
  if (!level) return 2;
  request.compressionLevel = static_cast<int>(*level);
  if (args.has("compress") && request.format != Format::NetCdf) {
    return usageError(args, err, "--compress is for --format netcdf");
  }
  if (request.mat73 && request.format != Format::Mat) {
    return usageError(args, err, "--mat73 is for --format mat");
  }
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const std::optional<int64_t> n = integerOption(args, "jobs", cores, 1, 256, err);
  if (!n) return 2;
  jobs = static_cast<unsigned>(*n);
  return 0;
}

}  // namespace

int runExport(const CommandArgs& args, FILE* out, FILE* err) {
  ExportRequest request;
  unsigned jobs = 1;
  if (int status = parseRequest(args, request, jobs, err); status != 0) return status;
  if (request.outputDirectory != "." && !makeDirectories(request.outputDirectory.c_str())) {
    return fileError(args, err, "cannot create the directory '%s'",
                     request.outputDirectory.c_str());
  }

  // Files are exported by up to `jobs` threads; their messages come out in
  // the order of the arguments, each file's as soon as it and every file
  // before it are done.
  const std::vector<std::string>& inputs = args.positionals;
  std::atomic<uint64_t> bytesRead{0};
  request.bytesRead = &bytesRead;
  std::vector<FileResult> results(inputs.size());
  std::vector<bool> done(inputs.size(), false);
  std::mutex mutex;
  std::condition_variable finished;
  std::atomic<size_t> next{0};
  const auto work = [&] {
    for (size_t i = next++; i < inputs.size(); i = next++) {
      FileResult result = exportOne(request, inputs[i]);
      std::lock_guard lock(mutex);
      results[i] = std::move(result);
      done[i] = true;
      finished.notify_all();
    }
  };
  // Inputs of the same name from different directories export to the same
  // output; the later one replaces the earlier, as with cdt2csv, which needs
  // them one after the other.
  std::vector<std::string> outputs;
  for (const std::string& input : inputs) outputs.push_back(outputPathOf(request, input));
  std::sort(outputs.begin(), outputs.end());
  if (std::adjacent_find(outputs.begin(), outputs.end()) != outputs.end()) jobs = 1;
  std::vector<std::thread> threads;
  const size_t threadCount = std::min<size_t>(jobs, inputs.size());
  request.overlapWrites = jobs >= 2 * threadCount;
  for (size_t t = 1; t < threadCount; ++t) threads.emplace_back(work);
  std::thread first(work);

  ProgressLine progress(err, "export:", "files", inputs.size());
  int status = 0;
  for (size_t i = 0; i < inputs.size(); ++i) {
    std::unique_lock lock(mutex);
    while (!finished.wait_for(lock, std::chrono::milliseconds(100), [&] { return done[i]; })) {
      progress.update(i, bytesRead.load(std::memory_order_relaxed));
    }
    const FileResult& r = results[i];
    progress.clear();
    std::fputs(r.out.c_str(), out);
    std::fputs(r.err.c_str(), err);
    status = std::max(status, r.status);
    progress.update(i + 1, bytesRead.load(std::memory_order_relaxed));
  }
  first.join();
  for (std::thread& t : threads) t.join();
  if (std::fflush(out) != 0) status = std::max(status, 1);
  return status;
}

namespace {

constexpr OptionSpec kOptions[] = {
    {"output", "DIR", "write the outputs into DIR (created when missing; default .); also -o"},
    {"format", "FORMAT", "csv (default), mat or netcdf"},
    {"layout", "LAYOUT", "wide (default: the converter's columns) or long (CSV only)"},
    {"probes", "NAME[,NAME...]", "only these probes (names, or channel numbers 0-3)"},
    {"blades", "LIST", "only these blades, 1-based, ranges allowed: 1-10,15"},
    {"quantities", "LIST", "rms,dns,blade-dns,blade-toa (default: all)"},
    {"from", "TIME", "only the lines from TIME on (UTC)"},
    {"to", "TIME", "only the lines before TIME (UTC)"},
    {"revolutions", "FIRST:LAST", "only the lines whose Start Rev lies in FIRST..LAST"},
    {"host", "NAME", "only this host's blade records (default: as cdt2csv takes them)"},
    {"encoding", "NAME", "code page of the names as text (default: UTF-8, else windows-1252)"},
    {"jobs", "N", "threads: files at once, spare ones write batches (default: the cores)"},
    {"mat73", nullptr, "MATLAB: write the HDF5-based version 7.3 (for data past 2 GB)"},
    {"compress", "LEVEL", "netCDF: zlib level 1-9 with the shuffle filter (default: none)"},
};

constexpr const char* kDescription =
    "Exports each FILE into one output file in DIR, named like cdt2csv names its CSV,\n"
    "with the format's extension, and prints \"cdt export: in=FILE, out=OUTPUT\".\n"
    "The lines, their grouping and their values are exactly those of the CSV; a\n"
    "selection only leaves columns or lines out. With no selection, --format csv\n"
    "writes the same bytes as cdt2csv. The long layout has one row per line, probe\n"
    "and blade: Time,Speed,Sync,Start Rev,End Rev,Probe,Blade,DNS,TOA.\n"
    "A time window keeps the lines whose time (the latest record time up to the\n"
    "line's first record) lies in [--from, --to); records are read from the index\n"
    "entry before --from on, once the record headers before it have confirmed it.\n"
    "An unknown probe, blade or host is a usage error (status 2) naming the valid\n"
    "ones; a window that holds no line gives an output without lines and a note; a\n"
    "damaged file gives the lines before the damage and a warning. A file that fails\n"
    "is reported and the others are still exported (status 1).\n"
    "Every output is written to a new file beside its name (OUTPUT.part) and renamed\n"
    "over the name once complete: a failed write removes it and reports \"cannot\n"
    "write 'OUTPUT': <cause>\" (such as \"File too large\" or \"No space left on\n"
    "device\"), and a symbolic link at the name is replaced, never written through.\n"
    "Names are the file's bytes in the CSV; in MATLAB and netCDF text, and in\n"
    "--probes and --host, they are decoded as UTF-8 when valid, else as\n"
    "windows-1252, or in the code page --encoding names.\n"
    "MATLAB files (level 5, compressed; --mat73 for version 7.3) hold time (seconds\n"
    "since 1970, UTC), speed, sync, start_rev, end_rev, a struct probes with a field\n"
    "per probe (name, stage, blades, rms, dns, blade_dns, blade_toa: lines x blades)\n"
    "and the configuration text. Level-5 files are gathered in memory and written at\n"
    "the end; version 7.3 files are written as the lines come, in fixed memory.\n"
    "netCDF-4 files have the dimension line and one blade dimension per stage, and\n"
    "are written as the lines come, in fixed memory.\n";

}  // namespace

const CommandSpec kExportCommand = {
    "export",
    "Exports recordings with a selection of probes, blades and windows",
    "cdt export [OPTIONS] FILE...",
    kDescription,
    kOptions,
    1,
    -1,
    runExport,
};

}  // namespace cdt
