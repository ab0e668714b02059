#include "config/config_text.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <string_view>

#include "config/field_lines.h"
#include "config/model.h"
#include "test/support.h"

namespace cdt {
namespace {

bool parseText(Configuration& configuration, std::string_view text) {
  Tokenizer tokenizer(text.data(), static_cast<uint32_t>(text.size()));
  return parseConfigText(configuration, tokenizer);
}

std::string written(const Configuration& configuration, uint32_t indent = 0) {
  return configToText(configuration, indent).str();
}

// The text of `kind` block `number` (its Begin line to its End line).
std::string block(const std::string& text, const std::string& kind, int number) {
  const std::string begin = "  Begin " + kind + " " + std::to_string(number) + "\n";
  const std::string end = "  End " + kind + "\n";
  const size_t from = text.find(begin);
  if (from == std::string::npos) return "";
  return text.substr(from, text.find(end, from) + end.size() - from);
}

// A configuration whose identity and time stamps do not depend on the clock
// or the host, and whose numbers and texts differ from row to row, so that a
// key writing another row's field shows in the text.
void giveFixedIdentity(Configuration& c) {
  c.name = "CS1";
  c.fullName = "CS-host-1";
  c.creationTime = 1000000;
  c.modificationTime = 2000000;
  c.revision = 7;
  c.maintainer.name = "Ann";
  c.maintainer.phone = "555";
  c.maintainer.notes = "a\tb \"q\" c:\\";
  c.maintainer.adminPassword = 1;
  c.maintainer.userPassword = ~uint64_t{0};
  c.engine.location = "bay";
  c.engine.minLockSpeed = 210;
  c.engine.counterClockwise = true;
  c.advanced.acAutoSwitchEnable = false;
  c.advanced.acAutoSwitchMinBps = 51;
  c.advanced.acAutoSwitchMaxBps = 101;
  c.storage.mediumTermScopeInterval = 61;
  c.storage.longTermRevInterval = 59;
  Stage& stage = c.stages.at(0);
  stage.blades = 36;
  stage.diameter = 812.5;
  stage.oprToBlade0 = 0.1;
  stage.lowAlarm = -1;
  stage.staticWarning = 2.5;
  stage.staticAlarm = 6;
  stage.dynamicWarning = 3;
  stage.dynamicAlarm = 7;
  stage.clearanceHysteresis = 0.25;
  stage.staticHysteresis = 1.5;
  stage.dynamicHysteresis = 2;
}

TEST(ConfigText, WritesTheWholeTextOfOneStageExactly) {
  Configuration c;
  giveFixedIdentity(c);
  EXPECT_EQ(written(c),
            "Begin Configuration\n"
            "numStages = 1\n"
            "numRacks = 0\n"
            "numHosts = 0\n"
            "  name = \"CS1\"\n"
            "  fullName = \"CS-host-1\"\n"
            "  creationTime = 1000000\n"
            "  modificationTime = 2000000\n"
            "  revision = 7\n"
            "  sampleRate = 10000000\n"
            "  lowSpeedFilter = 60\n"
            "  lowSpeedUpdate = 2\n"
            "  revAveraging = 100\n"
            "  alarmMode = \"ALARM_BOTH\"\n"
            "  maintainer.name = \"Ann\"\n"
            "  maintainer.phone = \"555\"\n"
            "  maintainer.email = \"\"\n"
            "  maintainer.notes = \"a\\tb \\\"q\\\" c:\\\\\"\n"
            "  maintainer.adminPassword = 1\n"
            "  maintainer.userPassword = 18446744073709551615\n"
            "  engine.name = \"\"\n"
            "  engine.location = \"bay\"\n"
            "  engine.manufacturer = \"\"\n"
            "  engine.serialNumber = \"\"\n"
            "  engine.minLockSpeed = 210\n"
            "  engine.maximumSpeed = 4000\n"
            "  engine.maxSpeedRate = 500\n"
            "  engine.counterClockwise = TRUE\n"
            "  advanced.oscAutoSwitchEnable = TRUE\n"
            "  advanced.oscAutoSwitchMinBps = 50\n"
            "  advanced.oscAutoSwitchMaxBps = 100\n"
            "  advanced.acAutoSwitchEnable = FALSE\n"
            "  advanced.acAutoSwitchMinBps = 51\n"
            "  advanced.acAutoSwitchMaxBps = 101\n"
            "  advanced.oscReTuneEnable = TRUE\n"
            "  advanced.oscReTuneInterval = 3600\n"
            "  storage.fullRateNumFiles = 480\n"
            "  storage.fullRateDuration = 43200\n"
            "  storage.mediumTermNumFiles = 540\n"
            "  storage.mediumTermDuration = 7776000\n"
            "  storage.mediumTermRevInterval = 1\n"
            "  storage.mediumTermScopeInterval = 61\n"
            "  storage.longTermNumFiles = 1460\n"
            "  storage.longTermDuration = 63072000\n"
            "  storage.longTermRevInterval = 59\n"
            "  storage.longTermScopeInterval = 600\n"
            "  storage.startStopEnable = FALSE\n"
            "  storage.startMinSpeed = 200\n"
            "  storage.startMaxSpeed = 2800\n"
            "  storage.stopMinSpeed = 150\n"
            "  storage.stopMaxSpeed = 2900\n"
            "  storage.startStopEventLength = 10\n"
            "  storage.startStopDiskUsage = 5368709120\n"
            "  Begin Stage 0\n"
            "    userName = \"\"\n"
            "    blades = 36\n"
            "    diameter = 812.5\n"
            "    oprToBlade0 = 0.100000000000000006\n"
            "    lowWarning = 1\n"
            "    highWarning = 4\n"
            "    lowAlarm = -1\n"
            "    highAlarm = 5\n"
            "    staticWarning = 2.5\n"
            "    staticAlarm = 6\n"
            "    dynamicWarning = 3\n"
            "    dynamicAlarm = 7\n"
            "    clearanceHysteresis = 0.25\n"
            "    staticHysteresis = 1.5\n"
            "    dynamicHysteresis = 2\n"
            "  End Stage\n"
            "End Configuration\n");

  // A base indentation shifts every line by the same number of blanks.
  const std::string flat = written(c);
  std::string shifted;
  for (size_t from = 0; from < flat.size();) {
    const size_t to = flat.find('\n', from) + 1;
    shifted += "   " + flat.substr(from, to - from);
    from = to;
  }
  EXPECT_EQ(written(c, 3), shifted);
}

// One host and one rack: every entity block kind, with the probe written like
// a real one and its numbers and texts differing from row to row.
Configuration oneHostOneRack() {
  Configuration c;
  c.hosts.setLength(1);
  c.racks.setLength(1);
  c.initialiseNewRack(0);
  Host& host = c.hosts.at(0);
  host.userName = "Left";
  host.hostName = "daq-1";
  host.isMaster = true;
  host.channels[1] = Channel{RANGE_0_5V, COUPLING_AC};
  c.racks.at(0).hostName = "chassis";
  c.racks.at(0).altNames = "r1 r1b";
  Relay& relay = c.racks.at(0).relays[0];
  relay.usage = RELAY_STAGE_HIGH_ALARM;
  relay.sourceIndex = 0;
  Probe& probe = c.racks.at(0).probes[0];
  probe.userName = "Probe \"A\"";
  probe.radialPosition = 0.25;
  probe.axialPosition = 0.75;
  probe.setBack = 0.1;
  probe.setThresholds({-1, 1, 4, 5, 2.5, 6, 3, 7});
  probe.stageAlarms = false;
  probe.channelIndex = 2;
  probe.type = TYPE_LASER;
  probe.demodulator.ac = AC_SLOW;
  probe.calDate = "2011-03-15";
  probe.calDiscSerialNo = "D-9";
  probe.calComments = "spare";
  probe.calData.clear();
  probe.calData.append(CalPoint{0, 0, 0});
  probe.calData.append(CalPoint{5, 5, 5});
  c.relink();
  return c;
}

TEST(ConfigText, WritesEveryEntityBlockKind) {
  const std::string text = written(oneHostOneRack());
  EXPECT_EQ(text.find("numStages = 1\nnumRacks = 1\nnumHosts = 1\n"), 20u);
  EXPECT_EQ(block(text, "Host", 0),
            "  Begin Host 0\n    userName = \"Left\"\n    hostName = \"daq-1\"\n"
            "    altNames = \"\"\n    oncePerRev = TRUE\n    isMaster = TRUE\n"
            "    hasClock = FALSE\n  End Host\n");
  EXPECT_EQ(block(text, "Rack", 0),
            "  Begin Rack 0\n    userName = \"\"\n    hostName = \"chassis\"\n"
            "    altNames = \"r1 r1b\"\n  End Rack\n");
  EXPECT_EQ(block(text, "Channel", 1),
            "  Begin Channel 1\n    range = \"RANGE_0_5V\"\n    coupling = \"COUPLING_AC\"\n"
            "  End Channel\n");
  EXPECT_EQ(block(text, "Relay", 0),
            "  Begin Relay 0\n    userName = \"\"\n    usage = \"RELAY_STAGE_HIGH_ALARM\"\n"
            "    sourceIndex = 0\n  End Relay\n");
  EXPECT_EQ(block(text, "Probe", 0),
            "  Begin Probe 0\n"
            "    userName = \"Probe \\\"A\\\"\"\n"
            "    demodulator.osc = \"OSC_AUTO\"\n"
            "    demodulator.gain = \"GAIN_AUTO\"\n"
            "    demodulator.ac = \"AC_SLOW\"\n"
            "    demodulator.filter = \"FILTER_400K\"\n"
            "    radialPosition = 0.25\n"
            "    axialPosition = 0.75\n"
            "    setBack = 0.100000000000000006\n"
            "    lowAlarm = -1\n"
            "    lowWarning = 1\n"
            "    highWarning = 4\n"
            "    highAlarm = 5\n"
            "    staticWarning = 2.5\n"
            "    staticAlarm = 6\n"
            "    dynamicWarning = 3\n"
            "    dynamicAlarm = 7\n"
            "    channelIndex = 2\n"
            "    stageIndex = 0\n"
            "    type = \"TYPE_LASER\"\n"
            "    calMode = \"CALMODE_DEFAULT\"\n"
            "    calGain = \"GAIN_NORMAL\"\n"
            "    calDate = \"2011-03-15\"\n"
            "    calDiscSerialNo = \"D-9\"\n"
            "    calComments = \"spare\"\n"
            "    stageAlarms = FALSE\n"
            "    numCalData = 2\n"
            "    calData[0] = { 0.000000, 0.000000, 0.000000 }\n"
            "    calData[1] = { 5.000000, 5.000000, 5.000000 }\n"
            "  End Probe\n");
  // Every slot is written, in use or not; blocks never nest.
  EXPECT_NE(block(text, "Channel", 3), "");
  EXPECT_NE(block(text, "Relay", 11), "");
  EXPECT_NE(block(text, "Probe", 11), "");
  EXPECT_EQ(block(text, "Probe", 12), "");
}

TEST(ConfigText, CountLinesCheckTheirLimitsAndResizeFromDefaults) {
  Configuration c;
  EXPECT_FALSE(parseText(c, "numStages = 0\nEnd Configuration\n"));
  EXPECT_FALSE(parseText(c, "numRacks = 4096\nEnd Configuration\n"));
  EXPECT_FALSE(parseText(c, "numHosts = 4294967296\nEnd Configuration\n"));
  EXPECT_FALSE(parseText(c, "numHosts = x\nEnd Configuration\n"));
  EXPECT_EQ(c.stages.size(), 1u);

  ASSERT_TRUE(parseText(c, "numStages = 3\nnumHosts = 2\nnumRacks = 2\nEnd Configuration\n"));
  EXPECT_EQ(c.stages[2].blades, 50);
  EXPECT_EQ(c.stages[2].name, "Stage3");
  EXPECT_TRUE(c.hosts[1].oncePerRev);
  EXPECT_EQ(c.hosts[1].channels[3].range, RANGE_AUTO);
  EXPECT_EQ(c.probeAt(23).channelIndex, -1);
  EXPECT_EQ(c.probeAt(23).stageIndex, 0);
  EXPECT_EQ(c.probeAt(23).demodulator.osc, OSC_AUTO);

  ASSERT_TRUE(parseText(c, "numHosts = 0\nnumRacks = 0\nEnd Configuration\n"));
  EXPECT_EQ(c.hosts.size(), 0u);
  EXPECT_EQ(c.racks.size(), 0u);

  Configuration big;
  EXPECT_TRUE(parseText(big, "numRacks = 4095\nEnd Configuration"));
  EXPECT_EQ(big.racks.size(), 4095u);
}

TEST(ConfigText, BlockLinesSelectExistingEntitiesOnly) {
  Configuration one;
  ASSERT_TRUE(parseText(one, "numRacks = 1\nEnd Configuration\n"));
  EXPECT_FALSE(parseText(one, "Begin Probe 12\nEnd Configuration\n"));
  EXPECT_FALSE(parseText(one, "Begin Stage x\nEnd Configuration\n"));
  EXPECT_FALSE(parseText(one, "Begin Host 0\nEnd Configuration\n"));
  EXPECT_FALSE(parseText(one, "Begin Channel 0\nEnd Configuration\n"));
  EXPECT_FALSE(parseText(one, "Begin Relay 12\nEnd Configuration\n"));
  // Shorter than its pattern: not a structural line, skipped.
  EXPECT_TRUE(parseText(one, "Begin Stage\nnumStages =\nEnd Configuration\n"));

  Configuration two;
  ASSERT_TRUE(parseText(two,
                        "numRacks = 2\nnumHosts = 1\n"
                        "Begin Probe 12\nuserName = \"p\"\nchannelIndex = 3\nEnd Probe\n"
                        "Begin Channel 3\nrange = \"NO_SUCH_RANGE\"\nEnd Channel\n"
                        "End Configuration\n"));
  EXPECT_EQ(two.racks[1].probes[0].userName, "p");
  EXPECT_EQ(two.channelAt(3).range, RANGE_5_0V);
  EXPECT_EQ(two.channelAt(3).probe, &two.racks[1].probes[0]);  // relinked after reading
}

TEST(ConfigText, KeyValueLinesAreToleratedAndTyped) {
  Configuration c;
  ASSERT_TRUE(parseText(c,
                        "Begin Configuration\n"
                        "numStages=4\n"  // not a count line: no such key
                        "revision=12\n"
                        "revAveraging =\n"
                        "name = two words\n"
                        "advanced.oscAutoSwitchEnable = true\n"
                        "advanced.oscReTuneEnable = TRUE\n"
                        "sampleRate = fast\n"
                        "blades = 9\n"
                        "  \r\n"
                        "alarmMode = ALARM_RMS\r\n"
                        "End Configuration\n"
                        "numStages = 0\n"));  // never read
  EXPECT_EQ(c.stages.size(), 1u);
  EXPECT_EQ(c.revision, 12);
  EXPECT_EQ(c.revAveraging, 100);
  EXPECT_EQ(c.name, "two");
  EXPECT_FALSE(c.advanced.oscAutoSwitchEnable);  // only TRUE is true
  EXPECT_TRUE(c.advanced.oscReTuneEnable);
  EXPECT_EQ(c.sampleRate, 10000000.0);
  EXPECT_EQ(c.stages[0].blades, 50);
  EXPECT_EQ(c.alarmMode, ALARM_RMS);
}

TEST(ConfigText, CalibrationLinesNeedAProbeAndTheirExactShape) {
  const std::string head = "numRacks = 1\nBegin Probe 0\nnumCalData = 2\n";
  Configuration c;
  EXPECT_TRUE(parseText(c, head + "calData[1]={1.5,-2,3e2}\nEnd Configuration\n"));
  EXPECT_EQ(c.probeAt(0).calData[1].z, 300.0);
  EXPECT_EQ(c.probeAt(0).calData[0].x, 0.0);  // created and never set: zero
  EXPECT_FALSE(parseText(c, head + "calData[0] = { 1, 2 }\nEnd Configuration\n"));
  EXPECT_FALSE(parseText(c, head + "calData[2] = { 1, 2, 3 }\nEnd Configuration\n"));
  EXPECT_FALSE(parseText(c, head + "calData[0] = { 1, 2, x }\nEnd Configuration\n"));
  EXPECT_FALSE(parseText(c, head + "numCalData = 4096\nEnd Configuration\n"));
  EXPECT_FALSE(parseText(c, "numCalData = 1\nEnd Configuration\n"));
  EXPECT_FALSE(parseText(c, head + "End Probe\ncalData[0] = { 1, 2, 3 }\nEnd Configuration\n"));
  // Another kind's Begin line keeps the current probe; only End lines drop it.
  EXPECT_TRUE(parseText(c, head + "Begin Stage 0\ncalData[0] = { 7, 8, 9 }\nEnd Configuration\n"));
  EXPECT_EQ(c.probeAt(0).calData[0].x, 7.0);
}

// Calibration points a text creates are bounded by its length, so a short
// damaged text cannot claim gigabytes of zero points across many probes.
TEST(ConfigText, CalibrationCountsAreBoundedByTheTextLength) {
  std::string text = "numRacks = 2\n";
  for (int probe = 0; probe < 24; ++probe) {
    text += "Begin Probe " + std::to_string(probe) + "\nnumCalData = 4095\nEnd Probe\n";
  }
  text += "End Configuration\n";
  ASSERT_LT(text.size(), 24u * 4095u);
  Configuration c;
  EXPECT_FALSE(parseText(c, text));
  uint64_t points = 0;
  for (uint32_t p = 0; p < c.probeCount(); ++p) points += c.probeAt(p).calData.size();
  EXPECT_LE(points, text.size() + 2 * c.probeCount());  // the new racks' default points

  // Shrinking and regrowing the same probe's points spends the budget again.
  Configuration d;
  EXPECT_FALSE(parseText(d, "numRacks = 1\nBegin Probe 0\nnumCalData = 60\nnumCalData = 0\n"
                            "numCalData = 60\nEnd Configuration\n"));
  Configuration e;
  EXPECT_TRUE(parseText(e, "numRacks = 1\nBegin Probe 0\nnumCalData = 30\nEnd Configuration\n"));
  EXPECT_EQ(e.probeAt(0).calData.size(), 30u);
}

// A count line inside a block returns to the configuration level, so the
// lines after it never reach a record of the resized array.
TEST(ConfigText, CountLinesInsideBlocksLeaveTheBlock) {
  Configuration c;
  ASSERT_TRUE(parseText(c,
                        "numRacks = 1\nBegin Stage 0\nnumStages = 300\nblades = 7\nrevision = 3\n"
                        "Begin Probe 11\nnumRacks = 2\nuserName = \"x\"\nEnd Configuration\n"));
  EXPECT_EQ(c.stages[0].blades, 50);
  EXPECT_EQ(c.revision, 3);
  EXPECT_EQ(c.probeAt(11).userName, "");
  EXPECT_FALSE(parseText(c, "Begin Probe 0\nnumRacks = 1\nnumCalData = 1\nEnd Configuration\n"));
}

TEST(ConfigText, EndOfTextBeforeTheFrameEndFails) {
  Configuration c;
  EXPECT_TRUE(parseText(c, ""));
  EXPECT_FALSE(parseText(c, "\n \n\t\n"));
  EXPECT_FALSE(parseText(c, "Begin Configuration\nnumStages = 1\n"));
  EXPECT_TRUE(parseText(c, "End Configuration"));
}

TEST(ConfigText, StructuralLinesAreMatchedByPattern) {
  EXPECT_EQ(sizeof(kConfigKeywords) - 1, 226u);
  const FieldDescriptor* table = kConfigurationFields;
  Configuration c;
  const std::string text = "x = 1\nrevision = 5\n   Begin Relay  7  \nEnd Probe";
  Tokenizer tokenizer(text.data(), static_cast<uint32_t>(text.size()));
  const TextBuffer keywords(kConfigKeywords, sizeof(kConfigKeywords) - 1);
  EXPECT_EQ(nextKeywordLine(table, &c, tokenizer, keywords), kKeywordBeginRelay);
  EXPECT_EQ(c.revision, 5);  // the lines before went to the field table
  EXPECT_EQ(tokenizer.lastToken.view(), "Begin Relay  7");
  EXPECT_EQ(lineNumberArgument(tokenizer), 7u);
  EXPECT_EQ(nextKeywordLine(table, &c, tokenizer, keywords), kKeywordEndProbe);
  EXPECT_EQ(lineNumberArgument(tokenizer), UINT32_MAX);
  EXPECT_EQ(nextKeywordLine(table, &c, tokenizer, keywords), kKeywordEndOfText);
}

TEST(ConfigFile, SaveStampsOnlyAfterAFullWriteAndLoadReadsItBack) {
#ifdef _WIN32
  GTEST_SKIP() << "the configuration text's lines end in CR LF on Windows; this compares LF";
#endif
  testing::TempDir dir;
  Configuration c = oneHostOneRack();
  c.revision = 4;
  c.modificationTime = 5;
  c.modified = true;
  EXPECT_FALSE(saveConfigFile(c, dir.file("missing/dir/c.txt").c_str()));
  EXPECT_TRUE(c.modified);
  EXPECT_EQ(c.revision, 4);
  EXPECT_EQ(c.modificationTime, 5u);

  const std::string path = dir.file("c.txt");
  ASSERT_TRUE(saveConfigFile(c, path.c_str()));
  EXPECT_FALSE(c.modified);
  EXPECT_EQ(c.revision, 5);
  EXPECT_GT(c.modificationTime, 5u);
  EXPECT_EQ(testing::readFile(path), written(c));  // the file holds the stamped values

  ASSERT_TRUE(saveConfigFile(c, path.c_str()));  // unmodified: no new stamp
  EXPECT_EQ(c.revision, 5);

  Configuration loaded;
  ASSERT_TRUE(loadConfigFile(loaded, path.c_str()));
  EXPECT_EQ(written(loaded), written(c));

  Configuration other;
  const std::string before = written(other);
  EXPECT_FALSE(loadConfigFile(other, dir.file("none.txt").c_str()));
  EXPECT_FALSE(loadConfigFile(other, dir.path().c_str()));
  EXPECT_EQ(written(other), before);
  testing::writeFile(dir.file("cut.txt"), written(c).substr(0, 300));
  EXPECT_FALSE(loadConfigFile(other, dir.file("cut.txt").c_str()));
  testing::writeFile(dir.file("empty.txt"), "");
  EXPECT_TRUE(loadConfigFile(other, dir.file("empty.txt").c_str()));
  // Larger than any byte array: refused, not a fatal allocation (the file is
  // sparse, so it costs no disk space).
  const std::string huge = dir.file("huge.txt");
  testing::writeFile(huge, "");
  ASSERT_EQ(truncate(huge.c_str(), off_t{1} << 31), 0);
  EXPECT_FALSE(loadConfigFile(other, huge.c_str()));
}

}  // namespace
}  // namespace cdt
