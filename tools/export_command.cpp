// cdt export: recordings into files of other shapes and formats, with a
// selection of probes, blades, quantities and a window of time or
// revolutions, many files at once.
//
// Every output shows the converter's lines: the records are grouped by the
// same grouper (lines/line_grouper.h), and a time window keeps the lines
// whose window time lies in it. With no selection the CSV is made by the
// converter's own exporter, so it is the same file byte for byte.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "config/config_text.h"
#include "csv/csv_exporter.h"
#include "csv/selected_csv.h"
#include "datafile/data_file.h"
#include "driver/converter.h"
#include "export/column_sink.h"
#include "foundation/file_system.h"
#include "foundation/paths.h"
#include "lines/line_grouper.h"
#include "lines/line_reader.h"
#include "tools/commands.h"
#include "tools/progress.h"
#include "tools/selection_text.h"
#include "tools/time_text.h"

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

// The converter's own conversion into `output`.
bool exportWholeCsv(DataFile& file, const std::string& output, FileResult& result,
                    const std::string& prefix) {
  std::unique_ptr<CsvExporter> exporter =
      createCsvExporter(file.configuration(), output.c_str(), true);
  if (exporter == nullptr) {
    say(result.err, "%s: cannot create '%s'\n", prefix.c_str(), output.c_str());
    return false;
  }
  while (RecordRef record = readNextRecord(file)) (void)exportRecord(*exporter, record.get());
  if (!finishCsvExporter(*exporter)) {
    say(result.err, "%s: cannot write '%s'\n", prefix.c_str(), output.c_str());
    return false;
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
  for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
    if (columns.probes[slot] != nullptr) valid.push_back(columns.probes[slot]->name.str());
  }
  if (!request.probes.empty()) {
    for (bool& kept : selection.probes) kept = false;
    for (const std::string& name : request.probes) {
      bool found = false;
      for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
        const Probe* probe = columns.probes[slot];
        if (probe == nullptr) continue;
        if (probe->name.view() == name || name == std::to_string(slot)) {
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

std::optional<uint32_t> hostIndexNamed(const Configuration& configuration,
                                       const std::string& name) {
  for (uint32_t i = 0; i < configuration.hosts.size(); ++i) {
    if (configuration.hosts[i].name.view() == name) return i;
  }
  return std::nullopt;
}

// Hands every line of the file that the request keeps to `emit`, reading
// from where the file stands.
template <typename Emit>
void groupLines(const ExportRequest& request, DataFile& file, std::optional<uint32_t> host,
                Emit&& emit) {
  const auto keep = [&](const LineGroup& group, uint64_t windowTime) {
    if (request.from && windowTime < *request.from) return;
    if (request.to && windowTime >= *request.to) return;
    const uint64_t start = bladeStartRevolution(*group.first);
    if (request.revolutions &&
        (start < request.revolutions->first || start > request.revolutions->second)) {
      return;
    }
    emit(group);
  };
  LineGrouper groups;
  while (RecordRef record = readNextRecord(file)) {
    if (request.host && record->type() == kRecordTypeBlades && record->hostIndex() != *host) {
      continue;
    }
    groups.add(record.get(), keep);
    if (request.to && groups.latestTime() >= *request.to &&
        (!groups.inProgress() || groups.windowTime() >= *request.to)) {
      // Window times never decrease: no later line lies in the window.
      groups.clear();
      return;
    }
  }
  groups.finish(keep);
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
// columns. False, with the result set, when the output failed.
bool exportColumns(const ExportRequest& request, DataFile& file, std::optional<uint32_t> host,
                   const HostColumns& columns, const ColumnPlan& plan, const std::string& input,
                   const std::string& output, FileResult& result) {
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
  description.sourcePath = input;
  description.configurationText = configToText(file.configuration(), 0).str();
  const Configuration& configuration = file.configuration();
  for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
    if (!plan.kept[slot]) continue;
    const Probe& probe = *columns.probes[slot];
    SinkProbe p;
    p.slot = slot;
    p.name = probe.name.str();
    p.stageIndex = static_cast<uint32_t>(probe.stageIndex);
    if (probe.stageIndex >= 0 &&
        static_cast<uint32_t>(probe.stageIndex) < configuration.stages.size()) {
      p.stage = configuration.stages[static_cast<uint32_t>(probe.stageIndex)].name.str();
    }
    for (uint32_t j : plan.blades[slot]) p.blades.push_back(j + 1);
    description.probes.push_back(p);
  }
  if (!sink->begin(output, description)) {
    say(result.err, "cdt export: cannot create '%s': %s\n", output.c_str(), sink->error().c_str());
    (void)removeFile(output.c_str());
    result.status = 1;
    return false;
  }
  // One batch of columns, reused.
  std::vector<int64_t> time(kBatchRows);
  std::vector<uint8_t> sync(kBatchRows);
  std::vector<uint64_t> startRev(kBatchRows);
  std::vector<uint64_t> endRev(kBatchRows);
  std::vector<float> floats(std::size_t{plan.floatRows} * kBatchRows);
  std::vector<double> doubles(std::size_t{plan.doubleRows} * kBatchRows + 1);
  const LineColumns batch{time.data(),   sync.data(),    startRev.data(), endRev.data(),
                          floats.data(), doubles.data(), kBatchRows};
  std::size_t rows = 0;
  uint64_t lines = 0;
  bool written = true;
  groupLines(request, file, host, [&](const LineGroup& group) {
    storeLine(plan, group, batch, rows++);
    ++lines;
    if (rows == kBatchRows) {
      written = sink->write(batch, rows) && written;
      rows = 0;
    }
  });
  if (rows > 0) written = sink->write(batch, rows) && written;
  written = sink->finish() && written;
  if (!written) {
    say(result.err, "cdt export: cannot write '%s': %s\n", output.c_str(), sink->error().c_str());
    (void)removeFile(output.c_str());
    result.status = 1;
    return false;
  }
  noteEmptyWindow(request, lines, input, result);
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
  if (request.format == Format::Csv && !request.selects()) {
    if (!exportWholeCsv(*file, output, result, prefix)) {
      result.status = 1;
      return result;
    }
  } else {
    // The host: the one named, or that of the first line record, as the
    // converter takes it.
    std::optional<uint32_t> host;
    if (request.host) {
      host = hostIndexNamed(file->configuration(), *request.host);
      if (!host) {
        std::vector<std::string> names;
        for (const Host& h : file->configuration().hosts) names.push_back(h.name.str());
        say(result.err, "%s: '%s' has no host '%s' (its hosts: %s)\n", prefix.c_str(),
            input.c_str(), request.host->c_str(), joinNames(names).c_str());
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
    const std::optional<ColumnSelection> selection =
        resolveSelection(request, columns, input, error);
    if (!selection) {
      say(result.err, "%s: %s\n", prefix.c_str(), error.c_str());
      result.status = 2;
      return result;
    }
    const ColumnPlan plan = planColumns(columns.layout, *selection);
    if (request.format != Format::Csv) {
      if (!exportColumns(request, *file, host, columns, plan, input, output, result)) {
        return result;
      }
      return finishFile(*file, input, output, result);
    }
    std::FILE* stream = openFile(output.c_str(), "w");
    if (stream == nullptr) {
      say(result.err, "%s: cannot create '%s'\n", prefix.c_str(), output.c_str());
      result.status = 1;
      return result;
    }
    SelectedCsvWriter writer(stream, plan, columns.probes, request.quantities, request.layout);
    writer.writeHeader();
    uint64_t lines = 0;
    const auto emit = [&](const LineGroup& group) {
      writer.writeLine(group);
      ++lines;
    };
    groupLines(request, *file, host, emit);
    const bool written = writer.finish();
    if (std::fclose(stream) != 0 || !written) {
      say(result.err, "%s: cannot write '%s'\n", prefix.c_str(), output.c_str());
      (void)removeFile(output.c_str());
      result.status = 1;
      return result;
    }
    noteEmptyWindow(request, lines, input, result);
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
  for (size_t t = 1; t < threadCount; ++t) threads.emplace_back(work);
  std::thread first(work);

  ProgressLine progress(err, "export:", "files", inputs.size());
  int status = 0;
  for (size_t i = 0; i < inputs.size(); ++i) {
    std::unique_lock lock(mutex);
    finished.wait(lock, [&] { return done[i]; });
    const FileResult& r = results[i];
    std::fputs(r.out.c_str(), out);
    std::fputs(r.err.c_str(), err);
    status = std::max(status, r.status);
    progress.update(i + 1);
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
    {"jobs", "N", "files exported at once (default: the number of cores)"},
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
    "line's first record) lies in [--from, --to). An unknown probe, blade or host\n"
    "is a usage error (status 2) naming the valid ones; a window that holds no line\n"
    "gives an output without lines and a note; a damaged file gives the lines before\n"
    "the damage and a warning. A file that fails is reported and the others are\n"
    "still exported (status 1).\n"
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
