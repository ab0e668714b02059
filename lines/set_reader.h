// SetReader: the lines of a recording set (lines/set_join.h tells the
// rule), read from the hosts' files at once and stored as columns.
//
// The set's columns: Time, Sync, Start Rev and End Rev of the set line; the
// float block's row 0 its Speed, then each host's float rows but its speed,
// host after host; the double block each host's double rows, host after
// host; and one status per host (lines/set_join.h). Empty cells are NaN,
// and marked in the masks where the columns keep them (lines/line_columns.h):
// every cell of a host without a line, and those its own line leaves empty.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "lines/line_reader.h"
#include "lines/set_join.h"

namespace cdt {

struct SetPlan {
  std::vector<ColumnPlan> hosts;    // each host's own plan
  std::vector<uint32_t> floatRow;   // where each host's float row 1 goes
  std::vector<uint32_t> doubleRow;  // where each host's double row 0 goes
  uint32_t floatRows = 1;
  uint32_t doubleRows = 0;
};
SetPlan planSet(std::vector<ColumnPlan> hosts);
// The set's float and double blocks as a plan of their own (for storage and
// copies of the set's columns; it keeps no probe).
ColumnPlan setBlocks(const SetPlan& plan);
// The lines each host's ring holds while the join needs them: what the join
// can hold and one read ahead, fewer for very wide lines (64 MiB a host at
// most). A follower of a set that joins as a read does uses the same.
std::size_t setRingRows(const SetPlan& plan);

// How far before and after its window a part of a set reads its hosts: a
// line joins only set lines within kSetJoinWindow of it, a set line is
// final twice that after its first line, and a displacement reaches one
// window further; a margin of four windows sees every line that can change
// the part's set lines.
inline constexpr uint64_t kSetPartMargin = 4 * kSetJoinWindow;

struct SetColumns {
  LineColumns lines;          // floats and doubles of the set plan
  uint8_t* status = nullptr;  // one row of lines.stride per host
};

class SetReader {
 public:
  // The hosts' files, each read in its own window; the files must outlive
  // the reader and take no other reads meanwhile.
  struct Host {
    DataFile* file = nullptr;
    LineWindow window;
    // Where the window begins, planned ahead (planLineStarts): no walk.
    std::optional<PlannedLineStart> start;
  };
  SetReader(const std::vector<Host>& hosts, std::size_t master, const SetPlan& plan);

  // Stores only the set lines whose first line (the earliest of its hosts'
  // lines in window time) lies in [low, high), and ends at the first past
  // high: set lines come in that order. A part of a set reads its hosts
  // from a margin before low to one after high (kSetPartMargin), so that its
  // set lines are joined exactly as a read of the whole set joins them.
  void keep(std::optional<uint64_t> low, std::optional<uint64_t> high) {
    keepLow_ = low;
    keepHigh_ = high;
  }

  // Stores up to `rows` more set lines from row `row` of `columns`; fewer
  // only at the end.
  std::size_t read(const SetColumns& columns, std::size_t row, std::size_t rows);
  bool ended() const { return ended_; }
  // Lines the join could have joined otherwise had it begun elsewhere
  // (SetJoin::ambiguities): a read begun mid-set agrees with the whole
  // set's only where it met none.
  uint64_t ambiguities() const { return join_.ambiguities(); }
  // The lines of a host held at most: beyond them the oldest set line goes
  // out before later lines could join it.
  std::size_t ringRows() const { return ringRows_; }

 private:
  // The lines a host has read and the set lines not yet stored still use:
  // a ring of rows, each line at its number modulo the ring's length.
  struct HostLines {
    std::unique_ptr<LineReader> reader;
    std::unique_ptr<uint64_t[]> ring;  // ring rows of slotBytes each
    std::size_t slotBytes = 0;
    std::vector<bool> used;
    std::vector<uint8_t> empties;      // per ring row: its line has an empty cell
    uint64_t next = 0;                 // the number of the next line read
    uint64_t oldest = 0;               // the oldest line still used
    std::optional<SetJoinLine> ahead;  // read, not yet offered to the join
  };
  void readAhead(std::size_t h);
  // The columns of host h's ring row `slot`: one line, stride 1, with its
  // masks.
  LineColumns ringRow(std::size_t h, std::size_t slot) const;
  // Stores a set line the keep window holds; ends the reader at the first
  // beyond it.
  void offer(const SetLine& line, const SetColumns& columns, std::size_t row, std::size_t& stored);
  void store(const SetLine& line, const SetColumns& columns, std::size_t row);
  // Copies the probe cells of the stored lines not yet copied, and frees
  // their ring rows.
  void flush(const SetColumns& columns);
  // The masks of host h's float (double) row r, row `to` of the set's block,
  // for the lines of the tile (`missing`: some lack the host's line).
  void storeEmpties(const SetColumns& columns, std::size_t h, uint32_t r, std::size_t to,
                    bool isFloat, bool missing);
  void release(std::size_t h, uint64_t number);

  SetPlan plan_;
  SetJoin join_;
  std::vector<HostLines> hosts_;
  std::size_t ringRows_;
  // Stored lines whose probe cells are still to be copied: their row and
  // per host its ring row (none where missing), and per host the numbers
  // of their lines.
  struct Pending {
    std::size_t row = 0;
    std::vector<std::optional<std::size_t>> slots;
  };
  static constexpr std::size_t kTileLines = 64;
  std::vector<Pending> pending_;
  // Per pending line, while a host's cells are copied: its ring row, and
  // whether the host has a line there, one with an empty cell.
  static constexpr uint8_t kLine = 0, kNoLine = 1, kLineWithEmpties = 2;
  std::vector<const unsigned char*> tile_;
  std::vector<uint8_t> state_;
  std::vector<std::vector<uint64_t>> pendingRows_;
  std::optional<uint64_t> keepLow_;
  std::optional<uint64_t> keepHigh_;
  bool ended_ = false;
};

}  // namespace cdt
