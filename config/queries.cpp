// Lookups by name and the values derived from the stored fields.
#include <cmath>

#include "config/calibration.h"
#include "config/model.h"

namespace cdt {
namespace {

constexpr double kTwoPi = 6.283185307179586476925286766559;

// The stage `relink` resolves for the probe: its index clamped as unsigned
// to the last stage; none when there are no stages.
const Stage* resolvedStage(const StageArray& stages, const Probe& probe) {
  const uint32_t count = stages.size();
  if (count == 0) return nullptr;
  uint32_t s = static_cast<uint32_t>(probe.stageIndex);
  return &stages[s < count ? s : count - 1];
}

// Truncation toward zero that stays defined for every double: NaN and
// negative values give 0, values beyond the range saturate.
uint64_t truncateToU64(double value) {
  if (!(value > 0.0)) return 0;
  if (value >= 18446744073709551616.0) return UINT64_MAX;
  return static_cast<uint64_t>(value);
}

}  // namespace

// A CountedString equals a C text of the same length and bytes; nullptr is
// the empty text, so a null or empty search text finds an empty name.
Stage* Configuration::findStage(const char* text) {
  Stage* data = stages.mutableData();
  for (uint32_t i = 0; i < stages.size(); ++i) {
    if (data[i].name == text) return &data[i];
  }
  return nullptr;
}

Host* Configuration::findHost(const char* text, bool byHostName) {
  Host* data = hosts.mutableData();
  for (uint32_t i = 0; i < hosts.size(); ++i) {
    if ((byHostName ? data[i].hostName : data[i].name) == text) return &data[i];
  }
  return nullptr;
}

Rack* Configuration::findRack(const char* text, bool byHostName) {
  Rack* data = racks.mutableData();
  for (uint32_t i = 0; i < racks.size(); ++i) {
    if ((byHostName ? data[i].hostName : data[i].name) == text) return &data[i];
  }
  return nullptr;
}

Relay* Configuration::findRelay(const char* text) {
  Rack* data = racks.mutableData();
  for (uint32_t r = 0; r < racks.size(); ++r) {
    for (Relay& relay : data[r].relays) {
      if (relay.name == text) return &relay;
    }
  }
  return nullptr;
}

Probe* Configuration::findProbe(const char* text) {
  Rack* data = racks.mutableData();
  for (uint32_t r = 0; r < racks.size(); ++r) {
    for (Probe& probe : data[r].probes) {
      if (probe.name == text) return &probe;
    }
  }
  return nullptr;
}

Probe* Configuration::findConnectedProbe(const char* text) {
  for (Probe* probe : connectedProbes) {
    if (probe->name == text) return probe;
  }
  return nullptr;
}

int32_t Configuration::masterHostIndex() const {
  for (uint32_t i = 0; i < hosts.size(); ++i) {
    if (hosts[i].isMaster) return static_cast<int32_t>(i);
  }
  return -1;
}

double Configuration::probePhase(uint32_t probe) const {
  const Probe& p = probeAt(probe);
  const Stage* stage = resolvedStage(stages, p);
  if (stage == nullptr) return 0.0;
  double phase = (stage->oprToBlade0 + p.radialPosition) * (1.0 / kTwoPi) -
                 0.5 / static_cast<double>(stage->blades);
  if (phase < 0.0) phase += 1.0;
  return phase;
}

uint64_t Configuration::probePhase(uint32_t probe, uint64_t n) const {
  return truncateToU64(probePhase(probe) * static_cast<double>(n));
}

double Configuration::bladePhase(uint32_t probe) const {
  const Stage* stage = resolvedStage(stages, probeAt(probe));
  if (stage == nullptr) return 0.0;
  const double x = probePhase(probe) * static_cast<double>(stage->blades);
  return x - std::floor(x);
}

uint64_t Configuration::bladePhase(uint32_t probe, uint64_t n) const {
  return truncateToU64(bladePhase(probe) * static_cast<double>(n));
}

bool Configuration::advancedIsDefault() const {
  return advanced.oscAutoSwitchEnable && advanced.acAutoSwitchEnable && advanced.oscReTuneEnable &&
         advanced.oscAutoSwitchMinBps == 50.0 && advanced.oscAutoSwitchMaxBps == 100.0 &&
         advanced.acAutoSwitchMinBps == 50.0 && advanced.acAutoSwitchMaxBps == 100.0 &&
         advanced.oscReTuneInterval == 3600.0;
}

bool Configuration::isCalibrationValid(uint32_t probe) const {
  const Probe& p = probeAt(probe);
  return p.calMode == CALMODE_USER || probeMemoryValid(p.memoryImage);
}

}  // namespace cdt
