#include "config/field_tables.h"

#include <cstdint>
#include <type_traits>
#include <utility>

#include "config/model.h"
#include "foundation/counted_string.h"
#include "foundation/element_kinds.h"

namespace cdt {

namespace {

// Whether a member of type T can hold a field of type code `code`; checked at
// compile time for every row so that a row cannot point at a field of the
// wrong kind.
template <class T>
constexpr bool fieldFits(int32_t code) {
  switch (code) {
    case kFieldEnum:
    case kFieldInteger:
    case kFieldUnsigned:
      return std::is_integral_v<T> && !std::is_same_v<T, bool>;
    case kFieldBoolean:
      return std::is_integral_v<T>;
    case kFieldReal:
      return std::is_same_v<T, float> || std::is_same_v<T, double>;
    case kFieldString:
      return std::is_same_v<T, CountedString>;
    case kFieldList:
      return std::is_same_v<T, StringList>;
    default:
      return false;
  }
}

}  // namespace

// One descriptor row: the size comes from the member's type, the accessor is
// a captureless function that returns the member's address. `member` is a
// member path (demodulator.osc) and cannot be parenthesised.
// NOLINTBEGIN(bugprone-macro-parentheses)
#define CDT_FIELD_ROW(Record, keyText, code, member, names)                                    \
  FieldDescriptor {                                                                            \
    keyText, names, code, static_cast<int32_t>(sizeof(std::declval<Record&>().member)),        \
        [](void* record) -> void* {                                                            \
          static_assert(                                                                       \
              fieldFits<std::remove_cvref_t<decltype(std::declval<Record&>().member)>>(code)); \
          return &static_cast<Record*>(record)->member;                                        \
        }                                                                                      \
  }
// NOLINTEND(bugprone-macro-parentheses)

#define CDT_FIELD_END               \
  FieldDescriptor {                 \
    nullptr, nullptr, 0, 0, nullptr \
  }

// --- Enumerations ------------------------------------------------------------

const EnumName kRangeNames[] = {
    {RANGE_0_5V, "RANGE_0_5V"}, {RANGE_1_0V, "RANGE_1_0V"}, {RANGE_2_5V, "RANGE_2_5V"},
    {RANGE_5_0V, "RANGE_5_0V"}, {RANGE_AUTO, "RANGE_AUTO"}, {3, ""},
};

const EnumName kCouplingNames[] = {
    {COUPLING_AC, "COUPLING_AC"},
    {COUPLING_DC, "COUPLING_DC"},
    {1, ""},
};

const EnumName kRelayUsageNames[] = {
    {RELAY_UNUSED, "RELAY_UNUSED"},
    {RELAY_CONFIG_OPERATIONAL, "RELAY_CONFIG_OPERATIONAL"},
    {RELAY_PROBES_OPERATIONAL, "RELAY_PROBES_OPERATIONAL"},
    {RELAY_LOW_ALARM, "RELAY_LOW_ALARM"},
    {RELAY_LOW_WARNING, "RELAY_LOW_WARNING"},
    {RELAY_HIGH_WARNING, "RELAY_HIGH_WARNING"},
    {RELAY_HIGH_ALARM, "RELAY_HIGH_ALARM"},
    {RELAY_STATIC_WARNING, "RELAY_STATIC_WARNING"},
    {RELAY_STATIC_ALARM, "RELAY_STATIC_ALARM"},
    {RELAY_DYNAMIC_WARNING, "RELAY_DYNAMIC_WARNING"},
    {RELAY_DYNAMIC_ALARM, "RELAY_DYNAMIC_ALARM"},
    {RELAY_STAGE_LOW_ALARM, "RELAY_STAGE_LOW_ALARM"},
    {RELAY_STAGE_LOW_WARNING, "RELAY_STAGE_LOW_WARNING"},
    {RELAY_STAGE_HIGH_WARNING, "RELAY_STAGE_HIGH_WARNING"},
    {RELAY_STAGE_HIGH_ALARM, "RELAY_STAGE_HIGH_ALARM"},
    {RELAY_STAGE_STATIC_WARNING, "RELAY_STAGE_STATIC_WARNING"},
    {RELAY_STAGE_STATIC_ALARM, "RELAY_STAGE_STATIC_ALARM"},
    {RELAY_STAGE_DYNAMIC_WARNING, "RELAY_STAGE_DYNAMIC_WARNING"},
    {RELAY_STAGE_DYNAMIC_ALARM, "RELAY_STAGE_DYNAMIC_ALARM"},
    {RELAY_PROBE_LOW_ALARM, "RELAY_PROBE_LOW_ALARM"},
    {RELAY_PROBE_LOW_WARNING, "RELAY_PROBE_LOW_WARNING"},
    {RELAY_PROBE_HIGH_WARNING, "RELAY_PROBE_HIGH_WARNING"},
    {RELAY_PROBE_HIGH_ALARM, "RELAY_PROBE_HIGH_ALARM"},
    {RELAY_PROBE_STATIC_WARNING, "RELAY_PROBE_STATIC_WARNING"},
    {RELAY_PROBE_STATIC_ALARM, "RELAY_PROBE_STATIC_ALARM"},
    {RELAY_PROBE_DYNAMIC_WARNING, "RELAY_PROBE_DYNAMIC_WARNING"},
    {RELAY_PROBE_DYNAMIC_ALARM, "RELAY_PROBE_DYNAMIC_ALARM"},
    {0, ""},
};

const EnumName kOscNames[] = {
    {OSC_OFF, "OSC_OFF"},
    {OSC_ON, "OSC_ON"},
    {OSC_REDUCED, "OSC_REDUCED"},
    {OSC_AUTO, "OSC_AUTO"},
    {1, ""},
};

const EnumName kGainNames[] = {
    {GAIN_HIGH, "GAIN_HIGH"}, {GAIN_NORMAL, "GAIN_NORMAL"}, {GAIN_MEDIUM, "GAIN_MEDIUM"},
    {GAIN_LOW, "GAIN_LOW"},   {GAIN_AUTO, "GAIN_AUTO"},     {1, ""},
};

// AC_NORMAL comes first although AC_SLOW has the lower value.
const EnumName kAcNames[] = {
    {AC_NORMAL, "AC_NORMAL"},
    {AC_SLOW, "AC_SLOW"},
    {AC_AUTO, "AC_AUTO"},
    {1, ""},
};

const EnumName kFilterNames[] = {
    {FILTER_90K, "FILTER_90K"},
    {FILTER_200K, "FILTER_200K"},
    {FILTER_400K, "FILTER_400K"},
    {2, ""},
};

const EnumName kProbeTypeNames[] = {
    {TYPE_CAPACITANCE, "TYPE_CAPACITANCE"},
    {TYPE_LASER, "TYPE_LASER"},
    {0, ""},
};

const EnumName kCalModeNames[] = {
    {CALMODE_DEFAULT, "CALMODE_DEFAULT"},
    {CALMODE_USER, "CALMODE_USER"},
    {0, ""},
};

const EnumName kAlarmModeNames[] = {
    {ALARM_RMS, "ALARM_RMS"},
    {ALARM_DNS, "ALARM_DNS"},
    {ALARM_BOTH, "ALARM_BOTH"},
    {2, ""},
};

// --- Descriptor tables -------------------------------------------------------

const FieldDescriptor kChannelFields[] = {
    CDT_FIELD_ROW(Channel, "range", kFieldEnum, range, kRangeNames),
    CDT_FIELD_ROW(Channel, "coupling", kFieldEnum, coupling, kCouplingNames),
    CDT_FIELD_END,
};

const FieldDescriptor kRelayFields[] = {
    CDT_FIELD_ROW(Relay, "userName", kFieldString, userName, nullptr),
    CDT_FIELD_ROW(Relay, "usage", kFieldEnum, usage, kRelayUsageNames),
    CDT_FIELD_ROW(Relay, "sourceIndex", kFieldInteger, sourceIndex, nullptr),
    CDT_FIELD_END,
};

const FieldDescriptor kProbeFields[] = {
    CDT_FIELD_ROW(Probe, "userName", kFieldString, userName, nullptr),
    CDT_FIELD_ROW(Probe, "demodulator.osc", kFieldEnum, demodulator.osc, kOscNames),
    CDT_FIELD_ROW(Probe, "demodulator.gain", kFieldEnum, demodulator.gain, kGainNames),
    CDT_FIELD_ROW(Probe, "demodulator.ac", kFieldEnum, demodulator.ac, kAcNames),
    CDT_FIELD_ROW(Probe, "demodulator.filter", kFieldEnum, demodulator.filter, kFilterNames),
    CDT_FIELD_ROW(Probe, "radialPosition", kFieldReal, radialPosition, nullptr),
    CDT_FIELD_ROW(Probe, "axialPosition", kFieldReal, axialPosition, nullptr),
    CDT_FIELD_ROW(Probe, "setBack", kFieldReal, setBack, nullptr),
    CDT_FIELD_ROW(Probe, "lowAlarm", kFieldReal, lowAlarm, nullptr),
    CDT_FIELD_ROW(Probe, "lowWarning", kFieldReal, lowWarning, nullptr),
    CDT_FIELD_ROW(Probe, "highWarning", kFieldReal, highWarning, nullptr),
    CDT_FIELD_ROW(Probe, "highAlarm", kFieldReal, highAlarm, nullptr),
    CDT_FIELD_ROW(Probe, "staticWarning", kFieldReal, staticWarning, nullptr),
    CDT_FIELD_ROW(Probe, "staticAlarm", kFieldReal, staticAlarm, nullptr),
    CDT_FIELD_ROW(Probe, "dynamicWarning", kFieldReal, dynamicWarning, nullptr),
    CDT_FIELD_ROW(Probe, "dynamicAlarm", kFieldReal, dynamicAlarm, nullptr),
    CDT_FIELD_ROW(Probe, "channelIndex", kFieldInteger, channelIndex, nullptr),
    CDT_FIELD_ROW(Probe, "stageIndex", kFieldInteger, stageIndex, nullptr),
    CDT_FIELD_ROW(Probe, "type", kFieldEnum, type, kProbeTypeNames),
    CDT_FIELD_ROW(Probe, "calMode", kFieldEnum, calMode, kCalModeNames),
    CDT_FIELD_ROW(Probe, "calGain", kFieldEnum, calGain, kGainNames),
    CDT_FIELD_ROW(Probe, "calDate", kFieldString, calDate, nullptr),
    CDT_FIELD_ROW(Probe, "calDiscSerialNo", kFieldString, calDiscSerialNo, nullptr),
    CDT_FIELD_ROW(Probe, "calComments", kFieldString, calComments, nullptr),
    CDT_FIELD_ROW(Probe, "stageAlarms", kFieldBoolean, stageAlarms, nullptr),
    CDT_FIELD_END,
};

const FieldDescriptor kHostFields[] = {
    CDT_FIELD_ROW(Host, "userName", kFieldString, userName, nullptr),
    CDT_FIELD_ROW(Host, "hostName", kFieldString, hostName, nullptr),
    CDT_FIELD_ROW(Host, "altNames", kFieldString, altNames, nullptr),
    CDT_FIELD_ROW(Host, "oncePerRev", kFieldBoolean, oncePerRev, nullptr),
    CDT_FIELD_ROW(Host, "isMaster", kFieldBoolean, isMaster, nullptr),
    CDT_FIELD_ROW(Host, "hasClock", kFieldBoolean, hasClock, nullptr),
    CDT_FIELD_END,
};

const FieldDescriptor kRackFields[] = {
    CDT_FIELD_ROW(Rack, "userName", kFieldString, userName, nullptr),
    CDT_FIELD_ROW(Rack, "hostName", kFieldString, hostName, nullptr),
    CDT_FIELD_ROW(Rack, "altNames", kFieldString, altNames, nullptr),
    CDT_FIELD_END,
};

// The clearance thresholds are written warnings first, unlike their order in
// the record.
const FieldDescriptor kStageFields[] = {
    CDT_FIELD_ROW(Stage, "userName", kFieldString, userName, nullptr),
    CDT_FIELD_ROW(Stage, "blades", kFieldInteger, blades, nullptr),
    CDT_FIELD_ROW(Stage, "diameter", kFieldReal, diameter, nullptr),
    CDT_FIELD_ROW(Stage, "oprToBlade0", kFieldReal, oprToBlade0, nullptr),
    CDT_FIELD_ROW(Stage, "lowWarning", kFieldReal, lowWarning, nullptr),
    CDT_FIELD_ROW(Stage, "highWarning", kFieldReal, highWarning, nullptr),
    CDT_FIELD_ROW(Stage, "lowAlarm", kFieldReal, lowAlarm, nullptr),
    CDT_FIELD_ROW(Stage, "highAlarm", kFieldReal, highAlarm, nullptr),
    CDT_FIELD_ROW(Stage, "staticWarning", kFieldReal, staticWarning, nullptr),
    CDT_FIELD_ROW(Stage, "staticAlarm", kFieldReal, staticAlarm, nullptr),
    CDT_FIELD_ROW(Stage, "dynamicWarning", kFieldReal, dynamicWarning, nullptr),
    CDT_FIELD_ROW(Stage, "dynamicAlarm", kFieldReal, dynamicAlarm, nullptr),
    CDT_FIELD_ROW(Stage, "clearanceHysteresis", kFieldReal, clearanceHysteresis, nullptr),
    CDT_FIELD_ROW(Stage, "staticHysteresis", kFieldReal, staticHysteresis, nullptr),
    CDT_FIELD_ROW(Stage, "dynamicHysteresis", kFieldReal, dynamicHysteresis, nullptr),
    CDT_FIELD_END,
};

// revAveraging follows the speed-processing doubles, and each enable flag or
// file count of the advanced and storage groups precedes the doubles it
// governs: the written order differs from the record's.
const FieldDescriptor kConfigurationFields[] = {
    CDT_FIELD_ROW(Configuration, "name", kFieldString, name, nullptr),
    CDT_FIELD_ROW(Configuration, "fullName", kFieldString, fullName, nullptr),
    CDT_FIELD_ROW(Configuration, "creationTime", kFieldUnsigned, creationTime, nullptr),
    CDT_FIELD_ROW(Configuration, "modificationTime", kFieldUnsigned, modificationTime, nullptr),
    CDT_FIELD_ROW(Configuration, "revision", kFieldInteger, revision, nullptr),
    CDT_FIELD_ROW(Configuration, "sampleRate", kFieldReal, sampleRate, nullptr),
    CDT_FIELD_ROW(Configuration, "lowSpeedFilter", kFieldReal, lowSpeedFilter, nullptr),
    CDT_FIELD_ROW(Configuration, "lowSpeedUpdate", kFieldReal, lowSpeedUpdate, nullptr),
    CDT_FIELD_ROW(Configuration, "revAveraging", kFieldInteger, revAveraging, nullptr),
    CDT_FIELD_ROW(Configuration, "alarmMode", kFieldEnum, alarmMode, kAlarmModeNames),
    CDT_FIELD_ROW(Configuration, "maintainer.name", kFieldString, maintainer.name, nullptr),
    CDT_FIELD_ROW(Configuration, "maintainer.phone", kFieldString, maintainer.phone, nullptr),
    CDT_FIELD_ROW(Configuration, "maintainer.email", kFieldString, maintainer.email, nullptr),
    CDT_FIELD_ROW(Configuration, "maintainer.notes", kFieldString, maintainer.notes, nullptr),
    CDT_FIELD_ROW(Configuration, "maintainer.adminPassword", kFieldUnsigned,
                  maintainer.adminPassword, nullptr),
    CDT_FIELD_ROW(Configuration, "maintainer.userPassword", kFieldUnsigned, maintainer.userPassword,
                  nullptr),
    CDT_FIELD_ROW(Configuration, "engine.name", kFieldString, engine.name, nullptr),
    CDT_FIELD_ROW(Configuration, "engine.location", kFieldString, engine.location, nullptr),
    CDT_FIELD_ROW(Configuration, "engine.manufacturer", kFieldString, engine.manufacturer, nullptr),
    CDT_FIELD_ROW(Configuration, "engine.serialNumber", kFieldString, engine.serialNumber, nullptr),
    CDT_FIELD_ROW(Configuration, "engine.minLockSpeed", kFieldReal, engine.minLockSpeed, nullptr),
    CDT_FIELD_ROW(Configuration, "engine.maximumSpeed", kFieldReal, engine.maximumSpeed, nullptr),
    CDT_FIELD_ROW(Configuration, "engine.maxSpeedRate", kFieldReal, engine.maxSpeedRate, nullptr),
    CDT_FIELD_ROW(Configuration, "engine.counterClockwise", kFieldBoolean, engine.counterClockwise,
                  nullptr),
    CDT_FIELD_ROW(Configuration, "advanced.oscAutoSwitchEnable", kFieldBoolean,
                  advanced.oscAutoSwitchEnable, nullptr),
    CDT_FIELD_ROW(Configuration, "advanced.oscAutoSwitchMinBps", kFieldReal,
                  advanced.oscAutoSwitchMinBps, nullptr),
    CDT_FIELD_ROW(Configuration, "advanced.oscAutoSwitchMaxBps", kFieldReal,
                  advanced.oscAutoSwitchMaxBps, nullptr),
    CDT_FIELD_ROW(Configuration, "advanced.acAutoSwitchEnable", kFieldBoolean,
                  advanced.acAutoSwitchEnable, nullptr),
    CDT_FIELD_ROW(Configuration, "advanced.acAutoSwitchMinBps", kFieldReal,
                  advanced.acAutoSwitchMinBps, nullptr),
    CDT_FIELD_ROW(Configuration, "advanced.acAutoSwitchMaxBps", kFieldReal,
                  advanced.acAutoSwitchMaxBps, nullptr),
    CDT_FIELD_ROW(Configuration, "advanced.oscReTuneEnable", kFieldBoolean,
                  advanced.oscReTuneEnable, nullptr),
    CDT_FIELD_ROW(Configuration, "advanced.oscReTuneInterval", kFieldReal,
                  advanced.oscReTuneInterval, nullptr),
    CDT_FIELD_ROW(Configuration, "storage.fullRateNumFiles", kFieldInteger,
                  storage.fullRateNumFiles, nullptr),
    CDT_FIELD_ROW(Configuration, "storage.fullRateDuration", kFieldReal, storage.fullRateDuration,
                  nullptr),
    CDT_FIELD_ROW(Configuration, "storage.mediumTermNumFiles", kFieldInteger,
                  storage.mediumTermNumFiles, nullptr),
    CDT_FIELD_ROW(Configuration, "storage.mediumTermDuration", kFieldReal,
                  storage.mediumTermDuration, nullptr),
    CDT_FIELD_ROW(Configuration, "storage.mediumTermRevInterval", kFieldReal,
                  storage.mediumTermRevInterval, nullptr),
    CDT_FIELD_ROW(Configuration, "storage.mediumTermScopeInterval", kFieldReal,
                  storage.mediumTermScopeInterval, nullptr),
    CDT_FIELD_ROW(Configuration, "storage.longTermNumFiles", kFieldInteger,
                  storage.longTermNumFiles, nullptr),
    CDT_FIELD_ROW(Configuration, "storage.longTermDuration", kFieldReal, storage.longTermDuration,
                  nullptr),
    CDT_FIELD_ROW(Configuration, "storage.longTermRevInterval", kFieldReal,
                  storage.longTermRevInterval, nullptr),
    CDT_FIELD_ROW(Configuration, "storage.longTermScopeInterval", kFieldReal,
                  storage.longTermScopeInterval, nullptr),
    CDT_FIELD_ROW(Configuration, "storage.startStopEnable", kFieldBoolean, storage.startStopEnable,
                  nullptr),
    CDT_FIELD_ROW(Configuration, "storage.startMinSpeed", kFieldReal, storage.startMinSpeed,
                  nullptr),
    CDT_FIELD_ROW(Configuration, "storage.startMaxSpeed", kFieldReal, storage.startMaxSpeed,
                  nullptr),
    CDT_FIELD_ROW(Configuration, "storage.stopMinSpeed", kFieldReal, storage.stopMinSpeed, nullptr),
    CDT_FIELD_ROW(Configuration, "storage.stopMaxSpeed", kFieldReal, storage.stopMaxSpeed, nullptr),
    CDT_FIELD_ROW(Configuration, "storage.startStopEventLength", kFieldReal,
                  storage.startStopEventLength, nullptr),
    CDT_FIELD_ROW(Configuration, "storage.startStopDiskUsage", kFieldReal,
                  storage.startStopDiskUsage, nullptr),
    CDT_FIELD_END,
};

#undef CDT_FIELD_ROW
#undef CDT_FIELD_END

const FieldDescriptor* const kFieldTables[7] = {
    kChannelFields, kRelayFields, kProbeFields,         kHostFields,
    kRackFields,    kStageFields, kConfigurationFields,
};

uint32_t fieldCount(const FieldDescriptor* table) {
  uint32_t n = 0;
  while (table[n].key != nullptr) ++n;
  return n;
}

const FieldDescriptor* findField(const FieldDescriptor* table, TextBuffer key) {
  for (const FieldDescriptor* row = table; row->key != nullptr; ++row) {
    if (textEquals(TextBuffer(std::string_view(row->key)), key)) return row;
  }
  return nullptr;
}

int32_t enumValueOf(const EnumName* table, TextBuffer name) {
  const EnumName* row = table;
  while (row->name[0] != '\0' && !textEquals(TextBuffer(std::string_view(row->name)), name)) {
    ++row;
  }
  return row->value;
}

const char* enumNameOf(const EnumName* table, int64_t value) {
  const EnumName* row = table;
  while (row->name[0] != '\0' && row->value != value) ++row;
  return row->name;
}

}  // namespace cdt
