// The configuration model: one monitoring installation with its rotor stages,
// acquisition hosts (four channels each) and racks (twelve probe slots and
// twelve alarm relays each), and the installation-wide settings.
//
// Stored cross-references are global numbers: channel = host * 4 + slot,
// probe and relay = rack * 12 + slot. Derived fields (indices, owners and the
// reference fields below marked "derived") are recomputed by `relink`, which
// every structural operation calls. References into the entity arrays (a
// Probe*, a Channel*) stay valid only until the next structural edit or
// parse: the arrays may move when they grow or shrink.
#pragma once

#include <cstddef>
#include <cstdint>

#include "foundation/counted_string.h"
#include "foundation/element_kinds.h"

namespace cdt {

class Configuration;
struct Host;
struct Probe;
struct Rack;
struct Stage;

inline constexpr uint32_t kChannelsPerHost = 4;
inline constexpr uint32_t kSlotsPerRack = 12;
inline constexpr uint32_t kProbeMemorySize = 512;

// Enumeration values (names and tables are with the field descriptors).
enum RangeValue : int32_t {
  RANGE_0_5V = 0,
  RANGE_1_0V = 1,
  RANGE_2_5V = 2,
  RANGE_5_0V = 3,
  RANGE_AUTO = 4
};
enum CouplingValue : int32_t { COUPLING_AC = 0, COUPLING_DC = 1 };
enum OscValue : int32_t { OSC_OFF = 0, OSC_ON = 1, OSC_REDUCED = 2, OSC_AUTO = 3 };
enum GainValue : int32_t {
  GAIN_HIGH = 0,
  GAIN_NORMAL = 1,
  GAIN_MEDIUM = 2,
  GAIN_LOW = 3,
  GAIN_AUTO = 4
};
enum AcValue : int32_t { AC_SLOW = 0, AC_NORMAL = 1, AC_AUTO = 2 };
enum FilterValue : int32_t { FILTER_90K = 0, FILTER_200K = 1, FILTER_400K = 2 };
enum ProbeTypeValue : int32_t { TYPE_CAPACITANCE = 0, TYPE_LASER = 1 };
enum CalModeValue : int32_t { CALMODE_DEFAULT = 0, CALMODE_USER = 1 };
enum AlarmModeValue : int32_t { ALARM_RMS = 0, ALARM_DNS = 1, ALARM_BOTH = 2 };
enum RelayUsageValue : int32_t {
  RELAY_UNUSED = 0,
  RELAY_CONFIG_OPERATIONAL = 1,
  RELAY_PROBES_OPERATIONAL = 2,
  RELAY_LOW_ALARM = 16,
  RELAY_LOW_WARNING = 17,
  RELAY_HIGH_WARNING = 18,
  RELAY_HIGH_ALARM = 19,
  RELAY_STATIC_WARNING = 20,
  RELAY_STATIC_ALARM = 21,
  RELAY_DYNAMIC_WARNING = 22,
  RELAY_DYNAMIC_ALARM = 23,
  RELAY_STAGE_LOW_ALARM = 32,
  RELAY_STAGE_LOW_WARNING = 33,
  RELAY_STAGE_HIGH_WARNING = 34,
  RELAY_STAGE_HIGH_ALARM = 35,
  RELAY_STAGE_STATIC_WARNING = 36,
  RELAY_STAGE_STATIC_ALARM = 37,
  RELAY_STAGE_DYNAMIC_WARNING = 38,
  RELAY_STAGE_DYNAMIC_ALARM = 39,
  RELAY_PROBE_LOW_ALARM = 64,
  RELAY_PROBE_LOW_WARNING = 65,
  RELAY_PROBE_HIGH_WARNING = 66,
  RELAY_PROBE_HIGH_ALARM = 67,
  RELAY_PROBE_STATIC_WARNING = 68,
  RELAY_PROBE_STATIC_ALARM = 69,
  RELAY_PROBE_DYNAMIC_WARNING = 70,
  RELAY_PROBE_DYNAMIC_ALARM = 71,
};

// Relay usage classes, by value.
inline bool isAlarmRelayUsage(int32_t usage) {
  return usage >= 16 && usage < 24;
}
inline bool isStageRelayUsage(int32_t usage) {
  return usage >= 32 && usage < 40;
}
inline bool isProbeRelayUsage(int32_t usage) {
  return usage >= 64 && usage < 72;
}

// A calibration point; the model sorts on the first value only.
struct CalPoint {
  double x = 0;
  double y = 0;
  double z = 0;
};
static_assert(sizeof(CalPoint) == 24);

using ProbeList = CountedArray<Probe*, &ReferenceArrayOps, CopyPolicy::Fresh>;
using CalPointArray = CountedArray<CalPoint, &CalPointOps, CopyPolicy::Fresh>;

// The eight alarm thresholds, in field order.
struct AlarmThresholds {
  double lowAlarm = 0;
  double lowWarning = 0;
  double highWarning = 0;
  double highAlarm = 0;
  double staticWarning = 0;
  double staticAlarm = 0;
  double dynamicWarning = 0;
  double dynamicAlarm = 0;
};

// A rotor stage. A new stage holds the values of a new configuration's first
// stage.
struct Stage {
  CountedString name;  // effective name (derived)
  CountedString userName;
  int32_t blades = 50;
  double diameter = 1000.0;
  double oprToBlade0 = 0.0;  // radians from the once-per-revolution mark to blade 0
  double lowAlarm = 0.5;
  double lowWarning = 1.0;
  double highWarning = 4.0;
  double highAlarm = 5.0;
  double staticWarning = 2.0;
  double staticAlarm = 5.0;
  double dynamicWarning = 2.0;
  double dynamicAlarm = 5.0;
  double clearanceHysteresis = 1.0;
  double staticHysteresis = 1.0;
  double dynamicHysteresis = 1.0;
  int32_t index = 0;               // derived
  Configuration* owner = nullptr;  // derived
  ProbeList probes;                // derived: probes watching this stage
  ProbeList connectedProbes;       // derived: those of them that hold a channel

  AlarmThresholds thresholds() const;
  void setThresholds(const AlarmThresholds& t);
};

// One input of a host. A new channel is auto-ranged and DC coupled.
struct Channel {
  int32_t range = RANGE_AUTO;
  int32_t coupling = COUPLING_DC;
  int32_t index = 0;        // derived: global channel number
  int32_t hostChannel = 0;  // derived: 0..3
  Probe* probe = nullptr;   // derived
  Host* host = nullptr;     // derived
};

// An acquisition computer.
struct Host {
  CountedString name;  // derived
  CountedString userName;
  CountedString hostName;
  CountedString altNames;
  bool oncePerRev = true;
  bool isMaster = false;
  bool hasClock = false;
  Channel channels[kChannelsPerHost];
  int32_t index = 0;                // derived
  int32_t connectedProbeCount = 0;  // derived
  Configuration* owner = nullptr;   // derived
};

struct Demodulator {
  int32_t osc = OSC_AUTO;
  int32_t gain = GAIN_AUTO;
  int32_t ac = AC_AUTO;
  int32_t filter = FILTER_400K;
  int32_t demodulatorExtra = 2;  // not stored; 2 after every initialisation and copy
};

// The capacitance validation: values out of range become the defaults.
Demodulator validatedCapacitanceDemodulator(const Demodulator& d);
// The laser validation (OSC_ON, GAIN_NORMAL, AC_NORMAL, FILTER_400K defaults).
Demodulator validatedLaserDemodulator(const Demodulator& d);

// One probe slot of a rack; it is connected when it holds a channel.
struct Probe {
  Probe();
  Probe(const Probe& other);
  Probe& operator=(const Probe& other);
  ~Probe() = default;

  CountedString name;  // derived
  CountedString userName;
  Demodulator demodulator;
  unsigned char memoryImage[kProbeMemorySize];
  double radialPosition = 0;  // radians
  double axialPosition = 0;
  double setBack = 0;
  double lowAlarm = 0;
  double lowWarning = 0;
  double highWarning = 0;
  double highAlarm = 0;
  double staticWarning = 0;
  double staticAlarm = 0;
  double dynamicWarning = 0;
  double dynamicAlarm = 0;
  int32_t channelIndex = -1;
  int32_t stageIndex = 0;
  int32_t type = TYPE_CAPACITANCE;
  int32_t calMode = CALMODE_DEFAULT;
  int32_t calGain = GAIN_NORMAL;
  CalPointArray calData;
  CountedString calDate;
  CountedString calDiscSerialNo;
  CountedString calComments;
  bool stageAlarms = true;
  int32_t index = 0;            // derived: probe number
  int32_t slot = 0;             // derived
  int32_t connectedIndex = -1;  // derived
  Rack* rack = nullptr;         // derived
  Channel* channel = nullptr;   // derived
  Stage* stage = nullptr;       // derived

  AlarmThresholds thresholds() const;
  void setThresholds(const AlarmThresholds& t);
};

// One alarm relay of a rack.
struct Relay {
  CountedString name;  // derived
  CountedString userName;
  int32_t usage = RELAY_UNUSED;
  int32_t sourceIndex = -1;      // stage index or probe number, by usage class
  int32_t index = 0;             // derived
  int32_t slot = 0;              // derived
  Rack* rack = nullptr;          // derived
  Stage* sourceStage = nullptr;  // derived, stage relays
  Probe* sourceProbe = nullptr;  // derived, probe relays
};

// A chassis with twelve probe slots and twelve relays.
struct Rack {
  CountedString name;  // derived
  CountedString userName;
  CountedString hostName;
  CountedString altNames;
  Probe probes[kSlotsPerRack];
  Relay relays[kSlotsPerRack];
  int32_t index = 0;                // derived
  int32_t connectedProbeCount = 0;  // derived
  Configuration* owner = nullptr;   // derived
};

inline constexpr ElementOps StageOps = recordElementOps<Stage>;
inline constexpr ElementOps HostOps = recordElementOps<Host>;
inline constexpr ElementOps RackOps = recordElementOps<Rack>;
using StageArray = CountedArray<Stage, &StageOps, CopyPolicy::Fresh>;
using HostArray = CountedArray<Host, &HostOps, CopyPolicy::Fresh>;
using RackArray = CountedArray<Rack, &RackOps, CopyPolicy::Fresh>;
using ConnectedProbeList = CountedArray<Probe*, &ReferenceArrayOps>;

struct Maintainer {
  CountedString name;
  CountedString phone;
  CountedString email;
  CountedString notes;
  uint64_t adminPassword = 0;  // password digests
  uint64_t userPassword = 0;
};

struct EngineInfo {
  CountedString name;
  CountedString location;
  CountedString manufacturer;
  CountedString serialNumber;
  double minLockSpeed = 200.0;
  double maximumSpeed = 4000.0;
  double maxSpeedRate = 500.0;
  bool counterClockwise = false;
};

struct AdvancedSettings {
  bool oscAutoSwitchEnable = true;
  bool acAutoSwitchEnable = true;
  bool oscReTuneEnable = true;
  double oscAutoSwitchMinBps = 50.0;
  double oscAutoSwitchMaxBps = 100.0;
  double acAutoSwitchMinBps = 50.0;
  double acAutoSwitchMaxBps = 100.0;
  double oscReTuneInterval = 3600.0;
};

struct StorageSettings {
  int32_t fullRateNumFiles = 480;
  int32_t mediumTermNumFiles = 540;
  int32_t longTermNumFiles = 1460;
  bool startStopEnable = false;
  double fullRateDuration = 43200.0;
  double mediumTermDuration = 7776000.0;
  double mediumTermRevInterval = 1.0;
  double mediumTermScopeInterval = 60.0;
  double longTermDuration = 63072000.0;
  double longTermRevInterval = 60.0;
  double longTermScopeInterval = 600.0;
  double startMinSpeed = 200.0;
  double startMaxSpeed = 2800.0;
  double stopMinSpeed = 150.0;
  double stopMaxSpeed = 2900.0;
  double startStopEventLength = 10.0;
  double startStopDiskUsage = 5368709120.0;
};

// The table-driven CRC-64 (ECMA-182 polynomial, most significant bit first,
// no reflection, no final XOR) over `n` bytes from the start value `crc`.
uint64_t checksum64(const void* bytes, std::size_t n, uint64_t crc);

class Configuration {
 public:
  // Defaults, one first stage, relinked, not modified.
  Configuration();
  // Every stored field, the time stamps, `modified` and the entity arrays are
  // copied; the copy is relinked. Copying never calls `onChanged`.
  Configuration(const Configuration& other);
  Configuration& operator=(const Configuration& other);
  virtual ~Configuration();

  // Change notification; called by `markModified`, once per setter or edit
  // and after any relink it does, so it always sees a linked configuration.
  // Never called by construction, copying or assignment. Empty here.
  virtual void onChanged() {}

  void markModified();
  // Recomputes every derived field and normalises dangling cross-references.
  void relink();

  // --- Stored fields (write them through the setters to mark the change) ---
  CountedString name;
  CountedString fullName;
  uint64_t creationTime = 0;  // microseconds since 1970 UTC
  uint64_t modificationTime = 0;
  int32_t revision = 0;
  int32_t revAveraging = 100;
  double sampleRate = 10000000.0;
  double lowSpeedFilter = 60.0;
  double lowSpeedUpdate = 2.0;
  int32_t alarmMode = ALARM_BOTH;
  Maintainer maintainer;
  EngineInfo engine;
  AdvancedSettings advanced;
  StorageSettings storage;
  HostArray hosts;
  RackArray racks;
  StageArray stages;
  ConnectedProbeList connectedProbes;  // derived
  bool modified = false;

  // --- Addressing by global number (the number must be valid) ---
  uint32_t channelCount() const { return hosts.size() * kChannelsPerHost; }
  uint32_t probeCount() const { return racks.size() * kSlotsPerRack; }
  Channel& channelAt(uint32_t channel);
  const Channel& channelAt(uint32_t channel) const;
  Probe& probeAt(uint32_t probe);
  const Probe& probeAt(uint32_t probe) const;
  Relay& relayAt(uint32_t relay);
  const Relay& relayAt(uint32_t relay) const;

  // --- Lookups: first match or nullptr; empty text matches an empty name ---
  Stage* findStage(const char* text);
  Host* findHost(const char* text, bool byHostName = false);
  Rack* findRack(const char* text, bool byHostName = false);
  Relay* findRelay(const char* text);
  Probe* findProbe(const char* text);
  Probe* findConnectedProbe(const char* text);

  // --- Derived values ---
  int32_t masterHostIndex() const;
  bool isAlarmRelay(uint32_t relay) const { return isAlarmRelayUsage(relayAt(relay).usage); }
  bool isStageRelay(uint32_t relay) const { return isStageRelayUsage(relayAt(relay).usage); }
  bool isProbeRelay(uint32_t relay) const { return isProbeRelayUsage(relayAt(relay).usage); }
  double probePhase(uint32_t probe) const;
  uint64_t probePhase(uint32_t probe, uint64_t n) const;
  double bladePhase(uint32_t probe) const;
  uint64_t bladePhase(uint32_t probe, uint64_t n) const;
  bool advancedIsDefault() const;

  // --- Configuration setters ---
  void setName(const char* text);  // also stamps both times with now
  void setSampleRate(double v);
  void setLowSpeedFilter(double v);
  void setLowSpeedUpdate(double v);
  void setRevAveraging(int32_t v);
  void setAlarmMode(int32_t v);
  void setMaintainer(const Maintainer& m);
  void setEngine(const EngineInfo& e);
  void setAdvanced(const AdvancedSettings& a);
  void resetAdvanced();
  void setStorage(const StorageSettings& s);

  // --- Stage setters (by index) ---
  void setStageName(uint32_t stage, const char* text);
  void setStageBlades(uint32_t stage, int32_t blades);
  void setStageDiameter(uint32_t stage, double diameter);
  void setStageOprToBlade0(uint32_t stage, double angle);
  void setStageThresholds(uint32_t stage, const AlarmThresholds& t);
  void setStageHystereses(uint32_t stage, double clearance, double dynamic, double statik);

  // --- Host and channel setters ---
  void setHostName(uint32_t host, const char* text);
  void setHostHostName(uint32_t host, const char* text);
  void setHostAltNames(uint32_t host, const char* text);  // does not mark modified
  void setHostOncePerRev(uint32_t host, bool on);
  void setHostIsMaster(uint32_t host, bool on);
  void setHostHasClock(uint32_t host, bool on);
  void setChannelRange(uint32_t channel, int32_t range);
  void setChannelCoupling(uint32_t channel, int32_t coupling);

  // --- Rack setters ---
  void setRackName(uint32_t rack, const char* text);
  void setRackHostName(uint32_t rack, const char* text);
  void setRackAltNames(uint32_t rack, const char* text);

  // --- Probe setters (by probe number) ---
  void setProbeName(uint32_t probe, const char* text);
  void setProbeChannelIndex(uint32_t probe, int32_t channel);
  void setProbeStageIndex(uint32_t probe, int32_t stage);
  void setProbeDemodulator(uint32_t probe, int32_t osc, int32_t gain, int32_t ac, int32_t filter);
  void setProbeType(uint32_t probe, int32_t type);
  void setProbeCalGain(uint32_t probe, int32_t gain);
  void setProbeCalDate(uint32_t probe, const char* text);
  void setProbeCalDiscSerialNo(uint32_t probe, const char* text);
  void setProbeCalComments(uint32_t probe, const char* text);
  void setProbePosition(uint32_t probe, double radial, double axial, double setBack);
  void setProbeAlarms(uint32_t probe, bool stageAlarms, const AlarmThresholds& t);
  // Stores the mode and reloads the calibration when the mode changes.
  void setProbeCalMode(uint32_t probe, int32_t mode);
  // Copies the image in and reloads the calibration; does not mark modified.
  void setProbeMemoryImage(uint32_t probe, const unsigned char image[kProbeMemorySize]);
  // True for CALMODE_USER, else whether the probe's memory image is valid.
  bool isCalibrationValid(uint32_t probe) const;

  // --- Relay setter ---
  void setRelayUsage(uint32_t relay, int32_t usage, int32_t sourceIndex);

  // --- Structural edits (clamp or refuse bad positions; relink) ---
  // A refused edit changes nothing and leaves `modified` as it was. The
  // calibration-point edits also refuse a probe number past the last probe;
  // inserting and setting a point sort the points; none of them relinks.
  uint32_t insertStage(uint32_t position);
  void removeStage(uint32_t index);
  void swapStages(uint32_t a, uint32_t b);
  uint32_t insertHost(uint32_t position, const char* hostName);
  void removeHost(uint32_t index);
  void swapHosts(uint32_t a, uint32_t b);
  uint32_t insertRack(uint32_t position, const char* hostName);
  void removeRack(uint32_t index);
  void swapRacks(uint32_t a, uint32_t b);
  void insertCalPoint(uint32_t probe, uint32_t position, const CalPoint& point);
  void setCalPoint(uint32_t probe, uint32_t position, const CalPoint& point);
  void removeCalPoint(uint32_t probe, uint32_t position);

  // Gives rack `index` the values a newly inserted rack's probes and relays
  // get (disconnected probes on stage 0 with the default calibration). Used
  // by `insertRack` and by the text reader for racks a count line creates.
  // Neither relinks nor marks the configuration modified; the rack's own
  // strings and the probes' names are left as they are.
  void initialiseNewRack(uint32_t index);

 private:
  void renameEntity(CountedString& userName, CountedString& name, const char* text,
                    const char* kind, int32_t number, int32_t slot = -1);
};

// The effective name rule: the user name, or the default built from the
// entity's kind word and 1-based numbers ("%s%d" or "%s%d%02d" with a slot).
CountedString defaultEntityName(const char* kind, int32_t number, int32_t slot = -1);

}  // namespace cdt
