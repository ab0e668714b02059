// The geometry of an installation and the tip deflections of its lines.
#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "analysis/analysis.h"
#include "analysis/sources.h"
#include "lines/line_layout.h"

namespace cdt {

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;

}  // namespace

Geometry geometryOf(const Configuration& configuration) {
  Geometry g;
  g.counterClockwise = configuration.engine.counterClockwise;
  for (uint32_t s = 0; s < configuration.stages.size(); ++s) {
    const Stage& stage = configuration.stages[s];
    StageGeometry sg;
    sg.name = stage.name.str();
    sg.blades = stage.blades > 0 ? static_cast<uint32_t>(stage.blades) : 0;
    sg.diameter = stage.diameter;
    sg.oprToBlade0 = stage.oprToBlade0;
    if (stage.blades <= 0 || stage.blades > static_cast<int32_t>(kMaxLineBlades)) {
      sg.problem = "no blades";
    } else if (!std::isfinite(stage.diameter) || !(stage.diameter > 0)) {
      sg.problem = "no diameter";
    } else if (!std::isfinite(stage.oprToBlade0)) {
      sg.problem = "no angle from the once-per-revolution mark to blade 0";
    }
    g.stages.push_back(std::move(sg));
  }
  for (uint32_t number = 0; number < configuration.probeCount(); ++number) {
    const Probe& probe = configuration.probeAt(number);
    if (probe.channelIndex < 0) continue;
    ProbeGeometry pg;
    pg.number = number;
    pg.stage = probe.stageIndex >= 0 && probe.stageIndex < static_cast<int32_t>(g.stages.size())
                   ? probe.stageIndex
                   : -1;
    pg.channel = probe.channelIndex;
    pg.angle = probe.radialPosition;
    pg.axialPosition = probe.axialPosition;
    pg.setBack = probe.setBack;
    g.probes.push_back(pg);
  }
  return g;
}

double wrapAngle(double angle) {
  if (!std::isfinite(angle)) return std::numeric_limits<double>::quiet_NaN();
  double r = std::fmod(angle + std::numbers::pi, kTwoPi);
  if (r < 0) r += kTwoPi;
  r -= std::numbers::pi;
  // Rounding may land exactly on +π.
  return r >= std::numbers::pi ? -std::numbers::pi : r;
}

double tipDeflection(double radius, double alpha, double speedRpm, double toaUs) {
  if (!std::isfinite(speedRpm) || !(speedRpm > 0) || !std::isfinite(toaUs) ||
      !std::isfinite(alpha) || !std::isfinite(radius)) {
    return std::numeric_limits<double>::quiet_NaN();
  }
  const double omega = kTwoPi * speedRpm / 60.0;
  return radius * wrapAngle(alpha - omega * toaUs * 1e-6);
}

std::vector<StageDeflections> readDeflections(DataFile& file, const Geometry& geometry,
                                              DeflectionCounts& counts) {
  return readDeflections(file, geometry, LineWindow{}, counts);
}

}  // namespace cdt
