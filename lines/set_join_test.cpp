#include "lines/set_join.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace cdt {
namespace {

using Lines = std::vector<std::vector<SetJoinLine>>;

// The set lines of the hosts' lines, offered in window-time order.
std::vector<SetLine> joined(const Lines& hosts, std::size_t master = 0) {
  SetJoin join(hosts.size(), master);
  std::vector<std::size_t> next(hosts.size(), 0);
  std::vector<SetLine> out;
  for (;;) {
    std::vector<std::optional<SetJoinLine>> ahead(hosts.size());
    for (std::size_t h = 0; h < hosts.size(); ++h) {
      if (next[h] < hosts[h].size()) ahead[h] = hosts[h][next[h]];
    }
    const std::optional<std::size_t> pick = nextJoinHost(
        hosts.size(), [&](std::size_t h) -> const std::optional<SetJoinLine>& { return ahead[h]; });
    if (!pick) break;
    join.add(*pick, hosts[*pick][next[*pick]++]);
    while (auto line = join.take()) out.push_back(*line);
  }
  join.finish();
  while (auto line = join.take()) out.push_back(*line);
  return out;
}

// One-revolution lines at 3000 rpm (20 ms each) from `first` on, numbered
// from revolution `rev`, the clock `offset` microseconds off.
void revolutions(std::vector<SetJoinLine>& to, uint64_t first, uint64_t count, uint64_t rev,
                 int64_t offset = 0) {
  for (uint64_t i = 0; i < count; ++i) {
    const uint64_t t = 1'000'000'000 + (first + i) * 20'000 + offset;
    to.push_back({{rev + i, rev + i}, t, static_cast<int64_t>(t), 3000.0f, to.size()});
  }
}

TEST(SetJoin, HostsThatDropStartLateAndResyncJoinWithinTheirMoment) {
  Lines hosts(3);
  // The master: revolutions 100-159, then the counter restarts at 1 for 40.
  revolutions(hosts[0], 0, 60, 100);
  revolutions(hosts[0], 60, 40, 1);
  // Host 1 drops every 7th line; host 2 starts 25 revolutions late, after
  // the restart too, its clock 40 us ahead.
  for (const SetJoinLine& line : hosts[0]) {
    if (line.row % 7 != 6)
      hosts[1].push_back({line.key, line.windowTime, line.time, line.speed, hosts[1].size()});
  }
  revolutions(hosts[2], 85, 15, 26, 40);
  const std::vector<SetLine> lines = joined(hosts);
  ASSERT_EQ(lines.size(), 100u);
  std::size_t missing1 = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const SetLine& line = lines[i];
    ASSERT_TRUE(line.hosts[0]) << i;
    EXPECT_EQ(line.hosts[0]->row, i);
    EXPECT_EQ(line.reference, 0u);
    missing1 += !line.hosts[1];
    EXPECT_EQ(bool(line.hosts[2]), i >= 85) << i;
    if (line.hosts[2]) {
      EXPECT_EQ(line.hosts[2]->key, line.key);
      EXPECT_EQ(setLineStatus(&*line.hosts[2], *line.hosts[0]), 0);
    }
  }
  EXPECT_EQ(missing1, 14u);
}

TEST(SetJoin, KeysThatComeAgainSoonJoinTheLinesOfTheirOwnMoment) {
  // Both counters step back three revolutions at once: the keys 10-12 come
  // twice, 60 ms apart, and each pair joins its own moment.
  Lines hosts(2);
  for (std::vector<SetJoinLine>& h : hosts) {
    revolutions(h, 0, 13, 0);
    revolutions(h, 13, 10, 10);
  }
  hosts[0].erase(hosts[0].begin() + 11);  // the master misses the first key 11
  const std::vector<SetLine> lines = joined(hosts);
  ASSERT_EQ(lines.size(), 23u);
  for (const SetLine& line : lines) {
    ASSERT_TRUE(line.hosts[1]);
    if (!line.hosts[0]) {
      EXPECT_EQ(line.key.start, 11u);
      EXPECT_EQ(line.reference, 1u);  // Time from the first host that has the line
      EXPECT_EQ(line.hosts[1]->row, 11u);
      continue;
    }
    EXPECT_EQ(line.hosts[0]->windowTime, line.hosts[1]->windowTime);
  }
}

TEST(SetJoin, RangesJoinOnlyWhereEqualAndStatusesTellWhatDiffers) {
  Lines hosts(2);
  hosts[0].push_back({{1, 10}, 0, 0, 3000.0f, 0});
  hosts[1].push_back({{1, 10}, 5, 5, 3000.0f, 0});
  hosts[0].push_back({{11, 20}, 200'000, 200'000, 3000.0f, 1});
  hosts[1].push_back({{11, 19}, 200'000, 200'000, 3000.0f, 1});
  const std::vector<SetLine> lines = joined(hosts);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_TRUE(lines[0].hosts[0] && lines[0].hosts[1]);
  EXPECT_TRUE(lines[1].hosts[0] && !lines[1].hosts[1]);
  EXPECT_TRUE(!lines[2].hosts[0] && lines[2].hosts[1]);

  const SetJoinLine reference{{1, 1}, 0, 1'000'000, 3000.0f, 0};
  const float nan = std::nanf("");
  struct Case {
    int64_t time;
    float speed;
    uint8_t status;
  } cases[] = {{1'010'000, 3000.0f, 0},            // 10 ms: within half a revolution
               {1'010'001, 3000.0f, kSetTimeOff},  // just past it
               {1'000'000, 3031.0f, kSetSpeedOff},
               {989'999, 2969.0f, kSetTimeOff | kSetSpeedOff},
               {1'000'000, nan, kSetSpeedOff}};
  for (const Case& c : cases) {
    const SetJoinLine line{{1, 1}, 0, c.time, c.speed, 0};
    EXPECT_EQ(setLineStatus(&line, reference), c.status) << c.time << " " << c.speed;
  }
  EXPECT_EQ(setLineStatus(nullptr, reference), kSetMissing);
}

TEST(SetJoin, LinesOfOneTimeAreHeldInBoundedNumbers) {
  // Every line at the same window time: the held set lines stay bounded and
  // every line still comes out once.
  Lines hosts(1);
  for (uint64_t i = 0; i < kSetJoinHeld + 100; ++i) hosts[0].push_back({{i, i}, 7, 7, 1.0f, i});
  const std::vector<SetLine> lines = joined(hosts);
  ASSERT_EQ(lines.size(), kSetJoinHeld + 100);
  for (std::size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i].hosts[0]->row, i);
}

}  // namespace
}  // namespace cdt
