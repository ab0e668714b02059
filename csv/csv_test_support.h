// Test helpers shared by the exporter and converter tests: configurations
// with probes on chosen channels, and blade-measurement records.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "config/model.h"
#include "datafile/data_record.h"
#include "datafile/format.h"

namespace cdt::testing {

// A probe to place on a channel slot of host 0: its name ("" keeps the
// default) and the blade count of its own stage.
struct ProbeSpec {
  uint32_t slot;
  std::string name;
  int32_t blades;
};

// One host and one rack; probe i of the rack sits on the given slot of host 0
// and watches stage i, which has the given blades.
inline void addProbes(Configuration& c, const std::vector<ProbeSpec>& probes) {
  c.insertHost(0, "daq");
  c.insertRack(0, "rack");
  for (uint32_t i = 0; i < probes.size(); ++i) {
    if (i >= c.stages.size()) c.insertStage(i);
    c.setStageBlades(i, probes[i].blades);
    if (!probes[i].name.empty()) c.setProbeName(i, probes[i].name.c_str());
    c.setProbeStageIndex(i, static_cast<int32_t>(i));
    c.setProbeChannelIndex(i, static_cast<int32_t>(probes[i].slot));
  }
}

struct Blade {
  float dns;
  float toa;
};

struct BladeRecordSpec {
  uint8_t channel = 0;
  uint64_t time = 0;
  float speed = 3000;
  uint32_t sync = 1;
  uint64_t startRevolution = 0;
  uint64_t endRevolution = 0;  // used when `range`
  bool range = false;
  float rms = 0.5f;
  std::vector<Blade> blades;
  uint16_t hostIndex = 0;
};

// A type-3 record in the layout `range` selects, every other byte zero.
inline RecordRef makeBladeRecord(const BladeRecordSpec& s) {
  const uint32_t n = static_cast<uint32_t>(s.blades.size());
  const uint32_t size = s.range ? kBladesRangeSize + kBladesRangeEntrySize * n
                                : kBladesRevolutionSize + kBladesRevolutionEntrySize * n;
  RecordRef r = newRecord(size);
  std::memset(r->fileBytes() + kRecordType, 0, r->fileSize() - kRecordType);
  r->setType(kRecordTypeBlades);
  r->setHostIndex(s.hostIndex);
  r->setTime(s.time);
  setBladeChannel(*r, s.channel);
  setBladeAggregated(*r, s.range ? 1 : 0);
  setBladeCount(*r, static_cast<uint16_t>(n));
  setBladeSync(*r, s.sync);
  setBladeSpeed(*r, s.speed);
  setBladeRms(*r, s.rms);
  setBladeStartRevolution(*r, s.startRevolution);
  if (s.range) setBladeEndRevolution(*r, s.endRevolution);
  for (uint32_t i = 0; i < n; ++i) {
    storeF32(bladeEntry(*r, i) + kBladeDns, s.blades[i].dns);
    storeF32(bladeEntry(*r, i) + kBladeToa, s.blades[i].toa);
  }
  return r;
}

// A record of another type, `size` bytes, zero-filled.
inline RecordRef makeOtherRecord(uint16_t type, uint32_t size, uint64_t time) {
  RecordRef r = newRecord(size);
  std::memset(r->fileBytes() + kRecordType, 0, r->fileSize() - kRecordType);
  r->setType(type);
  r->setTime(time);
  return r;
}

}  // namespace cdt::testing
