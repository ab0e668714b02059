// cdt export --follow --set DIR_OR_FILE: the recording set being written
// (a file of it, by its ".temp" name or its final one, or a directory: the
// newest recording being written there) followed as one joined set
// (lines/set_follower.h), its lines written as they are complete, in the
// layout and format `cdt export --set` writes the finished files in, so
// that the output, once every host's file is finished, is exactly that
// export's.
//
// The set's columns depend on its hosts, so the follow first waits for
// every host's file: until all are there, or none is still being written,
// or none has appeared for the idle time (those missing are left out, each
// named in a note, as an export of the finished set leaves them out). A
// host's file that cannot be followed fails the set: its message, status 1,
// and no output.
#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "datafile/file_names.h"
#include "datafile/follower.h"
#include "foundation/file_system.h"
#include "foundation/paths.h"
#include "foundation/staged_output.h"
#include "lines/set_files.h"
#include "lines/set_follower.h"
#include "platform/file_watch.h"
#include "platform/interrupts.h"
#include "tools/commands.h"
#include "tools/export_follow.h"
#include "tools/export_set.h"
#include "tools/export_steps.h"

namespace cdt {

using namespace std::chrono_literals;

namespace {

// Longest single wait, so that a follow checks its state now and then.
constexpr std::chrono::milliseconds kLongestWait{1000};

double seconds(std::chrono::milliseconds time) {
  return static_cast<double>(time.count()) / 1000.0;
}

bool beingWritten(const std::string& found) {
  return found.ends_with(kBeingWrittenSuffix);
}

std::size_t filesOf(const LiveSet& set) {
  return static_cast<std::size_t>(
      std::count_if(set.found.begin(), set.found.end(), [](auto& p) { return !p.empty(); }));
}

// The set `input` names once its hosts' files are there (see above); none
// with the message in `result`.
std::optional<LiveSet> settledSet(const std::string& input, const FollowRequest& follow,
                                  FileResult& result) {
  const bool directory = isDirectory(input.c_str());
  FileWatch watch(directory ? input : std::string(pathDirectory(TextBuffer(input)).view()));
  auto lastNew = std::chrono::steady_clock::now();
  std::size_t seen = 0;
  std::optional<LiveSet> live;
  for (;;) {
    std::string path = input;
    if (directory) {
      const std::vector<std::string> written = filesBeingWritten(input);
      path = written.empty() ? std::string() : written.front();
    }
    std::string error;
    bool absent = directory && path.empty();
    if (!path.empty()) live = findLiveSet(path, error, absent);
    const auto now = std::chrono::steady_clock::now();
    // A file just created may not hold its configuration yet: it is read
    // again until the idle time has passed.
    if (!live && !absent && now - lastNew >= follow.idle) {
      say(result.err, "cdt export: '%s' names no recording set being written: %s\n", input.c_str(),
          error.c_str());
      result.status = 1;
      return std::nullopt;
    }
    if (live) {
      const std::size_t files = filesOf(*live);
      if (files > seen) {
        seen = files;
        lastNew = now;
      }
      const bool writing = std::any_of(live->found.begin(), live->found.end(), beingWritten);
      if (files == live->found.size() || !writing || now - lastNew >= follow.idle) break;
    } else if (absent && now - lastNew >= follow.idle) {
      say(result.err,
          "cdt export: cannot read '%s': no recording set was written there within %g s\n",
          input.c_str(), seconds(follow.idle));
      result.status = 1;
      return std::nullopt;
    }
    if (interruptRequested()) {
      result.status = kInterruptedStatus;
      return std::nullopt;
    }
    watch.wait(100ms);
  }
  const SetFiles& set = live->files;
  for (std::size_t h = 0; h < live->found.size(); ++h) {
    if (live->found[h].empty()) {
      say(result.err,
          "cdt export: note: host '%s' of the set of '%s' has no file; the set is exported "
          "without it\n",
          std::string(set.configuration.hosts[static_cast<uint32_t>(h)].name.view()).c_str(),
          set.paths[set.master].c_str());
    }
  }
  return live;
}

// The set lines into a netCDF or Parquet file in batches of setBatchRows (as
// the export of the finished set writes them); false with the result set
// when the output failed.
bool followSetColumns(const ExportRequest& request, const SetFiles& set,
                      const std::vector<SetHost>& hosts, std::size_t master, SetFollower& follower,
                      StagedOutput& staged, uint64_t& lines, FileResult& result) {
  std::unique_ptr<ColumnSink> sink = makeRequestSink(request, result);
  if (sink == nullptr) return false;
  const SetPlan& plan = follower.plan();
  const SinkDescription description = setSinkDescription(request, set, hosts, master, plan);
  if (!staged.closeStream()) return outputFailed(staged, result);
  if (!sink->begin(staged.stagedPath(), description)) {
    (void)sink->finish();
    return sinkFailed(*sink, staged, "cannot create", result);
  }
  const SetBatch batch(plan, hosts.size());
  std::size_t rows = 0;
  bool written = true;
  bool ended = false;
  do {
    rows += follower.next(batch.columns, rows, batch.rows - rows, kLongestWait);
    ended = follower.status() != FollowStatus::Waiting;
    if (rows == batch.rows || (ended && rows > 0)) {
      written = written && sink->writeSet(batch.columns.lines, batch.columns.status, rows);
      lines += rows;
      rows = 0;
    }
  } while (!ended);
  written = sink->finish() && written;
  if (!written) return sinkFailed(*sink, staged, "cannot write", result);
  return true;
}

// The set lines as CSV, flushed every flushEvery while lines come.
bool followSetCsv(const ExportRequest& request, const FollowRequest& follow, const SetFiles& set,
                  const std::vector<SetHost>& hosts, SetFollower& follower, StagedOutput& staged,
                  uint64_t& lines, FileResult& result) {
  SetCsvWriter writer(staged.stream(), follower.plan(), setCsvHosts(set, hosts), request.layout);
  writer.writeHeader();
  const SetBatch batch(follower.plan(), hosts.size());
  bool pending = true;
  auto flushed = std::chrono::steady_clock::now();
  bool ended = false;
  do {
    const std::size_t rows =
        follower.next(batch.columns, 0, batch.rows, pending ? follow.flushEvery : kLongestWait);
    writer.writeLines(batch.columns, rows);
    lines += rows;
    ended = follower.status() != FollowStatus::Waiting;
    pending = pending || rows > 0;
    const auto now = std::chrono::steady_clock::now();
    if (pending && (ended || now - flushed >= follow.flushEvery)) {
      if (!writer.finish()) {
        staged.fail("cannot write '" + staged.finalPath() + "'", writer.writeError());
        return outputFailed(staged, result);
      }
      pending = false;
      flushed = now;
    }
  } while (!ended);
  return true;
}

// The warnings of a finished follow of one host, as a followed file's.
void noteFollowedHost(const FollowRequest& follow, const SetFollower& follower, std::size_t h,
                      const std::string& output, FileResult& result) {
  const DataFileFollower& records = follower.records(h);
  if (follower.hostStatus(h) == FollowStatus::Idle) {
    say(result.err,
        "cdt export: warning: '%s' has not grown for %g s and is not finished (its recorder "
        "seems to have stopped): '%s' holds the lines of its whole records, as cdt recover "
        "keeps them\n",
        records.openPath().c_str(), seconds(follow.idle), output.c_str());
  }
  const DataFileReport stop = records.stopReport();
  if (stop.status != DataFileStatus::EndOfRecords && stop.status != DataFileStatus::Ok) {
    say(result.err, "cdt export: warning: reading '%s' stopped at offset %llu: %s\n",
        follower.path(h).c_str(), static_cast<unsigned long long>(stop.offset),
        dataFileStatusText(stop.status));
  }
}

FileResult followSet(const ExportRequest& request, const FollowRequest& follow,
                     const std::string& input) {
  FileResult result;
  const std::optional<LiveSet> live = settledSet(input, follow, result);
  if (!live) return result;
  const SetFiles& set = live->files;
  const std::string& leader = set.paths[set.master];
  // The hosts that have a file, in host order, and the master among them.
  std::vector<SetHost> hosts;
  std::vector<std::string> paths;
  std::size_t master = 0;
  for (std::size_t h = 0; h < live->found.size(); ++h) {
    if (live->found[h].empty()) continue;
    if (h == set.master) master = hosts.size();
    SetHost host;
    // Named as an export of the finished set names it (messages, sources).
    host.path = set.paths[h];
    host.index = static_cast<uint32_t>(h);
    hosts.push_back(std::move(host));
    paths.push_back(live->found[h]);
  }
  FollowOptions options;
  options.idle = follow.idle;
  options.stopOnInterrupt = true;
  SetFollower follower(paths, master, options);
  FollowStatus status;
  do {
    status = follower.waitForHosts(kLongestWait);
  } while (status == FollowStatus::Waiting);
  const auto failed = [&] {
    if (follower.status() == FollowStatus::Failed || status == FollowStatus::Failed) {
      say(result.err, "cdt export: %s; the set of '%s' is not exported\n",
          follower.failure().c_str(), leader.c_str());
    } else {
      say(result.err, "cdt export: the follow of the set of '%s' was stopped\n", leader.c_str());
    }
    result.status = 1;
    return result;
  };
  if (status != FollowStatus::Record) return failed();
  for (std::size_t h = 0; h < hosts.size(); ++h) {
    hosts[h].configuration = &follower.configuration(h);
    hosts[h].linesHost = follower.linesHost(h);
  }
  const std::string output = exportSetOutputPath(request, set);
  if (!prepareSetHosts(request, set, leader, output, hosts, result)) return result;
  std::vector<ColumnPlan> plans;
  std::vector<LineWindow> windows;
  for (const SetHost& host : hosts) {
    plans.push_back(host.view.plan);
    windows.push_back(host.view.window);
  }
  follower.begin(plans, windows);
  StagedOutput staged;
  if (!stage(request, hosts[master].path, output, staged, result)) return result;
  uint64_t lines = 0;
  const bool written =
      request.format == ExportFormat::Csv
          ? followSetCsv(request, follow, set, hosts, follower, staged, lines, result)
          : followSetColumns(request, set, hosts, master, follower, staged, lines, result);
  if (!written) return result;
  status = follower.status();
  if (status != FollowStatus::Finished && status != FollowStatus::Idle) return failed();
  if (!staged.commit()) {
    outputFailed(staged, result);
    return result;
  }
  say(result.out, "cdt export: in=%s, out=%s\n", leader.c_str(), output.c_str());
  for (std::size_t h = 0; h < hosts.size(); ++h)
    noteFollowedHost(follow, follower, h, output, result);
  noteEmptyWindow(request, lines, leader, result);
  return result;
}

}  // namespace

int runExportFollowSet(const CommandArgs& args, const ExportRequest& request,
                       const FollowRequest& follow, FILE* out, FILE* err) {
  if (args.positionals.size() != 1) {
    return usageError(args, err, "--follow --set follows one set: give one directory or file");
  }
  const FileResult result = followSet(request, follow, args.positionals[0]);
  std::fputs(result.out.c_str(), out);
  std::fputs(result.err.c_str(), err);
  if (std::fflush(out) != 0) return 1;
  return interruptRequested() ? kInterruptedStatus : result.status;
}

}  // namespace cdt
