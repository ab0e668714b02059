// Lines as columns: which columns a selection keeps, where each one lives,
// and the copy of one line's values into them.
//
// Columns are stored column by column, each a run of `stride` rows: the
// times, syncs and revolutions in arrays of their own, every 32-bit float
// column (the speed, then per kept probe its RMS, its blade DNS and its blade
// TOA columns) as one row of a float block, and the DNS means (in double
// precision, as the CSV computes them) as the rows of a double block. Such
// blocks are what column-oriented frames hold, so they can be handed on
// without a copy. A cell the CSV leaves empty is NaN.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "lines/line_layout.h"

namespace cdt {

// The per-probe quantities a view shows.
struct Quantities {
  bool rms = true;
  bool dns = true;  // the line's DNS mean
  bool bladeDns = true;
  bool bladeToa = true;
  bool all() const { return rms && dns && bladeDns && bladeToa; }
};

// Where the kept columns live.
struct ColumnPlan {
  LineLayout layout;  // the host's, as the CSV header has it
  // What the view shows; blade TOA only where the layout has it. The
  // columns store every quantity of the kept probes and blades.
  Quantities quantities;
  bool kept[kChannelsPerHost] = {};
  // Per kept slot: the blade entries (0-based) kept, in order.
  std::vector<uint32_t> blades[kChannelsPerHost];
  // Rows of the float block (speed at row 0) and of the double block.
  uint32_t floatRows = 1;
  uint32_t doubleRows = 0;
  uint32_t rmsRow[kChannelsPerHost] = {};
  uint32_t bladeDnsRow[kChannelsPerHost] = {};  // then one row per kept blade
  uint32_t bladeToaRow[kChannelsPerHost] = {};  // likewise
  uint32_t dnsRow[kChannelsPerHost] = {};       // in the double block
};

// The plan of the slots `kept` (a slot without a probe has no columns) and,
// for each, the 1-based blade numbers of `blades` (ascending and distinct)
// within its stage, or all of its blades when there is no list.
ColumnPlan planColumns(const LineLayout& layout, const bool (&kept)[kChannelsPerHost],
                       const std::optional<std::vector<uint32_t>>& blades,
                       const Quantities& quantities = {});
// Every column of the layout, as the converter writes them.
ColumnPlan planAllColumns(const LineLayout& layout);

// Storage for `stride` rows of every column of a plan; each pointer has room
// for its column(s) times stride values.
struct LineColumns {
  int64_t* time = nullptr;  // microseconds since 1970
  uint8_t* sync = nullptr;  // 0 or 1
  uint64_t* startRevolution = nullptr;
  uint64_t* endRevolution = nullptr;  // the End Rev cell's value
  float* floats = nullptr;            // floatRows x stride
  double* doubles = nullptr;          // doubleRows x stride
  std::size_t stride = 0;
};

// The bytes one line takes in the columns of `plan`.
inline std::size_t lineBytes(const ColumnPlan& plan) {
  return 3 * 8 + 8 * std::size_t{plan.doubleRows} + 4 * std::size_t{plan.floatRows} + 1;
}

// Columns of `rows` rows for a plan in one allocation of their own, left
// unwritten until lines are stored.
class ColumnStorage {
 public:
  ColumnStorage(const ColumnPlan& plan, std::size_t rows);
  const LineColumns& columns() const { return columns_; }

 private:
  std::unique_ptr<unsigned char[]> bytes_;
  LineColumns columns_;
};

// Copies rows 0 to rows - 1 of every column of `from` to rows `at` on of `to`.
void copyLines(const ColumnPlan& plan, const LineColumns& from, const LineColumns& to,
               std::size_t at, std::size_t rows);

// Writes the group's line into row `row` (below the stride).
void storeLine(const ColumnPlan& plan, const LineGroup& group, const LineColumns& columns,
               std::size_t row);

}  // namespace cdt
