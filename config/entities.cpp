// The entity records' own operations: probe construction and copying,
// demodulator validation, thresholds, default names and the CRC-64.
#include <cstring>

#include "config/model.h"
#include "foundation/text_building.h"

namespace cdt {
namespace {

bool inRange(int32_t value, int32_t low, int32_t high) {
  return value >= low && value <= high;
}

// The most-significant-bit-first table of the ECMA-182 polynomial.
struct Crc64Table {
  uint64_t entries[256];
  constexpr Crc64Table() : entries() {
    constexpr uint64_t kPolynomial = 0x42F0E1EBA9EA3693ull;
    for (uint64_t i = 0; i < 256; ++i) {
      uint64_t crc = i << 56;
      for (int bit = 0; bit < 8; ++bit) {
        crc = (crc & (1ull << 63)) != 0 ? (crc << 1) ^ kPolynomial : crc << 1;
      }
      entries[i] = crc;
    }
  }
};

constexpr Crc64Table kCrc64Table;

}  // namespace

Demodulator validatedCapacitanceDemodulator(const Demodulator& d) {
  Demodulator v;
  v.osc = inRange(d.osc, 0, 3) ? d.osc : OSC_AUTO;
  v.gain = inRange(d.gain, 0, 4) ? d.gain : GAIN_AUTO;
  v.ac = inRange(d.ac, 0, 2) ? d.ac : AC_AUTO;
  v.filter = inRange(d.filter, 0, 2) ? d.filter : FILTER_400K;
  v.demodulatorExtra = 2;
  return v;
}

Demodulator validatedLaserDemodulator(const Demodulator& d) {
  Demodulator v;
  v.osc = inRange(d.osc, 0, 2) ? d.osc : OSC_ON;
  v.gain = inRange(d.gain, 0, 3) ? d.gain : GAIN_NORMAL;
  v.ac = inRange(d.ac, 0, 1) ? d.ac : AC_NORMAL;
  v.filter = inRange(d.filter, 0, 2) ? d.filter : FILTER_400K;
  v.demodulatorExtra = 2;
  return v;
}

Probe::Probe() {
  // Spaces with a zero point count: an image that fails its CRC check.
  std::memset(memoryImage, 0x20, sizeof memoryImage);
  memoryImage[211] = 0;
}

Probe::Probe(const Probe& other)
    : name(other.name),
      userName(other.userName),
      demodulator(validatedCapacitanceDemodulator(other.demodulator)),
      radialPosition(other.radialPosition),
      axialPosition(other.axialPosition),
      setBack(other.setBack),
      lowAlarm(other.lowAlarm),
      lowWarning(other.lowWarning),
      highWarning(other.highWarning),
      highAlarm(other.highAlarm),
      staticWarning(other.staticWarning),
      staticAlarm(other.staticAlarm),
      dynamicWarning(other.dynamicWarning),
      dynamicAlarm(other.dynamicAlarm),
      channelIndex(other.channelIndex),
      stageIndex(other.stageIndex),
      type(other.type),
      calMode(other.calMode),
      calGain(other.calGain),
      calData(other.calData),
      calDate(other.calDate),
      calDiscSerialNo(other.calDiscSerialNo),
      calComments(other.calComments),
      stageAlarms(other.stageAlarms),
      index(other.index),
      slot(other.slot),
      connectedIndex(other.connectedIndex),
      rack(other.rack),
      channel(other.channel),
      stage(other.stage) {
  std::memcpy(memoryImage, other.memoryImage, sizeof memoryImage);
}

Probe& Probe::operator=(const Probe& other) {
  if (this == &other) return *this;
  name = other.name;
  userName = other.userName;
  demodulator = validatedCapacitanceDemodulator(other.demodulator);
  std::memcpy(memoryImage, other.memoryImage, sizeof memoryImage);
  radialPosition = other.radialPosition;
  axialPosition = other.axialPosition;
  setBack = other.setBack;
  setThresholds(other.thresholds());
  channelIndex = other.channelIndex;
  stageIndex = other.stageIndex;
  type = other.type;
  calMode = other.calMode;
  calGain = other.calGain;
  calData = other.calData;
  calDate = other.calDate;
  calDiscSerialNo = other.calDiscSerialNo;
  calComments = other.calComments;
  stageAlarms = other.stageAlarms;
  index = other.index;
  slot = other.slot;
  connectedIndex = other.connectedIndex;
  rack = other.rack;
  channel = other.channel;
  stage = other.stage;
  return *this;
}

namespace {

// Probes and stages hold the same eight thresholds under the same names.
template <class Holder>
AlarmThresholds thresholdsOf(const Holder& h) {
  return {h.lowAlarm,      h.lowWarning,  h.highWarning,    h.highAlarm,
          h.staticWarning, h.staticAlarm, h.dynamicWarning, h.dynamicAlarm};
}

template <class Holder>
void assignThresholds(Holder& h, const AlarmThresholds& t) {
  h.lowAlarm = t.lowAlarm;
  h.lowWarning = t.lowWarning;
  h.highWarning = t.highWarning;
  h.highAlarm = t.highAlarm;
  h.staticWarning = t.staticWarning;
  h.staticAlarm = t.staticAlarm;
  h.dynamicWarning = t.dynamicWarning;
  h.dynamicAlarm = t.dynamicAlarm;
}

}  // namespace

AlarmThresholds Probe::thresholds() const {
  return thresholdsOf(*this);
}

void Probe::setThresholds(const AlarmThresholds& t) {
  assignThresholds(*this, t);
}

AlarmThresholds Stage::thresholds() const {
  return thresholdsOf(*this);
}

void Stage::setThresholds(const AlarmThresholds& t) {
  assignThresholds(*this, t);
}

CountedString defaultEntityName(const char* kind, int32_t number, int32_t slot) {
  if (slot < 0) return formatString("%s%d", kind, number);
  return formatString("%s%d%02d", kind, number, slot);
}

uint64_t checksum64(const void* bytes, std::size_t n, uint64_t crc) {
  const unsigned char* p = static_cast<const unsigned char*>(bytes);
  for (std::size_t i = 0; i < n; ++i) {
    crc = (crc << 8) ^ kCrc64Table.entries[((crc >> 56) ^ p[i]) & 0xFF];
  }
  return crc;
}

}  // namespace cdt
