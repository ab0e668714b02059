// Structural edits: inserting, removing and exchanging stages, hosts and
// racks, and editing a probe's calibration points.
//
// Stage edits renumber the stored stage references (probe `stageIndex`,
// stage relay `sourceIndex`) so they keep designating the same stage. Host
// and rack edits renumber nothing: stored channel and probe numbers keep
// designating positions, and relink disconnects or resets whatever now
// points past the end.
#include <cstring>
#include <utility>

#include "config/calibration.h"
#include "config/model.h"

namespace cdt {
namespace {

// Every stored field of a stage; the derived ones are left to relink.
void copyStageSettings(Stage& to, const Stage& from) {
  to.name = from.name;
  to.userName = from.userName;
  to.blades = from.blades;
  to.diameter = from.diameter;
  to.oprToBlade0 = from.oprToBlade0;
  to.setThresholds(from.thresholds());
  to.clearanceHysteresis = from.clearanceHysteresis;
  to.staticHysteresis = from.staticHysteresis;
  to.dynamicHysteresis = from.dynamicHysteresis;
}

// Applies `renumber` to every stored stage reference: each probe's
// `stageIndex` and each stage relay's `sourceIndex`.
// Shifts a stored reference by one in wrapping arithmetic: a linked
// configuration holds only small indices, and anything else must not overflow.
int32_t shifted(int32_t s, int32_t by) {
  return static_cast<int32_t>(static_cast<uint32_t>(s) + static_cast<uint32_t>(by));
}

template <class Renumber>
void renumberStageReferences(RackArray& racks, Renumber renumber) {
  Rack* data = racks.mutableData();
  for (uint32_t r = 0; r < racks.size(); ++r) {
    for (Probe& probe : data[r].probes) probe.stageIndex = renumber(probe.stageIndex);
    for (Relay& relay : data[r].relays) {
      if (isStageRelayUsage(relay.usage)) relay.sourceIndex = renumber(relay.sourceIndex);
    }
  }
}

}  // namespace

// --- Stages -------------------------------------------------------------

uint32_t Configuration::insertStage(uint32_t position) {
  const uint32_t count = stages.size();
  const uint32_t p = position < count ? position : count;
  renumberStageReferences(
      racks, [p](int32_t s) { return static_cast<uint32_t>(s) >= p ? shifted(s, 1) : s; });
  stages.splice(p, nullptr, 1, kSpliceInsert);
  Stage* data = stages.mutableData();
  // The new stage copies its predecessor, or the former first stage when it
  // goes in front; a lone stage keeps the construction defaults.
  if (p > 0) {
    copyStageSettings(data[p], data[p - 1]);
    data[p].userName.clear();
  } else if (stages.size() > 1) {
    copyStageSettings(data[0], data[1]);
    data[0].userName.clear();
  }
  relink();
  markModified();
  return p;
}

void Configuration::removeStage(uint32_t index) {
  if (index >= stages.size() || stages.size() < 2) return;
  // References to the removed stage become -1, which relink moves to the
  // last stage (probes) or turns into an unused relay.
  renumberStageReferences(racks, [index](int32_t s) {
    const uint32_t u = static_cast<uint32_t>(s);
    if (u == index) return -1;
    return u > index ? shifted(s, -1) : s;
  });
  stages.erase(index);
  relink();
  markModified();
}

void Configuration::swapStages(uint32_t a, uint32_t b) {
  if (a == b || a >= stages.size() || b >= stages.size()) return;
  const int32_t sa = static_cast<int32_t>(a);
  const int32_t sb = static_cast<int32_t>(b);
  renumberStageReferences(racks, [sa, sb](int32_t s) {
    if (s == sa) return sb;
    return s == sb ? sa : s;
  });
  Stage* data = stages.mutableData();
  std::swap(data[a], data[b]);
  relink();
  markModified();
}

// --- Hosts ----------------------------------------------------------------

uint32_t Configuration::insertHost(uint32_t position, const char* hostName) {
  const uint32_t count = hosts.size();
  const uint32_t p = position < count ? position : count;
  hosts.splice(p, nullptr, 1, kSpliceInsert);
  Host& host = hosts.at(p);
  host.hostName = CountedString(hostName);
  host.oncePerRev = true;
  host.isMaster = hosts.size() == 1;
  host.hasClock = false;
  for (Channel& channel : host.channels) {
    channel.range = RANGE_AUTO;
    channel.coupling = COUPLING_DC;
  }
  relink();
  markModified();
  return p;
}

void Configuration::removeHost(uint32_t index) {
  if (index >= hosts.size()) return;
  hosts.erase(index);
  relink();
  markModified();
}

void Configuration::swapHosts(uint32_t a, uint32_t b) {
  if (a == b || a >= hosts.size() || b >= hosts.size()) return;
  Host* data = hosts.mutableData();
  std::swap(data[a], data[b]);
  relink();
  markModified();
}

// --- Racks ----------------------------------------------------------------

void Configuration::initialiseNewRack(uint32_t index) {
  Rack& rack = racks.at(index);
  const AlarmThresholds stageZero = stages.empty() ? AlarmThresholds{} : stages[0].thresholds();
  for (Probe& probe : rack.probes) {
    probe.demodulator = Demodulator{};
    std::memset(probe.memoryImage, 0x20, kProbeMemorySize);
    probe.radialPosition = 0.0;
    probe.axialPosition = 0.0;
    probe.setBack = 0.0;
    probe.stageIndex = 0;
    probe.stageAlarms = true;
    probe.setThresholds(stageZero);
    probe.channelIndex = -1;
    probe.type = TYPE_CAPACITANCE;
    probe.calMode = CALMODE_DEFAULT;
  }
  // Every slot now holds the same image (of spaces, which fails its check):
  // its calibration is loaded once and copied, since checking the image is
  // most of the cost of a rack, and a count line may create thousands.
  const Probe& first = rack.probes[0];
  applyProbeMemory(rack.probes[0]);
  for (uint32_t j = 1; j < kSlotsPerRack; ++j) {
    Probe& probe = rack.probes[j];
    probe.calGain = first.calGain;
    probe.calData = first.calData;
    probe.calDate = first.calDate;
    probe.calDiscSerialNo = first.calDiscSerialNo;
    probe.calComments = first.calComments;
  }
  for (Relay& relay : rack.relays) {
    relay.usage = RELAY_UNUSED;
    relay.sourceIndex = -1;
  }
}

uint32_t Configuration::insertRack(uint32_t position, const char* hostName) {
  const uint32_t count = racks.size();
  const uint32_t p = position < count ? position : count;
  racks.splice(p, nullptr, 1, kSpliceInsert);
  racks.at(p).hostName = CountedString(hostName);
  initialiseNewRack(p);
  relink();
  markModified();
  return p;
}

void Configuration::removeRack(uint32_t index) {
  if (index >= racks.size()) return;
  racks.erase(index);
  relink();
  markModified();
}

void Configuration::swapRacks(uint32_t a, uint32_t b) {
  if (a == b || a >= racks.size() || b >= racks.size()) return;
  Rack* data = racks.mutableData();
  // Through the probe copies, so both racks' demodulators are validated.
  Rack held(data[a]);
  data[a] = data[b];
  data[b] = held;
  relink();
  markModified();
}

// --- Calibration points ----------------------------------------------------

void Configuration::insertCalPoint(uint32_t probe, uint32_t position, const CalPoint& point) {
  if (probe >= probeCount()) return;
  Probe& p = probeAt(probe);
  if (position > p.calData.size()) return;
  p.calData.insert(position, point);
  sortCalData(p);
  markModified();
}

void Configuration::setCalPoint(uint32_t probe, uint32_t position, const CalPoint& point) {
  if (probe >= probeCount()) return;
  Probe& p = probeAt(probe);
  if (position >= p.calData.size()) return;
  p.calData.at(position) = point;
  sortCalData(p);
  markModified();
}

void Configuration::removeCalPoint(uint32_t probe, uint32_t position) {
  if (probe >= probeCount()) return;
  Probe& p = probeAt(probe);
  if (position >= p.calData.size()) return;
  p.calData.erase(position);
  markModified();
}

}  // namespace cdt
