#include "lines/set_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "csv/csv_test_support.h"
#include "lines/set_parts.h"
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

// A ring's slots share rows of storage, each slot given a row as a line is
// stored there: a line's empty cells never show in the next line stored in
// that row, whichever slot it is.
TEST(SetHostRing, ARowOfStorageComesBackWithoutTheMasksOfItsLastLine) {
  Configuration config;
  testing::addProbes(config, {{0, "P", 2}});
  const ColumnPlan plan = planAllColumns(hostColumns(config, 0, true).layout);
  SetHostRing ring(plan, 16);
  for (std::size_t slot = 0; slot < 40; ++slot) {
    const std::size_t s = ring.slot(slot);
    const LineColumns row = ring.clear(s);
    ASSERT_EQ(floatEmpties(row, 1), nullptr) << slot;
    ASSERT_FALSE(ring.empties(s)) << slot;
    row.floats[1] = static_cast<float>(slot);
    if (slot % 3 == 0) {
      maskFloatRow(row, 1);
      row.floatEmpty[1] = 1;
      ring.setEmpties(s, true);
    }
    ring.take(s);
    EXPECT_EQ(ring.row(s).floats[1], static_cast<float>(slot));
    // Two lines held at once, released out of turn now and then.
    if (slot > 0 && slot % 2 == 0) ring.release(ring.slot(slot - 1));
    if (slot % 2 == 0) ring.release(s);
  }
}

// Every cell of a read's set lines, bit for bit (an empty cell's NaN
// included), and every host's status, line after line.
struct SetRead {
  std::vector<std::vector<unsigned char>> lines;
  bool operator==(const SetRead&) const = default;
};

void readInto(SetReader& reader, const SetPlan& plan, std::size_t hosts, SetRead& out) {
  constexpr std::size_t kRows = 32;
  ColumnStorage storage(setBlocks(plan), kRows);
  std::vector<uint8_t> status(hosts * kRows);
  const SetColumns columns{storage.columns(), status.data()};
  const LineColumns& c = columns.lines;
  while (!reader.ended()) {
    const std::size_t n = reader.read(columns, 0, kRows);
    for (std::size_t r = 0; r < n; ++r) {
      // Sized once, then filled: GCC 12 takes growing inserts of known
      // sizes for overflows.
      std::vector<unsigned char> line(25 + 4 * std::size_t{plan.floatRows} +
                                      8 * std::size_t{plan.doubleRows} + hosts);
      std::size_t filled = 0;
      const auto put = [&](const void* at, std::size_t bytes) {
        std::memcpy(line.data() + filled, at, bytes);
        filled += bytes;
      };
      put(&c.time[r], 8);
      put(&c.sync[r], 1);
      put(&c.startRevolution[r], 8);
      put(&c.endRevolution[r], 8);
      for (uint32_t f = 0; f < plan.floatRows; ++f) put(&c.floats[f * kRows + r], 4);
      for (uint32_t d = 0; d < plan.doubleRows; ++d) put(&c.doubles[d * kRows + r], 8);
      for (std::size_t h = 0; h < hosts; ++h) put(&status[h * kRows + r], 1);
      out.lines.push_back(std::move(line));
    }
  }
}

// One host of a made-up set: a line per revolution, 20 ms apart from
// kStart, the counter restarting at 1 every `every` revolutions.
struct HostCounter {
  uint64_t every;
  uint64_t phase;  // revolutions into its first period at the start
  int64_t offset;  // the clock, microseconds
  uint64_t drop;   // every drop-th revolution missing (0: none)
};

// The set invariant: parts of a set, read one by one where planSetCuts puts
// them and joined in order, are the read of the whole set, cell for cell
// and status for status, for every part size, also where the hosts'
// revolution counters restart every few revolutions (each at its own phase,
// so that the same keys come again within the join's window), the hosts'
// clocks lie apart and a host drops lines. (Parts cut at the wanted times
// themselves, a margin read before each, lose and double lines of the
// second set.)
TEST(SetReader, PartsOfASetJoinedAreTheWholeSetForEveryPartSize) {
  constexpr uint64_t kRevolutions = 500;
  constexpr uint64_t kStart = 1'000'000'000;
  const std::vector<std::vector<HostCounter>> sets = {
      {{7, 0, 0, 0}, {7, 3, -350'000, 11}, {13, 5, 40, 0}}, {{33, 0, 0, 0}, {33, 1, 0, 11}}};
  for (const std::vector<HostCounter>& counters : sets) {
    testing::TempDir dir;
    std::vector<std::string> paths;
    for (std::size_t h = 0; h < counters.size(); ++h) {
      const HostCounter& host = counters[h];
      Configuration config;
      testing::addProbes(config, {{0, "P", 2}});
      std::string name = std::to_string(h);
      name.insert(0, 1, 'h');
      name += ".cdt";
      paths.push_back(dir.file(name));
      std::unique_ptr<DataFile> file = createDataFile(config, paths.back().c_str());
      ASSERT_NE(file, nullptr);
      for (uint64_t i = 0; i < kRevolutions; ++i) {
        if (host.drop != 0 && i % host.drop == host.drop - 1) continue;
        testing::BladeRecordSpec blade;
        blade.time = static_cast<uint64_t>(static_cast<int64_t>(kStart + i * 20'000) + host.offset);
        blade.startRevolution = (i + host.phase) % host.every + 1;
        blade.speed = 3000.0f + static_cast<float>(i % 5);
        blade.blades = {{static_cast<float>(i) + 0.25f * static_cast<float>(h), 0.25f},
                        {static_cast<float>(h), 0.5f}};
        ASSERT_TRUE(writeRecord(*file, *makeBladeRecord(blade)));
      }
      ASSERT_TRUE(closeDataFile(*file));
    }
    const std::size_t n = paths.size();
    // Opens the hosts' files afresh, with each host's columns.
    std::vector<std::unique_ptr<DataFile>> files;
    std::vector<ColumnPlan> plans;
    const auto open = [&] {
      files.clear();
      plans.clear();
      for (const std::string& path : paths) {
        files.push_back(openDataFile(path.c_str()));
        ASSERT_NE(files.back(), nullptr);
        plans.push_back(planAllColumns(hostColumns(files.back()->configuration(), 0, true).layout));
      }
    };
    open();
    const SetPlan plan = planSet(plans);
    SetRead whole;
    {
      std::vector<SetReader::Host> hosts;
      for (auto& file : files) hosts.push_back({file.get(), {}, std::nullopt});
      SetReader reader(hosts, 0, plan);
      readInto(reader, plan, n, whole);
    }
    ASSERT_GE(whole.lines.size(), kRevolutions);

    for (uint64_t size : {uint64_t{1}, uint64_t{3}, uint64_t{31}, uint64_t{97}, kRevolutions}) {
      open();
      std::vector<uint64_t> wanted;
      for (uint64_t i = size; i < kRevolutions; i += size) wanted.push_back(kStart + i * 20'000);
      std::vector<DataFile*> pointers;
      for (auto& file : files) pointers.push_back(file.get());
      const std::vector<SetCut> cuts =
          planSetCuts(pointers, 0, wanted, kSetPartMargin, 4 * kSetPartMargin);
      SetRead parts;
      for (std::size_t i = 0; i <= cuts.size(); ++i) {
        open();
        std::vector<SetReader::Host> hosts;
        for (auto& file : files) {
          LineWindow window;
          if (i > 0) window.start = cuts[i - 1].start;
          hosts.push_back({file.get(), window, std::nullopt});
        }
        SetReader reader(hosts, 0, plan);
        reader.keep(i > 0 ? std::optional<uint64_t>(cuts[i - 1].cut) : std::nullopt,
                    i < cuts.size() ? std::optional<uint64_t>(cuts[i].cut) : std::nullopt);
        readInto(reader, plan, n, parts);
      }
      ASSERT_EQ(parts.lines.size(), whole.lines.size()) << "part size " << size;
      for (std::size_t l = 0; l < whole.lines.size(); ++l) {
        ASSERT_TRUE(parts.lines[l] == whole.lines[l]) << "part size " << size << ", line " << l;
      }
    }
  }
}

}  // namespace
}  // namespace cdt
