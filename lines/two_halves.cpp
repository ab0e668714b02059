#include "lines/two_halves.h"

#include <algorithm>
#include <thread>

namespace cdt {

std::optional<WindowSplit> splitWindow(DataFile& file, const LineWindow& window,
                                       std::size_t capacity, uint64_t threshold,
                                       std::optional<uint64_t> middle) {
  if (std::thread::hardware_concurrency() < 2 || !file.loadIndex()) return std::nullopt;
  const IndexArray& index = file.index();
  // The entries in the window, as far as the index's order goes: a lying
  // index only makes the split uneven (or the second half's start a seek of
  // its own), never changes the lines.
  const IndexEntry* first = index.begin();
  const IndexEntry* last = index.end();
  const auto before = [](uint64_t t) { return [t](const IndexEntry& e) { return e.time < t; }; };
  if (window.start) first = std::partition_point(first, last, before(*window.start));
  if (window.stop) last = std::partition_point(first, last, before(*window.stop));
  if (last - first < 2 || (last - 1)->position <= first->position ||
      (last - 1)->position - first->position < threshold) {
    return std::nullopt;
  }
  const uint64_t at = middle.value_or(first[(last - first) / 2].time);
  // The second half starts after every line of the first: at a time later
  // than the window's start and the first entry's, before its stop.
  if (at <= first->time || (window.start && at <= *window.start) ||
      (window.stop && at >= *window.stop)) {
    return std::nullopt;
  }
  const auto rows = static_cast<std::size_t>(std::partition_point(first, last, before(at)) - first);
  if (rows == 0 || rows >= capacity) return std::nullopt;
  return WindowSplit{at, rows};
}

std::size_t HalfLines::total() const {
  std::size_t n = rows;
  for (const auto& [storage, count] : beyond) n += count;
  return n;
}

HalfLines readHalf(LineReader& reader, const LineColumns& region, std::size_t room) {
  HalfLines half;
  half.rows = reader.read(region, 0, room);
  // More lines than the index counted (times shared by lines, a lying
  // index): into blocks that double, each copied once at the end.
  std::size_t size = std::max<std::size_t>(room / 4, 4096);
  while (!reader.ended()) {
    auto storage = std::make_unique<ColumnStorage>(reader.plan(), size);
    const std::size_t n = reader.read(storage->columns(), 0, size);
    half.beyond.emplace_back(std::move(storage), n);
    size *= 2;
  }
  return half;
}

LineColumns rowsFrom(const ColumnPlan& plan, const LineColumns& columns, std::size_t rows) {
  LineColumns moved = columns;
  moved.time += rows;
  moved.sync += rows;
  moved.startRevolution += rows;
  moved.endRevolution += rows;
  moved.floats += rows;
  // A plan without doubles may have no double block to point into.
  if (plan.doubleRows > 0) moved.doubles += rows;
  return moved;
}

std::size_t copyHalf(const ColumnPlan& plan, const HalfLines& half, const LineColumns& region,
                     const LineColumns& to, std::size_t at) {
  copyLines(plan, region, to, at, half.rows);
  at += half.rows;
  for (const auto& [storage, count] : half.beyond) {
    copyLines(plan, storage->columns(), to, at, count);
    at += count;
  }
  return at;
}

}  // namespace cdt
