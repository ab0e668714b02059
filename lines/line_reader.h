// LineReader: the lines of one open data file, selected and stored as
// columns (lines/line_columns.h), a bounded number of rows at a time.
//
// Windows. A time window [start, stop) keeps the lines whose window time
// (lines/line_grouper.h: the latest record time up to the line's first
// record) lies in it; for a file whose times never go back that is the time
// of the line's first record. Since the window time never decreases along
// the file, windows that tile the time axis cut the lines into contiguous
// runs: reading each and joining the results gives exactly the lines of the
// whole file, in order, with no line lost or doubled where a window
// boundary falls inside a group of records. Reading ends once a record's
// time has reached `stop` and the group in progress (which may still take
// records from past `stop`) has closed. A revolution window [first, last] keeps
// the lines whose Start Rev lies in it.
//
// The grouping of a window's first lines depends on every record before
// them. A window with a start is therefore reached through the index
// (seekToTime), whose walk over the record heads before it also rebuilds the
// grouping state (LineTrack); records are read from the confirmed entry on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "datafile/data_file.h"
#include "lines/line_columns.h"
#include "lines/line_grouper.h"

namespace cdt {

struct LineWindow {
  std::optional<uint64_t> start;  // microseconds since 1970, inclusive
  std::optional<uint64_t> stop;   // exclusive
  std::optional<uint64_t> firstRevolution;
  std::optional<uint64_t> lastRevolution;
  // Only this host's blade records (the others are skipped as if absent);
  // none: every host's.
  std::optional<uint32_t> host;
};

// Whether the line of `group`, whose window time is `windowTime`, lies in
// the window's time and revolution ranges (the host is the reader's to
// filter, before grouping).
bool lineInWindow(const LineWindow& window, const LineGroup& group, uint64_t windowTime);

// Where a window with a start begins, planned ahead (planLineStarts): the
// seek's offset and report, and the grouping state there.
struct PlannedLineStart {
  PlannedSeek seek;
  LineTrack::State track;
  std::optional<uint32_t> host;  // the host filter the plan was made with
};

// One walk over the record heads of `file` plans a start for each of
// `starts` (increasing) with the host filter `host`: exactly where and in
// which state a LineReader with that window start would begin. None for a
// start the walk cannot plan (an index out of order there), which is then
// read with a seek of its own. Empty when the file cannot be read. Reading
// stays where it was.
std::vector<std::optional<PlannedLineStart>> planLineStarts(DataFile& file,
                                                            std::optional<uint32_t> host,
                                                            const std::vector<uint64_t>& starts);

class LineReader {
 public:
  // Reads `file` into the columns of `plan` (planColumns with the layout of
  // the file's host, firstLineHost): from where it stands (the start of its
  // records), or, for a window with a start, from where seekToTime puts it.
  // The file must outlive the reader and take no other reads meanwhile.
  LineReader(DataFile& file, const ColumnPlan& plan, const LineWindow& window);
  // The same, beginning where `start` (planned for window.start and
  // window.host) says, without a walk.
  LineReader(DataFile& file, const ColumnPlan& plan, const LineWindow& window,
             const PlannedLineStart& start);

  // Where the window's seek left reading (not positioned when the window has
  // no start, or when the seek failed and reading went on from where the
  // file stood).
  const WindowSeek& seek() const { return seek_; }

  // Hands each line of the window to `emit(group)` up to the end; the
  // group's records are valid during the call only.
  template <class Emit>
  void readGroups(Emit&& emit) {
    run([] { return true; },
        [&](const LineGroup& group, uint64_t windowTime) {
          if (keep(group, windowTime)) emit(group);
        });
  }

  // Hands up to `most` more lines of the window to `emit(group, windowTime)`
  // (the group's records are valid during the call only); returns how many.
  // Fewer than `most` only at the end.
  template <class Emit>
  std::size_t readEach(std::size_t most, Emit&& emit) {
    std::size_t n = 0;
    run([&] { return n < most; },
        [&](const LineGroup& group, uint64_t windowTime) {
          if (!keep(group, windowTime)) return;
          emit(group, windowTime);
          ++n;
        });
    return n;
  }

  // Reads on until `rows` more lines are stored, from row `row` of
  // `columns` (which must have room up to row + rows), or the lines end.
  // Returns the number stored; fewer than `rows` only at the end.
  std::size_t read(const LineColumns& columns, std::size_t row, std::size_t rows);

  bool ended() const { return ended_; }
  const ColumnPlan& plan() const { return plan_; }

 private:
  bool keep(const LineGroup& group, uint64_t windowTime) const;
  void store(const LineGroup& group, uint64_t windowTime);
  // Reads on while `more()`, handing each line of the window to `emit`.
  template <class More, class Emit>
  void run(More more, Emit emit);
  // Copies the staged rows to the caller's columns.
  void flush();

  // Lines are first stored in a small block, whose columns stay in the
  // cache, and copied out a block at a time: storing each line straight
  // into long columns touches a cache line per cell.
  static constexpr std::size_t kStageRows = 64;

  DataFile& file_;
  ColumnPlan plan_;
  LineWindow window_;
  LineGrouper groups_;
  WindowSeek seek_;
  bool ended_ = false;
  // Where the current read() stores.
  const LineColumns* columns_ = nullptr;
  std::size_t next_ = 0;
  ColumnStorage stage_;
  std::size_t staged_ = 0;
};

template <class More, class Emit>
void LineReader::run(More more, Emit emit) {
  while (!ended_ && more()) {
    RecordRef record = readNextRecord(file_);
    if (!record) {
      groups_.finish(emit);
      ended_ = true;
      break;
    }
    if (window_.host && record->type() == kRecordTypeBlades &&
        record->hostIndex() != *window_.host) {
      continue;
    }
    groups_.add(record.get(), emit);
    if (window_.stop && groups_.latestTime() >= *window_.stop &&
        (!groups_.inProgress() || groups_.windowTime() >= *window_.stop)) {
      // Every line from here on has a window time at or past the stop.
      groups_.clear();
      ended_ = true;
    }
  }
}

// The host of the lines: that of the first blade record `file` yields from
// where it stands (reading moves on); none when it yields none.
std::optional<uint32_t> firstLineHost(DataFile& file);

}  // namespace cdt
