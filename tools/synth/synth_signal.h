// The measurements of a synthetic recording: a shaft that speeds up along a
// ramp, and per probe a plausible blade signal (a clearance per blade that
// closes with speed, noise, a resonance crossed on the way up, times of
// arrival from the probe's blade phase). Everything comes from a seeded
// generator, so the same options give the same bytes.
#pragma once

#include <cstdint>
#include <vector>

#include "config/model.h"
#include "datafile/data_record.h"
#include "tools/synth/synth_options.h"

namespace cdt {

// A small, fast, seeded generator (xorshift64*).
class SynthRandom {
 public:
  explicit SynthRandom(uint64_t seed);
  uint64_t next();
  // Uniform in [0, 1).
  double uniform();
  // Approximately standard normal (sum of four uniforms, rescaled): cheap,
  // bounded by ±3.5, and plenty for measurement noise.
  double normal();

 private:
  uint64_t state_;
};

// One revolution of the shaft.
struct Revolution {
  uint64_t number = 0;  // revolution counter, from 1
  uint64_t time = 0;    // microseconds since 1970 UTC
  double speed = 0;     // revolutions per minute
  double periodUs = 0;  // duration of the revolution in microseconds
  bool synchronised = false;
};

// The shaft: its speed ramps from 60 % to 100 % of options.rpm over the first
// half of `plannedRevolutions` and then holds, with a little noise.
class SynthShaft {
 public:
  SynthShaft(const SynthOptions& options, uint64_t plannedRevolutions);
  // The next revolution (the first call gives revolution 1 at options.start).
  Revolution next();

 private:
  SynthRandom random_;
  double rpm_;
  double rampRevolutions_;
  bool vibration_;  // with resonances: the ramp spans the whole run
  bool runDown_;
  uint32_t sweeps_;
  uint64_t number_ = 0;
  double time_;  // microseconds, kept in double to carry fractions
};

// The signals of the probes of one host.
class HostSignal {
 public:
  // `configuration` must be the one buildSynthConfiguration made from
  // `options`; it is read here only.
  HostSignal(const Configuration& configuration, const SynthOptions& options, uint32_t host);

  uint32_t probeCount() const { return static_cast<uint32_t>(probes_.size()); }
  uint16_t blades(uint32_t slot) const { return probes_[slot].blades; }

  // Fills every field of a one-revolution blade record made by
  // newBladeRecord(host, blades(slot)) for channel `slot`.
  void fillBladeRecord(DataRecord& record, uint32_t slot, const Revolution& revolution);
  // Fills a plain profile made by newProfileRecord: one revolution of the
  // probe on `slot` as 4096 points, with a spread around each.
  void fillProfile(DataRecord& record, uint32_t slot, const Revolution& revolution);
  // Fills a type-1 record made by newType1Record(host, n): n event entries.
  void fillEntries(DataRecord& record, const Revolution& revolution);
  // Sets the time and completion value of a type-0 record.
  void fillFixed(DataRecord& record, const Revolution& revolution);

 private:
  struct ProbeSignal {
    uint16_t blades = 0;
    double bladePhase = 0;  // of the probe's stage, from the configuration
    double clearance = 0;   // mm at rest
    double tipSpeedScale =
        0;  // microseconds of arrival shift per mm of deflection, per µs of period
    std::vector<float> offsets;          // per blade, mm
    std::vector<float> vibrationPhases;  // per blade, radians
    // With resonances: where the blades pass and how they deflect.
    double angle = 0;                      // radians, the probe's radial position
    double radius = 0;                     // half the stage diameter
    double probePhase = 0;                 // of the revolution, where blade 0's window opens
    std::vector<double> staticDeflection;  // per blade, at rest
    std::vector<double> untwist;           // per blade, at the top speed
    // Per resonance, per blade: natural frequency, Hz.
    std::vector<std::vector<double>> naturalFrequencies;
  };

  // The tip deflection of blade `b` at probe `p` on `rev`, from its static
  // position and the single-degree-of-freedom response to every order.
  double deflection(const ProbeSignal& p, uint16_t b, const Revolution& rev) const;

  SynthRandom random_;
  double rpm_;
  std::vector<ProbeSignal> probes_;
  std::vector<SynthResonance> resonances_;
};

}  // namespace cdt
