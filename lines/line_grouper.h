// LineGrouper: groups the records of one data file, handed over in file
// order, into lines (lines/line_layout.h tells the rule). It holds at most
// five record references, whatever the file's length.
//
// Each line also gets a window time: the latest time of any record (of any
// type) up to and including the line's first record. It never decreases
// along the file, so time windows over it cut the file's lines into
// contiguous runs, even where record times go back; for a file whose times
// never go back it is the time of the line's first record.
#pragma once

#include <algorithm>
#include <cstdint>

#include "datafile/data_record.h"
#include "lines/line_layout.h"

namespace cdt {

class LineGrouper {
 public:
  // Adds the next record of the file (nullptr and records outside the lines
  // only advance the window time). When the record closes the group in
  // progress, emit(group, windowTime) is called with that group first; its
  // records stay valid during the call only.
  template <class Emit>
  void add(DataRecord* record, Emit&& emit) {
    if (record == nullptr) return;
    latestTime_ = started_ ? std::max(latestTime_, record->time()) : record->time();
    started_ = true;
    if (!isLineRecord(*record)) return;
    const uint32_t slot = bladeChannel(*record);
    if (!first_) {
      hostIndex_ = record->hostIndex();
      open(record);
    } else if (slots_[slot]) {
      emit(group(), windowTime_);
      for (RecordRef& r : slots_) r.reset();
      open(record);
    }
    slots_[slot] = RecordRef::share(record);
  }

  // Emits the group in progress, if any, and drops every reference (the
  // slots' from slot 3 down, then the first record's).
  template <class Emit>
  void finish(Emit&& emit) {
    if (first_) emit(group(), windowTime_);
    clear();
  }
  // Drops every reference without emitting.
  void clear() {
    for (uint32_t slot = kChannelsPerHost; slot-- > 0;) slots_[slot].reset();
    first_.reset();
  }

  // Whether a group is in progress, and its line's window time.
  bool inProgress() const { return static_cast<bool>(first_); }
  uint64_t windowTime() const { return windowTime_; }
  // The latest time of any record added.
  uint64_t latestTime() const { return latestTime_; }

  // Whether a line record has been added; the host is that record's.
  bool hasLines() const { return hostIndex_ != kNoHost; }
  uint32_t hostIndex() const { return hostIndex_; }

 private:
  static constexpr uint32_t kNoHost = 0xFFFFFFFF;

  void open(DataRecord* record) {
    first_ = RecordRef::share(record);
    windowTime_ = latestTime_;
  }
  LineGroup group() const {
    LineGroup g;
    g.first = first_.get();
    for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) g.slots[slot] = slots_[slot].get();
    return g;
  }

  RecordRef first_;
  RecordRef slots_[kChannelsPerHost];
  uint32_t hostIndex_ = kNoHost;
  bool started_ = false;
  uint64_t latestTime_ = 0;
  uint64_t windowTime_ = 0;
};

}  // namespace cdt
