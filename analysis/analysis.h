// Tip timing: from a recording's lines and its configuration's geometry to
// the table of blade resonances.
//
// The contract of units and angles, for every result of this folder:
// - Speed is in rpm; a line's Time is the revolution's once-per-revolution
//   (OPR) mark; a blade's TOA is its arrival at the probe in microseconds
//   after that mark. Ω = 2π·speed/60, in radians per second.
// - Angles are in radians, in the direction of rotation as the configuration
//   records them (engine.counterClockwise is reported, the formulas do not
//   depend on it). Blade b is counted from 0 here (Blade{b+1} in the CSV);
//   its undeflected arrival angle at probe p is
//       α = θp + oprToBlade0 + 2π·b/B,
//   θp the probe's radialPosition, B the stage's blades. The configuration
//   opens blade 0's window at probePhase, half a blade pitch before α, so
//   an arrival just after the OPR mark may be timed from either end of its
//   revolution: the deflection reduces the angle difference into [−π, π),
//   which gives the same value for both.
// - Tip deflection is in the units of the stage's diameter (millimetres on
//   real installations), R = diameter/2:
//       x = R·wrap(α − Ω·TOA·10⁻⁶),  wrap into [−π, π),
//   positive when the tip arrives early (ahead in the direction of rotation).
// - Zeroing removes from each (blade, probe) a quadratic in speed fitted to
//   the revolutions outside the resonance windows (its mean and the slow
//   static change with speed, such as untwist); fitted, windows found,
//   refitted without them, a few times over, so that resonances do not bend
//   it.
// - A resonance's amplitude is zero-to-peak at resonance, in the diameter's
//   units; its phase (radians) is that of the single-degree-of-freedom fit's
//   complex coefficient, in the circumferential fit's convention
//   x_p = A·sin(k·θp) + B·cos(k·θp) + C with B + iA = amplitude·e^{iφ}.
// - Frequencies in Hz; the speed of a resonance is 60·f_n/EO rpm.
//
// Bad input is left out and counted (DeflectionCounts, StageGeometry.
// problem), never a crash nor an invented value.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "config/model.h"
#include "datafile/data_file.h"
#include "lines/tip_deflection.h"

namespace cdt {

struct StageGeometry {
  std::string name;  // as the configuration holds it (the installation's code page)
  uint32_t blades = 0;
  double diameter = 0;
  double oprToBlade0 = 0;
  // Empty when the stage can be analysed, else why not ("0 blades").
  std::string problem;
};

struct ProbeGeometry {
  uint32_t number = 0;  // probe number, from 0
  int32_t stage = -1;   // stage index, -1: none
  int32_t channel = -1;
  double angle = 0;  // radialPosition, radians
  double axialPosition = 0;
  double setBack = 0;
};

struct Geometry {
  std::vector<StageGeometry> stages;
  std::vector<ProbeGeometry> probes;  // those wired to a channel
  bool counterClockwise = false;
};

Geometry geometryOf(const Configuration& configuration);

// What reading deflections left out.
struct DeflectionCounts {
  uint64_t lines = 0;           // lines read
  uint64_t unsynchronised = 0;  // lines of revolutions not locked to the shaft
  uint64_t badSpeed = 0;        // lines whose speed is 0, negative or not a number
  uint64_t missing = 0;         // blade TOA cells empty or not a number
  uint64_t probesWithoutStage = 0;
};

// The deflections of one stage: per kept line (row), blade and probe.
struct StageDeflections {
  uint32_t stage = 0;  // index
  uint32_t blades = 0;
  std::vector<uint32_t> probeNumbers;  // the stage's probes on the file's host
  std::vector<double> angles;          // their θp
  std::vector<uint64_t> revolutions;   // Start Rev per row
  std::vector<int64_t> times;          // Time per row, microseconds since 1970
  std::vector<double> speeds;          // rpm per row
  std::vector<double> values;          // row-major: [row][blade][probe], NaN where missing

  std::size_t rows() const { return speeds.size(); }
  double& at(std::size_t row, uint32_t blade, std::size_t probe) {
    return values[(row * blades + blade) * probeNumbers.size() + probe];
  }
  double at(std::size_t row, uint32_t blade, std::size_t probe) const {
    return values[(row * blades + blade) * probeNumbers.size() + probe];
  }
};

// Reads the deflections of every analysable stage from the lines of `file`
// (those of the host of its first line), from where it stands.
std::vector<StageDeflections> readDeflections(DataFile& file, const Geometry& geometry,
                                              DeflectionCounts& counts);

struct AnalysisOptions {
  // Engine orders to consider; empty: 1 to kDefaultMaxOrder.
  std::vector<uint32_t> orders;
  static constexpr uint32_t kDefaultMaxOrder = 32;
};

struct Resonance {
  uint32_t stage = 0;        // index
  uint32_t blade = 0;        // from 0
  uint32_t engineOrder = 0;  // 0: not identified (see note)
  // Orders the probe angles cannot tell from engineOrder (itself excluded).
  std::vector<uint32_t> aliases;
  double speedRpm = 0;     // 60·f_n/EO
  double frequencyHz = 0;  // f_n
  double dampingRatio = 0;
  double amplitude = 0;  // zero-to-peak, diameter's units
  double phase = 0;      // radians
  uint64_t firstRevolution = 0;
  uint64_t lastRevolution = 0;
  uint32_t revolutions = 0;  // rows of the fit
  uint32_t probes = 0;
  double residualRms = 0;  // of the fit, diameter's units
  double fitMilliseconds = 0;
  // False for a window whose fit does not stand above its residual (or
  // lies outside the window): not a resonance, kept to say so.
  bool accepted = false;
  std::string note;  // why a window has no order or was not accepted
};

// The resonances of one stage's deflections.
std::vector<Resonance> findResonances(const StageDeflections& deflections,
                                      const AnalysisOptions& options);

// Orders among `candidates` whose sin(k'θ), cos(k'θ) at `angles` lie in
// the span of sin(kθ), cos(kθ) and a constant: the probes cannot tell them
// from k.
std::vector<uint32_t> aliasOrders(const std::vector<double>& angles, uint32_t k,
                                  const std::vector<uint32_t>& candidates);

}  // namespace cdt
