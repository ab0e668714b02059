// The lines of a recording set: each host's lines, as that host's CSV has
// them, joined on their revolutions. This is the one statement of the rule;
// every view of a set (frames, exports, the report) applies it through here.
//
// Keys. A line's key is (Start Rev, End Rev). Lines of different hosts join
// where their keys are equal: a line of revolution-range records joins only
// a line of the same range; ranges that overlap without being equal stay
// separate set lines, each with the other hosts missing.
//
// Segments. A revolution counter that goes back (a resynchronisation, a
// restart) starts a new segment, and the same keys come again. Lines join
// only within a segment: two lines of one key join only where their window
// times (lines/line_grouper.h) lie within kSetJoinWindow of each other, and
// a host's line joins the set line nearest in time that lacks that host. A
// counter that comes back to a revolution does so one revolution or more
// later, and the hosts' lines of one revolution lie far closer together
// than that, so a host's line meets the lines of its own moment.
//
// Order. The hosts' lines are offered in window-time order across the
// hosts (each file's own order). A host's line joins the held set line of
// its key whose reference line (below) lies nearest in time, within
// kSetJoinWindow; where that set line holds a line of the host already, the
// nearer of the two stays and the other becomes a set line of its own. A
// set line is complete once the lines offered have passed its first line by
// twice kSetJoinWindow (no later line can change it then); set lines come in
// the order of their first lines' window times. Memory holds the set lines
// of that time only (at most kSetJoinHeld of them).
//
// Cells. A set line takes Time, Speed and Sync from the master host's line,
// or, where the master has none, from the first host in host order that has
// one; every host's probe cells come from that host's line, empty where it
// has none. Nothing is interpolated: every cell is a cell of exactly one
// host's line.
//
// Agreement. Each host gets a status per set line, a sum of:
//   kSetMissing    the host has no line of this set line (its cells are empty);
//   kSetTimeOff    its Time differs from the set line's by more than half a
//                  revolution at the set line's Speed (rpm);
//   kSetSpeedOff   its Speed differs from the set line's by more than 1 %.
// The host whose line gives the set line its Time has status 0.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <utility>
#include <vector>

namespace cdt {

inline constexpr uint8_t kSetMissing = 1;
inline constexpr uint8_t kSetTimeOff = 2;
inline constexpr uint8_t kSetSpeedOff = 4;

// How far apart in window time the lines of one set line may lie.
inline constexpr uint64_t kSetJoinWindow = 1'000'000;  // microseconds
// The most set lines held at once; beyond it the oldest is complete.
inline constexpr std::size_t kSetJoinHeld = 4096;

struct LineKey {
  uint64_t start = 0;
  uint64_t end = 0;
  auto operator<=>(const LineKey&) const = default;
};

// What the join needs of one host's line.
struct SetJoinLine {
  LineKey key;
  uint64_t windowTime = 0;  // never decreases along a host's lines
  int64_t time = 0;         // the Time cell, microseconds since 1970
  float speed = 0;          // rpm
  std::size_t row = 0;      // the caller's number of the line
};

// The status of a host's line (none: missing) against the line that gives
// the set line its Time and Speed.
uint8_t setLineStatus(const SetJoinLine* line, const SetJoinLine& reference);

// One line of the set: per host the line it takes (none where missing).
struct SetLine {
  LineKey key;
  std::vector<std::optional<SetJoinLine>> hosts;
  // The host whose line gives Time, Speed and Sync.
  std::size_t reference = 0;
};

// The host whose next line the join takes: of the hosts that have one at
// hand (`ahead(h)`, an optional SetJoinLine), the lowest window time, the
// first such host in host order; none when no host has one. Every merge of
// a set's hosts (SetReader, the cut planning) offers lines in this order.
template <class Ahead>
std::optional<std::size_t> nextJoinHost(std::size_t hosts, Ahead&& ahead) {
  std::optional<std::size_t> first;
  for (std::size_t h = 0; h < hosts; ++h) {
    const std::optional<SetJoinLine>& line = ahead(h);
    if (line && (!first || line->windowTime < ahead(*first)->windowTime)) first = h;
  }
  return first;
}

// Joins the hosts' lines, offered one at a time in window-time order across
// the hosts (nextJoinHost), into set lines handed out once complete.
class SetJoin {
 public:
  SetJoin(std::size_t hosts, std::size_t master);

  // Host h's next line.
  void add(std::size_t h, const SetJoinLine& line);
  // The oldest set line that no later line can join, if any; after
  // finish(), every held set line in turn.
  std::optional<SetLine> take();
  // The oldest held set line, complete or not (a caller out of room for
  // the lines it holds); none when none is held.
  std::optional<SetLine> takeOldest();
  // No more lines come.
  void finish() { finished_ = true; }

  // Whether this join holds exactly what `other` holds (the same set lines
  // of the same lines, in the same order, the same latest time): fed the
  // same lines from here on, both then decide alike.
  bool sameState(const SetJoin& other) const;
  // Lines that met more than one set line they could join, or displaced a
  // line (where the join's decisions depend on what came before).
  uint64_t ambiguities() const { return ambiguities_; }

 private:
  // A held set line by the window time of its first line, then by arrival.
  using HeldId = std::pair<uint64_t, uint64_t>;
  void hold(std::size_t h, const SetJoinLine& line);
  void forget(const HeldId& id, const LineKey& key);

  std::size_t hosts_;
  std::size_t master_;
  std::map<HeldId, SetLine> held_;
  std::map<LineKey, std::vector<HeldId>> byKey_;
  uint64_t arrivals_ = 0;
  uint64_t latest_ = 0;  // the latest window time offered
  uint64_t ambiguities_ = 0;
  bool finished_ = false;
};

}  // namespace cdt
