// cdt analyse: the table of blade resonances of recordings.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "analysis/analysis.h"
#include "datafile/data_file.h"
#include "foundation/name_text.h"
#include "tools/commands.h"
#include "info/json_writer.h"
#include "tools/selection_text.h"

namespace cdt {

namespace {

constexpr OptionSpec kOptions[] = {
    {"stage", "NAME", "only this stage: its name or its number from 1"},
    {"orders", "LIST", "engine orders to consider, like 1-16 or 5,8,12 (default 1-32)"},
    {"json", nullptr, "a JSON object on standard output instead of the table"},
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
  std::string path;
  Geometry geometry;
  DeflectionCounts counts;
  std::vector<Resonance> resonances;
};

std::string stageName(const Geometry& g, uint32_t stage) {
  return decodeName(g.stages[stage].name);
}

void writeJson(const std::vector<FileAnalysis>& files, FILE* out) {
  JsonWriter json;
  json.beginObject();
  json.key("contract").beginObject();
  json.key("speed").value("rpm");
  json.key("toa").value("microseconds after the revolution's once-per-revolution mark");
  json.key("amplitude").value("zero-to-peak tip deflection, units of the stage diameter");
  json.key("deflection_sign").value("positive when the tip arrives early");
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

void writeTable(const std::vector<FileAnalysis>& files, FILE* out) {
  for (const FileAnalysis& f : files) {
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
      std::string aliases;
      for (uint32_t k : r.aliases) aliases += (aliases.empty() ? "" : ",") + std::to_string(k);
      std::fprintf(out, "  %-12s %5u %4u %10.1f %10.3f %10.4f %8.5f %6u  %s\n",
                   stageName(f.geometry, r.stage).c_str(), r.blade + 1, r.engineOrder, r.speedRpm,
                   r.frequencyHz, r.amplitude, r.dampingRatio, r.revolutions,
                   aliases.empty() ? "-" : aliases.c_str());
      ++shown;
    }
    if (shown == 0) std::fprintf(out, "  no resonances\n");
    if (rejected > 0) {
      std::fprintf(out, "  %zu window%s not accepted as resonances (--json says why)\n", rejected,
                   rejected == 1 ? "" : "s");
    }
  }
}

}  // namespace

int runAnalyse(const CommandArgs& args, FILE* out, FILE* err) {
  AnalysisOptions options;
  if (auto orders = args.value("orders")) {
    std::optional<std::vector<uint32_t>> parsed = parseOrders(*orders);
    if (!parsed) {
      return usageError(args, err, "--orders wants orders from 1 to 500 like 1-16 or 5,8, not '%s'",
                        orders->c_str());
    }
    options.orders = std::move(*parsed);
  }
  const std::optional<std::string> stageWanted = args.value("stage");
  std::vector<FileAnalysis> files;
  int status = 0;
  for (const std::string& path : args.positionals) {
    DataFileReport report;
    std::unique_ptr<DataFile> file = openDataFile(path.c_str(), report);
    if (file == nullptr) {
      status = fileError(args, err, "cannot read '%s': %s", path.c_str(),
                         dataFileStatusText(report.status));
      continue;
    }
    FileAnalysis f;
    f.path = path;
    f.geometry = geometryOf(file->configuration());
    std::optional<uint32_t> onlyStage;
    if (stageWanted) {
      for (uint32_t s = 0; s < f.geometry.stages.size(); ++s) {
        if (stageName(f.geometry, s) == *stageWanted || std::to_string(s + 1) == *stageWanted) {
          onlyStage = s;
          break;
        }
      }
      if (!onlyStage) {
        return usageError(args, err, "'%s' has no stage '%s'", path.c_str(), stageWanted->c_str());
      }
    }
    for (const StageDeflections& d : readDeflections(*file, f.geometry, f.counts)) {
      if (onlyStage && d.stage != *onlyStage) continue;
      std::vector<Resonance> found = findResonances(d, options);
      f.resonances.insert(f.resonances.end(), found.begin(), found.end());
    }
    files.push_back(std::move(f));
  }
  if (args.has("json")) {
    writeJson(files, out);
  } else {
    writeTable(files, out);
  }
  return status;
}

const CommandSpec kAnalyseCommand = {
    "analyse",
    "Finds the blade resonances of recordings: engine order, speed, frequency, damping",
    "cdt analyse [OPTIONS] FILE...",
    kDescription,
    kOptions,
    1,
    -1,
    runAnalyse,
};

}  // namespace cdt
