// A large read on two cores: the window's lines split at an index entry's
// time into two halves that two readers (each on a file of its own) store
// at once, the second where the index says the first one's lines end.
// Windows that tile the time axis give exactly the lines of the whole, so
// the halves joined are the lines a single reader gives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "lines/line_reader.h"

namespace cdt {

// Where a window is split: its second half starts at `middle`; the index
// counts `firstRows` lines before it.
struct WindowSplit {
  uint64_t middle = 0;
  std::size_t firstRows = 0;
};

// The split of `window` for a read into `capacity` rows, at `middle` when
// given (inside the window), else at the middle index entry of the window;
// none where the window spans fewer record bytes than `threshold` (by the
// index), the machine has one core, or there is no time to split at.
std::optional<WindowSplit> splitWindow(DataFile& file, const LineWindow& window,
                                       std::size_t capacity, uint64_t threshold,
                                       std::optional<uint64_t> middle = std::nullopt);

// What one reader stored: `rows` lines in its region of the shared columns,
// then those that did not fit there, in storage of their own.
struct HalfLines {
  std::size_t rows = 0;
  std::vector<std::pair<std::unique_ptr<ColumnStorage>, std::size_t>> beyond;
  std::size_t total() const;
};

// Reads every line of `reader` into `region` (room for `room` rows), and
// what does not fit into storage of its own.
HalfLines readHalf(LineReader& reader, const LineColumns& region, std::size_t room);

// `columns` moved on by `rows` rows (the same stride).
LineColumns rowsFrom(const ColumnPlan& plan, const LineColumns& columns, std::size_t rows);

// Copies the half's lines to rows `at` on of `to`; returns the row after.
std::size_t copyHalf(const ColumnPlan& plan, const HalfLines& half, const LineColumns& region,
                     const LineColumns& to, std::size_t at);

}  // namespace cdt
