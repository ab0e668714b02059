#include "tools/export_set.h"

#include <algorithm>
#include <memory>

#include "config/config_text.h"
#include "csv/set_csv.h"
#include "datafile/data_file.h"
#include "foundation/file_system.h"
#include "foundation/name_text.h"
#include "foundation/paths.h"
#include "lines/line_selection.h"
#include "lines/set_reader.h"
#include "tools/export_steps.h"

namespace cdt {

namespace {

// The set's hosts whose files open, in host order; a warning for each that
// does not.
std::vector<SetHost> openHosts(const SetFiles& set, const std::string& leader, FileResult& result) {
  std::vector<SetHost> hosts;
  for (std::size_t h = 0; h < set.paths.size(); ++h) {
    if (set.paths[h].empty()) continue;
    DataFileReport report;
    SetHost host;
    host.file = openDataFile(set.paths[h].c_str(), report);
    if (host.file == nullptr) {
      say(result.err, "cdt export: cannot read '%s': %s; the set of '%s' is exported without it\n",
          set.paths[h].c_str(), dataFileStatusText(report.status), leader.c_str());
      result.status = 1;
      continue;
    }
    host.path = set.paths[h];
    host.index = static_cast<uint32_t>(h);
    host.configuration = &host.file->configuration();
    // The host of the first line record, as the converter takes it.
    host.linesHost = firstLineHost(*host.file);
    if (!seekToTime(*host.file, 0).positioned) {
      say(result.err, "cdt export: cannot read '%s': %s; the set of '%s' is exported without it\n",
          set.paths[h].c_str(), dataFileStatusText(DataFileStatus::IoError), leader.c_str());
      result.status = 1;
      continue;
    }
    result.bytes += host.file->recordsEnd();
    hosts.push_back(std::move(host));
  }
  return hosts;
}

// Resolves `selection` against the host's configuration; false, with the
// result set (status 2), when it cannot be.
bool resolveHost(const ExportRequest& request, const LineSelection& selection, SetHost& host,
                 FileResult& result) {
  const TextEncoding encoding = request.encoding;
  SelectionError error;
  if (!resolveSelection(
          *host.configuration, host.linesHost, selection,
          [encoding](std::string_view name) { return decodeName(name, encoding); }, host.view,
          error)) {
    say(result.err, "cdt export: '%s' has %s\n", host.path.c_str(), error.message.c_str());
    result.status = 2;
    return false;
  }
  return true;
}

std::string hostName(const SetFiles& set, const SetHost& host) {
  return std::string(set.configuration.hosts[host.index].name.view());
}

// A probe's key in the set, as text: its name, or "NAME (HOST channel N)"
// where probes of the set share the name.
std::string setKey(const SetFiles&, const SetHost& host, uint32_t slot, TextEncoding) {
  return host.keys[slot];
}

// Resolves the request's selection for every host (prepareSetHosts).
bool resolveSetHosts(const ExportRequest& request, const SetFiles& set, const std::string& leader,
                     std::vector<SetHost>& hosts, FileResult& result) {
  LineSelection every = request.selection;
  every.probes.reset();
  every.blades.reset();
  for (SetHost& host : hosts) {
    if (!resolveHost(request, every, host, result)) return false;
  }
  std::vector<SetProbeName> named(hosts.size());
  for (std::size_t h = 0; h < hosts.size(); ++h) {
    named[h].host = decodeName(hostName(set, hosts[h]), request.encoding);
    for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
      named[h].present[slot] = hosts[h].view.columns.probes[slot] != nullptr;
      if (named[h].present[slot]) named[h].names[slot] = hosts[h].view.names[slot];
    }
  }
  const std::vector<std::array<std::string, kChannelsPerHost>> keys = setProbeKeys(named);
  for (std::size_t h = 0; h < hosts.size(); ++h) {
    for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
      hosts[h].keys[slot] = keys[h][slot];
      hosts[h].shared[slot] = named[h].present[slot] && keys[h][slot] != named[h].names[slot];
    }
  }
  std::vector<std::vector<ProbeChoice>> chosen(hosts.size());
  const std::vector<ProbeChoice> none;
  for (const ProbeChoice& choice : request.selection.probes.value_or(none)) {
    // By key first, then by name (decoded or as the file's bytes).
    bool found = false;
    for (int pass = 0; pass < 2 && !found; ++pass) {
      for (std::size_t h = 0; h < hosts.size(); ++h) {
        const LinePlan& view = hosts[h].view;
        for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
          const Probe* probe = view.columns.probes[slot];
          if (probe == nullptr) continue;
          const bool matches =
              pass == 0 ? setKey(set, hosts[h], slot, request.encoding) == choice.text
                        : view.names[slot] == choice.text || probe->name.view() == choice.text;
          if (!matches) continue;
          found = true;
          chosen[h].push_back({view.keys[slot], std::nullopt});
        }
      }
    }
    if (!found) {
      std::string keys;
      for (const SetHost& host : hosts) {
        for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
          if (host.view.columns.probes[slot] == nullptr) continue;
          keys += (keys.empty() ? "" : ", ") + setKey(set, host, slot, request.encoding);
        }
      }
      say(result.err, "cdt export: the set of '%s' has no probe '%s' (its probes: %s)\n",
          leader.c_str(), choice.text.c_str(), keys.empty() ? "none" : keys.c_str());
      result.status = 2;
      return false;
    }
  }
  for (std::size_t h = 0; h < hosts.size(); ++h) {
    LineSelection own = request.selection;
    if (own.probes) own.probes = chosen[h];
    if (!resolveHost(request, own, hosts[h], result)) return false;
  }
  return true;
}

}  // namespace

std::size_t setBatchRows(const SetPlan& plan) {
  std::size_t widest = 1;
  for (const ColumnPlan& host : plan.hosts) widest = std::max(widest, columnBytes(host, 1));
  const std::size_t line = columnBytes(setBlocks(plan), 1);
  std::size_t rows = kBatchRows;
  while (rows > 256 && rows * line > kBatchRows * widest) rows /= 2;
  return rows;
}

bool prepareSetHosts(const ExportRequest& request, const SetFiles& set, const std::string& leader,
                     const std::string& output, std::vector<SetHost>& hosts, FileResult& result) {
  for (const SetHost& host : hosts) {
    if (sameFile(host.path.c_str(), output.c_str())) {
      say(result.err, "cdt export: the output '%s' is the input file\n", output.c_str());
      result.status = 1;
      return false;
    }
  }
  return resolveSetHosts(request, set, leader, hosts, result);
}

std::vector<SetCsvHost> setCsvHosts(const SetFiles& set, const std::vector<SetHost>& hosts) {
  std::vector<SetCsvHost> described;
  for (const SetHost& host : hosts) {
    SetCsvHost d;
    d.plan = host.view.plan;
    d.name = hostName(set, host);
    for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
      const Probe* probe = host.view.columns.probes[slot];
      if (probe == nullptr) continue;
      d.names[slot] = std::string(probe->name.view());
      d.probeCells[slot] = d.names[slot];
      if (host.shared[slot]) {
        d.probeCells[slot] += " (" + d.name + " channel " + std::to_string(slot) + ")";
      }
    }
    described.push_back(std::move(d));
  }
  return described;
}

SinkDescription setSinkDescription(const ExportRequest& request, const SetFiles& set,
                                   const std::vector<SetHost>& hosts, std::size_t master,
                                   const SetPlan& plan) {
  const TextEncoding encoding = request.encoding;
  SinkDescription description;
  description.plan = setBlocks(plan);
  description.plan.quantities = hosts[master].view.plan.quantities;
  description.sourcePath = decodeName(hosts[master].path);
  description.configurationText =
      decodeName(configToText(*hosts[master].configuration, 0).view(), encoding);
  for (std::size_t h = 0; h < hosts.size(); ++h) {
    const SetHost& host = hosts[h];
    std::vector<SinkProbe> probes = sinkProbes(host.view, *host.configuration, encoding,
                                               plan.floatRow[h] - 1, plan.doubleRow[h]);
    for (SinkProbe& probe : probes) {
      probe.name = host.keys[probe.slot];
      probe.key = probe.name;
      probe.host = static_cast<uint32_t>(h);
    }
    description.probes.insert(description.probes.end(), probes.begin(), probes.end());
    description.sourcePaths.push_back(decodeName(host.path));
    description.statusHosts.push_back(decodeName(hostName(set, host), encoding));
  }
  return description;
}

namespace {

// A reader of the set's lines from the files' starts.
std::unique_ptr<SetReader> setReader(std::vector<SetHost>& hosts, std::size_t master,
                                     const SetPlan& plan) {
  std::vector<SetReader::Host> files;
  for (SetHost& host : hosts) files.push_back({host.file.get(), host.view.window, std::nullopt});
  return std::make_unique<SetReader>(files, master, plan);
}

// Adds every host's reading to the progress count.
struct SetMeter {
  SetMeter(const ExportRequest& request, const std::vector<SetHost>& hosts) {
    for (const SetHost& host : hosts) meters.emplace_back(request, *host.file);
  }
  void update() {
    for (ReadMeter& meter : meters) meter.update();
  }
  std::vector<ReadMeter> meters;
};

bool exportSetCsv(const ExportRequest& request, const SetFiles& set, std::vector<SetHost>& hosts,
                  std::size_t master, const SetPlan& plan, StagedOutput& staged, uint64_t& lines,
                  FileResult& result) {
  SetCsvWriter writer(staged.stream(), plan, setCsvHosts(set, hosts), request.layout);
  writer.writeHeader();
  const std::unique_ptr<SetReader> reader = setReader(hosts, master, plan);
  SetBatch batch(plan, hosts.size());
  SetMeter meter(request, hosts);
  while (!reader->ended()) {
    clearEmpties(setBlocks(plan), batch.columns.lines);
    const std::size_t rows = reader->read(batch.columns, 0, batch.rows);
    writer.writeLines(batch.columns, rows);
    lines += rows;
    meter.update();
  }
  if (!writer.finish()) {
    staged.fail("cannot write '" + staged.finalPath() + "'", writer.writeError());
    return outputFailed(staged, result);
  }
  return true;
}

bool exportSetColumns(const ExportRequest& request, const SetFiles& set,
                      std::vector<SetHost>& hosts, std::size_t master, const SetPlan& plan,
                      StagedOutput& staged, uint64_t& lines, FileResult& result) {
  std::unique_ptr<ColumnSink> sink = makeRequestSink(request, result);
  if (sink == nullptr) return false;
  SinkDescription description = setSinkDescription(request, set, hosts, master, plan);
  if (sink->needsLineCount()) {
    // A pass that only counts the set's lines, then back to the starts.
    uint64_t count = 0;
    {
      const std::unique_ptr<SetReader> counter = setReader(hosts, master, plan);
      SetBatch batch(plan, hosts.size());
      while (!counter->ended()) count += counter->read(batch.columns, 0, batch.rows);
    }
    for (SetHost& host : hosts) {
      if (!seekToTime(*host.file, 0).positioned) {
        say(result.err, "cdt export: cannot read '%s': %s\n", host.path.c_str(),
            dataFileStatusText(DataFileStatus::IoError));
        result.status = 1;
        return false;
      }
    }
    description.lines = count;
  }
  if (!staged.closeStream()) return outputFailed(staged, result);
  if (!sink->begin(staged.stagedPath(), description)) {
    (void)sink->finish();  // closes what begin opened
    return sinkFailed(*sink, staged, "cannot create", result);
  }
  const std::unique_ptr<SetReader> reader = setReader(hosts, master, plan);
  const SetBatch batches[2] = {SetBatch(plan, hosts.size()), SetBatch(plan, hosts.size())};
  SetMeter meter(request, hosts);
  bool written = pipeBatches(
      request,
      [&](int b) {
        clearEmpties(setBlocks(plan), batches[b].columns.lines);
        const std::size_t rows = reader->read(batches[b].columns, 0, batches[b].rows);
        meter.update();
        return rows;
      },
      [&] { return reader->ended(); },
      [&](int b, std::size_t rows) {
        const SetColumns& c = batches[b].columns;
        return sink->writeSet(c.lines, c.status, rows);
      },
      lines);
  written = sink->finish() && written;
  if (!written) return sinkFailed(*sink, staged, "cannot write", result);
  return true;
}

}  // namespace

NamedSets findExportSets(const std::vector<std::string>& arguments, std::optional<uint64_t> time) {
  NamedSets named;
  for (const std::string& argument : arguments) {
    std::vector<SetFiles> found(1);
    std::string error;
    const bool all = isDirectory(argument.c_str()) && !time;
    const bool ok =
        all ? findDirectorySets(argument, found, error)
            : findSetFiles(argument, isDirectory(argument.c_str()) ? time : std::nullopt, found[0],
                           error);
    if (!ok) {
      FileResult failure;
      say(failure.err, "cdt export: '%s' names no recording set: %s\n", argument.c_str(),
          error.c_str());
      failure.status = 1;
      named.failures.emplace_back(named.sets.size(), std::move(failure));
      continue;
    }
    for (SetFiles& set : found) {
      if (set.master >= set.paths.size()) continue;  // no file at all
      bool known = false;
      for (const SetFiles& other : named.sets) known = known || other.paths == set.paths;
      if (!known) named.sets.push_back(std::move(set));
    }
  }
  return named;
}

std::string exportSetOutputPath(const ExportRequest& request, const SetFiles& set) {
  // Named as a file of the stem's name would be.
  return exportOutputPath(request, setOutputStem(set) + ".cdt");
}

FileResult exportSet(const ExportRequest& request, const SetFiles& set) {
  FileResult result;
  const std::string& leader = set.paths[set.master];
  std::vector<SetHost> hosts = openHosts(set, leader, result);
  if (hosts.empty()) {
    say(result.err, "cdt export: no file of the set of '%s' can be read\n", leader.c_str());
    result.status = 1;
    return result;
  }
  // The master leads; without its file (or one that cannot be read), the
  // first host that has one.
  std::vector<std::string> readable(set.paths.size());
  for (const SetHost& host : hosts) readable[host.index] = host.path;
  const std::size_t leading = setMaster(set.configuration, readable);
  std::size_t master = 0;
  for (std::size_t h = 0; h < hosts.size(); ++h) {
    if (hosts[h].index == leading) master = h;
  }
  const std::string output = exportSetOutputPath(request, set);
  if (!prepareSetHosts(request, set, leader, output, hosts, result)) return result;
  std::vector<ColumnPlan> plans;
  for (const SetHost& host : hosts) plans.push_back(host.view.plan);
  const SetPlan plan = planSet(std::move(plans));
  StagedOutput staged;
  if (!stage(request, hosts[master].path, output, staged, result)) return result;
  uint64_t lines = 0;
  const bool exported =
      request.format == ExportFormat::Csv
          ? exportSetCsv(request, set, hosts, master, plan, staged, lines, result)
          : exportSetColumns(request, set, hosts, master, plan, staged, lines, result);
  if (!exported) return result;
  if (!staged.commit()) {
    outputFailed(staged, result);
    return result;
  }
  say(result.out, "cdt export: in=%s, out=%s\n", leader.c_str(), output.c_str());
  for (const SetHost& host : hosts) {
    noteStop(*host.file, host.path, result);
    noteDeflections(host.view, *host.configuration, host.path, result);
  }
  noteEmptyWindow(request, lines, leader, result);
  return result;
}

}  // namespace cdt
