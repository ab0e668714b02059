#include "tools/synth/synth_signal.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "foundation/byte_order.h"
#include "tools/synth/synth_config.h"

namespace cdt {

namespace {

// splitmix64: spreads a small seed over the generator's state.
uint64_t mixSeed(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

int16_t clampI16(double v) {
  return static_cast<int16_t>(std::clamp(std::lround(v), -32768l, 32767l));
}

// The resonance the blades cross on the way up: amplitude in mm as a function
// of the speed as a fraction of the final speed.
double resonanceAmplitude(double speedFraction) {
  const double d = (speedFraction - 0.8) / 0.025;
  return 0.12 * std::exp(-d * d);
}

}  // namespace

SynthRandom::SynthRandom(uint64_t seed) : state_(mixSeed(seed) | 1) {}

uint64_t SynthRandom::next() {
  state_ ^= state_ >> 12;
  state_ ^= state_ << 25;
  state_ ^= state_ >> 27;
  return state_ * 0x2545F4914F6CDD1Dull;
}

double SynthRandom::uniform() {
  return static_cast<double>(next() >> 11) * 0x1.0p-53;
}

double SynthRandom::normal() {
  const uint64_t bits = next();
  const double sum = static_cast<double>(bits & 0xFFFF) +
                     static_cast<double>((bits >> 16) & 0xFFFF) +
                     static_cast<double>((bits >> 32) & 0xFFFF) + static_cast<double>(bits >> 48);
  // Four uniforms on [0, 65536) have mean 131070 and variance 4 * 65536² / 12.
  return (sum - 131070.0) * (std::sqrt(3.0) / 65536.0);
}

SynthShaft::SynthShaft(const SynthOptions& options, uint64_t plannedRevolutions)
    : random_(options.seed * 7919 + 17),
      rpm_(options.rpm),
      rampRevolutions_(std::max<double>(1.0, static_cast<double>(plannedRevolutions) / 2.0)),
      vibration_(!options.resonances.empty()),
      runDown_(options.runDown),
      sweeps_(std::max<uint32_t>(1, options.sweeps)),
      time_(static_cast<double>(options.start)) {}

Revolution SynthShaft::next() {
  Revolution r;
  r.number = ++number_;
  double progress = std::min(1.0, static_cast<double>(r.number - 1) / rampRevolutions_);
  if (vibration_) {
    // A run-up (or run-down) over the whole run, so every order's crossing
    // between 60 % and 100 % of the speed is in it.
    // Swept sweeps_ times, up and down in turn.
    const double phase =
        std::min(1.0, static_cast<double>(r.number - 1) / (2.0 * rampRevolutions_)) * sweeps_;
    const double sweep = std::min(std::floor(phase), static_cast<double>(sweeps_ - 1));
    progress = phase - sweep;
    if ((static_cast<uint64_t>(sweep) % 2 == 1) != runDown_) progress = 1.0 - progress;
  }
  r.speed = rpm_ * (0.6 + 0.4 * progress) * (1.0 + 0.0005 * random_.normal());
  r.periodUs = 60.0e6 / r.speed;
  r.time = static_cast<uint64_t>(time_);
  // The tracker locks on after a few revolutions.
  r.synchronised = r.number > 3;
  time_ += r.periodUs;
  return r;
}

HostSignal::HostSignal(const Configuration& configuration, const SynthOptions& options,
                       uint32_t host)
    : random_(options.seed * 1000003 + host + 1),
      rpm_(options.rpm),
      resonances_(options.resonances) {
  for (uint32_t slot = 0; slot < options.probesPerHost; ++slot) {
    const uint32_t number = synthProbeNumber(options, host, slot);
    const Probe& probe = configuration.probeAt(number);
    ProbeSignal p;
    p.blades = probe.stage != nullptr ? static_cast<uint16_t>(probe.stage->blades) : 0;
    p.bladePhase = p.blades > 0 ? configuration.bladePhase(number) : 0.0;
    p.clearance = 1.6 + 0.15 * slot + 0.05 * random_.normal();
    const double diameter = probe.stage != nullptr ? probe.stage->diameter : 1000.0;
    p.tipSpeedScale = 1.0 / (std::numbers::pi * diameter);
    for (uint16_t b = 0; b < p.blades; ++b) {
      // A fixed pattern around the wheel plus each blade's own length.
      const double pattern = 0.04 * std::sin(2.0 * std::numbers::pi * b / p.blades);
      p.offsets.push_back(static_cast<float>(pattern + 0.06 * random_.normal()));
      p.vibrationPhases.push_back(static_cast<float>(2.0 * std::numbers::pi * random_.uniform()));
    }
    if (!resonances_.empty() && probe.stage != nullptr) {
      p.angle = probe.radialPosition;
      p.radius = probe.stage->diameter / 2.0;
      p.probePhase = configuration.probePhase(number);
      const uint32_t stage = static_cast<uint32_t>(probe.stageIndex);
      for (uint16_t b = 0; b < p.blades; ++b) {
        p.staticDeflection.push_back(0.3 * random_.normal());
        p.untwist.push_back(0.2 + 0.05 * random_.normal());
      }
      for (uint32_t j = 0; j < resonances_.size(); ++j) {
        std::vector<double> frequencies;
        for (uint16_t b = 0; b < p.blades; ++b) {
          frequencies.push_back(synthNaturalFrequency(options, stage, j, b));
        }
        p.naturalFrequencies.push_back(std::move(frequencies));
      }
    }
    probes_.push_back(std::move(p));
  }
}

void HostSignal::fillBladeRecord(DataRecord& record, uint32_t slot, const Revolution& rev) {
  const ProbeSignal& p = probes_[slot];
  const double fraction = rev.speed / rpm_;
  setBladeChannel(record, static_cast<uint8_t>(slot));
  setBladeAggregated(record, 0);
  setBladeCount(record, p.blades);
  record.setTime(rev.time);
  setBladeSync(record, rev.synchronised ? 1u : 0u);
  setBladeSpeed(record, static_cast<float>(rev.speed));
  setBladeAuxMean(record, static_cast<float>(rev.speed / 60.0));
  setBladeLatestWord1(record, static_cast<uint32_t>(rev.number));
  setBladeLatestWord2(record, slot);
  const double rms = 0.05 + 0.1 * fraction + 0.002 * random_.normal();
  setBladeRms(record, static_cast<float>(rms));

  // Centrifugal growth closes the gap as the speed rises.
  const double base = p.clearance - 0.35 * fraction * fraction;
  const double amplitude = resonanceAmplitude(fraction);
  const double pitch = rev.periodUs / std::max<uint16_t>(p.blades, 1);
  const double vibrationAngle = 0.7 * static_cast<double>(rev.number % 1000);
  double dnsSum = 0;
  double dnsMin = 1e9;
  double dnsMax = -1e9;
  unsigned char* entry = record.body() + kBladesRevolutionEntries;
  for (uint16_t b = 0; b < p.blades; ++b, entry += kBladesRevolutionEntrySize) {
    double deflection = 0;
    if (amplitude > 1e-4) {
      deflection = amplitude * std::sin(vibrationAngle + p.vibrationPhases[b]);
    }
    const double dns = base + p.offsets[b] + 0.2 * deflection + 0.01 * random_.normal();
    double toa = (b + p.bladePhase) * pitch + deflection * p.tipSpeedScale * rev.periodUs +
                 0.15 * random_.normal();
    if (!p.naturalFrequencies.empty()) {
      // Blade b passes the probe at θp + oprToBlade0 + 2πb/B, counted from
      // where its window opens (so an arrival just past the mark belongs to
      // the revolution's end), earlier by its deflection over the radius.
      const double opening = 2.0 * std::numbers::pi * p.probePhase;
      const double angle = opening + 2.0 * std::numbers::pi * (b + 0.5) / p.blades -
                           this->deflection(p, b, rev) / p.radius;
      toa = angle / (2.0 * std::numbers::pi) * rev.periodUs + 0.15 * random_.normal();
    }
    storeF32(entry + kBladeDns, static_cast<float>(dns));
    storeF32(entry + kBladeToa, static_cast<float>(toa));
    dnsSum += dns;
    dnsMin = std::min(dnsMin, dns);
    dnsMax = std::max(dnsMax, dns);
  }

  // Raw converter counts behind the values: clearance, RMS and the
  // once-per-revolution pulse, each as mean then extremes.
  unsigned char* stats = sampleStatistics(record);
  const double mean = p.blades > 0 ? dnsSum / p.blades : 0.0;
  const int16_t values[kSampleStatisticsValues] = {
      clampI16(mean * 4000),     clampI16(dnsMin * 4000),   clampI16(dnsMax * 4000),
      clampI16(dnsMin * 3900),   clampI16(dnsMax * 4100),   clampI16(rms * 20000),
      clampI16(rms * 18000),     clampI16(rms * 22000),     clampI16(rms * 17000),
      clampI16(rms * 23000),     clampI16(1200 * fraction), clampI16(1100 * fraction),
      clampI16(1300 * fraction),
  };
  for (uint32_t i = 0; i < kSampleStatisticsValues; ++i) {
    storeU16(stats + 2 * i, static_cast<uint16_t>(values[i]));
  }
  storeU16(stats + 2 * kSampleStatisticsValues, 1);

  unsigned char* flags = bladeFlags(record);
  std::memset(flags, 0, kBladesFlagCount);
  flags[0] = 1;                         // probe healthy
  flags[1] = rev.synchronised ? 1 : 0;  // locked to the shaft
  flags[2] = amplitude > 0.02 ? 1 : 0;  // vibration seen
  flags[6] = 1;
  flags[7] = 1;
  setBladeStartRevolution(record, rev.number);
}

double HostSignal::deflection(const ProbeSignal& p, uint16_t b, const Revolution& rev) const {
  const double fraction = rev.speed / rpm_;
  double x = p.staticDeflection[b] + p.untwist[b] * fraction * fraction;
  const double shaft = 2.0 * std::numbers::pi * rev.speed / 60.0;
  for (std::size_t j = 0; j < resonances_.size(); ++j) {
    const SynthResonance& r = resonances_[j];
    const double z = r.damping;
    const double ratio =
        r.engineOrder * shaft / (2.0 * std::numbers::pi * p.naturalFrequencies[j][b]);
    // Steady state: static deflection x_st/√((1−r²)² + (2ζr)²), lagging the
    // force by atan2(2ζr, 1−r²); x_st so that the peak is the amplitude.
    const double xst = r.amplitude * 2.0 * z * std::sqrt(1.0 - z * z);
    const double a = 1.0 - ratio * ratio;
    const double c = 2.0 * z * ratio;
    const double amplitude = xst / std::sqrt(a * a + c * c);
    const double lag = std::atan2(c, a);
    // The force pattern stands still in the casing: the probe at θp sees
    // the same point of the blade's cycle every revolution.
    x += amplitude * std::cos(r.engineOrder * p.angle - lag);
  }
  return x;
}

double synthNaturalFrequency(const SynthOptions& options, uint32_t stage, uint32_t index,
                             uint32_t blade) {
  SynthRandom random(options.seed * 104729 + stage * 1009 + index * 31 + 5);
  double mistuning = 0;
  for (uint32_t b = 0; b <= blade; ++b) mistuning = 2.0 * random.uniform() - 1.0;
  return options.resonances[index].frequency * (1.0 + 0.005 * mistuning);
}

void HostSignal::fillProfile(DataRecord& record, uint32_t slot, const Revolution& rev) {
  const ProbeSignal& p = probes_[slot];
  record.setTime(rev.time);
  setProfileCompressionShift(record, kProfilePlainShift);
  setProfileSync(record, rev.synchronised ? 1u : 0u);
  setProfileSpeed(record, static_cast<float>(rev.speed));
  setProfileAuxMean(record, static_cast<float>(rev.speed / 60.0));
  setProfileLatestWord1(record, static_cast<uint32_t>(rev.number));
  setProfileLatestWord2(record, slot);
  setProfileStartRevolution(record, rev.number);
  setProfileEndRevolution(record, rev.number);
  setProfileSummedCount(record, 1);
  // Unused words of the body stay zero.
  std::memset(record.body(), 0, 2);
  std::memset(record.body() + 40, 0, 8);

  const double blades = std::max<uint16_t>(p.blades, 1);
  unsigned char* point = profilePoints(record);
  for (uint32_t i = 0; i < kProfilePointCount; ++i, point += kPlainPointSize) {
    // One pulse per blade passing the probe.
    const double position = i * blades / kProfilePointCount - p.bladePhase;
    const double offset = (position - std::floor(position) - 0.5) * 6.0;
    const double value = 2000.0 + 12000.0 * std::exp(-offset * offset) + 40.0 * random_.normal();
    const double spread = 20.0 + 60.0 * std::fabs(random_.normal());
    storeU16(point + kPlainPointValue, static_cast<uint16_t>(clampI16(value)));
    storeU16(point + kPlainPointMaximum, static_cast<uint16_t>(clampI16(value + spread)));
    storeU16(point + kPlainPointMinimum, static_cast<uint16_t>(clampI16(value - spread * 0.8)));
    storeU16(point + 6, 0);
  }
}

void HostSignal::fillEntries(DataRecord& record, const Revolution& rev) {
  record.setTime(rev.time);
  const uint32_t n = entryCount(record);
  std::memset(record.body(), 0, 4);
  unsigned char* entry = record.body() + kEntriesFirst;
  for (uint32_t i = 0; i < n; ++i, entry += kEntrySize) {
    std::memset(entry, 0, kEntrySize);
    storeU32(entry, 0x100 + i);  // event code
    storeU32(entry + 4, i % std::max<uint32_t>(probeCount(), 1));
    storeU64(entry + 8, rev.number);
    storeF32(entry + 16, static_cast<float>(rev.speed));
  }
}

void HostSignal::fillFixed(DataRecord& record, const Revolution& rev) {
  record.setTime(rev.time);
  setCompletionValue(record, static_cast<uint32_t>(rev.number));
}

}  // namespace cdt
