#include "tools/export_follow.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <string_view>
#include <thread>
#include <vector>

#include "config/config_text.h"
#include "csv/csv_exporter.h"
#include "csv/selected_csv.h"
#include "datafile/file_names.h"
#include "datafile/follower.h"
#include "foundation/file_system.h"
#include "foundation/name_text.h"
#include "foundation/paths.h"
#include "foundation/staged_output.h"
#include "lines/line_follower.h"
#include "lines/line_selection.h"
#include "platform/interrupts.h"
#include "tools/commands.h"
#include "tools/export_steps.h"

namespace cdt {

using namespace std::chrono_literals;

namespace {

// Longest single wait, so that a follow checks its state now and then even
// when the caller's timeouts are long.
constexpr std::chrono::milliseconds kLongestWait{1000};

std::string withoutTemporarySuffix(const std::string& path) {
  const std::string_view name = path;
  if (!name.ends_with(kBeingWrittenSuffix)) return path;
  return std::string(name.substr(0, name.size() - kBeingWrittenSuffix.size()));
}

// The end of a follow: the output kept (and its messages) or dropped.
FileResult finishFollow(const ExportRequest& request, const FollowRequest& follow,
                        const std::string& input, const std::string& output,
                        const DataFileFollower& records, uint64_t lines, FollowStatus status,
                        StagedOutput& staged, FileResult& result);

double seconds(std::chrono::milliseconds time) {
  return static_cast<double>(time.count()) / 1000.0;
}

// The messages of a follow that ended without a whole output.
FileResult cannotFollow(const DataFileFollower& records, const FollowRequest& follow,
                        FollowStatus status, const std::string& input, FileResult& result) {
  if (status == FollowStatus::Idle) {
    say(result.err, "cdt export: cannot read '%s': no data file appeared there within %g s\n",
        input.c_str(), seconds(follow.idle));
  } else if (status == FollowStatus::Stopped) {
    say(result.err, "cdt export: the follow of '%s' was stopped\n", input.c_str());
  } else {
    say(result.err, "cdt export: cannot follow '%s': %s\n", input.c_str(),
        followErrorText(records.error()));
  }
  result.status = 1;
  return result;
}

// The lines into a netCDF file, along its unlimited dimension, or a Parquet
// file, its row groups as they fill, in batches of kBatchRows (or fewer at
// the end). Failed with the result set when the
// output failed; else how the follow ended.
FollowStatus followColumns(const ExportRequest& request, const std::string& input,
                           DataFileFollower& records, LineFollower& lines, const LinePlan& view,
                           StagedOutput& staged, FileResult& result) {
  std::unique_ptr<ColumnSink> sink = makeRequestSink(request, result);
  if (sink == nullptr) return FollowStatus::Failed;
  const Configuration& configuration = records.configuration();
  SinkDescription description;
  description.plan = view.plan;
  description.sourcePath = decodeName(input);
  description.configurationText =
      decodeName(configToText(configuration, 0).view(), request.encoding);
  description.probes = sinkProbes(view, configuration, request.encoding, 0, 0);
  if (!staged.closeStream()) {
    outputFailed(staged, result);
    return FollowStatus::Failed;
  }
  if (!sink->begin(staged.stagedPath(), description)) {
    (void)sink->finish();
    sinkFailed(*sink, staged, "cannot create", result);
    return FollowStatus::Failed;
  }
  const ColumnStorage batch(view.plan, kBatchRows);
  std::size_t rows = 0;
  bool written = true;
  FollowBatch got;
  do {
    got = lines.next(view.plan, batch.columns(), rows, kBatchRows - rows, kLongestWait);
    rows += got.lines;
    if (rows == kBatchRows || (followEnded(got.status) && rows > 0)) {
      written = written && sink->write(batch.columns(), rows);
      rows = 0;
      clearEmpties(view.plan, batch.columns());  // a new batch: no mask until an empty cell
    }
  } while (!followEnded(got.status));
  written = sink->finish() && written;
  if (!written) {
    sinkFailed(*sink, staged, "cannot write", result);
    return FollowStatus::Failed;
  }
  return got.status;
}

// The converter's CSV, by the converter's own exporter, which takes the
// records as they come and is flushed every flushEvery while lines come.
FileResult followWholeCsv(const ExportRequest& request, const FollowRequest& follow,
                          const std::string& input, const std::string& output,
                          DataFileFollower& records, FileResult& result) {
  StagedOutput staged;
  if (!stage(request, records.openPath(), output, staged, result)) return result;
  std::unique_ptr<CsvExporter> exporter =
      createCsvExporterOnStream(records.configuration(), staged.release(), true);
  bool pending = false;
  auto flushed = std::chrono::steady_clock::now();
  FollowStatus status;
  int written = 1;
  for (;;) {
    auto wait = kLongestWait;
    if (pending) {
      wait = std::chrono::duration_cast<std::chrono::milliseconds>(
          flushed + follow.flushEvery - std::chrono::steady_clock::now());
      wait = std::max(wait, std::chrono::milliseconds(0));
    }
    RecordRef record;
    status = records.next(record, wait);
    if (followEnded(status)) break;
    if (record) {
      written = exportRecord(*exporter, record.get());
      pending = true;
    }
    if (pending) {
      const auto now = std::chrono::steady_clock::now();
      if (now - flushed >= follow.flushEvery) {
        written = flushCsvExporter(*exporter);
        pending = false;
        flushed = now;
      }
    }
    if (written == 0) break;
  }
  // Closes the stream whatever the end; an output not kept is removed.
  if (!finishCsvExporter(*exporter)) {
    staged.fail("cannot write '" + staged.finalPath() + "'", exporter->writeError);
    outputFailed(staged, result);
    return result;
  }
  return finishFollow(request, follow, input, output, records, 0, status, staged, result);
}

// Waits until `step` says anything but Waiting.
template <class Step>
FollowStatus untilSettled(Step step) {
  FollowStatus status;
  do {
    status = step(kLongestWait);
  } while (status == FollowStatus::Waiting);
  return status;
}

}  // namespace

int parseFollowRequest(const CommandArgs& args, const ExportRequest& request, FollowRequest& follow,
                       FILE* err) {
  const std::optional<double> idle = realOption(args, "idle", 60.0, 0.01, 1e7, err);
  if (!idle) return 2;
  follow.idle = std::chrono::milliseconds(static_cast<int64_t>(*idle * 1000.0 + 0.5));
  if (!args.has("follow")) {
    return args.has("idle") ? usageError(args, err, "--idle is for --follow") : 0;
  }
  if (request.format == ExportFormat::Mat) {
    return usageError(args, err,
                      "--follow writes CSV, netCDF or Parquet: a MATLAB file needs the count "
                      "of its lines before the first one");
  }
  return 0;
}

FileResult followFile(const ExportRequest& request, const FollowRequest& follow,
                      const std::string& input) {
  FileResult result;
  const std::string output = exportOutputPath(request, withoutTemporarySuffix(input));
  FollowOptions options;
  options.idle = follow.idle;
  options.stopOnInterrupt = true;
  DataFileFollower records(input, options);
  FollowStatus status =
      untilSettled([&](std::chrono::milliseconds t) { return records.waitForConfiguration(t); });
  if (status != FollowStatus::Record) return cannotFollow(records, follow, status, input, result);
  const Configuration& configuration = records.configuration();
  if (sameFile(records.openPath().c_str(), output.c_str())) {
    say(result.err, "cdt export: the output '%s' is the input file\n", output.c_str());
    result.status = 1;
    return result;
  }

  if (request.format == ExportFormat::Csv && !request.selects()) {
    return followWholeCsv(request, follow, input, output, records, result);
  }

  // The selection needs the host of the lines: named, or that of the first
  // line record, which may take a while to come.
  LinePlan view;
  SelectionError error;
  const TextEncoding encoding = request.encoding;
  const auto resolve = [&](std::optional<uint32_t> linesHost) {
    return resolveSelection(
        configuration, linesHost, request.selection,
        [encoding](std::string_view name) { return decodeName(name, encoding); }, view, error);
  };
  std::optional<LineFollower> lines;
  bool resolved = false;
  if (request.selection.host) {
    resolved = resolve(std::nullopt);
    if (resolved) lines.emplace(records, view.window);
  } else {
    lines.emplace(records);
    status = untilSettled([&](std::chrono::milliseconds t) { return lines->waitForHost(t); });
    if (status == FollowStatus::Failed || status == FollowStatus::Stopped) {
      return cannotFollow(records, follow, status, input, result);
    }
    resolved = resolve(lines->host());
    if (resolved) lines->setRanges(view.window);
  }
  if (!resolved) {
    say(result.err, "cdt export: '%s' has %s\n", input.c_str(), error.message.c_str());
    result.status = 2;
    return result;
  }

  StagedOutput staged;
  if (!stage(request, records.openPath(), output, staged, result)) return result;
  if (request.format == ExportFormat::NetCdf || request.format == ExportFormat::Parquet) {
    status = followColumns(request, input, records, *lines, view, staged, result);
    if (status == FollowStatus::Failed && result.status != 0) return result;
    return finishFollow(request, follow, input, output, records, lines->lines(), status, staged,
                        result);
  }
  SelectedCsvWriter writer(staged.stream(), view.plan, view.columns.probes, request.layout);
  writer.writeHeader();
  bool pending = true;
  auto flushed = std::chrono::steady_clock::now();
  FollowBatch batch;
  do {
    batch = lines->nextGroups(1024, pending ? follow.flushEvery : kLongestWait,
                              [&](const LineGroup& group, uint64_t) { writer.writeLine(group); });
    pending = pending || batch.lines > 0;
    const auto now = std::chrono::steady_clock::now();
    if (pending && (followEnded(batch.status) || now - flushed >= follow.flushEvery)) {
      if (!writer.finish()) {
        staged.fail("cannot write '" + output + "'", writer.writeError());
        outputFailed(staged, result);
        return result;
      }
      pending = false;
      flushed = now;
    }
  } while (!followEnded(batch.status));

  return finishFollow(request, follow, input, output, records, lines->lines(), batch.status, staged,
                      result);
}

namespace {

FileResult finishFollow(const ExportRequest& request, const FollowRequest& follow,
                        const std::string& input, const std::string& output,
                        const DataFileFollower& records, uint64_t lines, FollowStatus status,
                        StagedOutput& staged, FileResult& result) {
  if (status != FollowStatus::Finished && status != FollowStatus::Idle) {
    return cannotFollow(records, follow, status, input, result);
  }
  if (!staged.commit()) {
    outputFailed(staged, result);
    return result;
  }
  say(result.out, "cdt export: in=%s, out=%s\n", input.c_str(), output.c_str());
  const DataFileReport stop = records.stopReport();
  if (status == FollowStatus::Idle) {
    say(result.err,
        "cdt export: warning: '%s' has not grown for %g s and is not finished (its recorder "
        "seems to have stopped): '%s' holds the lines of its whole records, as cdt recover "
        "keeps them\n",
        records.openPath().c_str(), seconds(follow.idle), output.c_str());
  }
  if (stop.status != DataFileStatus::EndOfRecords && stop.status != DataFileStatus::Ok) {
    say(result.err, "cdt export: warning: reading '%s' stopped at offset %llu: %s\n", input.c_str(),
        static_cast<unsigned long long>(stop.offset), dataFileStatusText(stop.status));
  }
  if (!records.indexAgrees()) {
    say(result.err, "cdt export: warning: the index of '%s' disagrees with its records\n",
        input.c_str());
  }
  noteEmptyWindow(request, lines, input, result);
  return result;
}

}  // namespace

int runExportFollow(const CommandArgs& args, const ExportRequest& request, FILE* out, FILE* err) {
  FollowRequest follow;
  if (int status = parseFollowRequest(args, request, follow, err); status != 0) return status;
  // Ctrl-C stops the follows, whose unfinished outputs are then removed.
  catchInterrupts();
  if (request.sets) return runExportFollowSet(args, request, follow, out, err);
  const std::vector<std::string>& inputs = args.positionals;
  if (std::any_of(inputs.begin(), inputs.end(),
                  [](const std::string& p) { return isDirectory(p.c_str()); })) {
    if (inputs.size() != 1) return usageError(args, err, "--follow takes one directory, alone");
    return runExportFollowDirectory(args, request, follow, inputs[0], out, err);
  }
  std::vector<FileResult> results(inputs.size());
  std::vector<std::thread> threads;
  threads.reserve(inputs.size());
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    threads.emplace_back([&, i] { results[i] = followFile(request, follow, inputs[i]); });
  }
  int status = 0;
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    threads[i].join();
    std::fputs(results[i].out.c_str(), out);
    std::fputs(results[i].err.c_str(), err);
    std::fflush(out);
    std::fflush(err);
    status = std::max(status, results[i].status);
  }
  return interruptRequested() ? kInterruptedStatus : status;
}

}  // namespace cdt
