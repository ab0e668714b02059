// A whole set's read in two halves on two cores: the first half keeps the
// set lines that begin before the master's middle index time, the second
// those from it on, each read from planned starts a margin beyond its edge
// (SetReader::keep), so that together they are exactly the one read.
#include "lines/set_halves.h"

#include <algorithm>
#include <cstring>
#include <thread>

#include "lines/set_reader.h"

namespace cdt {

namespace {

// Moves rows [from, from + rows) of a column of `stride`-long rows down to `to`.
template <typename T>
void moveRows(T* column, std::size_t rowCount, std::size_t stride, std::size_t from, std::size_t to,
              std::size_t rows) {
  for (std::size_t r = 0; r < rowCount; ++r) {
    std::memmove(column + r * stride + to, column + r * stride + from, rows * sizeof(T));
  }
}

// The columns from row `at` on.
SetColumns rowsFrom(const SetColumns& c, std::size_t at) {
  SetColumns out = c;
  out.lines.time += at;
  out.lines.sync += at;
  out.lines.startRevolution += at;
  out.lines.endRevolution += at;
  out.lines.floats += at;
  out.lines.doubles += at;
  out.status += at;
  return out;
}

}  // namespace

std::optional<SetHalves> planSetHalves(const SetHalvesInput& in) {
  const std::size_t n = in.files.size();
  DataFile& masterFile = *in.files[in.master];
  if (!masterFile.loadIndex() || masterFile.index().size() < 1024) return std::nullopt;
  const IndexArray& index = masterFile.index();
  SetHalves halves;
  halves.middle = index[index.size() / 2].time;
  if (halves.middle <= kSetPartMargin || halves.middle >= (uint64_t{1} << 62)) {
    return std::nullopt;
  }
  // The lines each half expects: the most any host's index puts there.
  std::size_t before = 0;
  std::size_t after = 0;
  for (const std::unique_ptr<DataFile>& file : in.files) {
    if (!file->loadIndex()) return std::nullopt;
    std::size_t b = 0;
    for (const IndexEntry& e : file->index()) b += e.time < halves.middle;
    before = std::max(before, b);
    after = std::max(after, file->index().size() - b);
  }
  halves.firstRows = before + 1024 + before / 16;
  halves.secondRows = after + 1024 + after / 16;
  if (halves.firstRows + halves.secondRows > in.rowsLimit) return std::nullopt;
  // The second half reads files of its own, from planned starts: each
  // host's walk to it on a thread of its own.
  std::vector<std::vector<std::optional<PlannedLineStart>>> planned(n);
  {
    std::vector<std::thread> walks;
    for (std::size_t h = 0; h < n; ++h) {
      walks.emplace_back([&, h] {
        planned[h] =
            planLineStarts(*in.seconds[h], in.windows[h].host, {halves.middle - kSetPartMargin});
      });
    }
    for (std::thread& walk : walks) walk.join();
  }
  for (std::size_t h = 0; h < n; ++h) {
    LineWindow window = in.windows[h];
    window.start = halves.middle - kSetPartMargin;
    if (planned[h].size() != 1 || !planned[h][0]) return std::nullopt;
    halves.late.push_back({in.seconds[h].get(), window, planned[h][0]});
    LineWindow head = in.windows[h];
    head.stop = halves.middle + kSetPartMargin;
    halves.early.push_back({in.files[h].get(), head, std::nullopt});
  }
  return halves;
}

std::optional<std::size_t> readSetHalves(const SetHalves& halves, std::size_t master,
                                         const SetPlan& plan, const SetColumns& columns) {
  const SetColumns tail = rowsFrom(columns, halves.firstRows);
  std::size_t lateRows = 0;
  bool lateEnded = false;
  std::thread reading([&] {
    SetReader reader(halves.late, master, plan);
    reader.keep(halves.middle, std::nullopt);
    lateRows = reader.read(tail, 0, halves.secondRows);
    lateEnded = reader.ended() && reader.ambiguities() == 0;
  });
  SetReader reader(halves.early, master, plan);
  reader.keep(std::nullopt, halves.middle);
  const std::size_t earlyRows = reader.read(columns, 0, halves.firstRows);
  // Where a join met lines it could have joined otherwise (counters that
  // restart within the join's window), a join begun at the second half may
  // decide otherwise than the whole set's: the caller reads it all at once.
  const bool earlyEnded = reader.ended() && reader.ambiguities() == 0;
  reading.join();
  // A half with more lines than its indexes said, or a join that met an
  // ambiguity: the caller reads it all at once instead.
  if (!earlyEnded || !lateEnded) return std::nullopt;
  const std::size_t first = halves.firstRows;
  if (earlyRows < first) {
    const LineColumns& c = columns.lines;
    moveRows(c.time, 1, c.stride, first, earlyRows, lateRows);
    moveRows(c.sync, 1, c.stride, first, earlyRows, lateRows);
    moveRows(c.startRevolution, 1, c.stride, first, earlyRows, lateRows);
    moveRows(c.endRevolution, 1, c.stride, first, earlyRows, lateRows);
    moveRows(c.floats, plan.floatRows, c.stride, first, earlyRows, lateRows);
    moveRows(c.doubles, plan.doubleRows, c.stride, first, earlyRows, lateRows);
    moveRows(columns.status, halves.late.size(), c.stride, first, earlyRows, lateRows);
  }
  return earlyRows + lateRows;
}

}  // namespace cdt
