#include "lines/line_reader.h"

#include <cstring>

namespace cdt {

LineReader::LineReader(DataFile& file, const ColumnPlan& plan, const LineWindow& window)
    : file_(file), plan_(plan), window_(window) {
  const std::size_t n = kStageRows;
  stageStorage_ = std::make_unique_for_overwrite<unsigned char[]>(
      n * (3 * 8 + 8 * std::size_t{plan.doubleRows} + 4 * std::size_t{plan.floatRows} + 1));
  unsigned char* p = stageStorage_.get();
  stage_.stride = n;
  stage_.time = reinterpret_cast<int64_t*>(p);
  stage_.startRevolution = reinterpret_cast<uint64_t*>(p + 8 * n);
  stage_.endRevolution = reinterpret_cast<uint64_t*>(p + 16 * n);
  stage_.doubles = reinterpret_cast<double*>(p + 24 * n);
  stage_.floats = reinterpret_cast<float*>(p + (24 + 8 * plan.doubleRows) * n);
  stage_.sync = reinterpret_cast<uint8_t*>(p + (24 + 8 * plan.doubleRows + 4 * plan.floatRows) * n);
  if (window.start) {
    LineTrack track(window.host);
    seek_ = seekToTime(file, *window.start, track);
    if (seek_.positioned) groups_.resume(track);
  }
}

void LineReader::flush() {
  const LineColumns& to = *columns_;
  const std::size_t at = next_;
  const std::size_t n = staged_;
  if (n == 0) return;
  std::memcpy(to.time + at, stage_.time, n * 8);
  std::memcpy(to.sync + at, stage_.sync, n);
  std::memcpy(to.startRevolution + at, stage_.startRevolution, n * 8);
  std::memcpy(to.endRevolution + at, stage_.endRevolution, n * 8);
  for (std::size_t r = 0; r < plan_.floatRows; ++r) {
    std::memcpy(to.floats + r * to.stride + at, stage_.floats + r * kStageRows, n * 4);
  }
  for (std::size_t r = 0; r < plan_.doubleRows; ++r) {
    std::memcpy(to.doubles + r * to.stride + at, stage_.doubles + r * kStageRows, n * 8);
  }
  next_ += n;
  staged_ = 0;
}

bool LineReader::keep(const LineGroup& group, uint64_t windowTime) const {
  if (window_.start && windowTime < *window_.start) return false;
  if (window_.stop && windowTime >= *window_.stop) return false;
  const uint64_t start = bladeStartRevolution(*group.first);
  if (window_.firstRevolution && start < *window_.firstRevolution) return false;
  if (window_.lastRevolution && start > *window_.lastRevolution) return false;
  return true;
}

void LineReader::store(const LineGroup& group, uint64_t windowTime) {
  if (!keep(group, windowTime)) return;
  storeLine(plan_, group, stage_, staged_++);
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
