// The geometry of an installation and the tip deflections of its lines.
#include <algorithm>
#include <cmath>
#include <limits>

#include "analysis/analysis.h"
#include "analysis/sources.h"
#include "lines/line_layout.h"

namespace cdt {

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
    sg.problem = stageDeflectionProblem(stage);
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

std::vector<StageDeflections> readDeflections(DataFile& file, const Geometry& geometry,
                                              DeflectionCounts& counts) {
  return readDeflections(file, geometry, LineWindow{}, counts);
}

}  // namespace cdt
