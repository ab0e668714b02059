#include "lines/line_follower.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

#include "csv/csv_test_support.h"
#include "test/support.h"

namespace cdt {
namespace {

using namespace std::chrono_literals;
using testing::BladeRecordSpec;
using testing::makeBladeRecord;

// Start Rev, slot and first DNS of every record of a line, as a key that
// tells lines apart.
using Line = std::vector<uint64_t>;

Line lineKey(const LineGroup& group, uint64_t windowTime) {
  Line key{windowTime, bladeStartRevolution(*group.first)};
  for (const DataRecord* r : group.slots) key.push_back(r == nullptr ? 0 : r->time());
  return key;
}

RecordRef blade(uint8_t channel, uint64_t revolution, uint64_t time) {
  BladeRecordSpec s;
  s.channel = channel;
  s.time = time;
  s.startRevolution = revolution;
  s.blades = {{1.0f, 2.0f}, {3.0f, 4.0f}};
  return makeBladeRecord(s);
}

// Revolutions of records on slots 0, 1 and 3 (a slot skipped now and then,
// so groups of 1 to 3 records), with other records in between.
std::vector<RecordRef> sampleRecords(std::mt19937& random) {
  std::vector<RecordRef> records;
  uint64_t time = 1300000000000000ull;
  for (uint64_t rev = 1; rev <= 300; ++rev) {
    for (uint8_t slot : {0, 1, 3}) {
      if (random() % 7 == 0) continue;
      records.push_back(blade(slot, rev, time += 1000));
    }
    if (rev % 10 == 0) records.push_back(testing::makeOtherRecord(kRecordTypeEntries, 96, time));
  }
  return records;
}

TEST(LineFollower, LinesAcrossWaitsAreTheLinesOfTheFinishedFile) {
  std::mt19937 random(7);
  Configuration config;
  testing::addProbes(config, {{0, "A", 2}, {1, "B", 2}, {3, "D", 2}});
  const std::vector<RecordRef> recorded = sampleRecords(random);
  testing::TempDir dir;
  const std::string path = dir.file("live.cdt");

  for (const LineWindow& window : {LineWindow{},
                                   LineWindow{1300000000050000ull, 1300000000600000ull,
                                              std::nullopt, std::nullopt, std::nullopt},
                                   LineWindow{std::nullopt, std::nullopt, 40, 120, std::nullopt}}) {
    // A small stream buffer makes the file grow in pieces that cut records.
    std::unique_ptr<DataFile> file =
        createDataFile(config, path.c_str(), CreateMode::Replace, 1 + random() % 700);
    ASSERT_NE(file, nullptr);
    DataFileFollower records(path);
    LineFollower follower(records, window);
    std::vector<Line> followed;
    const auto take = [&](const LineGroup& g, uint64_t t) { followed.push_back(lineKey(g, t)); };
    std::size_t written = 0;
    while (written < recorded.size()) {
      const std::size_t n = 1 + random() % 9;
      for (std::size_t i = 0; i < n && written < recorded.size(); ++i) {
        ASSERT_TRUE(writeRecord(*file, *recorded[written++]));
      }
      if (random() % 2 == 0) {
        ASSERT_TRUE(flushDataFile(*file));
      }
      const FollowBatch batch = follower.nextGroups(1 + random() % 5, 0ms, take);
      ASSERT_EQ(batch.status, FollowStatus::Waiting);
    }
    ASSERT_TRUE(flushDataFile(*file));
    // Every record is in the file; the group in progress is not complete.
    while (follower.nextGroups(1000, 0ms, take).lines > 0) {
    }
    const std::size_t beforeEnd = followed.size();
    ASSERT_TRUE(closeDataFile(*file));
    FollowBatch last;
    do {
      last = follower.nextGroups(1000, 1000ms, take);
    } while (last.status == FollowStatus::Waiting);
    EXPECT_EQ(last.status, FollowStatus::Finished);
    EXPECT_TRUE(records.indexAgrees());

    std::vector<Line> whole;
    std::unique_ptr<DataFile> finished = openDataFile(path.c_str());
    ASSERT_NE(finished, nullptr);
    const ColumnPlan plan = planAllColumns(hostColumns(finished->configuration(), 0, true).layout);
    LineReader reader(*finished, plan, window);
    reader.readEach(1000000,
                    [&](const LineGroup& g, uint64_t t) { whole.push_back(lineKey(g, t)); });
    EXPECT_EQ(followed, whole);
    // The last line came only with the end (unless the window ended first).
    if (!window.stop && !window.lastRevolution) {
      EXPECT_EQ(beforeEnd + 1, whole.size());
    }
    EXPECT_EQ(follower.lines(), whole.size());
    ASSERT_TRUE(std::remove(path.c_str()) == 0);
  }
}

TEST(LineFollower, ColumnsAndTheHostOfTheLines) {
  Configuration config;
  testing::addProbes(config, {{0, "A", 2}, {1, "B", 2}});
  testing::TempDir dir;
  const std::string path = dir.file("cols.cdt");
  std::unique_ptr<DataFile> file = createDataFile(config, path.c_str());
  ASSERT_NE(file, nullptr);
  ASSERT_TRUE(writeRecord(*file, *testing::makeOtherRecord(kRecordTypeEntries, 64, 5)));
  ASSERT_TRUE(flushDataFile(*file));
  DataFileFollower records(path);
  LineFollower follower(records);
  EXPECT_EQ(follower.waitForHost(0ms), FollowStatus::Waiting);
  for (uint64_t rev = 1; rev <= 5; ++rev) {
    ASSERT_TRUE(writeRecord(*file, *blade(0, rev, 10 + rev)));
    ASSERT_TRUE(writeRecord(*file, *blade(1, rev, 10 + rev)));
  }
  ASSERT_TRUE(flushDataFile(*file));
  ASSERT_EQ(follower.waitForHost(0ms), FollowStatus::Record);
  EXPECT_EQ(follower.host(), 0u);

  const ColumnPlan plan = planAllColumns(hostColumns(config, 0, true).layout);
  ColumnStorage storage(plan, 8);
  FollowBatch batch = follower.next(plan, storage.columns(), 0, 8, 0ms);
  EXPECT_EQ(batch.lines, 4u);  // the fifth is not complete yet
  EXPECT_EQ(batch.status, FollowStatus::Waiting);
  EXPECT_EQ(storage.columns().startRevolution[3], 4u);
  ASSERT_TRUE(closeDataFile(*file));
  batch = follower.next(plan, storage.columns(), 4, 4, 1000ms);
  EXPECT_EQ(batch.lines, 1u);
  EXPECT_EQ(batch.status, FollowStatus::Finished);
  EXPECT_EQ(storage.columns().startRevolution[4], 5u);
  EXPECT_EQ(follower.next(plan, storage.columns(), 0, 8, 0ms).status, FollowStatus::Finished);
}

}  // namespace
}  // namespace cdt
