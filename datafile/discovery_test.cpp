#include "datafile/discovery.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "datafile/data_file.h"
#include "foundation/paths.h"
#include "foundation/time_value.h"
#include "test/support.h"

namespace cdt {
namespace {

using testing::TempDir;

// 2011-05-06 12:30:45 UTC.
constexpr uint64_t kT = 1304685045ull * 1000000;
constexpr uint64_t kMinute = 60 * 1000000ull;

uint64_t timeOfName(const std::string& name) {
  return nameTime(TextBuffer(name));
}

// Rig1, revision 7, with hosts Daq1, Daq2, ... on computers daqpc1, daqpc2, ...
Configuration rig(uint32_t hosts) {
  Configuration c;
  c.name = CountedString("Rig1");
  c.revision = 7;
  for (uint32_t k = 0; k < hosts; ++k) c.insertHost(k, ("daqpc" + std::to_string(k + 1)).c_str());
  return c;
}

std::string record(const Configuration& c, const std::string& directory, const std::string& base,
                   uint64_t time) {
  std::unique_ptr<DataFile> file =
      createTimestampedDataFile(c, directory.c_str(), base.c_str(), time);
  EXPECT_NE(file, nullptr);
  if (file != nullptr) {
    EXPECT_TRUE(closeDataFile(*file));
  }
  const TimeStamp t = timeStampOf(time);
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, ".%04d-%02d-%02d.%02d-%02d-%02d.cdt", t.year, t.month, t.day,
                t.hour, t.minute, t.second);
  return directory + "/" + base + stamp;
}

std::vector<std::string> strings(const StringArray& a) {
  std::vector<std::string> v;
  for (const CountedString& s : a) v.push_back(s.str());
  return v;
}

std::vector<std::string> strings(const RecordingSet& a) {
  std::vector<std::string> v;
  for (const CountedString& s : a) v.push_back(s.str());
  return v;
}

TEST(NameTime, ReadsTheTimePartOfNamesAndPaths) {
  EXPECT_EQ(timeOfName("Rig1.0007.Daq1.2011-05-06.12-30-45.cdt"), kT);
  EXPECT_EQ(timeOfName("/data/a.b/Rig1.0007.Daq1.2011-05-06.12-30-45.cdt"), kT);
  EXPECT_EQ(timeOfName(std::string(40, '.') + "x.y.z.Daq1.2011-05-06.12-30-45.cdt"), kT);
  EXPECT_EQ(timeOfName("x.. 2011-05-06.12-30-45.cdt"), kT);  // pieces are trimmed
  // Any number of pieces: 41 before the time part here.
  std::string deep;
  for (int i = 0; i < 20; ++i) deep += "v1.2/";
  EXPECT_EQ(timeOfName(deep + "Daq1.2011-05-06.12-30-45.cdt"), kT);
  // The numbers and the tail read as sscanf would.
  EXPECT_EQ(timeOfName("x.+2011-05-06.12-30-045.cdt extra"), kT);
  EXPECT_EQ(timeOfName("x.2012-02-29.00-00-00.cdt"), 1330473600ull * 1000000);

  const std::string name = "Rig1.0007.Daq1.2011-05-06.12-30-45.cdt";
  EXPECT_EQ(findTimePart(TextBuffer(name)).view(), "2011-05-06.12-30-45.cdt");
  EXPECT_TRUE(findTimePart(TextBuffer(std::string_view("2011-05-06.12-30-45.cdt"))).empty());
  // A view that ends inside the name is read only up to its end.
  EXPECT_EQ(nameTime(TextBuffer(name.data(), static_cast<uint32_t>(name.size() - 1))), 0u);
}

TEST(NameTime, NamesWithoutAValidTimeGiveZero) {
  for (const char* name :
       {"Rig1.0007.Daq1.2011-05-06.12-30-45.cdx",
        "Rig1.0007.Daq1.2011-05-06.12-30-45.cdt.temp",  // still being written
        "Rig1.0007.Daq1.2011-05-06.12-30-45.cdt/",      // a directory
        "Rig1.0007.Daq1.2011-05-06.12-30-45.cdtcdtcdtcdtcdtcdtcdt",
        "Rig1.0007.Daq1.2011-05-06.12-30.cdt", "Rig1.0007.Daq1.2011-05-06.12-30-45.",
        "Rig1.1970-01-01.00-00-00.cdt",  // time 0
        "Rig1.1969-12-31.23-59-59.cdt",  // before 1970: would wrap around
        "Rig1.2011-13-06.12-30-45.cdt", "Rig1.2011-02-29.12-30-45.cdt",
        "Rig1.2011-05-06.24-30-45.cdt", "Rig1.99999999999999999999-05-06.12-30-45.cdt", "", "...",
        "a.b.c"}) {
    EXPECT_EQ(timeOfName(name), 0u) << name;
  }
}

TEST(SortByNameTime, IsStableInBothOrders) {
  StringArray entries;
  for (const char* s : {"a.2011-05-06.12-30-45.cdt", "b.2011-05-06.12-30-40.cdt", "no time",
                        "c.2011-05-06.12-30-45.cdt", "d.2011-05-06.12-30-40.cdt"}) {
    entries.append(CountedString(s));
  }
  const NameIndexList up = sortByNameTime(entries, SortOrder::Ascending);
  EXPECT_EQ(std::vector<uint32_t>(up.begin(), up.end()), (std::vector<uint32_t>{2, 1, 4, 0, 3}));
  const NameIndexList down = sortByNameTime(entries, SortOrder::Descending);
  EXPECT_EQ(std::vector<uint32_t>(down.begin(), down.end()),
            (std::vector<uint32_t>{0, 3, 1, 4, 2}));
  EXPECT_TRUE(sortByNameTime(StringArray(), SortOrder::Ascending).empty());
}

TEST(ListDataFiles, KeepsTheConfigurationsTimedFiles) {
  TempDir dir;
  const Configuration c = rig(1);
  const std::string good = record(c, dir.path(), "Rig1.0007.Daq1", kT);
  record(c, dir.path(), "Rig1.0008.Daq1", kT);
  record(c, dir.path(), "Rig1.0007.Daq1", 0);
  testing::writeFile(dir.file("Rig1.0007.Daq1.2011-05-06.12-30-45.cdx"), "x");
  testing::writeFile(dir.file("Rig1.0007.Daq1.2011-05-06.12-31-00.cdt.temp"), "x");
  ASSERT_TRUE(makeDirectories(dir.file("Rig1.0007.Daq1.2011-05-06.12-32-00.cdt").c_str()));

  StringArray paths;
  EXPECT_EQ(listDataFiles((dir.path() + "//").c_str(), paths, &c), 1u);
  EXPECT_EQ(strings(paths), (std::vector<std::string>{good}));
  // Without a configuration the other revision qualifies too.
  EXPECT_EQ(listDataFiles(dir.path().c_str(), paths, nullptr), 2u);
  EXPECT_EQ(paths[1], dir.file("Rig1.0008.Daq1.2011-05-06.12-30-45.cdt").c_str());

  Configuration wide = c;
  wide.revision = 10000;  // ".10000." matches no name
  EXPECT_EQ(listDataFiles(dir.path().c_str(), paths, &wide), 0u);
  paths.append(CountedString("stale"));
  EXPECT_EQ(listDataFiles(dir.file("missing").c_str(), paths, &c), 0u);
  EXPECT_TRUE(paths.empty());
}

TEST(FindRecordingSets, OneSetPerMomentInTimeOrder) {
  TempDir dir;
  const Configuration c = rig(2);
  RecordingSetArray sets;
  const std::string daq1 = record(c, dir.path(), "Rig1.0007.Daq1", kT);
  ASSERT_EQ(findRecordingSets(dir.path().c_str(), sets, c), 1u);
  EXPECT_EQ(strings(sets[0]), (std::vector<std::string>{daq1, ""}));

  // The second host's file fills the slot, and opens no set of its own.
  const std::string daq2 = record(c, dir.path(), "Rig1.0007.Daq2", kT);
  ASSERT_EQ(findRecordingSets(dir.path().c_str(), sets, c), 1u);
  EXPECT_EQ(strings(sets[0]), (std::vector<std::string>{daq1, daq2}));

  // Listed as C, B, A; by time t2 < t1 < t3.
  TempDir three;
  const Configuration one = rig(1);
  record(one, three.path(), "Rig1.0007.A.Daq1", kT + 3 * kMinute);
  record(one, three.path(), "Rig1.0007.B.Daq1", kT + kMinute);
  record(one, three.path(), "Rig1.0007.C.Daq1", kT);
  record(one, three.path(), "Rig1.0007.Other", kT);  // no host's file
  ASSERT_EQ(findRecordingSets(three.path().c_str(), sets, one), 3u);
  EXPECT_EQ(sets[0][0], three.file("Rig1.0007.C.Daq1.2011-05-06.12-30-45.cdt").c_str());
  EXPECT_EQ(sets[1][0], three.file("Rig1.0007.B.Daq1.2011-05-06.12-31-45.cdt").c_str());
  EXPECT_EQ(sets[2][0], three.file("Rig1.0007.A.Daq1.2011-05-06.12-33-45.cdt").c_str());

  EXPECT_EQ(findRecordingSets(dir.file("missing").c_str(), sets, c), 0u);
  EXPECT_TRUE(sets.empty());
  EXPECT_EQ(findRecordingSets(dir.path().c_str(), sets, rig(0)), 0u);
}

TEST(FindRecordingSets, FindsOtherHostsInTheirComputersDirectories) {
  TempDir dir;
  const Configuration c = rig(3);
  const std::string daq1 = record(c, dir.file("daqpc1"), "Rig1.0007.Daq1", kT);
  const std::string daq2 = record(c, dir.file("daqpc2"), "Rig1.0007.Daq2", kT);
  RecordingSetArray sets;
  ASSERT_EQ(findRecordingSets(dir.file("daqpc1").c_str(), sets, c), 1u);
  EXPECT_EQ(strings(sets[0]), (std::vector<std::string>{daq1, daq2, ""}));

  // A host without a name matches nothing, rather than every path with a dot.
  Configuration unnamed = c;
  unnamed.hosts.at(0).name = CountedString();
  ASSERT_EQ(findRecordingSets(dir.file("daqpc2").c_str(), sets, unnamed), 1u);
  EXPECT_EQ(strings(sets[0]), (std::vector<std::string>{"", daq2, ""}));
}

}  // namespace
}  // namespace cdt
