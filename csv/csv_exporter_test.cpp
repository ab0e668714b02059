#include "csv/csv_exporter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "csv/csv_test_support.h"
#include "test/support.h"

namespace cdt {
namespace {

using testing::addProbes;
using testing::BladeRecordSpec;
using testing::makeBladeRecord;
using testing::makeOtherRecord;
using testing::readFile;
using testing::TempDir;

// 2011-03-15 14:07:09.250000 UTC.
constexpr uint64_t kTime = 1300198029250000ull;
constexpr uint64_t kSecond = 1000000;

// Exports the records into a fresh file and returns its content.
class ExporterTest : public ::testing::Test {
 protected:
  std::string run(const std::vector<RecordRef>& records, bool toa = true) {
    auto exporter = createCsvExporter(config, path.c_str(), toa);
    EXPECT_NE(exporter, nullptr);
    if (exporter == nullptr) return {};
    for (const RecordRef& r : records) EXPECT_EQ(exportRecord(*exporter, r.get()), 1);
    EXPECT_TRUE(finishCsvExporter(*exporter));
    return readFile(path);
  }

  TempDir dir;
  std::string path = dir.file("out.csv");
  Configuration config;
};

TEST_F(ExporterTest, WorkedExample) {
#ifdef _WIN32
  GTEST_SKIP() << "the CSV's lines end in CR LF on Windows (windows-end-to-end.sh compares them)";
#endif
  addProbes(config, {{0, "P1", 2}});
  BladeRecordSpec s;
  s.time = kTime;
  s.startRevolution = 1200;
  s.blades = {{1.5f, 0.25f}, {2.5f, 0.75f}};
  RecordRef first = makeBladeRecord(s);
  s.time += kSecond;
  s.startRevolution = 1201;
  s.sync = 0;
  s.speed = 3001.5f;
  RecordRef second = makeBladeRecord(s);
  EXPECT_EQ(run({first, second}),
            "Time,Speed,Sync,Start Rev,End Rev,P1 RMS,P1 DNS,P1 Blade1 DNS,P1 Blade2 DNS,"
            "P1 Blade1 TOA,P1 Blade2 TOA\n"
            "2011-03-15 14:07:09.25,3000,Yes,1200,1200,0.5,2,1.5,2.5,0.25,0.75\n"
            "2011-03-15 14:07:10.25,3001.5,No,1201,1201,0.5,2,1.5,2.5,0.25,0.75\n");
}

// Slot 0: A (2 blades), slot 1: B (1 blade), slot 2: no probe, slot 3: D (0
// blades). Groups end where a channel repeats; the no-probe channel still
// takes part in grouping.
TEST_F(ExporterTest, GroupsRunsOfDistinctChannels) {
#ifdef _WIN32
  GTEST_SKIP() << "the CSV's lines end in CR LF on Windows (windows-end-to-end.sh compares them)";
#endif
  addProbes(config, {{0, "A", 2}, {1, "B", 1}, {3, "D", 0}});
  auto rec = [](uint8_t channel, uint64_t t, float rms) {
    BladeRecordSpec s;
    s.channel = channel;
    s.time = t;
    s.rms = rms;
    s.startRevolution = t / kSecond;
    s.blades = {{1, 2}, {3, 4}};
    return makeBladeRecord(s);
  };
  const std::vector<RecordRef> records = {
      rec(0, 0, 1),           rec(1, 1 * kSecond, 2), rec(2, 2 * kSecond, 9),
      rec(0, 3 * kSecond, 3), rec(3, 4 * kSecond, 4), rec(3, 5 * kSecond, 5),
      rec(2, 6 * kSecond, 9), rec(2, 7 * kSecond, 9),
  };
  EXPECT_EQ(run(records),
            "Time,Speed,Sync,Start Rev,End Rev,A RMS,A DNS,A Blade1 DNS,A Blade2 DNS,"
            "A Blade1 TOA,A Blade2 TOA,B RMS,B DNS,B Blade1 DNS,B Blade1 TOA,D RMS,D DNS\n"
            "1970-01-01 00:00:00.00,3000,Yes,0,0,1,2,1,3,2,4,2,1,1,2,,\n"
            "1970-01-01 00:00:03.00,3000,Yes,3,3,3,2,1,3,2,4,,,,,4,\n"
            "1970-01-01 00:00:05.00,3000,Yes,5,5,,,,,,,,,,,5,\n"
            "1970-01-01 00:00:07.00,3000,Yes,7,7,,,,,,,,,,,,\n");
}

TEST_F(ExporterTest, WithoutTimeOfArrivalAndRangeRecords) {
#ifdef _WIN32
  GTEST_SKIP() << "the CSV's lines end in CR LF on Windows (windows-end-to-end.sh compares them)";
#endif
  addProbes(config, {{0, "P", 2}});
  BladeRecordSpec s;
  s.range = true;
  s.startRevolution = 100;
  s.endRevolution = 199;
  s.blades = {{0.125f, 7}, {1e-7f, 8}};
  RecordRef range = makeBladeRecord(s);
  s.range = false;
  s.rms = 1.0f / 3;
  s.speed = 1234567.0f;
  RecordRef single = makeBladeRecord(s);
  EXPECT_EQ(run({range, single}, false),
            "Time,Speed,Sync,Start Rev,End Rev,P RMS,P DNS,P Blade1 DNS,P Blade2 DNS\n"
            "1970-01-01 00:00:00.00,3000,Yes,100,199,0.5,0.06250005,0.125,1e-07\n"
            "1970-01-01 00:00:00.00,1.23457e+06,Yes,100,100,0.33333334,0.06250005,0.125,1e-07\n");
}

TEST_F(ExporterTest, OtherRecordsAreIgnored) {
#ifdef _WIN32
  GTEST_SKIP() << "the CSV's lines end in CR LF on Windows (windows-end-to-end.sh compares them)";
#endif
  addProbes(config, {{0, "P", 0}});
  const std::vector<RecordRef> others = {makeOtherRecord(0, kFixedRecordSize, 1),
                                         makeOtherRecord(1, kEntriesBaseSize, 2),
                                         makeOtherRecord(2, kPackedProfileSize, 3)};
  EXPECT_EQ(run(others), "");

  // Channel 4 and records too short for their layout neither open nor join a
  // group; nullptr is ignored too.
  BladeRecordSpec s;
  s.channel = 4;
  RecordRef badChannel = makeBladeRecord(s);
  RecordRef shortSingle = makeOtherRecord(kRecordTypeBlades, kBladesRevolutionSize - 4, 0);
  RecordRef shortRange = makeOtherRecord(kRecordTypeBlades, kBladesRangeSize - 4, 0);
  setBladeAggregated(*shortRange, 1);
  RecordRef tiny = makeOtherRecord(kRecordTypeBlades, kMinRecordSize, 0);
  s.channel = 0;
  s.time = 5 * kSecond;
  RecordRef good = makeBladeRecord(s);
  auto exporter = createCsvExporter(config, path.c_str(), true);
  ASSERT_NE(exporter, nullptr);
  EXPECT_EQ(exportRecord(*exporter, nullptr), 1);
  for (const RecordRef& r : {badChannel, shortSingle, shortRange, tiny, good, badChannel}) {
    EXPECT_EQ(exportRecord(*exporter, r.get()), 1);
  }
  EXPECT_TRUE(finishCsvExporter(*exporter));
  EXPECT_EQ(readFile(path),
            "Time,Speed,Sync,Start Rev,End Rev,P RMS,P DNS\n"
            "1970-01-01 00:00:05.00,3000,Yes,0,0,0.5,\n");
}

TEST_F(ExporterTest, SingleOpenGroupIsWrittenAtFinish) {
#ifdef _WIN32
  GTEST_SKIP() << "the CSV's lines end in CR LF on Windows (windows-end-to-end.sh compares them)";
#endif
  addProbes(config, {{0, "A", 1}, {1, "B", 1}});
  BladeRecordSpec s;
  s.time = 12 * 3600 * kSecond + 30 * 60 * kSecond + 59996000;  // 12:30:59.996
  s.blades = {{2, 3}};
  RecordRef a = makeBladeRecord(s);
  s.channel = 1;
  s.rms = 0.75f;
  RecordRef b = makeBladeRecord(s);
  EXPECT_EQ(run({a, b}),
            "Time,Speed,Sync,Start Rev,End Rev,A RMS,A DNS,A Blade1 DNS,A Blade1 TOA,"
            "B RMS,B DNS,B Blade1 DNS,B Blade1 TOA\n"
            "1970-01-01 12:31:00.00,3000,Yes,0,0,0.5,2,2,3,0.75,2,2,3\n");
}

TEST_F(ExporterTest, UnknownHostGivesBaseColumnsOnly) {
#ifdef _WIN32
  GTEST_SKIP() << "the CSV's lines end in CR LF on Windows (windows-end-to-end.sh compares them)";
#endif
  addProbes(config, {{0, "A", 1}});
  BladeRecordSpec s;
  s.hostIndex = 1;
  s.blades = {{2, 3}};
  RecordRef a = makeBladeRecord(s);
  EXPECT_EQ(run({a, a}),
            "Time,Speed,Sync,Start Rev,End Rev\n"
            "1970-01-01 00:00:00.00,3000,Yes,0,0\n"
            "1970-01-01 00:00:00.00,3000,Yes,0,0\n");
}

// Blade counts are clamped to 0..65535, and a record with fewer entries than
// the stage has blades gets empty cells for the rest; every line keeps the
// header's cell count.
TEST_F(ExporterTest, BladeCountsAreClampedAndShortRecordsPadded) {
#ifdef _WIN32
  GTEST_SKIP() << "the CSV's lines end in CR LF on Windows (windows-end-to-end.sh compares them)";
#endif
  addProbes(config, {{0, "N", -3}, {1, "H", 70000}, {2, "S", 3}});
  BladeRecordSpec s;
  s.blades = {{1, 10}, {2, 20}, {3, 30}};
  RecordRef neg = makeBladeRecord(s);
  s.channel = 1;
  RecordRef huge = makeBladeRecord(s);
  s.channel = 2;
  s.blades = {{1, 10}, {4, 40}};
  RecordRef shortOne = makeBladeRecord(s);
  const std::string csv = run({neg, huge, shortOne});
  const auto lines = [&] {
    std::vector<std::string> v;
    size_t start = 0;
    for (size_t end; (end = csv.find('\n', start)) != std::string::npos; start = end + 1) {
      v.push_back(csv.substr(start, end - start));
    }
    return v;
  }();
  ASSERT_EQ(lines.size(), 2u);
  const auto cells = [](const std::string& line) {
    return std::count(line.begin(), line.end(), ',') + 1;
  };
  EXPECT_EQ(cells(lines[0]), 5 + 2 + (2 + 2 * 65535) + (2 + 2 * 3));
  EXPECT_EQ(cells(lines[1]), cells(lines[0]));
  EXPECT_NE(lines[0].find(",N RMS,N DNS,H RMS,H DNS,H Blade1 DNS,"), std::string::npos);
  EXPECT_NE(lines[0].find(",H Blade65535 TOA,S RMS"), std::string::npos);
  // N: no blades. H: three of 65535 entries. S: two of three, mean over two.
  std::string expected = "1970-01-01 00:00:00.00,3000,Yes,0,0,0.5,,0.5,2,1,2,3";
  expected += std::string(65532, ',') + ",10,20,30" + std::string(65532, ',');
  expected += ",0.5,2.5,1,4,,10,40,";
  EXPECT_EQ(lines[1], expected);
}

TEST_F(ExporterTest, NamesThatBreakCellsAreQuoted) {
#ifdef _WIN32
  GTEST_SKIP() << "the CSV's lines end in CR LF on Windows (windows-end-to-end.sh compares them)";
#endif
  addProbes(config, {{0, "a,b", 1}, {1, "say \"hi\"", 0}, {2, "plain", 0}});
  BladeRecordSpec s;
  RecordRef r = makeBladeRecord(s);
  const std::string csv = run({r});
  EXPECT_EQ(csv.substr(0, csv.find('\n')),
            "Time,Speed,Sync,Start Rev,End Rev,\"a,b RMS\",\"a,b DNS\",\"a,b Blade1 DNS\","
            "\"a,b Blade1 TOA\",\"say \"\"hi\"\" RMS\",\"say \"\"hi\"\" DNS\",plain RMS,plain DNS");
}

TEST_F(ExporterTest, HoldsAtMostFiveReferences) {
  addProbes(config, {{0, "A", 0}, {1, "B", 0}});
  auto exporter = createCsvExporter(config, path.c_str(), true);
  ASSERT_NE(exporter, nullptr);
  BladeRecordSpec s;
  RecordRef first = makeBladeRecord(s);
  ASSERT_EQ(exportRecord(*exporter, first.get()), 1);
  EXPECT_EQ(first->referenceCount(), 2);  // ours, the group's first, its slot
  for (int i = 0; i < 100; ++i) {
    s.channel = static_cast<uint8_t>(i % 2);
    RecordRef r = makeBladeRecord(s);
    ASSERT_EQ(exportRecord(*exporter, r.get()), 1);
  }
  EXPECT_EQ(first->referenceCount(), 0);
  RecordRef last = makeBladeRecord(s);
  ASSERT_EQ(exportRecord(*exporter, last.get()), 1);
  EXPECT_TRUE(finishCsvExporter(*exporter));
  EXPECT_EQ(last->referenceCount(), 0);
  const std::string csv = readFile(path);
  // The header, 50 lines closed by channel 0, one by `last`, one at the finish.
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 1 + 50 + 1 + 1);
}

TEST(Exporter, WriteFailuresAreReported) {
  Configuration config;
  addProbes(config, {{0, "P", 1000}});
  auto exporter = createCsvExporter(config, "/dev/full", true);
  ASSERT_NE(exporter, nullptr);
  BladeRecordSpec s;
  s.blades.assign(1000, {1.25f, 2.5f});
  RecordRef r = makeBladeRecord(s);
  int last = 1;
  // Enough lines to overflow the stream's buffer.
  for (int i = 0; i < 200 && last == 1; ++i) last = exportRecord(*exporter, r.get());
  EXPECT_EQ(last, 0);
  EXPECT_FALSE(finishCsvExporter(*exporter));

  // Even a single short line fails at the close.
  exporter = createCsvExporter(config, "/dev/full", true);
  ASSERT_NE(exporter, nullptr);
  EXPECT_EQ(exportRecord(*exporter, r.get()), 1);
  EXPECT_FALSE(finishCsvExporter(*exporter));
}

TEST(Exporter, CreationFailsAndTimestampedNames) {
  TempDir dir;
  Configuration config;
  EXPECT_EQ(createCsvExporter(config, dir.file("missing/x.csv").c_str(), true), nullptr);
  EXPECT_EQ(createCsvExporter(config, nullptr, true), nullptr);

  auto exporter = createTimestampedCsvExporter(config, dir.path().c_str(), "run", kTime, true);
  ASSERT_NE(exporter, nullptr);
  EXPECT_TRUE(finishCsvExporter(*exporter));
  EXPECT_TRUE(testing::fileExists(dir.file("run.2011-03-15.14-07-09.csv")));
  EXPECT_EQ(readFile(dir.file("run.2011-03-15.14-07-09.csv")), "");
}

}  // namespace
}  // namespace cdt
