// Lines as columns: which columns a selection keeps, where each one lives,
// and the copy of one line's values into them.
//
// Columns are stored column by column, each a run of `stride` rows: the
// times, syncs and revolutions in arrays of their own, every 32-bit float
// column (the speed, then per kept probe its RMS, its blade DNS and its blade
// TOA columns) as one row of a float block, and the DNS means (in double
// precision, as the CSV computes them) as the rows of a double block. Such
// blocks are what column-oriented frames hold, so they can be handed on
// without a copy.
//
// A cell the CSV leaves empty holds NaN, and its column's empty mask says
// it is empty: a recorded value may be any NaN (the default quiet NaN among
// them), so no value can stand for an empty cell. Masks are kept only for
// the columns that have an empty cell (a probe without a record in a line,
// blades beyond those a record holds, a set's host without a line): a
// column's flag says whether its mask is in use, and a column without one
// has no empty cell in the rows written. Files without empty cells write
// no mask at all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "lines/line_layout.h"
#include "lines/tip_deflection.h"

namespace cdt {

// The per-probe quantities a view shows.
struct Quantities {
  bool rms = true;
  bool dns = true;  // the line's DNS mean
  bool bladeDns = true;
  bool bladeToa = true;
  // Each blade's tip deflection (lines/tip_deflection.h), from its TOA:
  // shown in the long layout when asked for, never by the converter.
  bool deflection = false;
  // Whether it shows what the converter's CSV shows.
  bool all() const { return rms && dns && bladeDns && bladeToa && !deflection; }
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
  // Per kept slot, what its blades' deflections need (when shown).
  ProbeDeflection deflection[kChannelsPerHost];
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
  // The empty masks (1: the cell is empty, 0: it holds a value), laid out
  // as the blocks, and per block row a flag (1: its mask is in use; 0: no
  // cell of the row is empty and its mask bytes mean nothing). All null:
  // no masks are kept (the cells are NaN where empty all the same).
  uint8_t* floatEmpty = nullptr;    // floatRows x stride
  uint8_t* doubleEmpty = nullptr;   // doubleRows x stride
  uint8_t* floatMasked = nullptr;   // floatRows
  uint8_t* doubleMasked = nullptr;  // doubleRows
};

// The empty mask of float (double) row `r` from row `row` on, or null when
// none of its cells is empty.
inline const uint8_t* floatEmpties(const LineColumns& c, std::size_t r, std::size_t row = 0) {
  return c.floatMasked != nullptr && c.floatMasked[r] != 0 ? c.floatEmpty + r * c.stride + row
                                                           : nullptr;
}
inline const uint8_t* doubleEmpties(const LineColumns& c, std::size_t r, std::size_t row = 0) {
  return c.doubleMasked != nullptr && c.doubleMasked[r] != 0 ? c.doubleEmpty + r * c.stride + row
                                                             : nullptr;
}

// Marks float (double) row `r`'s mask as in use, every cell of it holding
// a value until marked empty; the columns must keep masks.
void maskFloatRow(const LineColumns& c, std::size_t r);
void maskDoubleRow(const LineColumns& c, std::size_t r);

// Drops the masks of every block row (a batch about to be written anew
// from row 0 has no empty cell yet).
void clearEmpties(const ColumnPlan& plan, const LineColumns& columns);

// The bytes of values one line takes in the columns of `plan`.
inline std::size_t lineBytes(const ColumnPlan& plan) {
  return 3 * 8 + 8 * std::size_t{plan.doubleRows} + 4 * std::size_t{plan.floatRows} + 1;
}

// The bytes of `rows` rows of columns of `plan` with their masks, as
// layColumns lays them out.
inline std::size_t columnBytes(const ColumnPlan& plan, std::size_t rows) {
  const std::size_t blockRows = std::size_t{plan.floatRows} + plan.doubleRows;
  return rows * (lineBytes(plan) + blockRows) + blockRows;
}
// Columns of `rows` rows (and their masks) laid out in the columnBytes
// bytes at `at` (8-byte aligned), each column aligned; the masks' flags are
// what those bytes hold (zero bytes: no mask in use).
LineColumns layColumns(const ColumnPlan& plan, unsigned char* at, std::size_t rows);

// Columns of `rows` rows for a plan, with their masks, in one allocation of
// their own, left unwritten until lines are stored (no mask in use).
class ColumnStorage {
 public:
  ColumnStorage(const ColumnPlan& plan, std::size_t rows);
  const LineColumns& columns() const { return columns_; }

 private:
  std::unique_ptr<unsigned char[]> bytes_;
  LineColumns columns_;
};

// Copies rows 0 to rows - 1 of every column of `from` to rows `at` on of
// `to`, their masks where `to` keeps masks.
void copyLines(const ColumnPlan& plan, const LineColumns& from, const LineColumns& to,
               std::size_t at, std::size_t rows);

// Writes the group's line into row `row` (below the stride), and its empty
// cells into the masks where the columns keep them. A probe's columns are
// masked together: the flag of its RMS row stands for all of them. Returns
// whether the line has an empty cell.
bool storeLine(const ColumnPlan& plan, const LineGroup& group, const LineColumns& columns,
               std::size_t row);

}  // namespace cdt
