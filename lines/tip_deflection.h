// Tip deflection: how far a blade's tip stood from its undeflected place
// when it passed a probe, from its time of arrival (TOA). The one formula
// for every view that shows deflections (the analysis, the exports).
//
// Speed is in rpm, Ω = 2π·speed/60; a TOA is in microseconds after its
// revolution's once-per-revolution mark. Blade b (from 0) of a stage of B
// blades passes probe p undeflected at the angle
//     α = θp + oprToBlade0 + 2π·b/B,
// θp the probe's radialPosition, and its deflection, in the units of the
// stage's diameter (millimetres on real installations), is
//     x = R·wrap(α − Ω·TOA·10⁻⁶),  R = diameter/2, wrap into [−π, π),
// positive when the tip arrives early (ahead in the direction of rotation).
#pragma once

#include <cstdint>
#include <string>

#include "config/model.h"

namespace cdt {

// `angle` reduced into [−π, π); NaN stays NaN.
double wrapAngle(double angle);

// The tip deflection of a blade whose undeflected arrival angle is `alpha`
// on a stage of radius `radius`, timed `toaUs` after the mark of a
// revolution at `speedRpm`; NaN when the speed is not positive or a value is
// not finite.
double tipDeflection(double radius, double alpha, double speedRpm, double toaUs);

// Why a stage's deflections cannot be computed ("no blades", "no
// diameter", ...), empty when they can.
std::string stageDeflectionProblem(const Stage& stage);

// What one probe's deflections need: its stage's radius and blade count and
// the undeflected angle of blade 0 at the probe.
struct ProbeDeflection {
  bool valid = false;  // false: the probe has no stage, or its geometry is unusable
  double radius = 0;
  double alpha0 = 0;  // θp + oprToBlade0
  uint32_t blades = 0;

  // Blade `blade` (from 0) timed `toaUs` after the mark of a revolution at
  // `speedRpm`; NaN when not valid or as tipDeflection.
  double at(uint32_t blade, double speedRpm, double toaUs) const;
};

ProbeDeflection probeDeflection(const Configuration& configuration, const Probe& probe);

}  // namespace cdt
