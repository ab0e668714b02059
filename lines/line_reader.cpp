#include "lines/line_reader.h"

namespace cdt {

LineReader::LineReader(DataFile& file, const ColumnPlan& plan, const LineWindow& window)
    : file_(file), plan_(plan), window_(window) {}

void LineReader::store(const LineGroup& group, uint64_t windowTime) {
  if (window_.start && windowTime < *window_.start) return;
  if (window_.stop && windowTime >= *window_.stop) return;
  const uint64_t start = bladeStartRevolution(*group.first);
  if (window_.firstRevolution && start < *window_.firstRevolution) return;
  if (window_.lastRevolution && start > *window_.lastRevolution) return;
  storeLine(plan_, group, *columns_, next_++);
}

std::size_t LineReader::read(const LineColumns& columns, std::size_t row, std::size_t rows) {
  columns_ = &columns;
  next_ = row;
  const std::size_t end = row + rows;
  auto emit = [this](const LineGroup& group, uint64_t windowTime) { store(group, windowTime); };
  // Each record emits at most one line, so the check before it keeps the
  // rows within bounds.
  while (!ended_ && next_ < end) {
    RecordRef record = readNextRecord(file_);
    if (!record) {
      groups_.finish(emit);
      ended_ = true;
      break;
    }
    groups_.add(record.get(), emit);
    if (window_.stop && groups_.latestTime() >= *window_.stop &&
        (!groups_.inProgress() || groups_.windowTime() >= *window_.stop)) {
      // Every line from here on has a window time at or past the stop.
      groups_.clear();
      ended_ = true;
    }
  }
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
