// The field setters. Each ends with markModified (unless noted), after
// relink where the field is a cross-reference, so the change hook always sees
// a linked configuration.
#include <cassert>
#include <cstring>

#include "config/calibration.h"
#include "config/model.h"
#include "foundation/time_value.h"

namespace cdt {

// --- Configuration ------------------------------------------------------

void Configuration::setName(const char* text) {
  name = CountedString(text);
  // A new name starts a new configuration history.
  const uint64_t now = currentTime();
  creationTime = now;
  modificationTime = now;
  markModified();
}

void Configuration::setSampleRate(double v) {
  sampleRate = v;
  markModified();
}

void Configuration::setLowSpeedFilter(double v) {
  lowSpeedFilter = v;
  markModified();
}

void Configuration::setLowSpeedUpdate(double v) {
  lowSpeedUpdate = v;
  markModified();
}

void Configuration::setRevAveraging(int32_t v) {
  revAveraging = v;
  markModified();
}

void Configuration::setAlarmMode(int32_t v) {
  alarmMode = v;
  markModified();
}

void Configuration::setMaintainer(const Maintainer& m) {
  maintainer = m;
  markModified();
}

void Configuration::setEngine(const EngineInfo& e) {
  engine = e;
  markModified();
}

void Configuration::setAdvanced(const AdvancedSettings& a) {
  advanced = a;
  markModified();
}

void Configuration::resetAdvanced() {
  advanced = AdvancedSettings{};
  markModified();
}

void Configuration::setStorage(const StorageSettings& s) {
  storage = s;
  markModified();
}

// --- Stages -------------------------------------------------------------

void Configuration::setStageName(uint32_t stage, const char* text) {
  Stage& s = stages.at(stage);
  renameEntity(s.userName, s.name, text, "Stage", static_cast<int32_t>(stage + 1));
}

void Configuration::setStageBlades(uint32_t stage, int32_t blades) {
  stages.at(stage).blades = blades;
  markModified();
}

void Configuration::setStageDiameter(uint32_t stage, double diameter) {
  stages.at(stage).diameter = diameter;
  markModified();
}

void Configuration::setStageOprToBlade0(uint32_t stage, double angle) {
  stages.at(stage).oprToBlade0 = angle;
  markModified();
}

void Configuration::setStageThresholds(uint32_t stage, const AlarmThresholds& t) {
  stages.at(stage).setThresholds(t);
  markModified();
}

void Configuration::setStageHystereses(uint32_t stage, double clearance, double dynamic,
                                       double statik) {
  Stage& s = stages.at(stage);
  s.clearanceHysteresis = clearance;
  s.dynamicHysteresis = dynamic;
  s.staticHysteresis = statik;
  markModified();
}

// --- Hosts and channels ---------------------------------------------------

void Configuration::setHostName(uint32_t host, const char* text) {
  Host& h = hosts.at(host);
  renameEntity(h.userName, h.name, text, "Daq", static_cast<int32_t>(host + 1));
}

void Configuration::setHostHostName(uint32_t host, const char* text) {
  hosts.at(host).hostName = CountedString(text);
  markModified();
}

void Configuration::setHostAltNames(uint32_t host, const char* text) {
  Host& h = hosts.at(host);
  // Comparing with a C text treats nullptr as the empty text.
  if (!(h.altNames == text)) h.altNames = CountedString(text);
}

void Configuration::setHostOncePerRev(uint32_t host, bool on) {
  hosts.at(host).oncePerRev = on;
  markModified();
}

void Configuration::setHostIsMaster(uint32_t host, bool on) {
  assert(host < hosts.size());
  Host* data = hosts.mutableData();
  if (on) {
    for (uint32_t i = 0; i < hosts.size(); ++i) data[i].isMaster = false;
  }
  data[host].isMaster = on;
  markModified();
}

void Configuration::setHostHasClock(uint32_t host, bool on) {
  assert(host < hosts.size());
  Host* data = hosts.mutableData();
  if (on) {
    for (uint32_t i = 0; i < hosts.size(); ++i) data[i].hasClock = false;
  }
  data[host].hasClock = on;
  markModified();
}

void Configuration::setChannelRange(uint32_t channel, int32_t range) {
  channelAt(channel).range = range;
  markModified();
}

void Configuration::setChannelCoupling(uint32_t channel, int32_t coupling) {
  channelAt(channel).coupling = coupling;
  markModified();
}

// --- Racks ----------------------------------------------------------------

void Configuration::setRackName(uint32_t rack, const char* text) {
  Rack& r = racks.at(rack);
  renameEntity(r.userName, r.name, text, "Rack", static_cast<int32_t>(rack + 1));
}

void Configuration::setRackHostName(uint32_t rack, const char* text) {
  racks.at(rack).hostName = CountedString(text);
  markModified();
}

void Configuration::setRackAltNames(uint32_t rack, const char* text) {
  Rack& r = racks.at(rack);
  if (r.altNames == text) return;
  r.altNames = CountedString(text);
  markModified();
}

// --- Probes ---------------------------------------------------------------

void Configuration::setProbeName(uint32_t probe, const char* text) {
  Probe& p = probeAt(probe);
  renameEntity(p.userName, p.name, text, "Probe", static_cast<int32_t>(probe / kSlotsPerRack + 1),
               static_cast<int32_t>(probe % kSlotsPerRack + 1));
}

void Configuration::setProbeChannelIndex(uint32_t probe, int32_t channel) {
  // A channel carries one probe: whoever held it lets go.
  Rack* data = racks.mutableData();
  for (uint32_t r = 0; r < racks.size(); ++r) {
    for (Probe& p : data[r].probes) {
      if (p.channelIndex == channel) p.channelIndex = -1;
    }
  }
  probeAt(probe).channelIndex = channel;
  relink();
  markModified();
}

void Configuration::setProbeStageIndex(uint32_t probe, int32_t stage) {
  probeAt(probe).stageIndex = stage;
  relink();
  Probe& p = probeAt(probe);
  if (p.stageAlarms && p.stage != nullptr) p.setThresholds(p.stage->thresholds());
  markModified();
}

void Configuration::setProbeDemodulator(uint32_t probe, int32_t osc, int32_t gain, int32_t ac,
                                        int32_t filter) {
  Probe& p = probeAt(probe);
  Demodulator d = validatedCapacitanceDemodulator(Demodulator{osc, gain, ac, filter, 0});
  d.demodulatorExtra = p.demodulator.demodulatorExtra;
  p.demodulator = d;
  markModified();
}

void Configuration::setProbeType(uint32_t probe, int32_t type) {
  probeAt(probe).type = type;
  markModified();
}

void Configuration::setProbeCalGain(uint32_t probe, int32_t gain) {
  probeAt(probe).calGain = gain;
  markModified();
}

void Configuration::setProbeCalDate(uint32_t probe, const char* text) {
  probeAt(probe).calDate = CountedString(text);
  markModified();
}

void Configuration::setProbeCalDiscSerialNo(uint32_t probe, const char* text) {
  probeAt(probe).calDiscSerialNo = CountedString(text);
  markModified();
}

void Configuration::setProbeCalComments(uint32_t probe, const char* text) {
  probeAt(probe).calComments = CountedString(text);
  markModified();
}

void Configuration::setProbePosition(uint32_t probe, double radial, double axial, double setBack) {
  Probe& p = probeAt(probe);
  p.radialPosition = radial;
  p.axialPosition = axial;
  p.setBack = setBack;
  markModified();
}

void Configuration::setProbeAlarms(uint32_t probe, bool stageAlarms, const AlarmThresholds& t) {
  Probe& p = probeAt(probe);
  p.stageAlarms = stageAlarms;
  if (!stageAlarms) {
    p.setThresholds(t);
  } else if (p.stage != nullptr) {
    p.setThresholds(p.stage->thresholds());
  }
  markModified();
}

void Configuration::setProbeCalMode(uint32_t probe, int32_t mode) {
  Probe& p = probeAt(probe);
  if (p.calMode == mode) return;
  p.calMode = mode;
  applyProbeMemory(p);
  markModified();
}

void Configuration::setProbeMemoryImage(uint32_t probe,
                                        const unsigned char image[kProbeMemorySize]) {
  Probe& p = probeAt(probe);
  std::memmove(p.memoryImage, image, kProbeMemorySize);
  applyProbeMemory(p);
}

// --- Relays ---------------------------------------------------------------

void Configuration::setRelayUsage(uint32_t relay, int32_t usage, int32_t sourceIndex) {
  Relay& r = relayAt(relay);
  r.usage = usage;
  r.sourceIndex = sourceIndex;
  relink();
  markModified();
}

}  // namespace cdt
