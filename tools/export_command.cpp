// cdt export: recordings into files of other shapes and formats, with a
// selection of probes, blades, quantities and a window of time or
// revolutions, many files at once. The options become a request
// (tools/export_request.h), each file is exported on its own
// (tools/export_file.h), and this file runs them on a pool of threads and
// prints their messages in the order of the arguments.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "foundation/file_system.h"
#include "foundation/paths.h"
#include "tools/commands.h"
#include "tools/export_file.h"
#include "tools/export_request.h"
#include "tools/progress.h"

namespace cdt {

int runExport(const CommandArgs& args, FILE* out, FILE* err) {
  ExportRequest request;
  unsigned jobs = 1;
  if (int status = parseExportRequest(args, request, jobs, err); status != 0) return status;
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
      FileResult result = exportFile(request, inputs[i]);
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
  for (const std::string& input : inputs) outputs.push_back(exportOutputPath(request, input));
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
    {"compress", "LEVEL",
     "zlib level 1-9: netCDF with the shuffle filter, level-5 MATLAB (default: none)"},
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
    "MATLAB files (level 5; --mat73 for version 7.3) hold time (seconds since 1970,\n"
    "UTC), speed, sync, start_rev, end_rev, a struct probes with a field per probe\n"
    "(name, stage, blades, rms, dns, blade_dns, blade_toa: lines x blades) and the\n"
    "configuration text. Level-5 files are uncompressed unless --compress is given,\n"
    "and written as the lines come, in fixed memory, after a pass that counts them;\n"
    "a variable past 4 GiB needs --mat73. --compress writes an uncompressed copy\n"
    "beside the output first and compresses it on all cores. Version 7.3 files are\n"
    "compressed, and written as the lines come, in fixed memory.\n"
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
