// cdt analyse: the table of blade resonances of recordings.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "analysis/analysis.h"
#include "analysis/sources.h"
#include "csv/quantity_units.h"
#include "datafile/data_file.h"
#include "datafile/file_names.h"
#include "export/parquet_writer.h"
#include "foundation/file_system.h"
#include "foundation/name_text.h"
#include "foundation/paths.h"
#include "foundation/staged_output.h"
#include "info/json_writer.h"
#include "lines/set_files.h"
#include "tools/cdt.h"
#include "tools/commands.h"
#include "tools/selection_text.h"

namespace cdt {

namespace {

constexpr OptionSpec kOptions[] = {
    {"stage", "NAME", "only this stage: its name or its number from 1"},
    {"orders", "LIST", "engine orders to consider, like 1-16 or 5,8,12 (default 1-32)"},
    {"json", nullptr, "a JSON object on standard output instead of the table"},
    {"set", nullptr,
     "each ARG names recording sets: a stage's probes on several hosts analysed together"},
    {"output", "DIR",
     "also write each recording's resonance table into DIR (created when missing); also -o"},
    {"format", "FORMAT", "the table files' format: csv (default) or parquet"},
};

constexpr const char* kDescription =
    "Finds the blade resonances of each recording: per stage and blade the tip\n"
    "deflection from the times of arrival and the geometry of the configuration,\n"
    "the windows where it rises above the blade's own noise floor, the engine order\n"
    "of each (a circumferential Fourier fit over the stage's probes, chosen by its\n"
    "residual) and a single-degree-of-freedom fit: natural frequency, damping ratio,\n"
    "zero-to-peak amplitude (the stage diameter's units) and phase; the speed of the\n"
    "resonance is 60 f / EO rpm. Orders the probe angles cannot tell apart are listed\n"
    "as aliases. Speed is in rpm, a time of arrival in microseconds after the\n"
    "revolution's once-per-revolution mark, a deflection positive when the tip\n"
    "arrives early. Lines not synchronised, of no speed or with empty times of\n"
    "arrival are left out and counted.\n"
    "\n"
    "With --set each ARG (a file of a recording, or a directory: its recordings)\n"
    "names recording sets: the hosts' lines are joined on their revolutions as\n"
    "cdt export --set joins them, so a stage whose probes are spread over several\n"
    "hosts is analysed with all of them. A host without a file is named, and its\n"
    "probes left out.\n"
    "\n"
    "With --output each recording's (or set's) resonances are also written as a\n"
    "table, DIR/NAME.resonances.csv or .parquet (NAME: the file's name without\n"
    "its extension, a set's without its host), with the columns of the JSON's\n"
    "resonances but the fit's timing (a Parquet file's metadata cdt.units says\n"
    "each column's quantity and unit); written under a staging name and renamed\n"
    "once complete.\n"
    "\n"
    "Example: cdt synth --revolutions 20000 --resonance 8:360:0.005:0.5 run/\n"
    "         cdt analyse run/Rig1.0000.Daq1.*.cdt\n";

// "1-16", "5,8,12" or both mixed.
std::optional<std::vector<uint32_t>> parseOrders(const std::string& text) {
  std::vector<uint32_t> orders;
  for (const std::string& piece : splitList(text)) {
    const std::size_t dash = piece.find('-');
    const std::optional<int64_t> first = parseInteger(piece.substr(0, dash));
    const std::optional<int64_t> last =
        dash == std::string::npos ? first : parseInteger(piece.substr(dash + 1));
    if (!first || !last || *first < 1 || *last < *first || *last > 500) return std::nullopt;
    for (int64_t k = *first; k <= *last; ++k) {
      if (std::find(orders.begin(), orders.end(), k) == orders.end()) {
        orders.push_back(static_cast<uint32_t>(k));
      }
    }
  }
  if (orders.empty()) return std::nullopt;
  return orders;
}

struct FileAnalysis {
  std::string path;  // a set's: its master's file
  Geometry geometry;
  DeflectionCounts counts;
  std::vector<Resonance> resonances;
  bool isSet = false;
  std::vector<std::string> hostFiles;  // a set's files, host after host
  SetDeflectionReport set;
  std::vector<std::string> missingHosts;  // decoded names
  std::string outputStem;                 // what its table file is named after
};

std::string stageName(const Geometry& g, uint32_t stage) {
  return decodeName(g.stages[stage].name);
}

void writeJson(const std::vector<FileAnalysis>& files, FILE* out) {
  JsonWriter json;
  json.beginObject();
  // The units of the numbers, from the table of units.
  json.key("contract").beginObject();
  json.key("speed").value(quantityUnit(Quantity::Speed).unit);
  json.key("toa").value(quantityUnit(Quantity::BladeToa).description);
  std::string amplitude = quantityUnit(Quantity::Amplitude).longName;
  amplitude += "; ";
  amplitude += quantityUnit(Quantity::Amplitude).description;
  json.key("amplitude").value(amplitude);
  json.key("deflection_sign").value("positive when the tip arrives early");
  json.key("frequency").value(quantityUnit(Quantity::Frequency).unit);
  json.key("damping_ratio").value(quantityUnit(Quantity::DampingRatio).description);
  json.key("phase").value(quantityUnit(Quantity::Phase).description);
  json.endObject();
  json.key("files").beginArray();
  for (const FileAnalysis& f : files) {
    json.beginObject();
    json.key("path").value(f.path);
    json.key("lines").value(f.counts.lines);
    json.key("unsynchronised_lines").value(f.counts.unsynchronised);
    json.key("lines_without_speed").value(f.counts.badSpeed);
    json.key("missing_toa").value(f.counts.missing);
    json.key("probes_without_stage").value(f.counts.probesWithoutStage);
    if (f.isSet) {
      json.key("set").beginObject();
      json.key("host_files").beginArray();
      for (const std::string& path : f.hostFiles) json.value(path);
      json.endArray();
      json.key("set_lines").value(f.set.setLines);
      json.key("host_lines_off").value(f.set.hostLinesOff);
      json.key("missing_hosts").beginArray();
      for (const std::string& name : f.missingHosts) json.value(name);
      json.endArray();
      json.endObject();
    }
    json.key("stages").beginArray();
    for (uint32_t s = 0; s < f.geometry.stages.size(); ++s) {
      const StageGeometry& sg = f.geometry.stages[s];
      json.beginObject();
      json.key("stage").value(stageName(f.geometry, s));
      json.key("stage_number").value(s + 1);
      json.key("blades").value(sg.blades);
      json.key("diameter").value(sg.diameter);
      json.key("opr_to_blade0").value(sg.oprToBlade0);
      if (!sg.problem.empty()) json.key("problem").value(sg.problem);
      json.endObject();
    }
    json.endArray();
    json.endObject();
  }
  json.endArray();
  json.key("resonances").beginArray();
  for (const FileAnalysis& f : files) {
    for (const Resonance& r : f.resonances) {
      if (!r.accepted) continue;
      json.beginObject();
      json.key("path").value(f.path);
      json.key("stage").value(stageName(f.geometry, r.stage));
      json.key("stage_number").value(r.stage + 1);
      json.key("blade").value(r.blade + 1);
      json.key("engine_order").value(r.engineOrder);
      json.key("speed_rpm").value(r.speedRpm);
      json.key("frequency_hz").value(r.frequencyHz);
      json.key("amplitude").value(r.amplitude);
      json.key("damping_ratio").value(r.dampingRatio);
      json.key("phase").value(r.phase);
      json.key("alias_candidates").beginArray();
      for (uint32_t k : r.aliases) json.value(k);
      json.endArray();
      json.key("probes").value(r.probes);
      json.key("first_revolution").value(r.firstRevolution);
      json.key("last_revolution").value(r.lastRevolution);
      json.key("revolutions").value(r.revolutions);
      json.key("residual_rms").value(r.residualRms);
      json.key("fit_ms").value(r.fitMilliseconds);
      json.endObject();
    }
  }
  json.endArray();
  json.key("rejected_windows").beginArray();
  for (const FileAnalysis& f : files) {
    for (const Resonance& r : f.resonances) {
      if (r.accepted) continue;
      json.beginObject();
      json.key("path").value(f.path);
      json.key("stage_number").value(r.stage + 1);
      json.key("blade").value(r.blade + 1);
      json.key("first_revolution").value(r.firstRevolution);
      json.key("last_revolution").value(r.lastRevolution);
      json.key("reason").value(r.note);
      json.endObject();
    }
  }
  json.endArray();
  json.endObject();
  std::fprintf(out, "%s\n", json.text().c_str());
}

std::string aliasText(const Resonance& r) {
  std::string text;
  for (uint32_t k : r.aliases) {
    if (!text.empty()) text += ',';
    text += std::to_string(k);
  }
  return text;
}

void writeTable(const std::vector<FileAnalysis>& files, FILE* out) {
  for (const FileAnalysis& f : files) {
    if (f.isSet) std::fprintf(out, "set of %zu files, ", f.hostFiles.size());
    std::fprintf(out, "%s: %llu lines", f.path.c_str(),
                 static_cast<unsigned long long>(f.counts.lines));
    if (f.counts.unsynchronised + f.counts.badSpeed > 0) {
      std::fprintf(out, " (%llu unsynchronised, %llu without speed, left out)",
                   static_cast<unsigned long long>(f.counts.unsynchronised),
                   static_cast<unsigned long long>(f.counts.badSpeed));
    }
    std::fprintf(out, "\n");
    for (const StageGeometry& sg : f.geometry.stages) {
      if (!sg.problem.empty()) {
        std::fprintf(out, "  stage %s not analysed: %s\n", decodeName(sg.name).c_str(),
                     sg.problem.c_str());
      }
    }
    std::fprintf(out, "  %-12s %5s %4s %10s %10s %10s %8s %6s  %s\n", "Stage", "Blade", "EO",
                 "Speed rpm", "f_n Hz", "Amplitude", "Damping", "Revs", "Aliases");
    std::size_t shown = 0, rejected = 0;
    for (const Resonance& r : f.resonances) {
      if (!r.accepted) {
        ++rejected;
        continue;
      }
      const std::string aliases = aliasText(r);
      std::fprintf(out, "  %-12s %5u %4u %10.1f %10.3f %10.4f %8.5f %6u  %s\n",
                   stageName(f.geometry, r.stage).c_str(), r.blade + 1, r.engineOrder, r.speedRpm,
                   r.frequencyHz, r.amplitude, r.dampingRatio, r.revolutions,
                   aliases.empty() ? "-" : aliases.c_str());
      ++shown;
    }
    if (shown == 0) std::fprintf(out, "  no resonances\n");
    if (rejected > 0) {
      std::fprintf(out, "  %zu window%s not accepted as resonances (--json lists them):\n",
                   rejected, rejected == 1 ? "" : "s");
      // Each reason once, with how many windows it holds.
      std::vector<std::pair<std::string, std::size_t>> reasons;
      for (const Resonance& r : f.resonances) {
        if (r.accepted) continue;
        auto known = std::find_if(reasons.begin(), reasons.end(),
                                  [&](const auto& reason) { return reason.first == r.note; });
        if (known == reasons.end()) {
          reasons.emplace_back(r.note, 1);
        } else {
          ++known->second;
        }
      }
      for (const auto& [reason, count] : reasons) {
        std::fprintf(out, "    %zu: %s\n", count, reason.c_str());
      }
    }
  }
}

struct Run {
  const CommandArgs& args;
  FILE* err;
  AnalysisOptions options;
  std::optional<std::string> stageWanted;
  std::vector<FileAnalysis> files;
  int status = 0;
};

// The table files: the JSON's resonance columns but the fit's timing.
const ParquetColumn kTableColumns[] = {
    {"path", ParquetKind::String, false},
    {"stage", ParquetKind::String, false},
    {"stage_number", ParquetKind::UInt64, false},
    {"blade", ParquetKind::UInt64, false},
    {"engine_order", ParquetKind::UInt64, false},
    {"speed_rpm", ParquetKind::Double, false},
    {"frequency_hz", ParquetKind::Double, false},
    {"amplitude", ParquetKind::Double, false},
    {"damping_ratio", ParquetKind::Double, false},
    {"phase", ParquetKind::Double, false},
    {"alias_candidates", ParquetKind::String, false},
    {"probes", ParquetKind::UInt64, false},
    {"first_revolution", ParquetKind::UInt64, false},
    {"last_revolution", ParquetKind::UInt64, false},
    {"revolutions", ParquetKind::UInt64, false},
    {"residual_rms", ParquetKind::Double, false},
};
// What each column of the table is, from the table of units: a Parquet
// file says so in its metadata `cdt.units`, as the export's files do.
constexpr Quantity kTableQuantities[] = {
    Quantity::Path,         Quantity::Stage,      Quantity::StageNumber,    Quantity::Blade,
    Quantity::EngineOrder,  Quantity::Speed,      Quantity::Frequency,      Quantity::Amplitude,
    Quantity::DampingRatio, Quantity::Phase,      Quantity::AliasOrders,    Quantity::FitProbes,
    Quantity::Revolution,   Quantity::Revolution, Quantity::FitRevolutions, Quantity::ResidualRms,
};
static_assert(std::size(kTableQuantities) == std::size(kTableColumns));

// A CSV field: quoted when it holds a comma, a quote or a line break.
std::string csvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  quoted += '"';
  return quoted;
}

bool writeCsvTable(const FileAnalysis& f, std::FILE* out) {
  std::string header;
  for (const ParquetColumn& column : kTableColumns) {
    if (!header.empty()) header += ',';
    header += column.name;
  }
  std::fprintf(out, "%s\n", header.c_str());
  for (const Resonance& r : f.resonances) {
    if (!r.accepted) continue;
    std::fprintf(out, "%s,%s,%u,%u,%u,%.9g,%.9g,%.9g,%.9g,%.9g,%s,%u,%llu,%llu,%u,%.9g\n",
                 csvField(f.path).c_str(), csvField(stageName(f.geometry, r.stage)).c_str(),
                 r.stage + 1, r.blade + 1, r.engineOrder, r.speedRpm, r.frequencyHz, r.amplitude,
                 r.dampingRatio, r.phase, csvField(aliasText(r)).c_str(), r.probes,
                 static_cast<unsigned long long>(r.firstRevolution),
                 static_cast<unsigned long long>(r.lastRevolution), r.revolutions, r.residualRms);
  }
  return std::ferror(out) == 0;
}

bool writeParquetTable(const FileAnalysis& f, std::FILE* out, std::string& error) {
  ParquetWriterOptions options;
  options.createdBy = "cdt analyse version ";
  options.createdBy += kCdtVersion;
  ParquetWriter writer(
      std::vector<ParquetColumn>(std::begin(kTableColumns), std::end(kTableColumns)), options,
      [out](const void* data, std::size_t size) {
        return std::fwrite(data, 1, size, out) == size;
      });
  bool ok = writer.begin();
  for (const Resonance& r : f.resonances) {
    if (!ok || !r.accepted) continue;
    writer.column(0).addString(f.path);
    writer.column(1).addString(stageName(f.geometry, r.stage));
    writer.column(2).addUnsigned(r.stage + 1);
    writer.column(3).addUnsigned(r.blade + 1);
    writer.column(4).addUnsigned(r.engineOrder);
    writer.column(5).addDouble(r.speedRpm);
    writer.column(6).addDouble(r.frequencyHz);
    writer.column(7).addDouble(r.amplitude);
    writer.column(8).addDouble(r.dampingRatio);
    writer.column(9).addDouble(r.phase);
    writer.column(10).addString(aliasText(r));
    writer.column(11).addUnsigned(r.probes);
    writer.column(12).addUnsigned(r.firstRevolution);
    writer.column(13).addUnsigned(r.lastRevolution);
    writer.column(14).addUnsigned(r.revolutions);
    writer.column(15).addDouble(r.residualRms);
    ok = writer.endRows(1);
  }
  std::vector<std::string> names;
  for (const ParquetColumn& column : kTableColumns) names.push_back(column.name);
  ok = writer.finish({{"cdt.source", f.path}, {"cdt.units", unitsJson(names, kTableQuantities)}}) &&
       ok;
  if (!ok) error = writer.error();
  return ok;
}

// Writes the resonance table of `f` into `directory`, staged and renamed
// once complete; false, with a message given, when that fails.
bool writeTableFile(Run& run, const FileAnalysis& f, const std::string& directory, bool parquet) {
  std::string path = directory;
  if (!path.empty() && path.back() != '/') path += '/';
  path += f.outputStem;
  path += parquet ? ".resonances.parquet" : ".resonances.csv";
  StagedOutput staged;
  if (!staged.create(path, f.path, !parquet)) {
    run.status = fileError(run.args, run.err, "%s", staged.error().c_str());
    return false;
  }
  std::string error;
  const bool written =
      parquet ? writeParquetTable(f, staged.stream(), error) : writeCsvTable(f, staged.stream());
  if (!written) {
    std::string what = "cannot write '";
    what += path;
    what += '\'';
    if (!error.empty()) {
      what += ": ";
      what += error;
    }
    staged.fail(what, errno);
    run.status = fileError(run.args, run.err, "%s", staged.error().c_str());
    return false;
  }
  if (!staged.commit()) {
    run.status = fileError(run.args, run.err, "%s", staged.error().c_str());
    return false;
  }
  return true;
}

// The stage `wanted` names (its name or its number from 1), if any.
std::optional<uint32_t> findStage(const Geometry& g, const std::string& wanted) {
  for (uint32_t s = 0; s < g.stages.size(); ++s) {
    if (stageName(g, s) == wanted || std::to_string(s + 1) == wanted) return s;
  }
  return std::nullopt;
}

void findStageResonances(const std::vector<StageDeflections>& stages,
                         std::optional<uint32_t> onlyStage, const AnalysisOptions& options,
                         FileAnalysis& f) {
  for (const StageDeflections& d : stages) {
    if (onlyStage && d.stage != *onlyStage) continue;
    std::vector<Resonance> found = findResonances(d, options);
    f.resonances.insert(f.resonances.end(), found.begin(), found.end());
  }
}

// False (a usage error given) when the file has no stage --stage names.
bool analyseFile(Run& run, const std::string& path) {
  DataFileReport report;
  std::unique_ptr<DataFile> file = openDataFile(path.c_str(), report);
  if (file == nullptr) {
    run.status = fileError(run.args, run.err, "cannot read '%s': %s", path.c_str(),
                           dataFileStatusText(report.status));
    return true;
  }
  FileAnalysis f;
  f.path = path;
  f.outputStem = outputPathFor(path.c_str()).str();
  f.outputStem.resize(f.outputStem.size() - 4);  // ".csv"
  f.geometry = geometryOf(file->configuration());
  std::optional<uint32_t> onlyStage;
  if (run.stageWanted) {
    onlyStage = findStage(f.geometry, *run.stageWanted);
    if (!onlyStage) {
      run.status = usageError(run.args, run.err, "'%s' has no stage '%s'", path.c_str(),
                              run.stageWanted->c_str());
      return false;
    }
  }
  findStageResonances(readDeflections(*file, f.geometry, f.counts), onlyStage, run.options, f);
  run.files.push_back(std::move(f));
  return true;
}

// The names of host `host`'s probes, "A, B".
std::string hostProbeNames(const Configuration& c, uint32_t host) {
  std::string names;
  for (const Probe* probe : hostColumns(c, host, true).probes) {
    if (probe == nullptr) continue;
    if (!names.empty()) names += ", ";
    names += decodeName(probe->name.view());
  }
  return names;
}

bool analyseSet(Run& run, const SetFiles& set) {
  std::vector<std::unique_ptr<DataFile>> opened(set.paths.size());
  std::vector<DataFile*> files(set.paths.size(), nullptr);
  std::string leader;
  for (std::size_t h = 0; h < set.paths.size(); ++h) {
    if (set.paths[h].empty()) continue;
    if (leader.empty() || h == set.master) leader = set.paths[h];
  }
  for (std::size_t h = 0; h < set.paths.size(); ++h) {
    if (set.paths[h].empty()) continue;
    DataFileReport report;
    opened[h] = openDataFile(set.paths[h].c_str(), report);
    if (opened[h] == nullptr) {
      run.status = fileError(
          run.args, run.err, "cannot read '%s': %s; the set of '%s' is analysed without it",
          set.paths[h].c_str(), dataFileStatusText(report.status), leader.c_str());
      continue;
    }
    files[h] = opened[h].get();
  }
  std::size_t master = set.master;
  if (master >= files.size() || files[master] == nullptr) {
    master = files.size();
    for (std::size_t h = 0; h < files.size() && master == files.size(); ++h) {
      if (files[h] != nullptr) master = h;
    }
  }
  if (master == files.size()) {
    run.status =
        fileError(run.args, run.err, "no file of the set of '%s' can be read", leader.c_str());
    return true;
  }
  FileAnalysis f;
  f.isSet = true;
  f.path = set.paths[master];
  f.outputStem = setOutputStem(set);
  f.geometry = geometryOf(files[master]->configuration());
  for (std::size_t h = 0; h < files.size(); ++h) {
    if (files[h] != nullptr) f.hostFiles.push_back(set.paths[h]);
  }
  std::optional<uint32_t> onlyStage;
  if (run.stageWanted) {
    onlyStage = findStage(f.geometry, *run.stageWanted);
    if (!onlyStage) {
      run.status = usageError(run.args, run.err, "the set of '%s' has no stage '%s'",
                              f.path.c_str(), run.stageWanted->c_str());
      return false;
    }
  }
  const std::vector<StageDeflections> stages =
      readSetDeflections(files, master, f.geometry, LineWindow{}, f.counts, f.set);
  const Configuration& c = files[master]->configuration();
  for (uint32_t h : f.set.missingHosts) {
    const std::string name = decodeName(c.hosts[h].name.view());
    f.missingHosts.push_back(name);
    // A file that could not be read is named above already.
    if (!set.paths[h].empty()) continue;
    std::fprintf(run.err,
                 "%s %s: the set of '%s' has no file of host '%s': its probes (%s) are left "
                 "out of the analysis\n",
                 run.args.program.c_str(), run.args.command.c_str(), f.path.c_str(), name.c_str(),
                 hostProbeNames(c, h).c_str());
  }
  findStageResonances(stages, onlyStage, run.options, f);
  run.files.push_back(std::move(f));
  return true;
}

// The sets `argument` names: a file's, a directory's only one, or with a
// directory every recording in it.
bool findSets(Run& run, const std::string& argument, std::vector<SetFiles>& sets) {
  std::vector<SetFiles> found(1);
  std::string error;
  const bool ok = isDirectory(argument.c_str())
                      ? findDirectorySets(argument, found, error)
                      : findSetFiles(argument, std::nullopt, found[0], error);
  if (!ok) {
    run.status = fileError(run.args, run.err, "'%s' names no recording set: %s", argument.c_str(),
                           error.c_str());
    return false;
  }
  for (SetFiles& set : found) {
    if (set.master >= set.paths.size()) continue;  // no file at all
    bool known = false;
    for (const SetFiles& other : sets) known = known || other.paths == set.paths;
    if (!known) sets.push_back(std::move(set));
  }
  return true;
}

}  // namespace

int runAnalyse(const CommandArgs& args, FILE* out, FILE* err) {
  Run run{args, err, {}, args.value("stage"), {}, 0};
  const std::optional<std::string> directory = args.value("output");
  const std::string format = args.value("format").value_or("csv");
  if (format != "csv" && format != "parquet") {
    return usageError(args, err, "--format wants csv or parquet, not '%s'", format.c_str());
  }
  if (args.has("format") && !directory) {
    return usageError(args, err, "--format goes with --output DIR");
  }
  if (directory && !makeDirectories(directory->c_str())) {
    return fileError(args, err, "cannot create the directory '%s'", directory->c_str());
  }
  if (auto orders = args.value("orders")) {
    std::optional<std::vector<uint32_t>> parsed = parseOrders(*orders);
    if (!parsed) {
      return usageError(args, err, "--orders wants orders from 1 to 500 like 1-16 or 5,8, not '%s'",
                        orders->c_str());
    }
    run.options.orders = std::move(*parsed);
  }
  if (args.has("set")) {
    std::vector<SetFiles> sets;
    for (const std::string& argument : args.positionals) (void)findSets(run, argument, sets);
    for (const SetFiles& set : sets) {
      if (!analyseSet(run, set)) return run.status;
    }
  } else {
    for (const std::string& path : args.positionals) {
      if (!analyseFile(run, path)) return run.status;
    }
  }
  if (directory) {
    for (const FileAnalysis& f : run.files) {
      (void)writeTableFile(run, f, *directory, format == "parquet");
    }
  }
  if (args.has("json")) {
    writeJson(run.files, out);
  } else {
    writeTable(run.files, out);
  }
  return run.status;
}

const CommandSpec kAnalyseCommand = {
    "analyse",
    "Finds the blade resonances of recordings: engine order, speed, frequency, damping",
    "cdt analyse [OPTIONS] FILE...  |  cdt analyse --set [OPTIONS] DIR_OR_FILE...",
    kDescription,
    kOptions,
    1,
    -1,
    runAnalyse,
};

}  // namespace cdt
