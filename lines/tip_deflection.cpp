#include "lines/tip_deflection.h"

#include <cmath>
#include <limits>
#include <numbers>

#include "lines/line_layout.h"

namespace cdt {

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

}  // namespace

double wrapAngle(double angle) {
  if (!std::isfinite(angle)) return kNaN;
  double r = std::fmod(angle + std::numbers::pi, kTwoPi);
  if (r < 0) r += kTwoPi;
  r -= std::numbers::pi;
  // Rounding may land exactly on +π.
  return r >= std::numbers::pi ? -std::numbers::pi : r;
}

double tipDeflection(double radius, double alpha, double speedRpm, double toaUs) {
  if (!std::isfinite(speedRpm) || !(speedRpm > 0) || !std::isfinite(toaUs) ||
      !std::isfinite(alpha) || !std::isfinite(radius)) {
    return kNaN;
  }
  const double omega = kTwoPi * speedRpm / 60.0;
  return radius * wrapAngle(alpha - omega * toaUs * 1e-6);
}

std::string stageDeflectionProblem(const Stage& stage) {
  if (stage.blades <= 0 || stage.blades > static_cast<int32_t>(kMaxLineBlades)) {
    return "no blades";
  }
  if (!std::isfinite(stage.diameter) || !(stage.diameter > 0)) return "no diameter";
  if (!std::isfinite(stage.oprToBlade0)) {
    return "no angle from the once-per-revolution mark to blade 0";
  }
  return {};
}

double ProbeDeflection::at(uint32_t blade, double speedRpm, double toaUs) const {
  if (!valid || blade >= blades) return kNaN;
  // The same expression as every other view's, so that the numbers agree
  // to the last bit.
  const double alpha = alpha0 + kTwoPi * blade / blades;
  return tipDeflection(radius, alpha, speedRpm, toaUs);
}

ProbeDeflection probeDeflection(const Configuration& configuration, const Probe& probe) {
  ProbeDeflection d;
  if (probe.stageIndex < 0 ||
      static_cast<std::size_t>(probe.stageIndex) >= configuration.stages.size()) {
    return d;
  }
  const Stage& stage = configuration.stages[static_cast<std::size_t>(probe.stageIndex)];
  if (!stageDeflectionProblem(stage).empty() || !std::isfinite(probe.radialPosition)) return d;
  d.valid = true;
  d.radius = stage.diameter / 2.0;
  d.alpha0 = probe.radialPosition + stage.oprToBlade0;
  d.blades = static_cast<uint32_t>(stage.blades);
  return d;
}

}  // namespace cdt
