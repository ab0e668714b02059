// Reads arbitrary bytes as a data file and runs the tip-timing analysis on
// it, checking what must hold for any input: the geometry's stages and
// probes are those the configuration names; every deflection is a number
// within half a circumference of the stage (or NaN where a cell is missing);
// the rows of a stage agree in size; every resonance names a stage, blade and
// order that exist, and an accepted one has a finite, positive frequency and
// amplitude and a speed of 60·f/EO. The sanitizers watch the rest.
//
// The bytes are written to one scratch file (fuzz/scratch_input.h).
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "analysis/analysis.h"
#include "datafile/data_file.h"
#include "fuzz/scratch_input.h"

namespace {

using namespace cdt;

void check(bool condition) {
  if (!condition) std::abort();
}

void checkStage(const Geometry& geometry, const StageDeflections& d) {
  check(d.stage < geometry.stages.size());
  const StageGeometry& sg = geometry.stages[d.stage];
  check(sg.problem.empty());
  check(d.blades <= sg.blades);
  check(d.angles.size() == d.probeNumbers.size());
  check(d.revolutions.size() == d.rows());
  check(d.values.size() == d.rows() * d.blades * d.probeNumbers.size());
  const double bound = std::abs(sg.diameter) / 2.0 * std::numbers::pi;
  for (double x : d.values) check(std::isnan(x) || std::abs(x) <= bound * (1 + 1e-12));
}

void checkResonances(const StageDeflections& d, const std::vector<Resonance>& found,
                     const AnalysisOptions& options) {
  for (const Resonance& r : found) {
    check(r.stage == d.stage);
    check(r.blade < d.blades);
    check(r.probes <= d.probeNumbers.size());
    check(r.firstRevolution <= r.lastRevolution);
    if (r.engineOrder != 0 && !options.orders.empty()) {
      bool listed = false;
      for (uint32_t k : options.orders) listed = listed || k == r.engineOrder;
      check(listed);
    }
    for (uint32_t k : r.aliases) check(k != r.engineOrder);
    if (!r.accepted) continue;
    check(r.engineOrder != 0);
    check(std::isfinite(r.frequencyHz) && r.frequencyHz > 0);
    check(std::isfinite(r.amplitude) && r.amplitude > 0);
    check(std::isfinite(r.dampingRatio));
    const double speed = 60.0 * r.frequencyHz / r.engineOrder;
    check(std::abs(r.speedRpm - speed) <= 1e-9 * speed);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& path = cdt::fuzzing::scratchInputPath("cdt-analysis-fuzz");
  cdt::fuzzing::writeScratchInput(path, data, size);

  std::unique_ptr<DataFile> file = openDataFile(path.c_str());
  if (file == nullptr) return 0;
  const Geometry geometry = geometryOf(file->configuration());
  for (const ProbeGeometry& p : geometry.probes) {
    check(p.stage < static_cast<int32_t>(geometry.stages.size()));
  }
  DeflectionCounts counts;
  const std::vector<StageDeflections> stages = readDeflections(*file, geometry, counts);
  check(counts.unsynchronised + counts.badSpeed <= counts.lines);
  // The orders to try come from the input too: the default range, or a few
  // taken from its last bytes (0 and orders far above the probes' reach
  // included).
  AnalysisOptions options;
  if (size >= 2 && data[size - 1] % 2 == 1) {
    options.orders = {data[size - 2], static_cast<uint32_t>(data[size - 2]) * 7 + 1u};
  }
  for (const StageDeflections& d : stages) {
    checkStage(geometry, d);
    checkResonances(d, findResonances(d, options), options);
  }
  return 0;
}
