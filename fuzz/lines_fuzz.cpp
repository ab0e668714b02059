// Reads arbitrary bytes as a data file into columns of lines, as the Python
// package does, and checks what must hold for any input: the rows of a read
// do not depend on the size of its batches, a read cut at any time into two
// windows gives the same rows as one read of the whole file, a window begun
// at a start planned ahead gives the rows of its own seek, and every row
// stays within the columns (the sanitizers watch the stores); and the set of
// the file with itself is the file's lines, each joined with its twin. Window
// seeks that jump near their index entry keep the cut exact wherever a walk
// from the start confirms that entry.
//
// The bytes are written to one scratch file (fuzz/scratch_input.h).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "datafile/data_file.h"
#include "datafile/index_walk.h"
#include "datafile/walk_checkpoints.h"
#include "fuzz/scratch_input.h"
#include "lines/line_reader.h"
#include "lines/set_reader.h"

namespace {

using namespace cdt;

void check(bool condition) {
  if (!condition) std::abort();
}

// What a row shows, enough to tell rows apart and to touch every column.
struct Row {
  int64_t time;
  uint64_t start;
  uint64_t end;
  uint8_t sync;
  uint32_t floatBits;  // the bits of every float cell, xor-ed
  uint64_t doubleBits;
  bool operator==(const Row&) const = default;
};

// The rows of `window`; with `oneHost`, of the first line host's blade
// records only.
std::vector<Row> readRows(const std::string& path, LineWindow window, std::size_t batch,
                          bool oneHost = false, const PlannedLineStart* planned = nullptr,
                          WindowSeek* seek = nullptr) {
  std::vector<Row> rows;
  std::unique_ptr<DataFile> file = openDataFile(path.c_str());
  if (file == nullptr) return rows;
  std::unique_ptr<DataFile> peek = openDataFile(path.c_str());
  const uint32_t host = firstLineHost(*peek).value_or(0);
  if (oneHost) window.host = host;
  const ColumnPlan plan = planAllColumns(hostColumns(file->configuration(), host, true).layout);
  std::vector<int64_t> time(batch);
  std::vector<uint8_t> sync(batch);
  std::vector<uint64_t> start(batch), end(batch);
  std::vector<float> floats(std::size_t{plan.floatRows} * batch);
  std::vector<double> doubles(std::size_t{plan.doubleRows} * batch);
  const LineColumns columns{time.data(),   sync.data(),    start.data(), end.data(),
                            floats.data(), doubles.data(), batch};
  std::unique_ptr<LineReader> made =
      planned != nullptr ? std::make_unique<LineReader>(*file, plan, window, *planned)
                         : std::make_unique<LineReader>(*file, plan, window);
  LineReader& reader = *made;
  if (seek != nullptr) *seek = reader.seek();
  while (!reader.ended()) {
    const std::size_t n = reader.read(columns, 0, batch);
    check(n <= batch);
    for (std::size_t i = 0; i < n; ++i) {
      Row row{time[i], start[i], end[i], sync[i], 0, 0};
      for (std::size_t r = 0; r < plan.floatRows; ++r) {
        uint32_t bits;
        std::memcpy(&bits, &floats[r * batch + i], 4);
        row.floatBits ^= bits;
      }
      for (std::size_t r = 0; r < plan.doubleRows; ++r) {
        uint64_t bits;
        std::memcpy(&bits, &doubles[r * batch + i], 8);
        row.doubleBits ^= bits;
      }
      rows.push_back(row);
    }
  }
  return rows;
}

// The set of the file with itself: each line joins its twin, so the set has
// the file's lines, in order, every status 0.
void checkSetOfTwins(const std::string& path, const std::vector<Row>& whole) {
  std::unique_ptr<DataFile> a = openDataFile(path.c_str());
  std::unique_ptr<DataFile> b = openDataFile(path.c_str());
  if (a == nullptr || b == nullptr) return;
  std::unique_ptr<DataFile> peek = openDataFile(path.c_str());
  const uint32_t host = firstLineHost(*peek).value_or(0);
  const ColumnPlan one = planAllColumns(hostColumns(a->configuration(), host, true).layout);
  const SetPlan plan = planSet({one, one});
  SetReader reader({{a.get(), {}, {}}, {b.get(), {}, {}}}, 0, plan);
  constexpr std::size_t kBatch = 6;
  ColumnStorage storage(setBlocks(plan), kBatch);
  std::vector<uint8_t> status(2 * kBatch);
  const SetColumns columns{storage.columns(), status.data()};
  std::size_t line = 0;
  while (!reader.ended()) {
    const std::size_t n = reader.read(columns, 0, kBatch);
    check(n <= kBatch);
    for (std::size_t i = 0; i < n; ++i, ++line) {
      check(line < whole.size());
      check(columns.lines.time[i] == whole[line].time);
      check(columns.lines.startRevolution[i] == whole[line].start);
      // Beyond the lines the join and the rings hold, the oldest set line
      // may go out before its twin comes.
      check((status[i] == 0 && status[kBatch + i] == 0) || whole.size() > kSetJoinHeld ||
            whole.size() + 4 > reader.ringRows());
    }
  }
  check(line == whole.size());
}

// Starts at `cut` and just after it, planned by one walk; with `oneHost`,
// for the first line host's blade records only. Empty when the file cannot
// be opened.
std::vector<std::optional<PlannedLineStart>> planCut(const std::string& path, bool oneHost,
                                                     uint64_t cut) {
  std::unique_ptr<DataFile> file = openDataFile(path.c_str());
  if (file == nullptr) return {};
  std::unique_ptr<DataFile> peek = openDataFile(path.c_str());
  const std::optional<uint32_t> host =
      oneHost ? std::optional<uint32_t>(firstLineHost(*peek).value_or(0)) : std::nullopt;
  return planLineStarts(*file, host, {cut, cut + 1});
}

// Whether a walk from the start of the records confirms index entry k.
bool walkConfirms(const std::string& path, uint32_t k) {
  std::unique_ptr<DataFile> file = openDataFile(path.c_str());
  return file != nullptr && seekToIndexEntry(*file, k);
}

// The cuts again with every seek jumping where it can: a window that jumped
// gives the rows of the whole read wherever a walk from the start confirms
// its entry (what the jump trusts without reading holds), and a planned
// start begins as its own seek does, jump or not.
void checkJumps(const std::string& path, const std::vector<Row>& whole,
                const std::vector<Row>& wholeOfOneHost, uint64_t cut) {
  setWalkReading({true, WalkReading{}.viewBytes, 0});
  for (bool oneHost : {false, true}) {
    const std::vector<Row>& all = oneHost ? wholeOfOneHost : whole;
    const std::vector<std::optional<PlannedLineStart>> planned = planCut(path, oneHost, cut);
    // One start per track (each open parses the configuration again, which
    // dominates a unit's time): the cut for all hosts, just after it for one.
    {
      const std::size_t i = oneHost ? 1 : 0;
      LineWindow before;
      before.stop = cut + i;
      LineWindow after;
      after.start = cut + i;
      WindowSeek seek;
      std::vector<Row> joined = readRows(path, before, 3, oneHost);
      const std::vector<Row> rest = readRows(path, after, 7, oneHost, nullptr, &seek);
      if (i < planned.size() && planned[i]) {
        check(readRows(path, after, 4, oneHost, &*planned[i]) == rest);
      }
      if (seek.jumped && !walkConfirms(path, *seek.entry)) continue;
      joined.insert(joined.end(), rest.begin(), rest.end());
      check(joined == all);
    }
  }
  setWalkReading({true, WalkReading{}.viewBytes, UINT64_MAX});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& path = cdt::fuzzing::scratchInputPath("cdt-lines-fuzz");
  cdt::fuzzing::writeScratchInput(path, data, size);
  // Grouping states kept by walks of the unit before, whose file had this
  // path, may match this one's size, times and index: start without them.
  cdt::forgetCheckpoints();
  // Seeks walk from the start of the records until checkJumps.
  setWalkReading({true, WalkReading{}.viewBytes, UINT64_MAX});

  const std::vector<Row> whole = readRows(path, {}, 5);
  check(readRows(path, {}, 64) == whole);
  checkSetOfTwins(path, whole);
  // Cut at the time of a row (or at 0 when there is none) and just after it:
  // the window with a start is read from an index entry, with the grouping
  // rebuilt from the record heads before it, also when only one host's
  // records are taken.
  const uint64_t cut = whole.empty() ? 0 : static_cast<uint64_t>(whole[whole.size() / 2].time);
  const std::vector<Row> wholeOfOneHost = readRows(path, {}, 5, true);
  for (bool oneHost : {false, true}) {
    const std::vector<Row>& all = oneHost ? wholeOfOneHost : whole;
    // Both starts planned by one walk begin as their own seeks would.
    const std::vector<std::optional<PlannedLineStart>> planned = planCut(path, oneHost, cut);
    for (std::size_t i = 0; i < planned.size(); ++i) {
      if (!planned[i]) continue;
      LineWindow after;
      after.start = cut + i;
      check(readRows(path, after, 4, oneHost, &*planned[i]) == readRows(path, after, 4, oneHost));
    }
    for (uint64_t at : {cut, cut + 1}) {
      LineWindow before;
      before.stop = at;
      LineWindow after;
      after.start = at;
      std::vector<Row> joined = readRows(path, before, 3, oneHost);
      const std::vector<Row> rest = readRows(path, after, 7, oneHost);
      joined.insert(joined.end(), rest.begin(), rest.end());
      check(joined == all);
    }
  }
  checkJumps(path, whole, wholeOfOneHost, cut);
  return 0;
}
