// The geometry of an installation and the tip deflections of its lines.
#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "analysis/analysis.h"
#include "lines/line_columns.h"
#include "lines/line_layout.h"
#include "lines/line_reader.h"

namespace cdt {

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr std::size_t kBatchRows = 4096;

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
  std::vector<StageDeflections> result;
  const std::optional<uint32_t> host = firstLineHost(file);
  if (!host || !seekToTime(file, 0).positioned) return result;
  const Configuration& configuration = file.configuration();
  const HostColumns columns = hostColumns(configuration, *host, true);
  if (!columns.layout.withTimeOfArrival) return result;

  // Per slot: the stage's deflections it feeds, its column there, its α of blade 0.
  struct Slot {
    int32_t target = -1;
    std::size_t column = 0;
    double radius = 0;
    double alpha0 = 0;
    uint32_t blades = 0;
  };
  Slot slots[kChannelsPerHost];
  std::vector<int32_t> stageTarget(geometry.stages.size(), -1);
  for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
    const Probe* probe = columns.probes[slot];
    if (probe == nullptr || !columns.layout.hasProbe[slot]) continue;
    const int32_t stage = probe->stageIndex;
    if (stage < 0 || stage >= static_cast<int32_t>(geometry.stages.size())) {
      ++counts.probesWithoutStage;
      continue;
    }
    const StageGeometry& sg = geometry.stages[stage];
    if (!sg.problem.empty() || !std::isfinite(probe->radialPosition)) continue;
    if (stageTarget[stage] < 0) {
      stageTarget[stage] = static_cast<int32_t>(result.size());
      StageDeflections d;
      d.stage = static_cast<uint32_t>(stage);
      d.blades = std::min(sg.blades, columns.layout.blades[slot]);
      result.push_back(std::move(d));
    }
    StageDeflections& d = result[stageTarget[stage]];
    d.blades = std::min(d.blades, columns.layout.blades[slot]);
    Slot& s = slots[slot];
    s.target = stageTarget[stage];
    s.column = d.probeNumbers.size();
    s.radius = sg.diameter / 2.0;
    s.alpha0 = probe->radialPosition + sg.oprToBlade0;
    s.blades = sg.blades;
    d.probeNumbers.push_back(static_cast<uint32_t>(probe->index));
    d.angles.push_back(probe->radialPosition);
  }

  const ColumnPlan plan = planAllColumns(columns.layout);
  LineReader reader(file, plan, LineWindow{});
  const ColumnStorage storage(plan, kBatchRows);
  const LineColumns& c = storage.columns();
  while (!reader.ended()) {
    const std::size_t rows = reader.read(c, 0, kBatchRows);
    for (std::size_t r = 0; r < rows; ++r) {
      ++counts.lines;
      if (c.sync[r] == 0) {
        ++counts.unsynchronised;
        continue;
      }
      const double speed = c.floats[r];
      if (!std::isfinite(speed) || !(speed > 0)) {
        ++counts.badSpeed;
        continue;
      }
      for (StageDeflections& d : result) {
        d.speeds.push_back(speed);
        d.revolutions.push_back(c.startRevolution[r]);
        d.values.resize(d.values.size() + std::size_t{d.blades} * d.probeNumbers.size(),
                        std::numeric_limits<double>::quiet_NaN());
      }
      for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
        const Slot& s = slots[slot];
        if (s.target < 0) continue;
        StageDeflections& d = result[s.target];
        const std::size_t row = d.rows() - 1;
        for (uint32_t b = 0; b < d.blades; ++b) {
          const double toa = c.floats[(plan.bladeToaRow[slot] + b) * c.stride + r];
          if (!std::isfinite(toa)) {
            ++counts.missing;
            continue;
          }
          const double alpha = s.alpha0 + kTwoPi * b / s.blades;
          d.at(row, b, s.column) = tipDeflection(s.radius, alpha, speed, toa);
        }
      }
    }
    if (rows == 0) break;
  }
  return result;
}

}  // namespace cdt
