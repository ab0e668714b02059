#include "config/model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <string>

#include "foundation/host_name.h"
#include "foundation/time_value.h"

namespace cdt {
namespace {

// Counts change notifications.
class CountingConfiguration : public Configuration {
 public:
  CountingConfiguration() = default;
  // The count belongs to this object: copies start from zero.
  CountingConfiguration(const CountingConfiguration& other) : Configuration(other) {}
  CountingConfiguration& operator=(const CountingConfiguration& other) {
    Configuration::operator=(other);
    return *this;
  }
  void onChanged() override { ++changes; }
  int changes = 0;
};

// Three stages, two hosts (8 channels) and two racks (24 probes and relays).
Configuration makeInstallation() {
  Configuration c;
  c.insertStage(1);
  c.insertStage(2);
  c.insertHost(0, "daq-a");
  c.insertHost(1, "daq-b");
  c.insertRack(0, "rack-a");
  c.insertRack(1, "rack-b");
  c.modified = false;
  return c;
}

TEST(Checksum64, EcmaPolynomialWithoutFinalXor) {
  EXPECT_EQ(checksum64("123456789", 9, ~uint64_t{0}), 0x9D13A61C0E5B0FF5ull);
  EXPECT_EQ(checksum64("", 0, 0x1234), 0x1234u);
  // The start value carries over: two halves give the same as the whole.
  uint64_t half = checksum64("1234", 4, ~uint64_t{0});
  EXPECT_EQ(checksum64("56789", 5, half), 0x9D13A61C0E5B0FF5ull);
}

TEST(ConfigurationModel, FreshConfigurationDefaults) {
  const uint64_t before = currentTime();
  Configuration c;
  const uint64_t after = currentTime();

  ASSERT_EQ(c.stages.size(), 1u);
  EXPECT_EQ(c.stages[0].name, "Stage1");
  EXPECT_TRUE(c.stages[0].userName.empty());
  EXPECT_EQ(c.stages[0].blades, 50);
  EXPECT_EQ(c.stages[0].owner, &c);
  EXPECT_TRUE(c.hosts.empty());
  EXPECT_TRUE(c.racks.empty());
  EXPECT_TRUE(c.connectedProbes.empty());
  EXPECT_FALSE(c.modified);
  EXPECT_TRUE(c.advancedIsDefault());

  EXPECT_GE(c.creationTime, before);
  EXPECT_LE(c.creationTime, after);
  EXPECT_EQ(c.modificationTime, c.creationTime);
  const std::string seconds = std::to_string(c.creationTime / 1000000);
  EXPECT_EQ(c.name.str(), "CS" + seconds);
  EXPECT_EQ(c.fullName.str(), "CS-" + localComputerName().str() + "-" + seconds);

  const uint64_t digest = checksum64(c.fullName.c_str(), c.fullName.length(), ~uint64_t{0});
  EXPECT_EQ(c.maintainer.adminPassword, digest);
  EXPECT_EQ(c.maintainer.userPassword, digest);
}

TEST(ConfigurationModel, CountLineEntitiesStartFromInsertionValues) {
  // What the text reader does for entities a count line creates.
  Configuration grown;
  grown.stages.setLength(2);
  grown.hosts.setLength(1);
  grown.racks.setLength(1);
  grown.initialiseNewRack(0);
  grown.relink();

  Configuration inserted;
  inserted.insertStage(1);
  inserted.insertHost(0, nullptr);
  inserted.insertRack(0, nullptr);

  const Stage& s = grown.stages[1];
  EXPECT_EQ(s.blades, 50);
  EXPECT_EQ(s.staticWarning, 2.0);
  EXPECT_EQ(s.clearanceHysteresis, 1.0);
  const Host& h = grown.hosts[0];
  EXPECT_TRUE(h.oncePerRev);
  EXPECT_FALSE(h.isMaster);
  EXPECT_EQ(h.channels[3].range, RANGE_AUTO);
  EXPECT_EQ(h.channels[3].coupling, COUPLING_DC);
  for (uint32_t n = 0; n < 12; ++n) {
    const Probe& a = grown.probeAt(n);
    const Probe& b = inserted.probeAt(n);
    EXPECT_EQ(a.channelIndex, -1);
    EXPECT_EQ(a.stageIndex, 0);
    EXPECT_EQ(a.thresholds().highAlarm, b.thresholds().highAlarm);
    EXPECT_EQ(a.calMode, b.calMode);
    EXPECT_EQ(a.calDate, b.calDate);
    EXPECT_EQ(a.calData.size(), b.calData.size());
    EXPECT_EQ(std::memcmp(a.memoryImage, b.memoryImage, kProbeMemorySize), 0);
    EXPECT_EQ(grown.relayAt(n).usage, RELAY_UNUSED);
    EXPECT_EQ(grown.relayAt(n).sourceIndex, -1);
  }
}

TEST(Relink, LowerProbeNumberKeepsAClaimedChannel) {
  Configuration c = makeInstallation();
  c.probeAt(0).channelIndex = 3;
  c.probeAt(5).channelIndex = 3;
  c.probeAt(13).channelIndex = 6;
  c.probeAt(14).channelIndex = 8;  // past the last channel
  c.relink();

  const Probe& keeper = c.probeAt(0);
  const Probe& loser = c.probeAt(5);
  EXPECT_EQ(keeper.channelIndex, 3);
  EXPECT_EQ(keeper.connectedIndex, 0);
  EXPECT_EQ(keeper.channel, &c.channelAt(3));
  EXPECT_EQ(c.channelAt(3).probe, &keeper);
  EXPECT_EQ(loser.channelIndex, -1);
  EXPECT_EQ(loser.connectedIndex, -1);
  EXPECT_EQ(loser.channel, nullptr);
  EXPECT_EQ(c.probeAt(14).channelIndex, -1);

  ASSERT_EQ(c.connectedProbes.size(), 2u);
  EXPECT_EQ(c.connectedProbes[1], &c.probeAt(13));
  EXPECT_EQ(c.probeAt(13).connectedIndex, 1);
  EXPECT_EQ(c.hosts[0].connectedProbeCount, 1);
  EXPECT_EQ(c.hosts[1].connectedProbeCount, 1);
  EXPECT_EQ(c.racks[0].connectedProbeCount, 1);
  EXPECT_EQ(c.racks[1].connectedProbeCount, 1);
  EXPECT_EQ(c.channelAt(6).host, &c.hosts[1]);
  EXPECT_EQ(c.channelAt(6).hostChannel, 2);
  EXPECT_EQ(c.stages[0].connectedProbes.size(), 2u);
  EXPECT_EQ(c.stages[0].probes.size(), 24u);
}

TEST(Relink, StageIndexClampsAsUnsigned) {
  Configuration c = makeInstallation();
  c.probeAt(1).stageIndex = 7;
  c.probeAt(2).stageIndex = -1;
  c.probeAt(3).stageIndex = 1;
  c.relink();
  EXPECT_EQ(c.probeAt(1).stageIndex, 2);
  EXPECT_EQ(c.probeAt(2).stageIndex, 2);
  EXPECT_EQ(c.probeAt(2).stage, &c.stages[2]);
  EXPECT_EQ(c.probeAt(3).stage, &c.stages[1]);
  ASSERT_EQ(c.stages[2].probes.size(), 2u);
  EXPECT_EQ(c.stages[2].probes[0], &c.probeAt(1));
  EXPECT_EQ(c.stages[1].probes.size(), 1u);
  EXPECT_EQ(c.stages[0].probes.size(), 21u);
}

TEST(Relink, RelaySourcesResetByUsageClass) {
  Configuration c = makeInstallation();
  auto set = [&](uint32_t n, int32_t usage, int32_t source) {
    c.relayAt(n).usage = usage;
    c.relayAt(n).sourceIndex = source;
  };
  set(0, RELAY_STAGE_LOW_ALARM, 3);  // one past the stages
  set(1, RELAY_HIGH_ALARM, 5);       // installation-wide: no source
  set(2, RELAY_PROBE_HIGH_ALARM, 24);
  set(3, RELAY_PROBE_STATIC_ALARM, 23);
  set(4, RELAY_STAGE_DYNAMIC_ALARM, 2);
  set(5, RELAY_STAGE_HIGH_ALARM, -1);
  c.relink();

  EXPECT_EQ(c.relayAt(0).usage, RELAY_UNUSED);
  EXPECT_EQ(c.relayAt(0).sourceIndex, -1);
  EXPECT_EQ(c.relayAt(1).usage, RELAY_HIGH_ALARM);
  EXPECT_EQ(c.relayAt(1).sourceIndex, -1);
  EXPECT_EQ(c.relayAt(2).usage, RELAY_UNUSED);
  EXPECT_EQ(c.relayAt(3).sourceProbe, &c.probeAt(23));
  EXPECT_EQ(c.relayAt(4).sourceStage, &c.stages[2]);
  EXPECT_EQ(c.relayAt(5).usage, RELAY_UNUSED);
  EXPECT_TRUE(c.isProbeRelay(3));
  EXPECT_TRUE(c.isStageRelay(4));
  EXPECT_TRUE(c.isAlarmRelay(1));
  EXPECT_FALSE(c.isAlarmRelay(4));
}

TEST(Naming, DefaultNamesAndTheRenameRule) {
  Configuration c = makeInstallation();
  EXPECT_EQ(c.hosts[1].name, "Daq2");
  EXPECT_EQ(c.racks[1].name, "Rack2");
  EXPECT_EQ(c.probeAt(12).name, "Probe201");
  EXPECT_EQ(c.relayAt(23).name, "Relay212");

  c.setStageName(1, "Fan");
  EXPECT_EQ(c.stages[1].name, "Fan");
  EXPECT_EQ(c.stages[1].userName, "Fan");

  c.setStageName(1, "Stage2");  // its own default name
  EXPECT_TRUE(c.stages[1].userName.empty());
  EXPECT_EQ(c.stages[1].name, "Stage2");

  c.setStageName(1, "Fan");
  c.setStageName(1, "");
  EXPECT_TRUE(c.stages[1].userName.empty());
  EXPECT_EQ(c.stages[1].name, "Stage2");

  c.swapStages(0, 1);
  EXPECT_EQ(c.stages[0].name, "Stage1");

  // A user name travels with the entity.
  c.setStageName(0, "Booster");
  c.swapStages(0, 2);
  EXPECT_EQ(c.stages[2].name, "Booster");
  EXPECT_EQ(c.stages[0].name, "Stage1");

  c.setProbeName(13, "Probe202");
  EXPECT_TRUE(c.probeAt(13).userName.empty());
  c.setProbeName(13, nullptr);
  EXPECT_EQ(c.probeAt(13).name, "Probe202");
  c.setHostName(0, "Daq2");  // another position's default is a user name
  EXPECT_EQ(c.hosts[0].userName, "Daq2");
}

TEST(Lookups, FirstMatchAndEmptyText) {
  Configuration c = makeInstallation();
  c.setStageName(2, "Fan");
  c.setProbeChannelIndex(14, 1);
  EXPECT_EQ(c.findStage("Fan"), &c.stages.at(2));
  EXPECT_EQ(c.findStage("Fa"), nullptr);
  EXPECT_EQ(c.findHost("Daq2"), &c.hosts.at(1));
  EXPECT_EQ(c.findHost("daq-b", true), &c.hosts.at(1));
  EXPECT_EQ(c.findHost("daq-b"), nullptr);
  EXPECT_EQ(c.findProbe("Probe203"), &c.probeAt(14));
  EXPECT_EQ(c.findRelay("Relay112"), &c.relayAt(11));
  EXPECT_EQ(c.findConnectedProbe("Probe203"), &c.probeAt(14));
  EXPECT_EQ(c.findConnectedProbe("Probe101"), nullptr);

  c.setHostHostName(1, "");
  EXPECT_EQ(c.findHost(nullptr, true), &c.hosts.at(1));
  EXPECT_EQ(c.findStage(""), nullptr);
}

TEST(DerivedValues, ProbeAndBladePhase) {
  Configuration c = makeInstallation();
  EXPECT_DOUBLE_EQ(c.probePhase(0), 0.99);
  EXPECT_DOUBLE_EQ(c.bladePhase(0), 0.5);
  EXPECT_EQ(c.probePhase(0, 1000), 990u);
  EXPECT_EQ(c.bladePhase(0, 1000), 500u);

  c.setStageBlades(0, 40);
  c.setProbePosition(1, std::numbers::pi, 0.0, 0.0);
  c.setStageOprToBlade0(0, std::numbers::pi / 2);
  EXPECT_DOUBLE_EQ(c.probePhase(1), 0.75 - 0.0125);
  EXPECT_NEAR(c.bladePhase(1), 0.5, 1e-9);

  c.setStageBlades(0, 0);  // a stage without blades must not fault
  (void)c.probePhase(1, UINT64_MAX);
  (void)c.bladePhase(1, UINT64_MAX);
}

TEST(DerivedValues, MasterAndClockAreExclusive) {
  Configuration c = makeInstallation();
  EXPECT_EQ(c.masterHostIndex(), 0);
  c.setHostIsMaster(1, true);
  EXPECT_FALSE(c.hosts[0].isMaster);
  EXPECT_EQ(c.masterHostIndex(), 1);
  c.setHostIsMaster(1, false);
  EXPECT_EQ(c.masterHostIndex(), -1);

  c.setHostHasClock(0, true);
  c.setHostHasClock(1, true);
  EXPECT_FALSE(c.hosts[0].hasClock);
  EXPECT_TRUE(c.hosts[1].hasClock);
}

TEST(ConfigurationCopy, CopyAndAssignmentAreIndependent) {
  Configuration original = makeInstallation();
  original.setProbeChannelIndex(2, 5);
  original.insertCalPoint(2, 0, {1, 2, 3});
  original.probeAt(3).demodulator = {9, -1, 2, 7, 5};  // out of range, as from a file
  original.modified = true;

  Configuration copy(original);
  EXPECT_TRUE(copy.modified);
  EXPECT_EQ(copy.name, original.name);
  EXPECT_EQ(copy.creationTime, original.creationTime);
  // Links point into the copy's own arrays.
  EXPECT_EQ(copy.probeAt(2).channel, &copy.channelAt(5));
  EXPECT_EQ(copy.channelAt(5).probe, &copy.probeAt(2));
  EXPECT_EQ(copy.probeAt(2).rack, &copy.racks[0]);
  ASSERT_EQ(copy.connectedProbes.size(), 1u);
  EXPECT_EQ(copy.connectedProbes[0], &copy.probeAt(2));
  EXPECT_EQ(copy.stages[0].probes[0], &copy.probeAt(0));
  EXPECT_EQ(copy.stages[0].owner, &copy);
  // The probe copy validates the demodulator.
  EXPECT_EQ(copy.probeAt(3).demodulator.osc, OSC_AUTO);
  EXPECT_EQ(copy.probeAt(3).demodulator.gain, GAIN_AUTO);
  EXPECT_EQ(copy.probeAt(3).demodulator.ac, AC_AUTO);
  EXPECT_EQ(copy.probeAt(3).demodulator.filter, FILTER_400K);
  EXPECT_EQ(copy.probeAt(3).demodulator.demodulatorExtra, 2);

  copy.setProbeName(2, "Copied");
  copy.setCalPoint(2, 0, {0.5, 0, 0});
  copy.setStageBlades(1, 12);
  copy.setHostHostName(0, "elsewhere");
  copy.setProbeChannelIndex(2, 6);
  copy.removeRack(1);
  EXPECT_EQ(original.probeAt(2).name, "Probe103");
  EXPECT_EQ(original.probeAt(2).calData[0].x, 0.0);
  EXPECT_EQ(original.stages[1].blades, 50);
  EXPECT_EQ(original.hosts[0].hostName, "daq-a");
  EXPECT_EQ(original.channelAt(5).probe, &original.probeAt(2));
  EXPECT_EQ(original.racks.size(), 2u);

  Configuration assigned;
  assigned = original;
  EXPECT_EQ(assigned.racks.size(), 2u);
  EXPECT_EQ(assigned.probeAt(2).channel, &assigned.channelAt(5));
  assigned.setProbeCalComments(2, "changed");
  EXPECT_TRUE(original.probeAt(2).calComments.empty());
  const Configuration& same = assigned;
  assigned = same;  // self-assignment keeps everything
  EXPECT_EQ(assigned.probeAt(2).calComments, "changed");
}

TEST(ChangeHook, SettersAndEditsNotifyCopiesDoNot) {
  CountingConfiguration c;
  EXPECT_EQ(c.changes, 0);
  c.setSampleRate(5.0);
  c.insertHost(0, "h");
  c.insertRack(0, nullptr);
  c.setProbeChannelIndex(0, 0);
  EXPECT_EQ(c.changes, 4);

  c.setHostAltNames(0, "other");  // replaced but not a change
  EXPECT_EQ(c.hosts[0].altNames, "other");
  unsigned char image[kProbeMemorySize] = {};
  c.setProbeMemoryImage(0, image);
  c.removeStage(0);  // refused: the last stage
  EXPECT_EQ(c.changes, 4);

  CountingConfiguration copy(c);
  EXPECT_EQ(copy.changes, 0);
  CountingConfiguration assigned;
  assigned = c;
  EXPECT_EQ(assigned.changes, 0);
  EXPECT_TRUE(assigned.modified);
}

TEST(Setters, CrossReferencesAndValidation) {
  Configuration c = makeInstallation();
  c.setProbeChannelIndex(0, 2);
  c.setProbeChannelIndex(7, 2);  // takes the channel from probe 0
  EXPECT_EQ(c.probeAt(0).channelIndex, -1);
  EXPECT_EQ(c.channelAt(2).probe, &c.probeAt(7));

  c.setStageThresholds(2, {1, 2, 3, 4, 5, 6, 7, 8});
  c.setProbeStageIndex(7, 9);  // clamped to stage 2, thresholds follow it
  EXPECT_EQ(c.probeAt(7).stageIndex, 2);
  EXPECT_EQ(c.probeAt(7).dynamicAlarm, 8.0);
  c.setProbeAlarms(7, true, {9, 9, 9, 9, 9, 9, 9, 9});
  EXPECT_EQ(c.probeAt(7).lowAlarm, 1.0);
  c.setProbeAlarms(7, false, {9, 9, 9, 9, 9, 9, 9, 9});
  EXPECT_EQ(c.probeAt(7).lowAlarm, 9.0);
  EXPECT_FALSE(c.probeAt(7).stageAlarms);
  c.setProbeStageIndex(7, 0);  // own thresholds stay
  EXPECT_EQ(c.probeAt(7).lowAlarm, 9.0);
  EXPECT_EQ(c.probeAt(7).stage, &c.stages[0]);

  c.setStageHystereses(1, 1, 2, 3);  // clearance, dynamic, static
  EXPECT_EQ(c.stages[1].clearanceHysteresis, 1.0);
  EXPECT_EQ(c.stages[1].dynamicHysteresis, 2.0);
  EXPECT_EQ(c.stages[1].staticHysteresis, 3.0);
  c.setProbePosition(4, 1, 2, 3);
  EXPECT_EQ(c.probeAt(4).radialPosition, 1.0);
  EXPECT_EQ(c.probeAt(4).axialPosition, 2.0);
  EXPECT_EQ(c.probeAt(4).setBack, 3.0);

  c.probeAt(1).demodulator.demodulatorExtra = 5;
  c.setProbeDemodulator(1, 4, 5, 3, -1);
  EXPECT_EQ(c.probeAt(1).demodulator.osc, OSC_AUTO);
  EXPECT_EQ(c.probeAt(1).demodulator.gain, GAIN_AUTO);
  EXPECT_EQ(c.probeAt(1).demodulator.ac, AC_AUTO);
  EXPECT_EQ(c.probeAt(1).demodulator.filter, FILTER_400K);
  EXPECT_EQ(c.probeAt(1).demodulator.demodulatorExtra, 5);
  EXPECT_EQ(validatedLaserDemodulator({3, 1, 1, 1, 0}).osc, OSC_ON);  // 3 is capacitance-only

  c.setRelayUsage(12, RELAY_PROBE_LOW_ALARM, 30);
  EXPECT_EQ(c.relayAt(12).usage, RELAY_UNUSED);
  c.setRelayUsage(12, RELAY_PROBE_LOW_ALARM, 7);
  EXPECT_EQ(c.relayAt(12).sourceProbe, &c.probeAt(7));
}

TEST(Setters, ModifiedFlagAndTimes) {
  Configuration c = makeInstallation();
  c.setRackAltNames(0, nullptr);  // unchanged: not a change
  EXPECT_FALSE(c.modified);
  c.setRackAltNames(0, "b");
  EXPECT_TRUE(c.modified);
  EXPECT_EQ(c.racks[0].altNames, "b");

  c.modified = false;
  c.creationTime = 1;
  c.modificationTime = 2;
  c.setName("Rig 4");
  EXPECT_EQ(c.name, "Rig 4");
  EXPECT_GT(c.creationTime, 2u);
  EXPECT_EQ(c.modificationTime, c.creationTime);
  EXPECT_TRUE(c.modified);
}

}  // namespace
}  // namespace cdt
