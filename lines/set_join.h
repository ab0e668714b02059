// The lines of a recording set: each host's lines, as that host's CSV has
// them, joined on their revolutions. This is the one statement of the rule;
// every view of a set (frames, exports, the report) applies it through here.
//
// Keys. A line's key is (Start Rev, End Rev). Lines are joined where their
// keys are equal: a line of revolution-range records joins only a line of
// the same range; ranges that overlap without being equal stay separate set
// lines, each with the other hosts missing.
//
// Segments. A host's lines fall into segments: a new one starts at a line
// whose key is lower than the key of the host's line before it (the
// revolution counter went back: a resynchronisation, a restart). The n-th
// segment of one host is joined with the n-th segment of every other, never
// with another: revolution numbers repeat across segments.
//
// Order. Within a segment the set has one line per key that any host has,
// in increasing key order; a key that a host has several times is matched
// occurrence by occurrence. The segments follow one another.
//
// Cells. A set line takes Time, Speed and Sync from the master host's line
// of its key, or, where the master has none, from the first host in host
// order that has one; every host's probe cells come from that host's line,
// empty where it has none. Nothing is interpolated: every cell is a cell of
// exactly one host's line.
//
// Agreement. Each host gets a status per set line, a sum of:
//   kSetMissing    the host has no line of this key (its cells are empty);
//   kSetTimeOff    its Time differs from the set line's by more than half a
//                  revolution at the set line's speed (rpm);
//   kSetSpeedOff   its Speed differs from the set line's by more than 1 %.
// The host whose line gives the set line its cells has status 0.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace cdt {

inline constexpr uint8_t kSetMissing = 1;
inline constexpr uint8_t kSetTimeOff = 2;
inline constexpr uint8_t kSetSpeedOff = 4;

struct LineKey {
  uint64_t start = 0;
  uint64_t end = 0;
  auto operator<=>(const LineKey&) const = default;
};

// What the join needs of a host's line to check it against the set line's.
struct LineTiming {
  int64_t time = 0;  // microseconds since 1970
  float speed = 0;   // rpm
};

// The status of a host's line (none: missing) against the line that gives
// the set line its cells.
uint8_t setLineStatus(const std::optional<LineTiming>& line, const LineTiming& reference);

// The join of the hosts' key streams, one set line at a time. Each host's
// keys are offered in its file's order; the join tells which hosts' next
// lines make the next set line.
class SetJoin {
 public:
  explicit SetJoin(std::size_t hosts);

  // Whether host h needs its next key offered (before next() may be asked).
  bool wants(std::size_t h) const { return !ended_[h] && !pending_[h]; }
  // Host h's next line has `key`; none: host h has no more lines.
  void offer(std::size_t h, std::optional<LineKey> key);

  // The next set line: its key, segment and the hosts whose pending lines
  // it takes (their lines are used up, and they want their next keys). None
  // when every host has ended. Every host must have been offered a key
  // while it wanted one.
  struct Line {
    LineKey key;
    uint32_t segment = 0;
    std::vector<bool> hosts;
  };
  std::optional<Line> next();

 private:
  std::vector<std::optional<LineKey>> pending_;
  std::vector<std::optional<LineKey>> last_;  // the host's line before
  std::vector<uint32_t> segmentOf_;           // of its pending line
  std::vector<bool> ended_;
  uint32_t segment_ = 0;
};

}  // namespace cdt

// NOTE (work in progress, not built yet): segments matched by ordinal go
// wrong for a host that starts after a restart of the counter (its first
// segment is the others' second). Match segments by time instead: a host's
// segment joins the master's segment whose time span holds its first line.
