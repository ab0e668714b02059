// IndexCheck: rebuilds, record by record, the index a writer makes for the
// records of a file, and compares it with the index the file stores. An
// entry is confirmed when the records agree with it: the rebuilt entry of
// the same number has the same time and the same position (the end of the
// record it names, a record boundary inside the records).
//
// The rebuilt index follows the writer's rule: the first record gets an
// entry, and so does every later record whose time lies after the last
// entry's time. Only the leading run of agreeing entries counts as
// confirmed; from the first disagreement on nothing of the stored index is
// trusted.
#pragma once

#include <cstdint>
#include <optional>

#include "datafile/data_file.h"

namespace cdt {

class IndexCheck {
 public:
  // Compares with the `count` entries at `stored`, which must stay valid
  // while records are added.
  IndexCheck(const IndexEntry* stored, uint32_t count) : stored_(stored), count_(count) {}

  // The next record in file order: its time and the position just past it.
  void add(uint64_t time, uint64_t end);
  // Takes the stored entries up to `k` (< the stored count) as confirmed
  // without their records: a walk that begins right after entry k's record
  // goes on checking from there.
  void trustThrough(uint32_t k) {
    confirmed_ = k + 1;
    made_ = uint64_t{k} + 1;
    lastTime_ = stored_[k].time;
  }
  // The records ended where the file says they end (not at a damaged
  // record): stored entries not yet confirmed name records that are not
  // there.
  void finishAtEndOfRecords();

  // Leading stored entries the records confirmed.
  uint32_t confirmed() const { return confirmed_; }
  const std::optional<IndexDisagreement>& disagreement() const { return disagreement_; }
  // The latest time of the records added so far (the last rebuilt entry's);
  // none before the first record.
  std::optional<uint64_t> latestTime() const {
    return made_ == 0 ? std::nullopt : std::optional<uint64_t>(lastTime_);
  }

 private:
  const IndexEntry* stored_;
  uint32_t count_;
  uint32_t confirmed_ = 0;
  // Entries the records made so far, and the last one's time.
  uint64_t made_ = 0;
  uint64_t lastTime_ = 0;
  std::optional<IndexDisagreement> disagreement_;
};

}  // namespace cdt
