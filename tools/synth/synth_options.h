// What `cdt synth` makes: the shape of the installation and of the recording.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cdt {

// How one host's recording departs from the run the shaft makes, as the hosts
// of a real installation do. The counts are revolutions of the run, from 1 at
// its start; all zero: the host records every revolution as it comes.
struct HostDeparture {
  uint32_t dropEvery = 0;    // every this many records left out (0: none)
  uint64_t late = 0;         // revolutions of the run before the host's first
  uint64_t early = 0;        // last revolutions of the run the host misses
  uint64_t resyncAt = 0;     // run revolution whose counter is 1 again (0: none)
  uint64_t resyncEvery = 0;  // and again every so many revolutions after it (0: once)
  int64_t clockOffset = 0;   // microseconds added to every time of the host
};

// One engine order the blades are driven at (--resonance): every blade a
// damped single-degree-of-freedom oscillator whose natural frequency is
// `frequency` mistuned a little per blade (synthNaturalFrequency).
struct SynthResonance {
  uint32_t engineOrder = 0;
  double frequency = 0;  // Hz, the stage's nominal natural frequency
  double damping = 0;    // damping ratio
  double amplitude = 0;  // zero-to-peak tip deflection at resonance, diameter's units
};

struct SynthOptions {
  uint32_t hosts = 1;
  uint32_t probesPerHost = 4;  // on channels 0 to probesPerHost - 1 of each host
  uint32_t stages = 1;
  // Blades of stage i: blades[i], or the last entry for the stages beyond.
  std::vector<uint16_t> blades{60};
  uint64_t revolutions = 1000;
  // When not 0, revolutions is replaced by the count that makes each file at
  // least this many bytes long.
  uint64_t targetBytes = 0;
  double rpm = 3000.0;         // the speed the ramp ends at
  uint32_t aggregate = 0;      // revolutions per range record; 0: one-revolution records
  uint32_t profileEvery = 0;   // a profile every this many revolutions; 0: none
  uint32_t extrasEvery = 100;  // a type-1 record every this many, a type-0 every 5 times as many
  uint64_t start = 0;          // time of the first revolution
  uint64_t seed = 1;
  // The configuration's name and the probes' names as the files hold them:
  // bytes of the installation's code page (see --encoding).
  std::string name = "Rig1";
  // Names of the probes in order (host 1's channels 0 to N-1, then host
  // 2's, ...); probes beyond the list keep their default names. Names may
  // repeat.
  std::vector<std::string> probeNames;
  // Per host, or empty when every host records the whole run.
  std::vector<HostDeparture> departures;
  bool unfinished = false;
  bool damage = false;
  // --nan-cells EVERY: every this many revolutions some cells hold the
  // default quiet NaN (synthNaN); 0: none.
  uint64_t nanEvery = 0;
  // --start-over REV (live only): the writer records the revolutions before
  // REV with other values, then starts over in the same file; 0: never.
  uint64_t startOver = 0;
  // Blade vibration; empty: the plain signal of earlier versions, unchanged.
  std::vector<SynthResonance> resonances;
  // Probe angles in radians, host after host, channel after channel (the
  // rest keep their default places); with resonances the defaults are uneven.
  std::vector<double> probeAngles;
  bool runDown = false;  // with resonances: the speed falls from rpm to 60 %
  // With resonances: the ramp is swept this many times, up and down in turn
  // (down first with runDown), each crossing of a resonance repeated.
  uint32_t sweeps = 1;
  // Where the truth of the resonances goes (JSON); empty: beside the files.
  std::string truthPath;
  // --live: times real time (0: as fast as possible); none: not live.
  std::optional<double> live;
};

// The blade count of stage `stage` under `options`.
inline uint16_t stageBlades(const SynthOptions& options, uint32_t stage) {
  if (options.blades.empty()) return 0;
  return stage < options.blades.size() ? options.blades[stage] : options.blades.back();
}

// The natural frequency of blade `blade` (from 0) of stage `stage` for
// resonance `index` of `options`: the nominal one mistuned by up to ±0.5 %,
// the same on every host.
double synthNaturalFrequency(const SynthOptions& options, uint32_t stage, uint32_t index,
                             uint32_t blade);

}  // namespace cdt
