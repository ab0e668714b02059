#include <gtest/gtest.h>

#include <cstring>

#include "config/calibration.h"
#include "config/field_lines.h"
#include "config/model.h"

namespace cdt {
namespace {

// Three stages S0..S2 (told apart by their blade counts 10, 11, 12), two
// hosts and two racks; not modified.
Configuration makeInstallation() {
  Configuration c;
  c.insertStage(1);
  c.insertStage(2);
  for (uint32_t s = 0; s < 3; ++s) c.setStageBlades(s, static_cast<int32_t>(10 + s));
  c.insertHost(0, "daq-a");
  c.insertHost(1, "daq-b");
  c.insertRack(0, nullptr);
  c.insertRack(1, nullptr);
  c.modified = false;
  return c;
}

// Runs `edit` and expects it to leave the configuration as it was.
template <class Edit>
void expectRefused(Configuration& c, Edit edit) {
  c.modified = false;
  const uint32_t stages = c.stages.size();
  const uint32_t hosts = c.hosts.size();
  const uint32_t racks = c.racks.size();
  edit();
  EXPECT_FALSE(c.modified);
  EXPECT_EQ(c.stages.size(), stages);
  EXPECT_EQ(c.hosts.size(), hosts);
  EXPECT_EQ(c.racks.size(), racks);
}

TEST(StageEdits, RefusedEditsChangeNothing) {
  Configuration single;
  expectRefused(single, [&] { single.removeStage(0); });
  Configuration c = makeInstallation();
  expectRefused(c, [&] { c.removeStage(3); });
  expectRefused(c, [&] { c.swapStages(1, 1); });
  expectRefused(c, [&] { c.swapStages(0, 3); });
  expectRefused(c, [&] { c.removeHost(2); });
  expectRefused(c, [&] { c.swapHosts(0, 0); });
  expectRefused(c, [&] { c.swapHosts(2, 0); });
  expectRefused(c, [&] { c.removeRack(2); });
  expectRefused(c, [&] { c.swapRacks(1, 5); });
}

TEST(StageEdits, RemoveRenumbersProbesAndStageRelays) {
  Configuration c = makeInstallation();
  c.setProbeStageIndex(0, 1);
  c.setProbeStageIndex(1, 2);
  c.setRelayUsage(0, RELAY_STAGE_HIGH_ALARM, 1);
  c.setRelayUsage(1, RELAY_STAGE_HIGH_ALARM, 2);
  c.setRelayUsage(2, RELAY_PROBE_HIGH_ALARM, 2);  // a probe number: untouched
  c.modified = false;

  c.removeStage(1);
  EXPECT_TRUE(c.modified);
  ASSERT_EQ(c.stages.size(), 2u);
  EXPECT_EQ(c.stages[1].blades, 12);
  EXPECT_EQ(c.stages[1].name, "Stage2");
  EXPECT_EQ(c.probeAt(0).stageIndex, 1);  // watched the removed stage: last stage
  EXPECT_EQ(c.probeAt(1).stageIndex, 1);
  EXPECT_EQ(c.probeAt(1).stage, &c.stages[1]);
  EXPECT_EQ(c.relayAt(0).usage, RELAY_UNUSED);
  EXPECT_EQ(c.relayAt(0).sourceIndex, -1);
  EXPECT_EQ(c.relayAt(1).sourceIndex, 1);
  EXPECT_EQ(c.relayAt(1).sourceStage, &c.stages[1]);
  EXPECT_EQ(c.relayAt(2).sourceIndex, 2);
}

TEST(StageEdits, InsertClampsAndCopiesTheNeighbour) {
  Configuration c;
  c.insertStage(1);
  c.setStageBlades(1, 77);
  c.setStageName(1, "Fan");
  EXPECT_EQ(c.insertStage(10), 2u);
  ASSERT_EQ(c.stages.size(), 3u);
  EXPECT_EQ(c.stages[2].blades, 77);
  EXPECT_TRUE(c.stages[2].userName.empty());
  EXPECT_EQ(c.stages[2].name, "Stage3");
  EXPECT_EQ(c.stages[1].name, "Fan");
}

TEST(StageEdits, InsertAtFrontShiftsEveryStageReference) {
  Configuration c = makeInstallation();
  c.setProbeStageIndex(5, 2);
  c.setRelayUsage(3, RELAY_STAGE_LOW_WARNING, 0);
  c.setRelayUsage(4, RELAY_STAGE_LOW_WARNING, 1);
  c.setStageThresholds(0, {1, 2, 3, 4, 5, 6, 7, 8});

  EXPECT_EQ(c.insertStage(0), 0u);
  ASSERT_EQ(c.stages.size(), 4u);
  EXPECT_EQ(c.stages[0].blades, 10);  // copied from the former first stage
  EXPECT_EQ(c.stages[0].dynamicAlarm, 8.0);
  EXPECT_EQ(c.stages[1].blades, 10);
  EXPECT_EQ(c.probeAt(5).stageIndex, 3);
  EXPECT_EQ(c.probeAt(6).stageIndex, 1);
  EXPECT_EQ(c.probeAt(5).stage->blades, 12);
  EXPECT_EQ(c.relayAt(3).sourceIndex, 1);
  EXPECT_EQ(c.relayAt(4).sourceIndex, 2);
  EXPECT_EQ(c.relayAt(4).sourceStage, &c.stages[2]);
}

// Only references at or after the insertion point move; the new stage takes
// every stored field of its predecessor except the user name.
TEST(StageEdits, InsertInTheMiddleShiftsLaterReferencesAndCopiesEveryField) {
  Configuration c = makeInstallation();
  c.setStageName(1, "Fan");
  c.setStageDiameter(1, 2.5);
  c.setStageOprToBlade0(1, 0.5);
  c.setStageThresholds(1, {1, 2, 3, 4, 5, 6, 7, 8});
  c.setStageHystereses(1, 9, 10, 11);
  for (uint32_t s = 0; s < 3; ++s) {
    c.setProbeStageIndex(s, static_cast<int32_t>(s));
    c.setRelayUsage(s, RELAY_STAGE_LOW_ALARM, static_cast<int32_t>(s));
  }

  EXPECT_EQ(c.insertStage(2), 2u);
  for (uint32_t s = 0; s < 3; ++s) {
    const int32_t expected = s < 2 ? static_cast<int32_t>(s) : 3;
    EXPECT_EQ(c.probeAt(s).stageIndex, expected) << s;
    EXPECT_EQ(c.relayAt(s).sourceIndex, expected) << s;
  }
  EXPECT_TRUE(c.stages[2].userName.empty());
  EXPECT_EQ(c.stages[2].name, "Stage3");
  c.setStageName(1, "");
  CountedString before;
  CountedString inserted;
  writeFieldLines(kStageFields, &c.stages[1], before, 0);
  writeFieldLines(kStageFields, &c.stages[2], inserted, 0);
  EXPECT_EQ(inserted.str(), before.str());
}

TEST(StageEdits, SwapExchangesRecordsAndReferences) {
  Configuration c = makeInstallation();
  c.setProbeStageIndex(0, 0);
  c.setProbeStageIndex(1, 1);
  c.setProbeStageIndex(2, 2);
  c.setRelayUsage(0, RELAY_STAGE_STATIC_ALARM, 2);
  c.swapStages(0, 2);
  EXPECT_EQ(c.stages[0].blades, 12);
  EXPECT_EQ(c.stages[2].blades, 10);
  EXPECT_EQ(c.probeAt(0).stageIndex, 2);
  EXPECT_EQ(c.probeAt(1).stageIndex, 1);
  EXPECT_EQ(c.probeAt(2).stageIndex, 0);
  EXPECT_EQ(c.probeAt(0).stage->blades, 10);  // still watches the same stage
  EXPECT_EQ(c.relayAt(0).sourceIndex, 0);
  EXPECT_EQ(c.stages[0].probes.size(), 1u);
  EXPECT_EQ(c.stages[2].probes.size(), 22u);
}

TEST(HostEdits, InsertMakesTheFirstHostMaster) {
  Configuration c;
  EXPECT_EQ(c.insertHost(0, "a"), 0u);
  EXPECT_TRUE(c.hosts[0].isMaster);
  EXPECT_EQ(c.insertHost(9, nullptr), 1u);
  EXPECT_FALSE(c.hosts[1].isMaster);
  EXPECT_TRUE(c.hosts[1].hostName.empty());
  EXPECT_EQ(c.masterHostIndex(), 0);
}

TEST(HostEdits, ChannelNumbersKeepDesignatingPositions) {
  Configuration c = makeInstallation();
  c.setProbeChannelIndex(0, 1);
  c.setProbeChannelIndex(1, 5);
  c.setChannelRange(1, RANGE_1_0V);

  c.insertHost(0, "front");
  EXPECT_EQ(c.probeAt(0).channelIndex, 1);
  EXPECT_EQ(c.probeAt(0).channel->host, &c.hosts[0]);
  EXPECT_EQ(c.hosts[0].hostName, "front");
  EXPECT_EQ(c.hosts[1].channels[1].range, RANGE_1_0V);
  EXPECT_EQ(c.hosts[0].connectedProbeCount, 1);

  c.swapHosts(0, 2);
  EXPECT_EQ(c.probeAt(1).channelIndex, 5);
  EXPECT_EQ(c.probeAt(1).channel, &c.hosts[1].channels[1]);
  EXPECT_EQ(c.hosts[0].hostName, "daq-b");
  EXPECT_EQ(c.hosts[0].name, "Daq1");

  c.removeHost(2);
  c.removeHost(0);  // one host left: channels 0..3
  EXPECT_EQ(c.probeAt(0).channelIndex, 1);
  EXPECT_EQ(c.probeAt(1).channelIndex, -1);
  EXPECT_EQ(c.probeAt(1).channel, nullptr);
  EXPECT_EQ(c.connectedProbes.size(), 1u);
}

TEST(RackEdits, InsertedRackIsDisconnectedWithDefaultCalibration) {
  Configuration c;
  c.insertStage(1);
  c.setStageThresholds(0, {1, 2, 3, 4, 5, 6, 7, 8});
  c.modified = false;
  EXPECT_EQ(c.insertRack(7, "chassis"), 0u);
  EXPECT_TRUE(c.modified);
  EXPECT_EQ(c.racks[0].hostName, "chassis");
  for (uint32_t n = 0; n < kSlotsPerRack; ++n) {
    const Probe& p = c.probeAt(n);
    EXPECT_EQ(p.channelIndex, -1);
    EXPECT_EQ(p.stageIndex, 0);
    EXPECT_TRUE(p.stageAlarms);
    EXPECT_EQ(p.highAlarm, 4.0);
    EXPECT_EQ(p.calMode, CALMODE_DEFAULT);
    EXPECT_EQ(p.calGain, GAIN_NORMAL);
    EXPECT_EQ(p.calDate, "N/A");
    EXPECT_EQ(p.calDiscSerialNo, "N/A");
    ASSERT_EQ(p.calData.size(), 2u);
    EXPECT_EQ(p.calData[1].x, 5.0);
    EXPECT_EQ(p.demodulator.osc, OSC_AUTO);
    EXPECT_EQ(p.memoryImage[211], 0x20);
    EXPECT_EQ(c.relayAt(n).usage, RELAY_UNUSED);
  }
}

TEST(RackEdits, ProbeNumbersKeepDesignatingPositions) {
  Configuration c = makeInstallation();  // racks A, B
  c.setRelayUsage(0, RELAY_PROBE_LOW_ALARM, 13);
  c.setProbeName(13, "Watched");
  c.insertRack(0, nullptr);                  // racks new, A, B
  EXPECT_EQ(c.relayAt(12).sourceIndex, 13);  // not adjusted
  EXPECT_EQ(c.relayAt(12).sourceProbe->name, "Probe202");

  c.setRelayUsage(24, RELAY_PROBE_LOW_ALARM, 23);
  c.removeRack(0);  // racks A, B: both numbers still exist
  EXPECT_EQ(c.relayAt(0).sourceIndex, 13);
  EXPECT_EQ(c.relayAt(0).sourceProbe->name, "Watched");
  EXPECT_EQ(c.relayAt(12).sourceIndex, 23);

  c.removeRack(1);  // rack A: 13 is past the 12 probes left
  EXPECT_EQ(c.relayAt(0).usage, RELAY_UNUSED);
  EXPECT_EQ(c.relayAt(0).sourceIndex, -1);
}

TEST(RackEdits, SwapMovesEveryProbeFieldThroughValidation) {
  Configuration c = makeInstallation();
  c.setProbeChannelIndex(3, 4);
  c.setProbeCalMode(3, CALMODE_USER);
  c.insertCalPoint(3, 2, {9, 9, 9});
  c.probeAt(3).memoryImage[100] = 0x41;
  c.probeAt(3).demodulator = {7, 1, 1, 1, 9};
  c.setRackName(0, "Left");

  c.swapRacks(0, 1);
  const Probe& moved = c.probeAt(15);
  EXPECT_EQ(moved.channelIndex, 4);
  EXPECT_EQ(c.channelAt(4).probe, &moved);
  EXPECT_EQ(moved.calMode, CALMODE_USER);
  EXPECT_EQ(moved.calData.size(), 3u);
  EXPECT_EQ(moved.memoryImage[100], 0x41);
  EXPECT_EQ(moved.demodulator.osc, OSC_AUTO);
  EXPECT_EQ(moved.demodulator.gain, GAIN_NORMAL);
  EXPECT_EQ(moved.demodulator.demodulatorExtra, 2);
  EXPECT_EQ(moved.name, "Probe204");
  EXPECT_EQ(c.racks[1].name, "Left");
  EXPECT_EQ(c.probeAt(3).channelIndex, -1);
  EXPECT_EQ(c.probeAt(3).calMode, CALMODE_DEFAULT);
}

TEST(CalPointEdits, PositionsAreCheckedAndPointsSorted) {
  Configuration c = makeInstallation();
  c.setProbeCalMode(0, CALMODE_USER);
  // Default points (0,0,0), (5,5,5).
  c.insertCalPoint(0, 2, {1, 1, 1});  // appended, then sorted into place
  ASSERT_EQ(c.probeAt(0).calData.size(), 3u);
  EXPECT_EQ(c.probeAt(0).calData[1].x, 1.0);
  EXPECT_EQ(c.probeAt(0).calData[2].x, 5.0);

  c.setCalPoint(0, 0, {7, 0, 0});
  EXPECT_EQ(c.probeAt(0).calData[0].x, 1.0);
  EXPECT_EQ(c.probeAt(0).calData[2].x, 7.0);

  c.removeCalPoint(0, 1);
  ASSERT_EQ(c.probeAt(0).calData.size(), 2u);
  EXPECT_EQ(c.probeAt(0).calData[1].x, 7.0);

  expectRefused(c, [&] { c.insertCalPoint(0, 3, {2, 2, 2}); });
  expectRefused(c, [&] { c.setCalPoint(0, 2, {2, 2, 2}); });
  expectRefused(c, [&] { c.removeCalPoint(0, 2); });
  expectRefused(c, [&] { c.insertCalPoint(24, 0, {2, 2, 2}); });
  EXPECT_EQ(c.probeAt(0).calData.size(), 2u);

  // The edits apply in the default mode too; the next switch replaces them.
  c.setProbeCalMode(1, CALMODE_DEFAULT);
  c.insertCalPoint(1, 0, {3, 3, 3});
  EXPECT_EQ(c.probeAt(1).calData.size(), 3u);
}

}  // namespace
}  // namespace cdt
