#include "lines/set_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "csv/csv_test_support.h"
#include "test/support.h"

namespace cdt {
namespace {

using testing::makeBladeRecord;

// A host's file: one probe of two blades on slot 0, a line per revolution
// of `revolutions` (20 ms apart, the clock `offset` off), Blade1 DNS the
// revolution plus `tag`.
std::string hostFile(testing::TempDir& dir, const char* name,
                     const std::vector<uint64_t>& revolutions, float tag, int64_t offset = 0) {
  Configuration config;
  testing::addProbes(config, {{0, "P", 2}});
  const std::string path = dir.file(name);
  std::unique_ptr<DataFile> file = createDataFile(config, path.c_str());
  EXPECT_NE(file, nullptr);
  for (uint64_t rev : revolutions) {
    const uint64_t index = rev >= 1000 ? rev - 1000 + 60 : rev;  // after the restart
    testing::BladeRecordSpec blade;
    blade.time =
        static_cast<uint64_t>(1'000'000'000 + static_cast<int64_t>(index) * 20'000 + offset);
    blade.startRevolution = rev >= 1000 ? rev - 1000 : rev;
    blade.blades = {{static_cast<float>(blade.startRevolution) + tag, 0.25f}, {1.0f, 0.5f}};
    EXPECT_TRUE(writeRecord(*file, *makeBladeRecord(blade)));
  }
  EXPECT_TRUE(closeDataFile(*file));
  return path;
}

TEST(SetReader, HostsJoinRevolutionByRevolutionAndTellWhatTheyLack) {
  testing::TempDir dir;
  // Revolutions 0-59, then the counter restarts at 0 for 20 (numbers from
  // 1000 here); host b drops every 5th, host c starts at 30, 40 us ahead.
  std::vector<uint64_t> all, dropped, late;
  for (uint64_t i = 0; i < 80; ++i) {
    const uint64_t rev = i < 60 ? i : 1000 + i - 60;
    all.push_back(rev);
    if (i % 5 != 4) dropped.push_back(rev);
    if (i >= 30) late.push_back(rev);
  }
  const std::string paths[] = {hostFile(dir, "a.cdt", all, 0.0f),
                               hostFile(dir, "b.cdt", dropped, 0.25f),
                               hostFile(dir, "c.cdt", late, 0.5f, 40)};
  std::vector<std::unique_ptr<DataFile>> files;
  std::vector<SetReader::Host> hosts;
  std::vector<ColumnPlan> plans;
  for (const std::string& path : paths) {
    files.push_back(openDataFile(path.c_str()));
    ASSERT_NE(files.back(), nullptr);
    hosts.push_back({files.back().get(), {}, std::nullopt});
    plans.push_back(planAllColumns(hostColumns(files.back()->configuration(), 0, true).layout));
  }
  const SetPlan plan = planSet(plans);
  ASSERT_EQ(plan.floatRows, 1u + 3 * 5);  // speed, then per host RMS and two blades' DNS and TOA
  // Read in batches of 7 into columns of that stride.
  constexpr std::size_t kBatch = 7;
  std::vector<int64_t> time(kBatch);
  std::vector<uint8_t> sync(kBatch), status(3 * kBatch);
  std::vector<uint64_t> start(kBatch), end(kBatch);
  std::vector<float> floats(plan.floatRows * kBatch);
  std::vector<double> doubles(plan.doubleRows * kBatch);
  const SetColumns columns{
      {time.data(), sync.data(), start.data(), end.data(), floats.data(), doubles.data(), kBatch},
      status.data()};
  SetReader reader(hosts, 0, plan);
  std::size_t line = 0;
  while (!reader.ended()) {
    const std::size_t n = reader.read(columns, 0, kBatch);
    for (std::size_t r = 0; r < n; ++r, ++line) {
      ASSERT_LT(line, 80u);
      const uint64_t rev = line < 60 ? line : line - 60;
      EXPECT_EQ(start[r], rev) << line;
      EXPECT_EQ(time[r], 1'000'000'000 + static_cast<int64_t>(line) * 20'000) << line;
      for (std::size_t h = 0; h < 3; ++h) {
        const bool present = h == 0 || (h == 1 && line % 5 != 4) || (h == 2 && line >= 30);
        EXPECT_EQ(status[h * kBatch + r], present ? 0 : kSetMissing) << line << " " << h;
        const float dns = floats[(plan.floatRow[h] + 1) * kBatch + r];  // Blade1 DNS
        if (present) {
          EXPECT_EQ(dns, static_cast<float>(rev) + 0.25f * static_cast<float>(h)) << line;
        } else {
          EXPECT_TRUE(std::isnan(dns)) << line;
        }
      }
    }
  }
  EXPECT_EQ(line, 80u);
}

}  // namespace
}  // namespace cdt
