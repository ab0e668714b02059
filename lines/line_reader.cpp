#include "lines/line_reader.h"

#include <cstring>

namespace cdt {

LineReader::LineReader(DataFile& file, const ColumnPlan& plan, const LineWindow& window)
    : file_(file), plan_(plan), window_(window), stage_(plan, kStageRows) {
  if (window.start) {
    LineTrack track(window.host);
    seek_ = seekToTime(file, *window.start, track);
    if (seek_.positioned) groups_.resume(track);
  }
}

LineReader::LineReader(DataFile& file, const ColumnPlan& plan, const LineWindow& window,
                       const PlannedLineStart& start)
    : file_(file), plan_(plan), window_(window), stage_(plan, kStageRows) {
  seek_ = start.seek.seek;
  seek_.positioned = resumeAt(file, start.seek);
  if (!seek_.positioned) return;
  LineTrack track(window.host);
  track.restore(start.track);
  groups_.resume(track);
}

std::vector<std::optional<PlannedLineStart>> planLineStarts(DataFile& file,
                                                            std::optional<uint32_t> host,
                                                            const std::vector<uint64_t>& starts) {
  std::vector<std::optional<PlannedLineStart>> planned(starts.size());
  LineTrack track(host);
  const bool walked = planSeeks(file, starts, track, [&](std::size_t i, const PlannedSeek& seek) {
    planned[i] = PlannedLineStart{seek, track.state(), host};
  });
  if (!walked) planned.clear();
  return planned;
}

void LineReader::flush() {
  copyLines(plan_, stage_.columns(), *columns_, next_, staged_);
  // The staged rows are written anew: only a block with empty cells
  // carries masks.
  clearEmpties(plan_, stage_.columns());
  next_ += staged_;
  staged_ = 0;
}

bool lineInWindow(const LineWindow& window, const LineGroup& group, uint64_t windowTime) {
  if (window.start && windowTime < *window.start) return false;
  if (window.stop && windowTime >= *window.stop) return false;
  const uint64_t start = bladeStartRevolution(*group.first);
  if (window.firstRevolution && start < *window.firstRevolution) return false;
  if (window.lastRevolution && start > *window.lastRevolution) return false;
  return true;
}

bool LineReader::keep(const LineGroup& group, uint64_t windowTime) const {
  return lineInWindow(window_, group, windowTime);
}

void LineReader::store(const LineGroup& group, uint64_t windowTime) {
  if (!keep(group, windowTime)) return;
  storeLine(plan_, group, stage_.columns(), staged_++);
  if (staged_ == kStageRows) flush();
}

std::size_t LineReader::read(const LineColumns& columns, std::size_t row, std::size_t rows) {
  columns_ = &columns;
  next_ = row;
  const std::size_t end = row + rows;
  // Each record emits at most one line, so the check before it keeps the
  // rows within bounds.
  run([&] { return next_ + staged_ < end; },
      [this](const LineGroup& group, uint64_t windowTime) { store(group, windowTime); });
  flush();
  columns_ = nullptr;
  return next_ - row;
}

std::optional<uint32_t> firstLineHost(DataFile& file) {
  while (RecordRef record = readNextRecord(file)) {
    if (isLineRecord(*record)) return record->hostIndex();
  }
  return std::nullopt;
}

}  // namespace cdt
