#include "datafile/index_check.h"

namespace cdt {

void IndexCheck::add(uint64_t time, uint64_t end) {
  if (made_ != 0 && time <= lastTime_) return;
  const uint64_t number = made_++;
  lastTime_ = time;
  if (disagreement_) return;
  const IndexEntry expected{time, end};
  if (number >= count_) {
    disagreement_ = IndexDisagreement{static_cast<uint32_t>(number), std::nullopt, expected};
    return;
  }
  const IndexEntry& stored = stored_[number];
  if (stored.time != time || stored.position != end) {
    disagreement_ = IndexDisagreement{static_cast<uint32_t>(number), stored, expected};
    return;
  }
  ++confirmed_;
}

void IndexCheck::finishAtEndOfRecords() {
  if (disagreement_ || confirmed_ >= count_) return;
  disagreement_ = IndexDisagreement{confirmed_, stored_[confirmed_], std::nullopt};
}

}  // namespace cdt
