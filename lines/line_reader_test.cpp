#include "lines/line_reader.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <random>
#include <vector>

#include "csv/csv_test_support.h"
#include "datafile/index_walk.h"
#include "datafile/walk_checkpoints.h"
#include "test/support.h"

namespace cdt {
namespace {

using testing::BladeRecordSpec;
using testing::makeBladeRecord;

// Two probes of 3 and 2 blades on slots 0 and 2; slot 1 records take part in
// the grouping but have no columns.
struct Recording {
  Recording() {
    testing::addProbes(config, {{0, "A", 3}, {2, "B", 2}});
    path = dir.file("rec.cdt");
  }
  void write(const std::vector<RecordRef>& records) {
    std::unique_ptr<DataFile> file = createDataFile(config, path.c_str());
    ASSERT_NE(file, nullptr);
    for (const RecordRef& r : records) ASSERT_TRUE(writeRecord(*file, *r));
    ASSERT_TRUE(closeDataFile(*file));
  }
  // Start Rev and the A Blade1 DNS of every line the window keeps.
  // With `planned`, the reader begins there instead of seeking.
  std::vector<std::pair<uint64_t, float>> read(const LineWindow& window, std::size_t batch = 3,
                                               const PlannedLineStart* planned = nullptr) {
    std::unique_ptr<DataFile> file = openDataFile(path.c_str());
    const ColumnPlan plan = planAllColumns(hostColumns(file->configuration(), 0, true).layout);
    std::unique_ptr<LineReader> made =
        planned != nullptr ? std::make_unique<LineReader>(*file, plan, window, *planned)
                           : std::make_unique<LineReader>(*file, plan, window);
    LineReader& reader = *made;
    std::vector<std::pair<uint64_t, float>> lines;
    std::vector<int64_t> time(batch);
    std::vector<uint8_t> sync(batch);
    std::vector<uint64_t> start(batch), end(batch);
    std::vector<float> floats(plan.floatRows * batch);
    std::vector<double> doubles(plan.doubleRows * batch);
    const LineColumns columns{time.data(),   sync.data(),    start.data(), end.data(),
                              floats.data(), doubles.data(), batch};
    while (!reader.ended()) {
      const std::size_t n = reader.read(columns, 0, batch);
      for (std::size_t i = 0; i < n; ++i) {
        // NaN (no slot-0 record) as -1, so that lines compare equal.
        const float dns = floats[plan.bladeDnsRow[0] * batch + i];
        lines.emplace_back(start[i], std::isnan(dns) ? -1.0f : dns);
      }
    }
    return lines;
  }

  testing::TempDir dir;
  Configuration config;
  std::string path;
};

RecordRef blade(uint8_t channel, uint64_t time, uint64_t revolution,
                std::vector<testing::Blade> b) {
  BladeRecordSpec s;
  s.channel = channel;
  s.time = time;
  s.startRevolution = revolution;
  s.blades = std::move(b);
  return makeBladeRecord(s);
}

TEST(LineColumnsTest, StoresTheCsvValuesWithNaNForEmptyCells) {
  Configuration config;
  testing::addProbes(config, {{0, "A", 3}, {2, "B", 2}});
  const ColumnPlan plan = planColumns(hostColumns(config, 0, true).layout, {true, true, true, true},
                                      std::vector<uint32_t>{2, 3, 9});
  ASSERT_EQ(plan.floatRows, 1u + 5 + 3);  // speed; A: rms, 2 dns, 2 toa; B: rms, dns, toa
  BladeRecordSpec s;
  s.time = 5;
  s.startRevolution = 100;
  s.endRevolution = 104;
  s.range = true;
  s.blades = {{1, 10}, {2, 20}};  // fewer entries than the stage's 3 blades
  const RecordRef a = makeBladeRecord(s);
  LineGroup group;
  group.first = group.slots[0] = a.get();
  int64_t time;
  uint8_t sync;
  uint64_t start, end;
  // Zeros, so that a cell left unwritten shows.
  float floats[9] = {};
  double doubles[2] = {};
  storeLine(plan, group, {&time, &sync, &start, &end, floats, doubles, 1}, 0);
  EXPECT_EQ(time, 5);
  EXPECT_EQ(start, 100u);
  EXPECT_EQ(end, 104u);
  EXPECT_EQ(doubles[plan.dnsRow[0]], 1.5);  // the mean over the entries there are
  EXPECT_EQ(floats[plan.bladeDnsRow[0]], 2.0f);
  EXPECT_TRUE(std::isnan(floats[plan.bladeDnsRow[0] + 1]));  // blade 3: no entry
  EXPECT_EQ(floats[plan.bladeToaRow[0]], 20.0f);
  EXPECT_TRUE(std::isnan(floats[plan.bladeToaRow[0] + 1]));  // blade 3: no entry
  // Slot 2 has no record: every cell empty.
  EXPECT_TRUE(std::isnan(floats[plan.rmsRow[2]]));
  EXPECT_TRUE(std::isnan(doubles[plan.dnsRow[2]]));
  EXPECT_TRUE(std::isnan(floats[plan.bladeDnsRow[2]]));
  EXPECT_TRUE(std::isnan(floats[plan.bladeToaRow[2]]));
}

// The masks mark exactly the empty cells, never a recorded NaN (the default
// quiet NaN a recorder writes for no reading among them); columns without an
// empty cell carry none; copies carry them, and a cleared batch has none.
TEST(LineColumnsTest, MasksMarkTheEmptyCellsAndNoRecordedNaN) {
  Configuration config;
  testing::addProbes(config, {{0, "A", 3}, {2, "B", 2}});
  const ColumnPlan plan = planColumns(hostColumns(config, 0, true).layout, {true, true, true, true},
                                      std::vector<uint32_t>{2, 3, 9});
  const float quietNan = std::bit_cast<float>(0x7FC00000u);
  BladeRecordSpec s;
  s.rms = quietNan;
  s.blades = {{1, 10}, {quietNan, 20}, {3, 30}};
  const RecordRef all = makeBladeRecord(s);
  s.blades.pop_back();  // blade 3: no entry
  const RecordRef fewer = makeBladeRecord(s);
  s.channel = 2;
  const RecordRef b = makeBladeRecord(s);
  ColumnStorage storage(plan, 2);
  const LineColumns& c = storage.columns();
  LineGroup whole;
  whole.first = whole.slots[0] = all.get();
  whole.slots[2] = b.get();
  storeLine(plan, whole, c, 0);
  const auto masked = [&](const LineColumns& columns) {
    std::string rows;
    for (uint32_t r = 0; r < plan.floatRows; ++r) rows += floatEmpties(columns, r) ? 'f' : '.';
    for (uint32_t r = 0; r < plan.doubleRows; ++r) rows += doubleEmpties(columns, r) ? 'd' : '.';
    return rows;
  };
  EXPECT_EQ(masked(c), std::string(plan.floatRows + plan.doubleRows, '.'));
  EXPECT_EQ(std::bit_cast<uint32_t>(c.floats[plan.rmsRow[0] * 2]), 0x7FC00000u);
  EXPECT_EQ(std::bit_cast<uint32_t>(c.floats[plan.bladeDnsRow[0] * 2]), 0x7FC00000u);

  LineGroup partial;  // A without blade 3, B without a record
  partial.first = partial.slots[0] = fewer.get();
  storeLine(plan, partial, c, 1);
  // Speed; A: rms, dns 2 and 3, toa 2 and 3; B: rms, dns 2, toa 2; the means.
  EXPECT_EQ(masked(c), ".ffffffffdd");
  const auto cells = [&](const LineColumns& columns, std::size_t row) {
    std::string empty;
    for (uint32_t r = 1; r < plan.floatRows; ++r)
      empty += static_cast<char>('0' + floatEmpties(columns, r)[row]);
    for (uint32_t r = 0; r < plan.doubleRows; ++r)
      empty += static_cast<char>('0' + doubleEmpties(columns, r)[row]);
    return empty;
  };
  EXPECT_EQ(cells(c, 0), "0000000000");
  EXPECT_EQ(cells(c, 1), "0010111101");
  EXPECT_TRUE(std::isnan(c.floats[plan.bladeDnsRow[0] * 2 + 1]));  // a recorded NaN, kept

  ColumnStorage other(plan, 3);
  storeLine(plan, whole, other.columns(), 0);
  copyLines(plan, c, other.columns(), 1, 2);
  EXPECT_EQ(cells(other.columns(), 0), "0000000000");
  EXPECT_EQ(cells(other.columns(), 1), "0000000000");
  EXPECT_EQ(cells(other.columns(), 2), "0010111101");
  clearEmpties(plan, c);
  storeLine(plan, whole, c, 0);
  EXPECT_EQ(masked(c), std::string(plan.floatRows + plan.doubleRows, '.'));
}

TEST(LineReaderTest, GroupsRunsOfDistinctChannels) {
  Recording rec;
  // Channels 0 1 2 3 | 0 1 3 | 3 1 0, one revolution number per record;
  // channel 7 takes no part.
  std::vector<RecordRef> records;
  const uint8_t channels[] = {0, 1, 2, 3, 0, 1, 3, 7, 3, 1, 0};
  uint64_t revolution = 0;
  for (uint8_t c : channels) {
    records.push_back(blade(c, 10 * revolution, revolution, {{float(revolution), 2}}));
    ++revolution;
  }
  rec.write(records);
  std::vector<std::pair<uint64_t, float>> lines = rec.read({});
  std::vector<uint64_t> starts;
  for (const auto& line : lines) starts.push_back(line.first);
  EXPECT_EQ(starts, (std::vector<uint64_t>{0, 4, 8}));
  // The last line's slot-0 record is its third.
  EXPECT_EQ(lines[2].second, 10.0f);
}

LineWindow timeWindow(std::optional<uint64_t> start, std::optional<uint64_t> stop) {
  LineWindow w;
  w.start = start;
  w.stop = stop;
  return w;
}

// Windows over the window time tile the lines: joined, they give the
// whole read, for cuts anywhere, also inside groups and where times go back.
TEST(LineReaderTest, WindowsJoinToTheWholeRead) {
  Recording rec;
  std::mt19937 random(7);
  std::vector<RecordRef> records;
  uint64_t time = 1000;
  for (uint64_t i = 0; i < 300; ++i) {
    if (random() % 3 != 0) time += random() % 4;  // several records per time
    const uint64_t t = random() % 10 == 0 ? time - random() % 20 : time;  // some go back
    records.push_back(blade(static_cast<uint8_t>(random() % 4), t, i, {{float(i), 0}}));
  }
  rec.write(records);
  const auto all = rec.read({});
  ASSERT_GT(all.size(), 100u);
  // With a walk from the start and with jumps near the entry (tried by every
  // seek here): the grouping a jump rebuilds is the walk's.
  for (const bool jumps : {false, true}) {
    setWalkReading({true, WalkReading{}.viewBytes, jumps ? 0 : UINT64_MAX});
    for (uint64_t cut = 995; cut < time + 3; cut += 7) {
      for (uint64_t width : {1u, 5u, 40u}) {
        auto joined = rec.read(timeWindow(std::nullopt, cut));
        auto middle = rec.read(timeWindow(cut, cut + width));
        auto rest = rec.read(timeWindow(cut + width, std::nullopt));
        joined.insert(joined.end(), middle.begin(), middle.end());
        joined.insert(joined.end(), rest.begin(), rest.end());
        ASSERT_EQ(joined, all) << "cut " << cut << " width " << width;
      }
    }
    // Starts planned by one walk begin exactly where each window's own seek
    // would, in the same grouping state, whatever the order they are read in.
    std::vector<uint64_t> cuts;
    for (uint64_t cut = 995; cut < time + 3; cut += 7) cuts.push_back(cut);
    std::vector<std::optional<PlannedLineStart>> planned;
    {
      std::unique_ptr<DataFile> file = openDataFile(rec.path.c_str());
      planned = planLineStarts(*file, std::nullopt, cuts);
    }
    ASSERT_EQ(planned.size(), cuts.size());
    std::size_t jumped = 0;
    for (std::size_t i = cuts.size(); i-- > 0;) {
      ASSERT_TRUE(planned[i].has_value()) << cuts[i];
      jumped += planned[i]->seek.seek.jumped;
      for (std::size_t batch : {1u, 64u}) {
        EXPECT_EQ(rec.read(timeWindow(cuts[i], cuts[i] + 20), batch, &*planned[i]),
                  rec.read(timeWindow(cuts[i], cuts[i] + 20), batch))
            << "cut " << cuts[i];
      }
    }
    EXPECT_EQ(jumped > cuts.size() / 2, jumps) << jumped << " of " << cuts.size();
  }
  setWalkReading(WalkReading{});

  // A window with a start is read from the confirmed index entry before it,
  // with the grouping the records before it give: the first record is
  // channel 2, so from the start the groups are 2 0 1 | 2 3 0 1 | ..., while
  // a read begun at an entry would group 0 1 2 3.
  Recording aligned;
  std::vector<RecordRef> shifted;
  for (uint64_t i = 0; i < 41; ++i) {
    shifted.push_back(blade(static_cast<uint8_t>((i + 2) % 4), 10 * i, i, {{float(i), 0}}));
  }
  aligned.write(shifted);
  const auto whole = aligned.read({});
  for (uint64_t start : {95u, 200u, 205u}) {
    std::vector<std::pair<uint64_t, float>> expected;
    for (const auto& line : whole) {
      if (line.first * 10 >= start) expected.push_back(line);
    }
    EXPECT_EQ(aligned.read(timeWindow(start, std::nullopt)), expected) << start;
    std::unique_ptr<DataFile> file = openDataFile(aligned.path.c_str());
    const ColumnPlan plan = planAllColumns(hostColumns(file->configuration(), 0, true).layout);
    LineReader reader(*file, plan, timeWindow(start, std::nullopt));
    EXPECT_EQ(reader.seek().entry, (start - 1) / 10) << start;  // an entry per record
  }

  LineWindow range;
  range.firstRevolution = 50;
  range.lastRevolution = 60;
  const auto revolutions = rec.read(range);
  ASSERT_FALSE(revolutions.empty());
  for (const auto& line : revolutions) EXPECT_TRUE(line.first >= 50 && line.first <= 60);
}

// Channels that come round in one order cannot be regrouped near an entry,
// so such a window walks from the start; the walk keeps the grouping's
// states, and the next window of the file, in another DataFile, begins at
// the nearest one with the lines a walk from the start gives. Planned
// starts do the same. A file written anew (another index) is walked afresh.
TEST(LineReaderTest, WalksKeepGroupingStatesForLaterWindows) {
  setWalkReading({false, WalkReading{}.viewBytes, 0});
  forgetCheckpoints();
  Recording rec;
  for (const uint64_t shift : {2u, 1u}) {
    std::vector<RecordRef> records;
    for (uint64_t i = 0; i < 400; ++i) {
      records.push_back(
          blade(static_cast<uint8_t>((i + shift) % 4), 10 * i + shift, i, {{float(i), 0}}));
    }
    rec.write(records);
    const auto whole = rec.read({});
    const auto seekOf = [&](uint64_t start) {
      std::unique_ptr<DataFile> file = openDataFile(rec.path.c_str());
      const ColumnPlan plan = planAllColumns(hostColumns(file->configuration(), 0, true).layout);
      return LineReader(*file, plan, timeWindow(start, std::nullopt)).seek();
    };
    bool first = true;
    for (const uint64_t start : {3005u, 1005u, 3905u, 3005u}) {
      std::vector<std::pair<uint64_t, float>> expected;
      for (const auto& line : whole) {
        if (line.first * 10 + shift >= start) expected.push_back(line);
      }
      const WindowSeek seek = seekOf(start);
      EXPECT_FALSE(seek.jumped) << start;
      EXPECT_EQ(seek.resumedWalk, !first) << shift << " " << start;
      EXPECT_EQ(rec.read(timeWindow(start, std::nullopt)), expected) << shift << " " << start;
      first = false;
    }
    std::unique_ptr<DataFile> file = openDataFile(rec.path.c_str());
    const auto planned = planLineStarts(*file, std::nullopt, {2005u});
    ASSERT_EQ(planned.size(), 1u);
    ASSERT_TRUE(planned[0].has_value());
    EXPECT_TRUE(planned[0]->seek.seek.resumedWalk);
    EXPECT_EQ(rec.read(timeWindow(2005, 2105), 3, &*planned[0]), rec.read(timeWindow(2005, 2105)));
  }
  setWalkReading(WalkReading{});
}

}  // namespace
}  // namespace cdt
