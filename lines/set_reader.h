// SetReader: the lines of a recording set (lines/set_join.h tells the
// rule), merged from the hosts' line sources and stored as columns. The one
// merge of a set's hosts: a read of the finished files (each host a
// LineReader) and a follow of the files being written (each host a
// LineFollower, lines/set_follower.h) both run it.
//
// The set's columns: Time, Sync, Start Rev and End Rev of the set line; the
// float block's row 0 its Speed, then each host's float rows but its speed,
// host after host; the double block each host's double rows, host after
// host; and one status per host (lines/set_join.h). Empty cells are NaN,
// and marked in the masks where the columns keep them (lines/line_columns.h):
// every cell of a host without a line, and those its own line leaves empty.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "datafile/follower.h"
#include "lines/line_follower.h"
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

// One host's lines for the merge: its next line stored in `row` (the
// columns of one line of `plan`, stride 1) with its window time, waiting at
// most `timeout` for it. The batch holds 1 line or none; its status is
// Waiting while more may come, else how the host's lines ended (a file read
// to its end: Finished).
class SetLineSource {
 public:
  virtual ~SetLineSource() = default;
  // Stores the host's next line in `row` (its window time in `windowTime`,
  // whether it has an empty cell in `empties`), waiting at most `timeout`.
  virtual FollowBatch next(const ColumnPlan& plan, const LineColumns& row, uint64_t& windowTime,
                           bool& empties, std::chrono::milliseconds timeout) = 0;
};

// A host's lines from a file (LineReader); never waits.
class FileLineSource : public SetLineSource {
 public:
  explicit FileLineSource(std::unique_ptr<LineReader> reader) : reader_(std::move(reader)) {}
  FollowBatch next(const ColumnPlan& plan, const LineColumns& row, uint64_t& windowTime,
                   bool& empties, std::chrono::milliseconds timeout) override;

 private:
  std::unique_ptr<LineReader> reader_;
};

// A host's lines from a file being written (LineFollower), which must
// outlive the source.
class FollowedLineSource : public SetLineSource {
 public:
  explicit FollowedLineSource(LineFollower& lines) : lines_(lines) {}
  FollowBatch next(const ColumnPlan& plan, const LineColumns& row, uint64_t& windowTime,
                   bool& empties, std::chrono::milliseconds timeout) override;

 private:
  LineFollower& lines_;
};

// The lines a host has read and the set lines not yet stored still use: a
// ring of rows, each line at its number modulo the ring's length, each row
// one line's columns side by side (a stride of 1), so that storing a line
// writes one run of bytes.
//
// The ring's length bounds the lines held; the memory behind it is only
// what the lines held at once take. A slot gets a row of storage when a
// line is stored there and gives it back when released, the row last given
// back first (it is still in the cache). A join holds a few seconds of
// lines, far fewer than the ring's length, so that most of the ring never
// takes memory, and the rows in use stay few and warm.
class SetHostRing {
 public:
  SetHostRing(const ColumnPlan& plan, std::size_t rows);
  std::size_t rows() const { return rows_; }
  std::size_t slot(uint64_t number) const { return static_cast<std::size_t>(number % rows_); }
  // The columns of ring row `slot`: one line, stride 1, with its masks.
  // The slot must have its storage (clear, until released).
  LineColumns row(std::size_t slot) const;
  // Where the row's values begin (its doubles, then its floats).
  const unsigned char* values(std::size_t slot) const { return storage(slot) + 24; }
  bool used(std::size_t slot) const { return used_[slot]; }
  void take(std::size_t slot) { used_[slot] = true; }
  // The slot free again, its storage given back.
  void release(std::size_t slot);
  // Whether the row's line has an empty cell (its masks then say which).
  bool empties(std::size_t slot) const { return empties_[at_[slot]] != 0; }
  // Ring row `slot` made ready for a new line, with storage of its own:
  // the masks of its storage's earlier line dropped, so that a line without
  // an empty cell writes none.
  LineColumns clear(std::size_t slot);
  void setEmpties(std::size_t slot, bool empties) { empties_[at_[slot]] = empties ? 1 : 0; }

 private:
  static constexpr uint32_t kNoRow = UINT32_MAX;
  // Rows of storage are made this many at a time.
  static constexpr std::size_t kChunkRows = 16;
  unsigned char* storage(std::size_t slot) const {
    const uint32_t r = at_[slot];
    return reinterpret_cast<unsigned char*>(chunks_[r / kChunkRows].get()) +
           (r % kChunkRows) * slotBytes_;
  }

  ColumnPlan plan_;
  std::size_t rows_;
  std::size_t slotBytes_;
  std::vector<std::unique_ptr<uint64_t[]>> chunks_;
  std::vector<uint32_t> at_;    // per slot its row of storage, or kNoRow
  std::vector<uint32_t> free_;  // rows of storage no slot has, the latest last
  std::vector<bool> used_;
  std::vector<uint8_t> empties_;  // per row of storage
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
  // The hosts' lines from sources of any kind (one per host of the plan).
  SetReader(std::vector<std::unique_ptr<SetLineSource>> sources, std::size_t master,
            const SetPlan& plan);

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
  // only at the end, or, where a host's source waits for its next line
  // (every host's next line must be at hand before the join takes one),
  // when none is complete within `wait`, or some are and that host has
  // none at hand now.
  std::size_t read(const SetColumns& columns, std::size_t row, std::size_t rows,
                   std::chrono::milliseconds wait = std::chrono::milliseconds(0));
  // Every set line stored, or a host's source stopped or failed.
  bool ended() const { return ended_; }
  // How host h's lines ended (Waiting until they have).
  FollowStatus hostStatus(std::size_t h) const { return hosts_[h].status; }
  // The first host whose source stopped or failed, if any: the read ended
  // there without its last set lines.
  std::optional<std::size_t> halted() const { return halted_; }
  // Lines the join could have joined otherwise had it begun elsewhere
  // (SetJoin::ambiguities): a read begun mid-set agrees with the whole
  // set's only where it met none.
  uint64_t ambiguities() const { return join_.ambiguities(); }
  // The lines of a host held at most: beyond them the oldest set line goes
  // out before later lines could join it.
  std::size_t ringRows() const { return ringRows_; }

 private:
  struct HostLines {
    std::unique_ptr<SetLineSource> source;
    std::unique_ptr<SetHostRing> ring;
    uint64_t next = 0;                  // the number of the next line read
    std::optional<SetJoinLine> ahead;   // read, not yet offered to the join
    std::vector<unsigned char> noLine;  // a ring row's values, all NaN
    FollowStatus status = FollowStatus::Waiting;
  };
  // Reads host h's next line into its ring, waiting at most `timeout`.
  void readAhead(std::size_t h, std::chrono::milliseconds timeout);
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
  void release(std::size_t h, uint64_t number) {
    hosts_[h].ring->release(hosts_[h].ring->slot(number));
  }

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
  // Per pending line, while a host's cells are copied: its ring row's
  // values, and whether the host has a line there, one with an empty cell.
  static constexpr uint8_t kLine = 0, kNoLine = 1, kLineWithEmpties = 2;
  std::vector<const unsigned char*> tile_;
  std::vector<uint8_t> state_;
  std::vector<std::vector<uint64_t>> pendingRows_;
  std::optional<uint64_t> keepLow_;
  std::optional<uint64_t> keepHigh_;
  bool ended_ = false;
  std::optional<std::size_t> halted_;
};

}  // namespace cdt
