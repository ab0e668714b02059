// cdt synth end to end: what it writes, read back through cdt info, cdt2csv
// and the library.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "config/model.h"
#include "datafile/data_file.h"
#include "datafile/discovery.h"
#include "tools/synth/synth_config.h"
#include "tools/tool_test_support.h"

namespace cdt {
namespace {

using testing::convertToCsv;
using testing::fileExists;
using testing::jsonArray;
using testing::jsonNumber;
using testing::readFile;
using testing::runCdt;
using testing::RunResult;
using testing::splitLines;
using testing::synthRecording;
using testing::TempDir;

constexpr const char* kFileName = "Rig1.0000.Daq1.2011-05-06.12-30-00.cdt";
constexpr const char* kCsvName = "Rig1.0000.Daq1.2011-05-06.12-30-00.csv";

std::string infoJson(const std::string& path) {
  RunResult r = runCdt({"info", "--json", path});
  EXPECT_EQ(r.status, 0) << r.err;
  return r.out;
}

int64_t fileSize(const std::string& path) {
  struct stat s;
  return stat(path.c_str(), &s) == 0 ? s.st_size : -1;
}

TEST(CdtSynth, InfoCountsWhatWasWrittenAndTheCsvHasALinePerRevolution) {
  TempDir dir;
  auto paths =
      synthRecording(dir.path(), {"--revolutions", "120", "--profiles", "25", "--extras", "20"});
  ASSERT_EQ(paths, std::vector<std::string>{dir.file(kFileName)});

  // Per revolution four blade records; a type-1 record every 20, a type-0
  // every 100, a profile every 25, alternately plain and packed.
  const std::string json = infoJson(paths[0]);
  EXPECT_EQ(jsonArray(json, "byType"), "[1,6,4,480]");
  EXPECT_EQ(jsonNumber(json, "oneRevolution"), 480);
  EXPECT_EQ(jsonNumber(json, "revolutionRange"), 0);
  EXPECT_EQ(jsonNumber(json, "plainProfiles"), 2);
  EXPECT_EQ(jsonNumber(json, "packedProfiles"), 2);
  EXPECT_EQ(jsonNumber(json, "malformed"), 0);
  EXPECT_EQ(jsonNumber(json, "first"), 1);
  EXPECT_EQ(jsonNumber(json, "last"), 120);
  EXPECT_EQ(jsonNumber(json, "entries"), 120);  // the channels of a revolution share its time
  EXPECT_NE(json.find("\"state\":\"finished\""), std::string::npos);
  EXPECT_NE(json.find("\"firstTime\":\"2011-05-06T12:30:00Z\""), std::string::npos);
  EXPECT_NE(json.find("\"reason\":\"end of records\""), std::string::npos);
  EXPECT_NE(json.find("\"damaged\":false"), std::string::npos);
  for (int channel = 0; channel < 4; ++channel) {
    std::string entry = "{\"channel\":" + std::to_string(channel) +
                        ",\"oneRevolution\":120,\"revolutionRange\":0,\"bladesMin\":60";
    EXPECT_NE(json.find(entry), std::string::npos) << channel;
  }

  const auto lines = splitLines(convertToCsv(paths[0], dir.path(), kCsvName));
  ASSERT_EQ(lines.size(), 1u + 120);
  // Five leading cells, then per probe RMS, DNS and 60 DNS and 60 TOA cells.
  EXPECT_EQ(std::count(lines[0].begin(), lines[0].end(), ','), 4 + 4 * 122);
  EXPECT_TRUE(lines[1].starts_with("2011-05-06 12:30:00.00,")) << lines[1];
  EXPECT_NE(lines[1].find(",No,1,1,"), std::string::npos);
  EXPECT_NE(lines[120].find(",Yes,120,120,"), std::string::npos);
}

TEST(CdtSynth, SpeedRampsUpAndArrivalTimesFollowTheBladePhase) {
  TempDir dir;
  auto paths = synthRecording(dir.path(), {"--revolutions", "200", "--rpm", "6000", "--stages", "2",
                                           "--blades", "30,20", "--extras", "0"});
  ASSERT_EQ(paths.size(), 1u);
  auto file = openDataFile(paths[0].c_str());
  ASSERT_TRUE(file);
  const Configuration& c = file->configuration();
  double firstSpeed = 0;
  double lastSpeed = 0;
  uint64_t lastTime = 0;
  uint64_t count = 0;
  while (RecordRef r = readNextRecord(*file)) {
    ASSERT_TRUE(hasBladeLayout(*r));
    const uint8_t channel = bladeChannel(*r);
    ASSERT_EQ(channel, count % 4);
    const uint32_t probe = channel;  // host 0: probe number = channel
    ASSERT_EQ(c.hosts[0].channels[channel].probe, &c.probeAt(probe));
    ASSERT_EQ(bladeCount(*r), channel % 2 == 0 ? 30 : 20);
    ASSERT_GE(r->time(), lastTime);
    lastTime = r->time();
    if (count == 0) firstSpeed = bladeSpeed(*r);
    lastSpeed = bladeSpeed(*r);
    // Blade b arrives (b + bladePhase) pitches after the revolution mark,
    // give or take the noise and the vibration.
    const double pitch = 60.0e6 / bladeSpeed(*r) / bladeCount(*r);
    for (uint32_t b = 0; b < bladeCount(*r); b += 7) {
      ASSERT_NEAR(bladeToa(*r, b), (b + c.bladePhase(probe)) * pitch, 2.0) << count;
      ASSERT_GT(bladeDns(*r, b), 0.5f);
      ASSERT_LT(bladeDns(*r, b), 2.5f);
    }
    ++count;
  }
  EXPECT_EQ(count, 800u);
  EXPECT_NEAR(firstSpeed, 3600, 20);
  EXPECT_NEAR(lastSpeed, 6000, 20);
}

TEST(CdtSynth, BuildsTheConfigurationThroughTheEditingOperations) {
  TempDir dir;
  auto paths =
      synthRecording(dir.path(), {"--hosts", "2", "--probes", "3", "--stages", "3", "--blades",
                                  "60,48", "--name", "Bench", "--revolutions", "10"});
  ASSERT_EQ(paths.size(), 2u);
  EXPECT_EQ(paths[1], dir.file("Bench.0000.Daq2.2011-05-06.12-30-00.cdt"));
  auto file = openDataFile(paths[1].c_str());
  ASSERT_TRUE(file);
  ASSERT_TRUE(file->configurationParsed());
  const Configuration& c = file->configuration();
  EXPECT_EQ(c.name, "Bench");
  ASSERT_EQ(c.stages.size(), 3u);
  EXPECT_EQ(c.stages[0].blades, 60);
  EXPECT_EQ(c.stages[1].blades, 48);
  EXPECT_EQ(c.stages[2].blades, 48);
  ASSERT_EQ(c.hosts.size(), 2u);
  EXPECT_EQ(c.hosts[1].hostName, "acq02");
  EXPECT_EQ(c.masterHostIndex(), 0);
  ASSERT_EQ(c.racks.size(), 1u);
  EXPECT_EQ(c.connectedProbes.size(), 6u);
  for (uint32_t h = 0; h < 2; ++h) {
    for (uint32_t k = 0; k < 4; ++k) {
      const Probe* probe = c.hosts[h].channels[k].probe;
      if (k == 3) {
        EXPECT_EQ(probe, nullptr);
        continue;
      }
      ASSERT_NE(probe, nullptr);
      EXPECT_EQ(probe->index, static_cast<int32_t>(h * 3 + k));
      EXPECT_EQ(probe->stageIndex, static_cast<int32_t>(k));
      // Even probe numbers were calibrated from a memory image, odd ones
      // keep the default; the file's text carries the outcome (the image
      // itself is not part of it).
      if (probe->index % 2 == 0) {
        EXPECT_EQ(probe->calDate, "110412");
        EXPECT_EQ(probe->calDiscSerialNo, "CD-0" + std::to_string(1000 + probe->index));
        EXPECT_EQ(probe->calData.size(), 8u);
      } else {
        EXPECT_EQ(probe->calDate, "N/A");
        EXPECT_EQ(probe->calData.size(), 2u);
      }
    }
  }
  // The second host's file holds the second host's records.
  RecordRef first = readNextRecord(*file);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->hostIndex(), 1);

  // The hosts' files belong together.
  RecordingSetArray sets;
  ASSERT_EQ(findRecordingSets(dir.path().c_str(), sets, c), 1u);
  ASSERT_EQ(sets[0].size(), 2u);
  EXPECT_EQ(sets[0][0], paths[0]);
  EXPECT_EQ(sets[0][1], paths[1]);
}

TEST(CdtSynth, CalibratesEveryOtherProbeFromAValidMemoryImage) {
  SynthOptions options;
  options.hosts = 3;
  Configuration c;
  buildSynthConfiguration(c, options);
  ASSERT_EQ(c.racks.size(), 1u);
  for (uint32_t p = 0; p < 12; ++p) {
    EXPECT_EQ(c.isCalibrationValid(p), p % 2 == 0) << p;
    EXPECT_EQ(c.probeAt(p).calMode, CALMODE_DEFAULT);
  }
  // Points from the image come sorted, from 0.5 to 4 mm.
  const Probe& probe = c.probeAt(0);
  ASSERT_EQ(probe.calData.size(), 8u);
  EXPECT_NEAR(probe.calData[0].x, 0.5, 1e-3);
  EXPECT_NEAR(probe.calData[7].x, 4.0, 1e-3);
  EXPECT_EQ(c.creationTime, options.start);
}

// synth run with the local time zone `zone` (a POSIX TZ value).
std::vector<std::string> synthInZone(const std::string& dir, std::vector<std::string> options,
                                     const char* zone) {
  const char* before = std::getenv("TZ");
  const std::string saved = before != nullptr ? before : "";
  setenv("TZ", zone, 1);
  auto paths = synthRecording(dir, std::move(options));
  if (before != nullptr) {
    setenv("TZ", saved.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  return paths;
}

TEST(CdtSynth, SameOptionsGiveTheSameBytes) {
  TempDir a, b, c;
  const std::vector<std::string> options = {"--revolutions", "50", "--profiles", "10",
                                            "--seed",        "7"};
  // Whatever the time zone of the computer that makes them.
  auto pathA = synthInZone(a.path(), options, "UTC0");
  auto pathB = synthInZone(b.path(), options, "XST-5");
  auto other = options;
  other.back() = "8";
  auto pathC = synthRecording(c.path(), other);
  ASSERT_EQ(pathA.size(), 1u);
  ASSERT_EQ(pathB.size(), 1u);
  ASSERT_EQ(pathC.size(), 1u);
  EXPECT_TRUE(readFile(pathA[0]) == readFile(pathB[0]));
  EXPECT_FALSE(readFile(pathA[0]) == readFile(pathC[0]));
}

TEST(CdtSynth, AggregatesRevolutionRanges) {
  TempDir dir;
  auto paths =
      synthRecording(dir.path(), {"--revolutions", "95", "--aggregate", "10", "--extras", "0"});
  ASSERT_EQ(paths.size(), 1u);
  const std::string json = infoJson(paths[0]);
  // Nine whole blocks and the last five revolutions, per channel.
  EXPECT_EQ(jsonArray(json, "byType"), "[0,0,0,40]");
  EXPECT_EQ(jsonNumber(json, "revolutionRange"), 40);
  EXPECT_EQ(jsonNumber(json, "last"), 95);

  const auto lines = splitLines(convertToCsv(paths[0], dir.path(), kCsvName));
  ASSERT_EQ(lines.size(), 1u + 10);
  EXPECT_NE(lines[1].find(",1,10,"), std::string::npos) << lines[1];
  EXPECT_NE(lines[2].find(",Yes,11,20,"), std::string::npos) << lines[2];
  EXPECT_NE(lines[10].find(",91,95,"), std::string::npos) << lines[10];
}

TEST(CdtSynth, UnfinishedFilesKeepTheirRecordsOutOfReach) {
  TempDir dir;
  auto paths = synthRecording(dir.path(), {"--revolutions", "30", "--unfinished"});
  ASSERT_EQ(paths, std::vector<std::string>{dir.file(std::string(kFileName) + ".temp")});
  EXPECT_FALSE(fileExists(dir.file(kFileName)));

  auto file = openDataFile(paths[0].c_str());
  ASSERT_TRUE(file);
  EXPECT_EQ(file->header().indexOffset, 0u);
  EXPECT_EQ(file->header().indexEnd, 0u);
  // Whole records, no index: 30 revolutions of four 572-byte records.
  EXPECT_EQ(fileSize(paths[0]), static_cast<int64_t>(file->header().dataOffset + 30 * 4 * 572));

  const std::string json = infoJson(paths[0]);
  EXPECT_NE(json.find("\"state\":\"being written\",\"readToEndOfFile\":true"), std::string::npos);
  EXPECT_EQ(jsonNumber(json, "total"), 120);
  EXPECT_EQ(convertToCsv(paths[0], dir.path(), std::string(kFileName) + ".csv"), "");
}

TEST(CdtSynth, DamageCutsTheLastRecordOfAFinishedFile) {
  TempDir dir;
  auto paths = synthRecording(dir.path(), {"--revolutions", "40", "--extras", "0", "--damage"});
  ASSERT_EQ(paths.size(), 1u);
  const std::string json = infoJson(paths[0]);
  EXPECT_NE(json.find("\"state\":\"finished\""), std::string::npos);
  EXPECT_EQ(jsonArray(json, "byType"), "[0,0,0,159]");
  EXPECT_NE(json.find("\"reason\":\"record cut short\""), std::string::npos);
  EXPECT_NE(json.find("\"damaged\":true"), std::string::npos);
  // The index still covers every revolution, whose first records are whole.
  EXPECT_EQ(jsonNumber(json, "entries"), 40);

  auto file = openDataFile(paths[0].c_str());
  ASSERT_TRUE(file);
  const uint64_t cutStart = file->header().dataOffset + 159 * 572;
  EXPECT_EQ(file->header().indexOffset, cutStart + 286);
  // The last group lacks its fourth channel but is still a line.
  const auto lines = splitLines(convertToCsv(paths[0], dir.path(), kCsvName));
  EXPECT_EQ(lines.size(), 1u + 40);

  TempDir both;
  auto cut = synthRecording(both.path(), {"--revolutions", "40", "--unfinished", "--damage"});
  ASSERT_EQ(cut.size(), 1u);
  EXPECT_EQ(fileSize(cut[0]), static_cast<int64_t>(cutStart + 286));
}

TEST(CdtSynth, SizeReplacesTheRevolutionCount) {
  TempDir dir;
  auto paths = synthRecording(dir.path(), {"--size", "1", "--probes", "2", "--profiles", "100"});
  ASSERT_EQ(paths.size(), 1u);
  const int64_t size = fileSize(paths[0]);
  EXPECT_GE(size, 1000000);
  EXPECT_LT(size, 1000000 + 40000);
}

TEST(CdtSynth, StopsWhenOneHostsFileCannotBeWritten) {
  TempDir dir;
  // The second host's file is written to a full disk.
  const std::string second = dir.file("Rig1.0000.Daq2.2011-05-06.12-30-00.cdt");
  ASSERT_EQ(symlink("/dev/full", (second + ".temp").c_str()), 0);
  RunResult r = runCdt({"synth", "--hosts", "2", "--revolutions", "20000", dir.path()});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "cdt synth: cannot write '" + second + "'\n");
  // The first host's file is finished, but ends soon after the failure, not
  // after 20000 revolutions.
  EXPECT_EQ(r.out, dir.file(kFileName) + "\n");
  EXPECT_LT(fileSize(dir.file(kFileName)), 1000000);
}

TEST(CdtSynth, WritesNamesInTheInstallationsCodePage) {
  TempDir dir;
  auto paths = synthRecording(dir.path(), {"--revolutions", "3", "--probes", "3", "--name",
                                           "Pr\xC3\xBC"
                                           "f",
                                           "--probe-names",
                                           "Sonde S\xC3\xBC"
                                           "d,Same,Same"});
  ASSERT_EQ(paths.size(), 1u);
  EXPECT_EQ(paths[0], dir.file("Pr\xFC"
                               "f.0000.Daq1.2011-05-06.12-30-00.cdt"));
  const std::string csv = convertToCsv(paths[0], dir.path(),
                                       "Pr\xFC"
                                       "f.0000.Daq1.2011-05-06.12-30-00.csv");
  EXPECT_EQ(csv.substr(0, csv.find(" Blade1 DNS")),
            "Time,Speed,Sync,Start Rev,End Rev,Sonde S\xFC"
            "d RMS,Sonde S\xFC"
            "d DNS,Sonde S\xFC"
            "d");
  EXPECT_NE(csv.find(",Same RMS,Same DNS,"), csv.rfind(",Same RMS,Same DNS,"));

  for (const std::vector<std::string>& bad :
       {std::vector<std::string>{"--probe-names", "\xCE\xA9mega"},  // no Ω in Windows-1252
        {"--probe-names", "a,b,c,d,e"},                             // five names, four probes
        {"--encoding", "ebcdic"}}) {
    std::vector<std::string> args{"synth", "--revolutions", "1"};
    args.insert(args.end(), bad.begin(), bad.end());
    args.push_back(dir.file("bad"));
    EXPECT_EQ(runCdt(args).status, 2) << bad[1];
  }
  RunResult utf8 = runCdt({"synth", "--revolutions", "1", "--probe-names", "\xCE\xA9mega",
                           "--encoding", "utf-8", dir.file("utf8")});
  EXPECT_EQ(utf8.status, 0) << utf8.err;
}

TEST(CdtSynth, ReportsADirectoryItCannotWriteTo) {
  TempDir dir;
  testing::writeFile(dir.file("plain"), "x");
  RunResult r = runCdt({"synth", "--revolutions", "5", dir.file("plain") + "/sub"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("cdt synth: cannot create a data file in"), std::string::npos) << r.err;
  EXPECT_TRUE(r.out.empty());
}

// One line of a host's file, as the library reads its channel 0 records.
struct HostLine {
  uint64_t startRev = 0;
  uint64_t endRev = 0;
  uint64_t time = 0;
  bool sync = false;
};

std::vector<HostLine> hostLines(const std::string& path) {
  std::vector<HostLine> lines;
  auto file = openDataFile(path.c_str());
  EXPECT_TRUE(file) << path;
  if (!file) return lines;
  while (RecordRef r = readNextRecord(*file)) {
    if (!hasBladeLayout(*r) || bladeChannel(*r) != 0) continue;
    const uint64_t start = bladeStartRevolution(*r);
    const uint64_t end = isRevolutionRange(*r) ? bladeEndRevolution(*r) : start;
    lines.push_back({start, end, r->time(), bladeSync(*r) != 0});
  }
  return lines;
}

std::string csvNameOf(const std::string& path) {
  const std::string name = path.substr(path.rfind('/') + 1);
  return name.substr(0, name.size() - 4) + ".csv";
}

TEST(CdtSynth, SetHostsMissExactlyTheInjectedRevolutions) {
  TempDir dir;
  auto paths = synthRecording(dir.path(), {"--hosts", "3", "--revolutions", "200", "--extras", "0",
                                           "--drop", "2:7", "--late", "3:25", "--early", "Daq2:10",
                                           "--resync", "150", "--clock-offset", "3:40"});
  ASSERT_EQ(paths.size(), 3u);
  const std::vector<HostLine> master = hostLines(paths[0]);
  ASSERT_EQ(master.size(), 200u);
  struct Host {
    uint64_t late, early, dropEvery;
    int64_t offset;
    size_t lines;
  };
  const Host hosts[] = {{0, 0, 0, 0, 200}, {0, 10, 7, 0, 163}, {25, 0, 0, 40, 175}};
  for (size_t h = 0; h < 3; ++h) {
    const Host& host = hosts[h];
    // The run's revolutions this host keeps.
    std::vector<uint64_t> runs;
    uint64_t recorded = 0;
    for (uint64_t run = host.late + 1; run + host.early <= 200; ++run) {
      if (host.dropEvery == 0 || ++recorded % host.dropEvery != 0) runs.push_back(run);
    }
    ASSERT_EQ(runs.size(), host.lines) << h;
    const std::vector<HostLine> lines = hostLines(paths[h]);
    ASSERT_EQ(lines.size(), host.lines) << h;
    int restarts = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
      const uint64_t counter = runs[i] < 150 ? runs[i] : runs[i] - 149;
      EXPECT_EQ(lines[i].startRev, counter) << h << " " << runs[i];
      EXPECT_EQ(lines[i].endRev, counter);
      // The tracker locks on again after a restart.
      EXPECT_EQ(lines[i].sync, counter > 3) << h << " " << runs[i];
      EXPECT_EQ(static_cast<int64_t>(lines[i].time),
                static_cast<int64_t>(master[runs[i] - 1].time) + host.offset)
          << h << " " << runs[i];
      if (i > 0 && lines[i].startRev < lines[i - 1].startRev) ++restarts;
    }
    EXPECT_EQ(restarts, 1) << h;
    // cdt2csv gives each kept revolution a line.
    EXPECT_EQ(splitLines(convertToCsv(paths[h], dir.path(), csvNameOf(paths[h]))).size(),
              1 + host.lines)
        << h;
  }
}

TEST(CdtSynth, SetHostsWithRangeRecordsDropRangesAndEndThemAtARestart) {
  TempDir dir;
  auto paths = synthRecording(
      dir.path(), {"--hosts", "3", "--revolutions", "120", "--aggregate", "10", "--extras", "0",
                   "--drop", "2:3", "--late", "3:15", "--resync", "95"});
  ASSERT_EQ(paths.size(), 3u);
  using Ranges = std::vector<std::pair<uint64_t, uint64_t>>;
  const Ranges tail = {{91, 94}, {1, 10}, {11, 20}, {21, 26}};
  Ranges master, dropped, late = {{16, 20}};
  for (uint64_t start = 1; start < 91; start += 10) {
    master.push_back({start, start + 9});
    if (master.size() % 3 != 0) dropped.push_back({start, start + 9});
    if (start > 20) late.push_back({start, start + 9});
  }
  master.insert(master.end(), tail.begin(), tail.end());
  late.insert(late.end(), tail.begin(), tail.end());
  // Host 2's tenth to thirteenth ranges, less the twelfth.
  dropped.insert(dropped.end(), {{91, 94}, {1, 10}, {21, 26}});
  const Ranges expected[] = {master, dropped, late};
  for (size_t h = 0; h < 3; ++h) {
    Ranges got;
    for (const HostLine& line : hostLines(paths[h])) got.push_back({line.startRev, line.endRev});
    EXPECT_EQ(got, expected[h]) << h;
  }
}

TEST(CdtSynth, OneHostsDeparturesLeaveTheOtherFilesAsTheyWere) {
  TempDir plain, departed;
  const std::vector<std::string> options = {"--hosts",    "3", "--revolutions", "60",
                                            "--profiles", "7", "--extras",      "10"};
  auto before = synthRecording(plain.path(), options);
  auto changed = options;
  changed.insert(changed.end(), {"--drop", "Daq2:5", "--late", "2:3", "--early", "2:4", "--resync",
                                 "2:40", "--clock-offset", "2:-30"});
  auto after = synthRecording(departed.path(), changed);
  ASSERT_EQ(before.size(), 3u);
  ASSERT_EQ(after.size(), 3u);
  EXPECT_TRUE(readFile(before[0]) == readFile(after[0]));
  EXPECT_FALSE(readFile(before[1]) == readFile(after[1]));
  EXPECT_TRUE(readFile(before[2]) == readFile(after[2]));
}

TEST(CdtSynth, RefusesDeparturesItCannotMake) {
  TempDir dir;
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--drop", "4:5"}, "--drop: no host '4'"},
      {{"--late", "Daq9:5"}, "--late: no host 'Daq9'"},
      {{"--drop", "2:1"}, "--drop wants EVERY from 2 to"},
      {{"--drop", "7"}, "--drop wants HOST:EVERY, not '7'"},
      {{"--late", "3:100"}, "--late wants REVS from 1 to 99"},
      {{"--early", "1:x"}, "--early wants REVS"},
      {{"--late", "2:60", "--early", "2:40"}, "--late and --early leave host 2 no revolution"},
      {{"--drop", "2:3", "--drop", "Daq2:4"}, "--drop is given twice for host 2"},
      {{"--resync", "10", "--resync", "20"}, "--resync REV is given twice"},
      {{"--late", "3:50", "--resync", "40"}, "falls outside host 3's recording (revolutions 51"},
      {{"--early", "1:50", "--resync", "1:51"}, "falls outside host 1's recording"},
      {{"--clock-offset", "2:1000001"}, "--clock-offset wants US from -1000000"},
      {{"--start", "1970-01-01T00:00:00Z", "--clock-offset", "2:-1"}, "before 1970"},
      {{"--size", "1", "--resync", "5"}, "--resync counts revolutions of the run"},
  };
  for (const auto& [options, message] : cases) {
    std::vector<std::string> args{"synth", "--hosts", "3", "--revolutions", "100"};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back(dir.file("bad"));
    RunResult r = runCdt(args);
    EXPECT_EQ(r.status, 2) << message;
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    EXPECT_FALSE(fileExists(dir.file("bad"))) << message;
  }
}

}  // namespace
}  // namespace cdt
