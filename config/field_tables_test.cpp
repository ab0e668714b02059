#include "config/field_tables.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "config/model.h"

namespace cdt {
namespace {

TextBuffer view(const char* text) {
  return TextBuffer(std::string_view(text));
}

std::vector<std::pair<std::string, int32_t>> rowsOf(const EnumName* table) {
  std::vector<std::pair<std::string, int32_t>> rows;
  const EnumName* row = table;
  for (; row->name[0] != '\0'; ++row) rows.emplace_back(row->name, row->value);
  rows.emplace_back("default", row->value);
  return rows;
}

using Rows = std::vector<std::pair<std::string, int32_t>>;

TEST(EnumerationTables, HoldEveryRowInOrderWithItsDefault) {
  EXPECT_EQ(rowsOf(kRangeNames), (Rows{{"RANGE_0_5V", 0},
                                       {"RANGE_1_0V", 1},
                                       {"RANGE_2_5V", 2},
                                       {"RANGE_5_0V", 3},
                                       {"RANGE_AUTO", 4},
                                       {"default", 3}}));
  EXPECT_EQ(rowsOf(kCouplingNames), (Rows{{"COUPLING_AC", 0}, {"COUPLING_DC", 1}, {"default", 1}}));
  EXPECT_EQ(
      rowsOf(kOscNames),
      (Rows{{"OSC_OFF", 0}, {"OSC_ON", 1}, {"OSC_REDUCED", 2}, {"OSC_AUTO", 3}, {"default", 1}}));
  EXPECT_EQ(rowsOf(kGainNames), (Rows{{"GAIN_HIGH", 0},
                                      {"GAIN_NORMAL", 1},
                                      {"GAIN_MEDIUM", 2},
                                      {"GAIN_LOW", 3},
                                      {"GAIN_AUTO", 4},
                                      {"default", 1}}));
  EXPECT_EQ(rowsOf(kAcNames),
            (Rows{{"AC_NORMAL", 1}, {"AC_SLOW", 0}, {"AC_AUTO", 2}, {"default", 1}}));
  EXPECT_EQ(rowsOf(kFilterNames),
            (Rows{{"FILTER_90K", 0}, {"FILTER_200K", 1}, {"FILTER_400K", 2}, {"default", 2}}));
  EXPECT_EQ(rowsOf(kProbeTypeNames),
            (Rows{{"TYPE_CAPACITANCE", 0}, {"TYPE_LASER", 1}, {"default", 0}}));
  EXPECT_EQ(rowsOf(kCalModeNames),
            (Rows{{"CALMODE_DEFAULT", 0}, {"CALMODE_USER", 1}, {"default", 0}}));
  EXPECT_EQ(rowsOf(kAlarmModeNames),
            (Rows{{"ALARM_RMS", 0}, {"ALARM_DNS", 1}, {"ALARM_BOTH", 2}, {"default", 2}}));

  // The relay usages: three general states, then the same eight levels for
  // the installation (16), each stage (32) and each probe (64).
  Rows relay{{"RELAY_UNUSED", 0}, {"RELAY_CONFIG_OPERATIONAL", 1}, {"RELAY_PROBES_OPERATIONAL", 2}};
  const char* levels[] = {"LOW_ALARM",      "LOW_WARNING",  "HIGH_WARNING",    "HIGH_ALARM",
                          "STATIC_WARNING", "STATIC_ALARM", "DYNAMIC_WARNING", "DYNAMIC_ALARM"};
  for (const auto& [prefix, base] :
       {std::pair{"RELAY_", 16}, {"RELAY_STAGE_", 32}, {"RELAY_PROBE_", 64}}) {
    for (int i = 0; i < 8; ++i) relay.emplace_back(std::string(prefix) + levels[i], base + i);
  }
  relay.emplace_back("default", 0);
  EXPECT_EQ(rowsOf(kRelayUsageNames), relay);
}

TEST(EnumerationTables, NamesAndValuesMapBothWays) {
  for (const EnumName* table :
       {kRangeNames, kCouplingNames, kRelayUsageNames, kOscNames, kGainNames, kAcNames,
        kFilterNames, kProbeTypeNames, kCalModeNames, kAlarmModeNames}) {
    for (const EnumName* row = table; row->name[0] != '\0'; ++row) {
      EXPECT_EQ(enumValueOf(table, view(row->name)), row->value) << row->name;
      EXPECT_STREQ(enumNameOf(table, row->value), row->name);
    }
  }
}

TEST(EnumerationTables, UnknownNamesGiveTheDefaultAndUnknownValuesTheEmptyName) {
  EXPECT_EQ(enumValueOf(kCouplingNames, view("RANGE_AUTO")), COUPLING_DC);  // another table's
  EXPECT_EQ(enumValueOf(kOscNames, view("osc_auto")), OSC_ON);              // case matters
  EXPECT_EQ(enumValueOf(kOscNames, view("OSC_AUT")), OSC_ON);               // a prefix
  EXPECT_EQ(enumValueOf(kOscNames, view("OSC_AUTOX")), OSC_ON);
  EXPECT_EQ(enumValueOf(kRelayUsageNames, view("")), RELAY_UNUSED);
  EXPECT_EQ(enumValueOf(kRangeNames, TextBuffer()), RANGE_5_0V);

  EXPECT_STREQ(enumNameOf(kRelayUsageNames, 5), "");
  EXPECT_STREQ(enumNameOf(kRelayUsageNames, 24), "");
  EXPECT_STREQ(enumNameOf(kRelayUsageNames, int64_t{1} << 32), "");
  EXPECT_STREQ(enumNameOf(kAcNames, 0), "AC_SLOW");
  EXPECT_EQ(enumValueOf(kAcNames, view("AC_NORMAL")), AC_NORMAL);
  EXPECT_STREQ(enumNameOf(kRangeNames, 3), "RANGE_5_0V");  // the default's value has a name
}

TEST(FieldTables, AreHeldInTheirFixedOrderWithTheirRowCounts) {
  const FieldDescriptor* expected[] = {kChannelFields,      kRelayFields, kProbeFields,
                                       kHostFields,         kRackFields,  kStageFields,
                                       kConfigurationFields};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(kFieldTables[i], expected[i]);
  EXPECT_EQ(fieldCount(kChannelFields), 2u);
  EXPECT_EQ(fieldCount(kRelayFields), 3u);
  EXPECT_EQ(fieldCount(kProbeFields), 25u);
  EXPECT_EQ(fieldCount(kHostFields), 6u);
  EXPECT_EQ(fieldCount(kRackFields), 3u);
  EXPECT_EQ(fieldCount(kStageFields), 15u);
  EXPECT_EQ(fieldCount(kConfigurationFields), 49u);
}

// Every row: the size its type code calls for, an enumeration exactly for E,
// a unique key, and a field of its own inside the record (two rows that
// reach the same field would lose one value silently).
TEST(FieldTables, RowsHaveTheirTypeSizeAndDistinctFieldsInsideTheRecord) {
  Configuration configuration;
  configuration.hosts.setLength(1);
  configuration.racks.setLength(1);
  struct Kind {
    const FieldDescriptor* table;
    void* record;
    size_t size;
  };
  const Kind kinds[] = {
      {kChannelFields, &configuration.hosts.at(0).channels[0], sizeof(Channel)},
      {kRelayFields, &configuration.racks.at(0).relays[0], sizeof(Relay)},
      {kProbeFields, &configuration.racks.at(0).probes[0], sizeof(Probe)},
      {kHostFields, &configuration.hosts.at(0), sizeof(Host)},
      {kRackFields, &configuration.racks.at(0), sizeof(Rack)},
      {kStageFields, &configuration.stages.at(0), sizeof(Stage)},
      {kConfigurationFields, &configuration, sizeof(Configuration)},
  };
  for (const Kind& kind : kinds) {
    std::vector<std::pair<const char*, const char*>> spans;
    for (const FieldDescriptor* row = kind.table; row->key != nullptr; ++row) {
      SCOPED_TRACE(row->key);
      const int32_t expectedSize = row->type == kFieldEnum       ? 4
                                   : row->type == kFieldString   ? 8
                                   : row->type == kFieldInteger  ? 4
                                   : row->type == kFieldReal     ? 8
                                   : row->type == kFieldBoolean  ? 1
                                   : row->type == kFieldUnsigned ? 8
                                                                 : -1;
      EXPECT_EQ(row->size, expectedSize);
      EXPECT_EQ(row->enumTable != nullptr, row->type == kFieldEnum);
      EXPECT_EQ(findField(kind.table, view(row->key)), row);
      const char* begin = static_cast<const char*>(fieldAddress(*row, kind.record));
      const char* base = static_cast<const char*>(kind.record);
      EXPECT_GE(begin, base);
      EXPECT_LE(begin + row->size, base + kind.size);
      for (const auto& [b, e] : spans) EXPECT_TRUE(begin + row->size <= b || begin >= e);
      spans.emplace_back(begin, begin + row->size);
    }
  }
  EXPECT_EQ(findField(kStageFields, view("name")), nullptr);  // effective names are derived
  EXPECT_EQ(findField(kConfigurationFields, view("Name")), nullptr);
}

}  // namespace
}  // namespace cdt
