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
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "foundation/file_system.h"
#include "foundation/paths.h"
#include "tools/commands.h"
#include "tools/export_file.h"
#include "tools/export_follow.h"
#include "tools/export_request.h"
#include "tools/export_set.h"
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
  if (args.has("follow") || args.has("idle")) return runExportFollow(args, request, out, err);

  // Each output is one task: a file, or with --set a recording set (and a
  // set argument that names none, a task that only reports it).
  std::vector<std::function<FileResult()>> tasks;
  std::vector<std::string> outputs;
  NamedSets named;
  if (request.sets) {
    named = findExportSets(args.positionals, request.setTime);
    std::size_t failure = 0;
    const auto failuresBefore = [&](std::size_t set) {
      for (; failure < named.failures.size() && named.failures[failure].first <= set; ++failure) {
        tasks.push_back([&named, failure] { return named.failures[failure].second; });
      }
    };
    for (std::size_t i = 0; i < named.sets.size(); ++i) {
      failuresBefore(i);
      tasks.push_back([&request, &named, i] { return exportSet(request, named.sets[i]); });
      outputs.push_back(exportSetOutputPath(request, named.sets[i]));
    }
    failuresBefore(named.sets.size());
  } else {
    for (const std::string& input : args.positionals) {
      tasks.push_back([&request, &input] { return exportFile(request, input); });
      outputs.push_back(exportOutputPath(request, input));
    }
  }

  // Outputs are made by up to `jobs` threads; their messages come out in
  // the order of the arguments, each output's as soon as it and every one
  // before it are done.
  std::atomic<uint64_t> bytesRead{0};
  request.bytesRead = &bytesRead;
  std::vector<FileResult> results(tasks.size());
  std::vector<bool> done(tasks.size(), false);
  std::mutex mutex;
  std::condition_variable finished;
  std::atomic<size_t> next{0};
  const auto work = [&] {
    for (size_t i = next++; i < tasks.size(); i = next++) {
      FileResult result = tasks[i]();
      std::lock_guard lock(mutex);
      results[i] = std::move(result);
      done[i] = true;
      finished.notify_all();
    }
  };
  // Inputs of the same name from different directories export to the same
  // output; the later one replaces the earlier, as with cdt2csv, which needs
  // them one after the other.
  std::sort(outputs.begin(), outputs.end());
  if (std::adjacent_find(outputs.begin(), outputs.end()) != outputs.end()) jobs = 1;
  std::vector<std::thread> threads;
  const size_t threadCount = std::max<size_t>(1, std::min<size_t>(jobs, tasks.size()));
  request.overlapWrites = jobs >= 2 * threadCount;
  for (size_t t = 1; t < threadCount; ++t) threads.emplace_back(work);
  std::thread first(work);

  ProgressLine progress(err, "export:", request.sets ? "sets" : "files", tasks.size());
  int status = 0;
  for (size_t i = 0; i < tasks.size(); ++i) {
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
    {"format", "FORMAT", "csv (default), mat, netcdf or parquet"},
    {"layout", "LAYOUT", "wide (default: the converter's columns) or long (CSV, Parquet)"},
    {"probes", "NAME[,NAME...]", "only these probes (names, or channel numbers 0-3)"},
    {"blades", "LIST", "only these blades, 1-based, ranges allowed: 1-10,15"},
    {"quantities", "LIST",
     "rms,dns,blade-dns,blade-toa (default: all), and deflection (with --layout long, or "
     "--format netcdf or mat)"},
    {"from", "TIME", "only the lines from TIME on (UTC)"},
    {"to", "TIME", "only the lines before TIME (UTC)"},
    {"revolutions", "FIRST:LAST", "only the lines whose Start Rev lies in FIRST..LAST"},
    {"host", "NAME", "only this host's blade records (default: as cdt2csv takes them)"},
    {"set", nullptr, "each ARG names recording sets: one output per set of every host's lines"},
    {"time", "TIME", "--set: of a directory, only the recording of this time (UTC)"},
    {"encoding", "NAME", "code page of the names as text (default: UTF-8, else windows-1252)"},
    {"jobs", "N", "threads: files at once, spare ones write batches (default: the cores)"},
    {"mat73", nullptr, "MATLAB: write the HDF5-based version 7.3 (for data past 2 GB)"},
    {"compress", "LEVEL",
     "zlib level 1-9: netCDF with the shuffle filter, level-5 MATLAB (default: none); "
     "Parquet: the --codec's level (gzip 1-9, default 1; zstd 1-19, default 3), GZIP when no "
     "--codec is named"},
    {"codec", "CODEC", "Parquet pages: none (default), gzip or zstd (where this build has it)"},
    {"row-group", "ROWS",
     "Parquet: rows per row group at most (default: 65536 lines, long 1048576 rows, within "
     "64 MiB)"},
    {"follow", nullptr, "export each FILE while it is written, each line once complete"},
    {"idle", "SECONDS", "--follow: give up a file that has not grown for SECONDS (default 60)"},
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
    "are written as the lines come, in fixed memory.\n"
    "Parquet files (wide or long) have the CSV's columns, named as its header names\n"
    "them (a name two probes share as the probe's key, NAME (channel N)): Time a\n"
    "UTC timestamp in microseconds, Speed, RMS, blade DNS and TOA 32-bit floats, the\n"
    "DNS means doubles, Sync a boolean, Start Rev and End Rev unsigned 64-bit, Blade\n"
    "unsigned 16-bit and a set's statuses unsigned 8-bit integers; an empty CSV cell\n"
    "is a null. They are written as the lines come, in row groups of up to 65536\n"
    "lines (long: 1048576 rows) or 64 MiB, each with the bounds of Time, Start Rev\n"
    "and End Rev, in fixed memory; the configuration text and the source file(s)\n"
    "are the key-value metadata cdt.configuration, cdt.source and cdt.sources.\n"
    "Pages are uncompressed unless --codec gzip or zstd (level: --compress) is given.\n"
    "With --set, each ARG names recording sets, as cdt sets groups them: a data file\n"
    "its recording's, a directory every recording in it (with --time the one of that\n"
    "time). Each set gives one output of its hosts' lines joined by revolution, named\n"
    "after the master's file without its host part (Rig1.0000.2011-05-06.12-30-00.csv\n"
    "of Rig1.0000.Daq1.2011-05-06.12-30-00.cdt), and \"cdt export: in=MASTER,\n"
    "out=OUTPUT\". Wide CSV: Time, Speed, Sync, Start Rev, End Rev of the set line,\n"
    "each host's probe columns as its own CSV has them, then \"HOST Status\" per host\n"
    "(0, or a sum of 1: no line of the host there, its cells empty; 2: its time, 4:\n"
    "its speed off the set line's). Long CSV: the rows of every host's probes, none\n"
    "for a host without a line there, a probe that shares its name with another\n"
    "named \"NAME (HOST channel N)\", and a last column Status (the row's host's).\n"
    "MATLAB and netCDF: every host's probes, a HOST_Status variable (uint8) per host,\n"
    "and the hosts' files in \"sources\". Parquet: the CSV's columns, wide or long,\n"
    "a shared name as \"NAME (HOST channel N)\" in the column names. --probes names\n"
    "probes of any host (by name, or by \"NAME (HOST channel N)\"); a host none of\n"
    "whose probes is named keeps none.\n"
    "A host's file that cannot be read is reported and the set exported without it\n"
    "(status 1).\n"
    "With --follow, each FILE is a recording being written (NAME.cdt.temp, or NAME.cdt\n"
    "to follow its .temp file until it is renamed), followed from its first record:\n"
    "each line is written to OUTPUT.part as soon as it is complete (its next record\n"
    "has arrived), within about 50 ms, so the file can be watched, and OUTPUT is\n"
    "renamed into place once the recording is finished; it then holds exactly what\n"
    "exporting the finished file gives. Files are followed at once. A file that is\n"
    "not there yet is waited for. A file that has not grown for --idle seconds is\n"
    "given up with a warning: OUTPUT holds the lines of its whole records, as cdt\n"
    "recover keeps them. CSV (wide or long), netCDF (along its line dimension) and\n"
    "Parquet (wide or long, a row group as it fills; readable once finished), with\n"
    "any selection. Ctrl-C stops every follow (status 130) and removes the\n"
    "unfinished outputs.\n"
    "With --follow --set, the one ARG names a recording set being written (one of its\n"
    "files, or a directory: its newest recording being written): once every host's\n"
    "file is there (or none is still written, or none appeared for --idle seconds),\n"
    "the hosts' lines are joined as they come into the set's output, which once every\n"
    "file is finished holds exactly what --set exports of them. A host's file that\n"
    "cannot be followed fails the set (status 1, no output).\n";

}  // namespace

const CommandSpec kExportCommand = {
    "export",
    "Exports recordings with a selection of probes, blades and windows",
    "cdt export [OPTIONS] FILE...  |  cdt export --set [OPTIONS] DIR_OR_FILE...",
    kDescription,
    kOptions,
    1,
    -1,
    runExport,
};

}  // namespace cdt
